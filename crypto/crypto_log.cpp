// System-log output of the crypto library.
#include "crypto/crypto_log.h"

#include "platform/system_log.h"

namespace vynd {

void crypto_log(const std::string& line) {
    system_log(line);
}

}  // namespace vynd
