// The one place icon family code reports a message.
#include "icon/icon_log.h"

#include <QtGlobal>

namespace vynd {

void logIconMessage(const std::string& line) {
    qWarning("%s", line.c_str());
}

}  // namespace vynd
