// Share setup: preparing a new share's four folders and its volume.
#include <cassert>

#include "vynd_pref.h"

namespace vynd {

// Mounting the share, marking its volume and creating the area folders are
// not built yet; until they are, the button stays disabled.
bool vyndPref::shareSetupAvailable() const {
    return false;
}

void vyndPref::setupShare() {
    assert(authorized_);
    if (!shareSetupAvailable())
        return;
    saveGlobalPreferences();
}

}  // namespace vynd
