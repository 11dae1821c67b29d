// Drives the installed settings pane as an administrator would, for the booted-system test:
//   vynd_pane_driver PANE STEP...
// Steps, run in order on one pane that stays loaded:
//   unlock          clicks the lock; prints "authorized 0|1"
//   host URL        types URL into the share field
//   user NAME       types NAME into the user name field
//   password TEXT   types TEXT into the password field
//   setup-share     clicks Set Up Share, then waits up to a minute for its last alert
//   install         clicks Install Now, then waits up to a minute for the run's last log line
//   lock            clicks the lock again, which saves the settings
//   empty-log       clicks the log's clear button
// Every alert the pane shows is printed as "alert: title|message" and closed.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "prefspane/host/pane_loader.h"
#include "prefspane/host/settings_window.h"

namespace {

void reportAlerts() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible())
            continue;
        QString line = box->text() + "|" + box->informativeText();
        line.replace("\n", "\\n");
        std::printf("alert: %s\n", line.toUtf8().constData());
        std::fflush(stdout);
        box->done(QMessageBox::Ok);
    }
}

// Lets the pane's timers and watched children run for a while.
void pump(
    int ms, const std::function<bool()>& done = [] { return false; }) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms && !done()) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        reportAlerts();
        QThread::msleep(20);
    }
    QApplication::processEvents();
    reportAlerts();
}

bool logHas(const char* text) {
    QFile log("/var/log/vynd.log");
    return log.open(QIODevice::ReadOnly) && log.readAll().contains(text);
}

template <typename T>
T* child(QWidget* window, const char* name) {
    T* found = window->findChild<T*>(name);
    if (!found) {
        std::fprintf(stderr, "vynd_pane_driver: no %s in the pane\n", name);
        std::exit(2);
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vynd_pane_driver PANE STEP...\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Quenderlyn");
    QApplication::setApplicationName("vyndsettings");
    QSettings settings;
    QString err;
    auto pane = vynd::loadPane(QString::fromLocal8Bit(argv[1]), &settings, &err);
    if (!pane) {
        std::fprintf(stderr, "vynd_pane_driver: %s\n", qPrintable(err));
        return 1;
    }
    vynd::SettingsWindow window(std::move(pane));
    window.show();
    pump(300);

    for (int i = 2; i < argc; ++i) {
        QString step = argv[i];
        if (step == "unlock") {
            child<QPushButton>(&window, "lockButton")->click();
            pump(500);
            bool on = child<QPushButton>(&window, "downloadButton")->isEnabled();
            std::printf("authorized %d\n", on ? 1 : 0);
        } else if ((step == "host" || step == "user" || step == "password") && i + 1 < argc) {
            const char* field = step == "host"   ? "hostEdit"
                                : step == "user" ? "usernameEdit"
                                                 : "passwordEdit";
            auto* edit = child<QLineEdit>(&window, field);
            QString text = QString::fromUtf8(argv[++i]);
            edit->setText(text);
            emit edit->textEdited(text);
        } else if (step == "setup-share") {
            child<QPushButton>(&window, "setupShareButton")->click();
            pump(60000, [&window] {
                for (QMessageBox* box : window.findChildren<QMessageBox*>())
                    if (box->isVisible() && !box->text().startsWith("Problem"))
                        return true;
                return false;
            });
        } else if (step == "install") {
            child<QPushButton>(&window, "downloadButton")->click();
            pump(60000, [] { return logHas("vynd finished"); });
            pump(1500);
        } else if (step == "lock") {
            child<QPushButton>(&window, "lockButton")->click();
            pump(500);
        } else if (step == "empty-log") {
            child<QPushButton>(&window, "clearLogButton")->click();
            pump(1000);
        } else {
            std::fprintf(stderr, "vynd_pane_driver: unknown step %s\n", argv[i]);
            return 2;
        }
        std::printf("done %s\n", argv[i]);
        std::fflush(stdout);
    }
    // Leaving with edits it could not save, the pane asks; the question is
    // reported and answered like any alert.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, reportAlerts);
    answer.start(100);
    window.close();
    pump(200);
    return 0;
}
