// Loading a preference pane plug-in and making its pane.
#include "pane_loader.h"

#include <QPluginLoader>

namespace vynd {

std::unique_ptr<PreferencePane> loadPane(const QString& path, QSettings* settings, QString* err) {
    QPluginLoader loader(path);
    QObject* root = loader.instance();
    if (!root) {
        if (err)
            *err = loader.errorString();
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
