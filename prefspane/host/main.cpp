// vyndsettings: the settings host that shows the vynd preference pane.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>

#include <cstdio>

#include "prefspane/host/pane_loader.h"
#include "prefspane/host/settings_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Quenderlyn");
    QApplication::setApplicationName("vyndsettings");
    QString path = argc > 1 ? QString::fromLocal8Bit(argv[1])
                            : QDir::cleanPath(QCoreApplication::applicationDirPath() + "/" +
                                              VYND_PANE_FROM_PROGRAM);

    QSettings settings;
    QString err;
    auto pane = vynd::loadPane(path, &settings, &err);
    if (!pane) {
        std::fprintf(stderr, "vyndsettings: %s\n", qPrintable(err));
        QMessageBox::critical(nullptr, "vyndsettings", err);
        return 1;
    }
    vynd::SettingsWindow window(std::move(pane));
    window.show();
    return app.exec();
}
