// Custom icons on files and folders: resource forks and Finder information, absent on Linux.
#include "icon/icns_family.h"

namespace vynd {

// Linux file systems keep neither resource forks nor Finder flags, so there is nowhere to put
// the icon resource and no flag for a file manager to notice: every operation reports failure.

bool IcnsFamily::setAsCustomIconForFile(const QString& path) const {
    return setAsCustomIconForFile(path, false);
}

bool IcnsFamily::setAsCustomIconForFile(const QString&, bool) const {
    return false;
}

bool IcnsFamily::setAsCustomIconForDirectory(const QString& path) const {
    return setAsCustomIconForDirectory(path, false);
}

bool IcnsFamily::setAsCustomIconForDirectory(const QString&, bool) const {
    return false;
}

bool IcnsFamily::removeCustomIconFromFile(const QString&) {
    return false;
}

bool IcnsFamily::removeCustomIconFromDirectory(const QString&) {
    return false;
}

bool IcnsFamily::addResourceType(OSType, int) const {
    return false;
}

}  // namespace vynd
