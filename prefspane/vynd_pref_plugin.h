// The plug-in's root object: makes vyndPref panes for the settings host.
#pragma once

#include <QObject>

#include "prefspane/preference_pane.h"

namespace vynd {

class vyndPrefPlugin : public QObject, public PreferencePaneFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID VyndPreferencePaneFactory_iid FILE "vynd_pref.json")
    Q_INTERFACES(vynd::PreferencePaneFactory)

  public:
    [[nodiscard]] std::unique_ptr<PreferencePane> createPane(QSettings* settings) override;
};

}  // namespace vynd
