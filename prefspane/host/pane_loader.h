// Loading a preference pane plug-in and making its pane.
#pragma once

#include <QSettings>
#include <QString>

#include <memory>

#include "prefspane/preference_pane.h"

namespace vynd {

// Loads the plug-in at path and makes one pane keeping its settings in
// settings. No pane (and *err says why) when the file is not a pane plug-in.
[[nodiscard]] std::unique_ptr<PreferencePane> loadPane(const QString& path, QSettings* settings,
                                                       QString* err);

}  // namespace vynd
