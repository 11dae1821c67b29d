// The crypto library's log for the fuzz targets: discarded.
#include "crypto/crypto_log.h"

namespace vynd {

void crypto_log(const std::string&) {}

}  // namespace vynd
