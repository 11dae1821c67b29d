// Loading a preference pane plug-in and making its pane.
#include "prefspane/host/pane_loader.h"

#include <QPluginLoader>

namespace vynd {

std::unique_ptr<PreferencePane> loadPane(const QString& path, QSettings* settings, QString* err) {
    QPluginLoader loader(path);
    QObject* root = loader.instance();
    if (!root) {
        // Qt's own words may leave out which file it was.
        if (err)
            *err = QString(
                       "The settings pane %1 could not be loaded: %2\nReinstall the vynd "
                       "package, or name the pane's file as vyndsettings' argument.")
                       .arg(path, loader.errorString());
        return nullptr;
    }
    auto* factory = qobject_cast<PreferencePaneFactory*>(root);
    if (!factory) {
        if (err)
            *err = QString("%1 is not a preference pane").arg(path);
        return nullptr;
    }
    // The plug-in stays loaded for the life of the process: unloading it
    // would take the pane's code away from under the pane.
    return factory->createPane(settings);
}

}  // namespace vynd
