// The one place where the crypto library writes its failure lines.
#pragma once

#include <string>

namespace vynd {

// Writes one line to the system log (facility daemon) and the same text to
// standard error.
void crypto_log(const std::string& line);

}  // namespace vynd
