// Linux file systems keep no Finder information: reading and writing it fail.
#include "platform/finder_info.h"

namespace vynd {

std::optional<uint16_t> finder_flags(const std::string&) {
    return std::nullopt;
}

bool set_finder_flags(const std::string&, uint16_t) {
    return false;
}

}  // namespace vynd
