// The plug-in's root object: makes vyndPref panes for the settings host.
#include "prefspane/vynd_pref_plugin.h"

#include "prefspane/vynd_pref.h"

namespace vynd {

std::unique_ptr<PreferencePane> vyndPrefPlugin::createPane(QSettings* settings) {
    return std::make_unique<vyndPref>(settings);
}

}  // namespace vynd
