// Runs one share setup inside the test sandbox: settings from the command line, alerts on standard
// output.
//   share_setup_driver IMAGE KEY=VALUE...
// Each alert is printed as "title|message" with line feeds written as "\n".
#include <QImage>
#include <QMap>
#include <QString>

#include <cstdio>

#include "share_setup/share_setup.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: share_setup_driver IMAGE KEY=VALUE...\n");
        return 2;
    }
    QImage image(QString::fromLocal8Bit(argv[1]));
    QMap<QString, QVariant> settings;
    for (int i = 2; i < argc; ++i) {
        QString pair = QString::fromUtf8(argv[i]);
        int eq = pair.indexOf('=');
        QString value = pair.mid(eq + 1);
        if (value == "true" || value == "false")
            settings[pair.left(eq)] = value == "true";
        else
            settings[pair.left(eq)] = value;
    }
    vynd::ShareSetup setup([&](const QString& key) { return settings.value(key); },
                           [](const QString& title, const QString& message) {
                               QString line = title + "|" + message;
                               line.replace("\n", "\\n");
                               std::printf("%s\n", line.toUtf8().constData());
                           },
                           [] { std::printf("saved\n"); });
    setup.setupShare(image);
    return 0;
}
