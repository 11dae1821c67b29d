// The preference pane under the offscreen platform, run inside the test sandbox.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/property_list.h"
#include "prefspane/host/pane_loader.h"
#include "prefspane/host/settings_window.h"
#include "prefspane/permissions_table.h"
#include "prefspane/settings_keys.h"
#include "prefspane/vynd_pref.h"
#include "tempfiles/temp_file.h"
#include "tests/support/files.h"
#include "tests/support/pane_fixture.h"
#include "transformers/value_transformers.h"

using namespace vynd;
using vynd::test::append_file;
using vynd::test::read_file;
using vynd::test::write_file;
namespace fs = std::filesystem;

namespace {

const char kCalls[] = "/run/vyndctl.calls";
const char kReply[] = "/run/vyndctl.reply";
const char kPCopy[] = "/run/vyndctl.p-copy";
const char kVyndCalls[] = "/run/vynd.calls";

QStringList lines(const std::string& path) {
    QString all = QString::fromStdString(read_file(path));
    return all.split('\n', Qt::SkipEmptyParts);
}

void writePlist(const std::string& path, plist_t dict) {
    fs::create_directories(fs::path(path).parent_path());
    QVERIFY(write_property_list_atomically(path, dict));
    plist_free(dict);
}

plist_t jobWithInterval(uint64_t seconds) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "Label", plist_new_string("com.quenderlyn.vynd"));
    plist_dict_set_item(d, "StartInterval", plist_new_uint(seconds));
    return d;
}

plist_t jobAtTime(int hour, int minute) {
    plist_t d = plist_new_dict();
    plist_t cal = plist_new_dict();
    plist_dict_set_item(cal, "Hour", plist_new_uint(hour));
    plist_dict_set_item(cal, "Minute", plist_new_uint(minute));
    plist_dict_set_item(d, "StartCalendarInterval", cal);
    return d;
}

// The controls a person sees and uses, in the window.
QList<QWidget*> visibleControls(QWidget* window) {
    QList<QWidget*> out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible())
            continue;
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
            qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
            qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTabBar*>(w) ||
            (qobject_cast<QLabel*>(w) && !qobject_cast<QLabel*>(w)->text().isEmpty()))
            out << w;
    }
    return out;
}

// The part of w that can be seen, in window coordinates: clipped by every
// widget around it (the scroll areas above all).
QRect shownRect(QWidget* w) {
    QWidget* window = w->window();
    QRect shown(w->mapTo(window, QPoint(0, 0)), w->size());
    for (QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        shown &= QRect(p->mapTo(window, QPoint(0, 0)), p->size());
    return shown & window->rect();
}

// Two controls drawn over each other, or a control squeezed below the size
// it needs; empty when the layout is sound.
QString layoutFault(QWidget* window) {
    const QList<QWidget*> controls = visibleControls(window);
    for (QWidget* w : controls) {
        // A spin box's or popup's own editor is sized by it.
        if (qobject_cast<QAbstractSpinBox*>(w->parentWidget()) ||
            qobject_cast<QComboBox*>(w->parentWidget()))
            continue;
        // As the layouts take it: a minimum size set outright wins.
        QSize need = w->minimumSizeHint();
        if (w->minimumWidth() > 0)
            need.setWidth(w->minimumWidth());
        if (w->minimumHeight() > 0)
            need.setHeight(w->minimumHeight());
        if (w->width() < need.width() || w->height() < need.height())
            return QString("%1 is %2x%3, needs %4x%5")
                .arg(w->objectName())
                .arg(w->width())
                .arg(w->height())
                .arg(need.width())
                .arg(need.height());
    }
    for (int i = 0; i < controls.size(); ++i)
        for (int j = i + 1; j < controls.size(); ++j) {
            QWidget* a = controls[i];
            QWidget* b = controls[j];
            if (a->isAncestorOf(b) || b->isAncestorOf(a))
                continue;
            if (shownRect(a).intersects(shownRect(b)))
                return QString("%1 overlaps %2").arg(a->objectName(), b->objectName());
        }
    return QString();
}

// Whether a child of this process is still there, running or not yet reaped.
bool hasChildren() {
    std::string me = std::to_string(getpid());
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string stat = read_file((it->path() / "stat").string());
        size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string state, ppid;
        fields >> state >> ppid;
        if (ppid == me)
            return true;
    }
    return false;
}

QMessageBox* lastAlert(QWidget* view) {
    auto boxes = view->window()->findChildren<QMessageBox*>("alert");
    return boxes.isEmpty() ? nullptr : boxes.last();
}

QString informativeText(QMessageBox* box) {
    return box ? box->informativeText() : QString();
}

}  // namespace

class PaneTest : public QObject, protected test::PaneFixture {
    Q_OBJECT

  private:
    PermissionsTable* table(const char* name) { return find<PermissionsTable>(name); }
    void unlock() {
        pane_->lockClicked();
        QVERIFY(pane_->getCanDownload());
    }
    void clearCalls() {
        std::error_code ec;
        fs::remove(kCalls, ec);
        fs::remove(kPCopy, ec);
    }

  private slots:
    void initTestCase() { requireSandbox("pane_test"); }

    void init() {
        std::error_code ec;
        for (const char* p : {kPaneGlobalPrefsPath, kPaneManagedPrefsPath, kJobFilePath,
                              kPaneLogPath, kPaneLockPath, kCalls, kReply, kPCopy, kVyndCalls})
            fs::remove(p, ec);
        fs::remove_all("/tmp/pane_test-0", ec);
        fs::remove_all("/run/user/0", ec);
        fs::remove_all("/root/.cache/pane_test", ec);
        fs::remove(kPanePasswordPrefsPath, ec);
        openPane();
    }

    void cleanup() { closePane(); }

    void lockedUnlockedAndManaged() {
        // Shown: locked, nothing editable, nothing runnable.
        QVERIFY(!find<QLabel>("managedBanner")->isVisible());
        QVERIFY(!pane_->getAuthorized());
        QVERIFY(!pane_->getCanDownload());
        QVERIFY(!find<QLineEdit>("hostEdit")->isEnabled());
        QVERIFY(!find<QPushButton>("downloadButton")->isEnabled());
        QVERIFY(!find<QComboBox>("scheduleCombo")->isEnabled());
        QVERIFY(find<QPushButton>("lockButton")->isEnabled());

        // Unlocking asks for the job's state: loaded.
        write_file(kReply, "0\n");
        unlock();
        QCOMPARE(lines(kCalls), QStringList{"?"});
        QVERIFY(pane_->getAuthorized());
        QCOMPARE(pane_->getVyndOff(), 0);
        QCOMPARE(pane_->store().integer("vynd_off"), 0);
        QVERIFY(find<QCheckBox>("vyndOnCheck")->isChecked());
        QVERIFY(find<QLineEdit>("hostEdit")->isEnabled());
        QVERIFY(find<QPushButton>("downloadButton")->isEnabled());
        QVERIFY(!find<QLineEdit>("susServerEdit")->isEnabled());

        // Locking saves; showing again starts locked, and an unloaded job
        // reads as launchctl's status.
        clearCalls();
        pane_->lockClicked();
        QVERIFY(!pane_->getAuthorized());
        QCOMPARE(lines(kCalls).size(), 1);
        QVERIFY(lines(kCalls)[0].startsWith(
            QString::fromStdString("p " + handOverFolder().value_or("none") + "/")));
        write_file(kReply, "1\n");
        unlock();
        QCOMPARE(pane_->getVyndOff(), 1);
        pane_->didUnselect();
        pane_->didSelect();
        QVERIFY(!pane_->getAuthorized());
        QVERIFY(!pane_->getCanDownload());

        // Managed: unlocking allows running the daemon but no editing, and
        // leaving saves nothing.
        writePlist(kPaneManagedPrefsPath, plist_new_dict());
        openPane();
        clearCalls();
        QVERIFY(find<QLabel>("managedBanner")->isVisible());
        QVERIFY(find<QLabel>("managedBanner")->text().contains(kPaneManagedPrefsPath));
        unlock();
        QVERIFY(!pane_->getAuthorized());
        QVERIFY(pane_->getCanDownload());
        QVERIFY(find<QPushButton>("downloadButton")->isEnabled());
        QVERIFY(!find<QLineEdit>("hostEdit")->isEnabled());
        QVERIFY(!table("libPermsTable")->privCell(0)->isEnabled());
        pane_->didUnselect();
        QCOMPARE(lines(kCalls), QStringList{"?"});
    }

    void replyThatIsNotANumberIsAFailure() {
        QCOMPARE(replyNumber("0"), 0);
        QCOMPARE(replyNumber("  12abc"), 12);
        QCOMPARE(replyNumber("-1"), -1);
        QCOMPARE(replyNumber("Need to be running as root!"), std::nullopt);
        QCOMPARE(replyNumber("usage: vyndctl [01?rt]"), std::nullopt);
        QCOMPARE(replyNumber(""), std::nullopt);
        QCOMPARE(replyNumber("-"), std::nullopt);

        // Locked: no call can start.
        QCOMPARE(pane_->executeLaunchCtl("?"), -1);
        QVERIFY(!fs::exists(kCalls));

        unlock();
        write_file(kReply, "Need to be running as root!\n");
        QCOMPARE(pane_->executeLaunchCtl("?"), -1);
        write_file(kReply, "");
        QCOMPARE(pane_->executeLaunchCtl("?"), -1);

        write_file(kReply, "Need to be running as root!\n");
        pane_->setVyndOff(1);
        pane_->stopProcess();
        QMessageBox* box = lastAlert(view_);
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Error stopping process"));
        // The designed text, and beside it what vyndctl said.
        QCOMPARE(informativeText(box),
                 QString("Error: -1\n\nvyndctl answered: Need to be running as root!"));
        QCOMPARE(pane_->getVyndOff(), 0);

        write_file(kReply, "3\n");
        pane_->setVyndOff(0);
        pane_->startProcess();
        box = lastAlert(view_);
        QCOMPARE(box->text(), QString("Error starting process"));
        QCOMPARE(informativeText(box), QString("Error: 3"));
        QCOMPARE(pane_->getVyndOff(), 1);

        // Success leaves the state the switch already shows.
        int alerts = view_->window()->findChildren<QMessageBox*>("alert").size();
        write_file(kReply, "0\n");
        pane_->setVyndOff(0);
        pane_->startProcess();
        QCOMPARE(pane_->getVyndOff(), 0);
        QCOMPARE(view_->window()->findChildren<QMessageBox*>("alert").size(), alerts);

        // The switch: off sends mode 0, on sends mode 1.
        clearCalls();
        find<QCheckBox>("vyndOnCheck")->click();
        find<QCheckBox>("vyndOnCheck")->click();
        QCOMPARE(lines(kCalls), (QStringList{"0", "1"}));
    }

    void alertShowsItsTextsVerbatim() {
        pane_->runAlert("Title %d", "<b>Error: %d</b>\nline two");
        QMessageBox* box = lastAlert(view_);
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Title %d"));
        QCOMPARE(informativeText(box), QString("<b>Error: %d</b>\nline two"));
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QVERIFY(box->isVisible());
    }

    void runningIndicatorFollowsTheLock() {
        pane_->update();
        QVERIFY(!pane_->getVyndRunning());
        write_file(kPaneLockPath, "");
        pane_->update();
        QVERIFY(!pane_->getVyndRunning());
        int fd = open(kPaneLockPath, O_RDWR);
        QVERIFY(fd >= 0);
        QCOMPARE(flock(fd, LOCK_EX | LOCK_NB), 0);
        QTRY_VERIFY_WITH_TIMEOUT(pane_->getVyndRunning(), 2500);
        QCOMPARE(find<QLabel>("runningLabel")->text(), QString("vynd is running"));
        close(fd);
        QTRY_VERIFY_WITH_TIMEOUT(!pane_->getVyndRunning(), 2500);
        // Probing never leaves the lock taken.
        fd = open(kPaneLockPath, O_RDWR);
        QCOMPARE(flock(fd, LOCK_EX | LOCK_NB), 0);
        close(fd);
    }

    void installNowSavesThenRunsTheDaemon() {
        pane_->download();
        QVERIFY(!fs::exists(kVyndCalls));  // locked: nothing starts
        unlock();
        clearCalls();
        pane_->download();
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(kVyndCalls) && !read_file(kVyndCalls).empty(), 3000);
        QCOMPARE(lines(kVyndCalls), QStringList{"-i"});
        QCOMPARE(lines(kCalls).size(), 1);
        QVERIFY(lines(kCalls)[0].startsWith("p "));
        pane_->redownload();
        QTRY_COMPARE_WITH_TIMEOUT(lines(kVyndCalls).size(), 2, 3000);
        QCOMPARE(lines(kVyndCalls)[1], QString("-ci"));
    }

    void installNowShowsWhatStopsTheRun() {
        unlock();
        // The run is the pane's own child (pkexec serves no orphan) and is
        // reaped while the window goes on.
        pane_->download();
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists("/run/vynd.parent"), 3000);
        QCOMPARE(read_file("/run/vynd.parent"), std::to_string(getpid()) + "\n");
        QTRY_VERIFY_WITH_TIMEOUT(!hasChildren(), 3000);
        QVERIFY(!lastAlert(view_));
        // A refusal by pkexec is shown; the run's own failures are the log's.
        write_file("/run/vynd.status", "126\n");
        pane_->download();
        QTRY_VERIFY_WITH_TIMEOUT(lastAlert(view_), 3000);
        QCOMPARE(lastAlert(view_)->text(), QString("Error running vynd"));
        QVERIFY(
            informativeText(lastAlert(view_)).startsWith("Error: 126\n\npkexec did not run vynd"));
        delete lastAlert(view_);
        write_file("/run/vynd.status", "255\n");
        pane_->download();
        QTRY_VERIFY_WITH_TIMEOUT(!hasChildren(), 3000);
        QTest::qWait(300);
        QVERIFY(!lastAlert(view_));
        // A daemon that cannot be started at all.
        chmod(kVyndPath, 0644);
        pane_->download();
        QVERIFY(lastAlert(view_));
        QVERIFY(informativeText(lastAlert(view_)).startsWith("Error: -1\n\n"));
    }

    void loadAndSaveGoByThePrefix() {
        plist_t prefs = plist_new_dict();
        plist_dict_set_item(prefs, "vynd_host", plist_new_string("smb://server/share"));
        plist_dict_set_item(prefs, "vynd_bandwidth", plist_new_uint(5));
        plist_dict_set_item(prefs, "vynd_sus_mode", plist_new_uint(2));
        plist_dict_set_item(prefs, "other_key", plist_new_string("kept at load"));
        plist_dict_set_item(prefs, "xvynd_foo", plist_new_string("not ours"));
        writePlist(kPaneGlobalPrefsPath, prefs);
        // A stored value from an earlier session does not outlive a load.
        pane_->store().setValue("vynd_app_path", "Stale");
        pane_->loadGlobalPreferences();
        QCOMPARE(pane_->store().text("vynd_app_path"), QString("Applications"));
        QCOMPARE(pane_->store().text("other_key"), QString("kept at load"));
        QCOMPARE(find<QLineEdit>("hostEdit")->text(), QString("smb://server/share"));
        QVERIFY(pane_->usingPrivateSUS());

        unlock();
        QVERIFY(find<QLineEdit>("susServerEdit")->isEnabled());
        find<QLineEdit>("susServerEdit")->setText("http://sus/index");
        QTest::keyClick(find<QLineEdit>("susServerEdit"), Qt::Key_X);
        clearCalls();
        pane_->saveGlobalPreferences();
        QCOMPARE(lines(kCalls).size(), 1);
        auto saved = read_property_list_dictionary(kPCopy);
        QVERIFY(saved);
        plist_t d = saved->get();
        // Every registered key but the password, which only a new one brings.
        for (const auto& key : registeredDefaults().keys())
            QVERIFY2(key == "vynd_passwd" || plist_dict_get_item(d, key.toUtf8().constData()),
                     qPrintable(key));
        QVERIFY(!plist_dict_get_item(d, "vynd_passwd"));
        QCOMPARE(plist_dict_string(d, "vynd_host"),
                 std::optional<std::string>("smb://server/share"));
        QCOMPARE(plist_dict_int(d, "vynd_bandwidth"), std::optional<int64_t>(5));
        QCOMPARE(plist_dict_bool(d, "vynd_auto_restart"), std::optional<bool>(true));
        QCOMPARE(plist_dict_string(d, "vynd_app_perms"), std::optional<std::string>("011"));
        QCOMPARE(plist_dict_string(d, "vynd_sus_server"),
                 std::optional<std::string>("http://sus/indexx"));
        QVERIFY(!plist_dict_get_item(d, "other_key"));
        QVERIFY(!plist_dict_get_item(d, "xvynd_foo"));

        // The hand-over file went through a private folder and is gone.
        QString path = lines(kCalls)[0].mid(2);
        const std::string folder = handOverFolder().value_or("none");
        QVERIFY(path.startsWith(QString::fromStdString(folder + "/")));
        QVERIFY(!fs::exists(path.toStdString()));
        struct stat st;
        QCOMPARE(stat(folder.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0700u);
        QCOMPARE(st.st_uid, geteuid());

        // Types survive the store's own file between loads.
        settings_->sync();
        QSettings reread(dir_->filePath("store.conf"), QSettings::IniFormat);
        QCOMPARE(typedSetting("vynd_bandwidth", reread.value("vynd_bandwidth")).typeId(),
                 QMetaType::LongLong);
        pane_->store().setValue("vynd_auto_restart", false);
        settings_->sync();
        QSettings again(dir_->filePath("store.conf"), QSettings::IniFormat);
        QCOMPARE(typedSetting("vynd_auto_restart", again.value("vynd_auto_restart")),
                 QVariant(false));
    }

    void managedFileIsReadAndNothingSaved() {
        plist_t managed = plist_new_dict();
        plist_dict_set_item(managed, "vynd_host", plist_new_string("afp://managed/share"));
        writePlist(kPaneManagedPrefsPath, managed);
        plist_t global = plist_new_dict();
        plist_dict_set_item(global, "vynd_host", plist_new_string("smb://global/share"));
        plist_dict_set_item(global, "vynd_pkg_path", plist_new_string("Pkgs"));
        writePlist(kPaneGlobalPrefsPath, global);
        pane_->loadGlobalPreferences();
        QCOMPARE(pane_->store().text("vynd_host"), QString("afp://managed/share"));
        QCOMPARE(pane_->store().text("vynd_pkg_path"), QString("Packages"));
        unlock();
        clearCalls();
        pane_->saveGlobalPreferences();
        pane_->download();
        QVERIFY(!fs::exists(kCalls));
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(kVyndCalls), 3000);
    }

    void handOverCannotBeHijacked() {
        // Another user, as they really are (no capabilities), plants the
        // folder where the hand-over once went, and cannot plant one in the
        // runtime folder: the hand-over goes there, unhindered.
        fs::create_directories("/run/user/0");
        chmod("/run/user/0", 0700);
        const std::string plant =
            "/usr/bin/setpriv --reuid=1234 --regid=1234 --clear-groups /bin/sh -c ";
        QCOMPARE(std::system((plant + "'mkdir /tmp/pane_test-0'").c_str()), 0);
        QVERIFY(std::system((plant + "'mkdir /run/user/0/pane_test' 2>/dev/null").c_str()) != 0);
        unlock();
        clearCalls();
        pane_->saveGlobalPreferences();
        QCOMPARE(lines(kCalls).size(), 1);
        QVERIFY(lines(kCalls)[0].startsWith("p /run/user/0/pane_test/"));
        // A runtime folder others may write is not the user's own.
        chmod("/run/user/0", 0777);
        QCOMPARE(handOverFolder(), std::optional<std::string>("/root/.cache/pane_test"));
        chmod("/run/user/0", 0700);

        // A folder that is not ours, or a link, where ours should be: no
        // file, and the user is told.
        fs::create_directories("/run/user/0/pane_test");
        QCOMPARE(chown("/run/user/0/pane_test", 1234, 1234), 0);
        QVERIFY(!tempFilePath());
        clearCalls();
        pane_->saveGlobalPreferences();
        QVERIFY(!fs::exists(kCalls));
        QMessageBox* alert = lastAlert(view_);
        QVERIFY(alert);
        QCOMPARE(alert->text(), QString("Unable to save settings"));
        // Nor does Install Now run on the settings saved before.
        pane_->download();
        QTest::qWait(300);
        QVERIFY(!fs::exists(kVyndCalls));

        fs::remove_all("/run/user/0/pane_test");
        fs::create_directories("/tmp/elsewhere");
        fs::create_directory_symlink("/tmp/elsewhere", "/run/user/0/pane_test");
        QVERIFY(!tempFilePath());
        fs::remove("/run/user/0/pane_test");

        auto a = tempFilePath();
        auto b = tempFilePath();
        QVERIFY(a && b && *a != *b);
        struct stat st;
        QCOMPARE(stat(a->c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0600u);
        QCOMPARE(fs::path(*a).filename().string().size(), 12u);
        QCOMPARE(stat("/run/user/0/pane_test", &st), 0);
        QCOMPARE(st.st_mode & 07777, 0700u);
    }

    void scheduleIsReadFromTheJobFile() {
        QCOMPARE(pane_->getSchedule(), -1);
        QVERIFY(!pane_->dayStartTime());
        const std::pair<uint64_t, int> readings[] = {{60, 0},    {3600, 1},  {40, -1},    {80, -1},
                                                     {3400, -1}, {3800, -1}, {86400, -1}, {41, 0},
                                                     {79, 0},    {3401, 1},  {3799, 1}};
        for (auto [seconds, index] : readings) {
            writePlist(kJobFilePath, jobWithInterval(seconds));
            QCOMPARE(pane_->getSchedule(), index);
            QVERIFY(!pane_->dayStartTime());
        }
        writePlist(kJobFilePath, jobAtTime(7, 5));
        QCOMPARE(pane_->getSchedule(), 2);
        QCOMPARE(pane_->dayStartTime(), std::optional<QTime>(QTime(7, 5)));
        // An hour of any size rolls over without overflowing: 2^62 hours is 16 o'clock.
        plist_t huge = jobAtTime(0, 30);
        plist_dict_set_item(plist_dict_get_item(huge, "StartCalendarInterval"), "Hour",
                            plist_new_uint(uint64_t(1) << 62));
        writePlist(kJobFilePath, huge);
        QCOMPARE(pane_->dayStartTime(), std::optional<QTime>(QTime(16, 30)));
        writePlist(kJobFilePath, jobAtTime(7, 5));
        pane_->loadGlobalPreferences();
        QCOMPARE(find<QComboBox>("scheduleCombo")->currentIndex(), 2);
        write_file(kJobFilePath, "not a property list");
        QCOMPARE(pane_->getSchedule(), -1);
    }

    void scheduleIsWrittenThroughVyndctl() {
        // Locked: nothing is sent.
        pane_->setSchedule(0);
        pane_->setSchedule(2);
        pane_->setDayStartTime(QTime(7, 5));
        QVERIFY(!fs::exists(kCalls));

        unlock();
        writePlist(kJobFilePath, jobAtTime(18, 30));
        clearCalls();
        pane_->setSchedule(2);
        pane_->setDayStartTime(QTime(7, 5));
        pane_->setSchedule(0);
        pane_->setSchedule(0);
        pane_->setSchedule(1);
        QStringList calls = lines(kCalls);
        QCOMPARE(calls.size(), 5);
        QCOMPARE(calls[0], QString("t 10:00"));
        QCOMPARE(calls[1], QString("t 07:05"));
        for (int i : {2, 3}) {
            int s = calls[i].mid(2).toInt();
            QVERIFY2(calls[i].startsWith("t ") && s >= 50 && s <= 70, qPrintable(calls[i]));
        }
        int s = calls[4].mid(2).toInt();
        QVERIFY(s >= 3500 && s <= 3700);

        // Choosing from the popup sends the same.
        clearCalls();
        QComboBox* combo = find<QComboBox>("scheduleCombo");
        combo->setCurrentIndex(2);
        emit combo->activated(2);
        QCOMPARE(lines(kCalls), QStringList{"t 10:00"});
    }

    void encryptSwitchReStoresTheCredentials() {
        unlock();
        SettingsStore& store = pane_->store();
        store.setValue("vynd_username", "admin");
        QLineEdit* password = find<QLineEdit>("passwordEdit");
        QTest::keyClicks(password, "s3cret");
        QCheckBox* check = find<QCheckBox>("encryptPassCheck");
        check->click();
        QVERIFY(store.flag("vynd_encrypt_pass"));
        QCOMPARE(store.text("vynd_username").toStdString(),
                 *PasswordValueTransformer::encode("admin"));
        QCOMPARE(find<QLineEdit>("usernameEdit")->text(), QString("admin"));
        QCOMPARE(password->text(), QString("s3cret"));
        // The password goes over enciphered, as the switch says.
        clearCalls();
        pane_->saveGlobalPreferences();
        auto saved = read_property_list_dictionary(kPCopy);
        QVERIFY(saved);
        auto sent = plist_dict_string(saved->get(), "vynd_passwd");
        QVERIFY(sent);
        QCOMPARE(PasswordValueTransformer::decode(*sent), std::optional<std::string>("s3cret"));
        check->click();
        QCOMPARE(store.text("vynd_username"), QString("admin"));
        clearCalls();
        pane_->saveGlobalPreferences();
        saved = read_property_list_dictionary(kPCopy);
        QVERIFY(saved);
        QCOMPARE(plist_dict_string(saved->get(), "vynd_passwd"),
                 std::optional<std::string>("s3cret"));
    }

    void passwordIsShownSetButNeverStored() {
        // Root's own file is there: the field says so without reading it,
        // and a save without a new password leaves it to vyndctl.
        plist_t secret = plist_new_dict();
        plist_dict_set_item(secret, "vynd_passwd", plist_new_string("hidden"));
        writePlist(kPanePasswordPrefsPath, secret);
        pane_->loadGlobalPreferences();
        QLineEdit* password = find<QLineEdit>("passwordEdit");
        QVERIFY(pane_->passwordIsSet());
        QCOMPARE(password->text(), QString());
        QCOMPARE(password->placeholderText(), QString("Password saved"));
        unlock();
        clearCalls();
        pane_->saveGlobalPreferences();
        auto saved = read_property_list_dictionary(kPCopy);
        QVERIFY(saved);
        QVERIFY(!plist_dict_get_item(saved->get(), "vynd_passwd"));
        fs::remove(kPanePasswordPrefsPath);

        // One left in an older global file is handed on, never stored.
        plist_t prefs = plist_new_dict();
        plist_dict_set_item(prefs, "vynd_passwd", plist_new_string("legacy"));
        writePlist(kPaneGlobalPrefsPath, prefs);
        pane_->loadGlobalPreferences();
        QVERIFY(!pane_->store().hasStoredValue("vynd_passwd"));
        QVERIFY(pane_->passwordIsSet());
        clearCalls();
        pane_->saveGlobalPreferences();
        saved = read_property_list_dictionary(kPCopy);
        QVERIFY(saved);
        QCOMPARE(plist_dict_string(saved->get(), "vynd_passwd"),
                 std::optional<std::string>("legacy"));

        // A typed one neither: the store is the user's alone and holds no password.
        QTest::keyClicks(password, "typed-secret");
        pane_->saveGlobalPreferences();
        settings_->sync();
        const std::string storeFile = settings_->fileName().toStdString();
        QVERIFY(read_file(storeFile).find("typed-secret") == std::string::npos);
        struct stat st;
        QCOMPARE(stat(storeFile.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0600u);
        // Emptied, the password is removed at the next save.
        password->selectAll();
        QTest::keyClick(password, Qt::Key_Delete);
        QVERIFY(!pane_->passwordIsSet());
        clearCalls();
        pane_->saveGlobalPreferences();
        saved = read_property_list_dictionary(kPCopy);
        QVERIFY(saved);
        QCOMPARE(plist_dict_string(saved->get(), "vynd_passwd"), std::optional<std::string>(""));
    }

    void logViewFollowsTheFile() {
        QPlainTextEdit* log = find<QPlainTextEdit>("logView");
        QCOMPARE(log->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(log->font().pointSizeF(), 9.0);
        // Fixed pitch as asked for; the offscreen platform may have no such face.
        QVERIFY(log->font().fixedPitch() || QFontInfo(log->font()).fixedPitch());

        // The whole file at the first tick after it appears.
        std::string first = "2024/01/01 10:00:00 vynd started\n2024/01/01 10:00:01 line two\n";
        write_file(kPaneLogPath, first);
        QTRY_COMPARE_WITH_TIMEOUT(log->toPlainText(),
                                  QString::fromStdString(first).chopped(1) + "\n", 2500);
        QCOMPARE(pane_->getLogText(), QString::fromStdString(first));

        // Appended lines within a tick; a long line is not wrapped.
        std::string longLine(2000, 'x');
        append_file(kPaneLogPath, longLine + "\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(),
                                  QString::fromStdString(first + longLine + "\n"), 2500);
        QVERIFY(log->horizontalScrollBar()->maximum() > 0);

        // Bytes that are not UTF-8, and a character split across writes,
        // do not stop the updates.
        append_file(kPaneLogPath, "bad \xff byte\n\xc3");
        QTRY_VERIFY_WITH_TIMEOUT(pane_->getLogText().contains(QString("bad ") + QChar(0xFFFD)),
                                 2500);
        append_file(kPaneLogPath, "\xa9 after\n");
        QTRY_VERIFY_WITH_TIMEOUT(
            pane_->getLogText().endsWith(QString::fromUtf8("\xc3\xa9 after\n")), 2500);

        // Deletion empties the view; the new file is shown from its start.
        fs::remove(kPaneLogPath);
        QTRY_COMPARE_WITH_TIMEOUT(log->toPlainText(), QString(), 2500);
        write_file(kPaneLogPath, "fresh\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("fresh\n"), 2500);

        // Truncated and rewritten by someone else.
        write_file(kPaneLogPath, "new\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("new\n"), 2500);
    }

    void logScrollPositionIsKept() {
        std::string text;
        for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + "\n";
        write_file(kPaneLogPath, text);
        QPlainTextEdit* log = find<QPlainTextEdit>("logView");
        QScrollBar* bar = log->verticalScrollBar();
        QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > 100, 2500);
        // Opened at the latest line, and following what is appended.
        QCOMPARE(bar->value(), bar->maximum());
        int before = bar->maximum();
        append_file(kPaneLogPath, "followed\n");
        QTRY_VERIFY_WITH_TIMEOUT(pane_->getLogText().endsWith("followed\n"), 2500);
        QCOMPARE(bar->maximum(), before + 1);
        QCOMPARE(bar->value(), bar->maximum());

        // As a reader would: back to the top, then page down twice.
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        int reading = bar->value();
        QVERIFY(reading > 0 && reading < bar->maximum());
        append_file(kPaneLogPath, "appended\n");
        QTRY_VERIFY_WITH_TIMEOUT(pane_->getLogText().endsWith("appended\n"), 2500);
        // A restore would come on a later tick: let two go by.
        QSignalSpy ticks(pane_->findChild<QTimer*>("logTimer"), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 2, 5000);
        QCOMPARE(bar->value(), reading);

        // Moving with the keys right after a change is not undone by the tick.
        append_file(kPaneLogPath, "more\n");
        QTRY_VERIFY_WITH_TIMEOUT(pane_->getLogText().endsWith("more\n"), 2500);
        QTest::keyClick(log, Qt::Key_End, Qt::ControlModifier);
        QVERIFY(bar->value() != reading);
        reading = bar->value();
        ticks.clear();
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 1, 5000);
        QCOMPARE(bar->value(), reading);
    }

    void largeLogShowsItsEnd() {
        auto numbered = [](int from, int to) {
            std::string text;
            for (int i = from; i < to; ++i)
                text += "2024/01/01 10:00:00 line " + std::to_string(i) + "\n";
            return text;
        };
        QLabel* note = find<QLabel>("logTrimmedLabel");
        QPlainTextEdit* log = find<QPlainTextEdit>("logView");
        write_file(kPaneLogPath, numbered(0, 25000));
        QTRY_VERIFY_WITH_TIMEOUT(!pane_->getLogText().isEmpty(), 2500);
        const int kept = LogFollower::kTailLines;
        QVERIFY(pane_->getLogText().startsWith(
            QString("2024/01/01 10:00:00 line %1\n").arg(25000 - kept)));
        QCOMPARE(pane_->getLogText().count('\n'), kept);
        QCOMPARE(log->document()->blockCount(), kept + 1);
        QVERIFY(note->isVisible());

        // Appended lines push the oldest out, in the view as in the text.
        append_file(kPaneLogPath, numbered(25000, 25010));
        QTRY_VERIFY_WITH_TIMEOUT(pane_->getLogText().endsWith("line 25009\n"), 2500);
        QVERIFY(pane_->getLogText().startsWith(
            QString("2024/01/01 10:00:00 line %1\n").arg(25010 - kept)));
        QCOMPARE(log->document()->blockCount(), kept + 1);
        QVERIFY(log->toPlainText().startsWith(
            QString("2024/01/01 10:00:00 line %1\n").arg(25010 - kept)));

        // More appended at once than is ever read: only its end is read.
        std::string burst(LogFollower::kTailBytes + 100, 'y');
        append_file(kPaneLogPath, burst + "\nlast\n");
        // The burst's line is cut, so what is shown starts at the next one.
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("last\n"), 2500);
        QVERIFY(note->isVisible());

        // A small log is shown whole, without the note.
        write_file(kPaneLogPath, "small\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("small\n"), 2500);
        QVERIFY(!note->isVisible());
    }

    void clearAndOpenTheLog() {
        write_file(kPaneLogPath, "old line\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("old line\n"), 2500);
        // Locked: the file keeps its content, the view is emptied.
        QVERIFY(!find<QPushButton>("clearLogButton")->isEnabled());
        pane_->clearLogFile();
        QCOMPARE(read_file(kPaneLogPath), std::string("old line\n"));
        QCOMPARE(pane_->getLogText(), QString());
        unlock();
        pane_->clearLogFile();
        QCOMPARE(read_file(kPaneLogPath), std::string());
        append_file(kPaneLogPath, "next line\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("next line\n"), 2500);
        QVERIFY(find<QPushButton>("openLogButton")->isEnabled());
    }

    void permissionTables() {
        // The accounts people use first, then a break, then the system's.
        QCOMPARE(pane_->users(), (std::vector<std::string>{"admin", "root", "daemon"}));
        QCOMPARE(pane_->groups(), (std::vector<std::string>{"wheel", "root", "staff"}));
        PermissionsTable* lib = table("libPermsTable");
        QCOMPARE(lib->nameCell(0)->count(), 4);
        QCOMPARE(lib->nameCell(0)->itemText(3), QString("daemon"));
        QVERIFY(!(lib->nameCell(0)->model()->flags(lib->nameCell(0)->model()->index(2, 0)) &
                  Qt::ItemIsEnabled));
        QCOMPARE(lib->rowCount(), PermissionsTable::numberOfRowsInTableView());
        QCOMPARE(lib->nameCell(0)->currentText(), QString("root"));
        QCOMPARE(lib->nameCell(1)->currentText(), QString("wheel"));
        QCOMPARE(lib->nameCell(2)->count(), 1);
        QCOMPARE(lib->nameCell(2)->itemText(0), QString("Everyone"));
        QCOMPARE(lib->privCell(2)->count(), 3);
        QCOMPARE(lib->privCell(2)->itemText(2), QString("No Access"));
        QCOMPARE(lib->privCell(0)->currentIndex(), 0);
        QCOMPARE(lib->privCell(1)->currentIndex(), 1);

        // Locked, or the area's switch off: all six popups disabled.
        auto allEnabled = [](PermissionsTable* t, bool want) {
            for (int r = 0; r < 3; ++r)
                if (t->nameCell(r)->isEnabled() != want || t->privCell(r)->isEnabled() != want)
                    return false;
            return true;
        };
        QVERIFY(allEnabled(lib, false));
        unlock();
        QVERIFY(allEnabled(lib, false));
        find<QCheckBox>("setLibPermCheck")->click();
        QVERIFY(pane_->store().flag("vynd_set_lib_perm"));
        QVERIFY(allEnabled(lib, true));
        QVERIFY(allEnabled(table("appPermsTable"), false));

        // "No Access" for the group: "011" becomes "021".
        emit lib->privCell(1)->activated(2);
        QCOMPARE(pane_->store().text("vynd_lib_perms"), QString("021"));
        QCOMPARE(lib->privCell(1)->currentIndex(), 2);
        // The everyone row edits the third digit, keeping the group's.
        emit lib->privCell(2)->activated(0);
        QCOMPARE(pane_->store().text("vynd_lib_perms"), QString("020"));
        emit lib->nameCell(0)->activated(3);
        QCOMPARE(pane_->store().text("vynd_lib_owner"), QString("daemon"));
        QCOMPARE(lib->nameCell(0)->currentText(), QString("daemon"));
        emit lib->nameCell(0)->activated(0);
        QCOMPARE(pane_->store().text("vynd_lib_owner"), QString("admin"));
        QCOMPARE(pane_->store().text("vynd_app_perms"), QString("011"));

        // A stored owner that is not a local user shows as no selection.
        pane_->store().setValue("vynd_lib_owner", "nobody-here");
        QCOMPARE(lib->nameCell(0)->currentIndex(), -1);
        pane_->lockClicked();
        QVERIFY(allEnabled(lib, false));
    }

    void paneFitsSmallScreens() {
        // 1280x720 at scale 2 leaves 640x360 device-independent pixels.
        QWidget* window = view_->window();
        const QSize smallest = window->minimumSizeHint();
        QVERIFY2(smallest.width() <= 640 && smallest.height() <= 360,
                 qPrintable(QString("%1x%2").arg(smallest.width()).arg(smallest.height())));
        auto* scroll = find<QScrollArea>("settingsScroll");
        for (QSize size : {QSize(1280, 720), QSize(640, 360), smallest}) {
            window->resize(size.expandedTo(smallest));
            QTRY_COMPARE(window->size(), size.expandedTo(smallest));
            QCoreApplication::processEvents();
            QString fault = layoutFault(window);
            QVERIFY2(fault.isEmpty(),
                     qPrintable(
                         QString("at %1x%2: %3").arg(size.width()).arg(size.height()).arg(fault)));
            // The log and its buttons are always there, whatever scrolls.
            for (const char* name : {"logView", "clearLogButton", "openLogButton", "lockButton"}) {
                QWidget* w = find<QWidget>(name);
                QVERIFY2(shownRect(w).size() == w->size(), name);
            }
            if (size == QSize(1280, 720)) {
                // Everything at once where there is room, the log taking the rest.
                QCOMPARE(scroll->verticalScrollBar()->maximum(), 0);
                QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);
                QVERIFY(find<QWidget>("logView")->height() > 150);
            }
        }
    }

    void keyboardReachesEveryControlInOrder() {
        unlock();
        pane_->store().setValue("vynd_set_app_perm", true);
        QWidget* window = view_->window();
        window->resize(1280, 720);
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        find<QWidget>("lockButton")->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), find<QWidget>("lockButton"));

        // Tab goes round every control once and comes back to the lock.
        QList<QWidget*> order;
        for (int i = 0; i < 200; ++i) {
            order << QApplication::focusWidget();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == order.first())
                break;
        }
        QCOMPARE(QApplication::focusWidget(), order.first());
        QCOMPARE(QSet<QWidget*>(order.begin(), order.end()).size(), order.size());
        PermissionsTable* app = table("appPermsTable");
        QStringList reading = {"lockButton",   "hostEdit",           "usernameEdit",
                               "passwordEdit", "setupShareButton",   "susModeCombo",
                               "vyndOnCheck",  "scheduleCombo",      "downloadButton",
                               "appPathEdit",  "keepAppSyncedCheck", "pkgPathEdit",
                               "logView",      "openLogButton"};
        QStringList names;
        for (QWidget* w : order) names << w->objectName();
        int last = -1;
        for (const QString& name : reading) {
            int at = names.indexOf(name);
            QVERIFY2(at > last, qPrintable(name + " out of reading order: " + names.join(' ')));
            last = at;
        }
        for (QComboBox* cell : {app->nameCell(0), app->privCell(0), app->nameCell(1),
                                app->privCell(1), app->privCell(2)})
            QVERIFY(order.contains(cell));
        // Out of the table both ways, not round inside it.
        app->privCell(2)->setFocus();
        QTest::keyClick(app->privCell(2), Qt::Key_Tab);
        QVERIFY(!app->isAncestorOf(QApplication::focusWidget()));
        app->nameCell(0)->setFocus();
        QTest::keyClick(app->nameCell(0), Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(!app->isAncestorOf(QApplication::focusWidget()));

        // Every label's letter takes the keyboard to its field.
        for (QLabel* label : view_->findChildren<QLabel*>()) {
            if (!label->text().contains('&'))
                continue;
            QVERIFY2(label->buddy(), qPrintable(label->objectName()));
        }
        QTest::keyClick(window, Qt::Key_H, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), find<QWidget>("hostEdit"));
        QTest::keyClick(window, Qt::Key_B, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), find<QWidget>("bandwidthSpin"));
    }

    void controlsSayWhatTheyAre() {
        // What a screen reader says for the control: its name, or for a
        // popup (named by its value here) the label that points at it.
        auto name = [](QWidget* w) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            if (!a)
                return QString();
            if (qobject_cast<QComboBox*>(w)) {
                const auto labels = a->relations(QAccessible::Label);
                return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
            }
            return a->text(QAccessible::Name);
        };
        QCOMPARE(name(find<QWidget>("hostEdit")), QString("Host URL"));
        QCOMPARE(name(find<QWidget>("usernameEdit")), QString("User name"));
        QCOMPARE(name(find<QWidget>("passwordEdit")), QString("Password"));
        QCOMPARE(name(find<QWidget>("userPathEdit")), QString("Users folder on the share"));
        QCOMPARE(name(table("libPermsTable")->privCell(1)), QString("Group's access in Library"));
        QCOMPARE(name(table("appPermsTable")->nameCell(0)), QString("Owner in Applications"));
        // Every control has a name of its own, on every page.
        QSet<QString> seen;
        for (QWidget* w : view_->findChildren<QWidget*>()) {
            if (!(qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                  qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QAbstractButton*>(w)) ||
                !w->isVisibleTo(view_) || qobject_cast<QTabWidget*>(w->parentWidget()))
                continue;
            // Spin boxes and combo boxes hold an editor of their own.
            if (qobject_cast<QAbstractSpinBox*>(w->parentWidget()) ||
                qobject_cast<QComboBox*>(w->parentWidget()))
                continue;
            const QString n = name(w);
            QVERIFY2(!n.isEmpty(), qPrintable(w->objectName()));
            QVERIFY2(!seen.contains(n) || w->objectName().startsWith("keep") ||
                         w->objectName().startsWith("set"),
                     qPrintable(n));
            seen << n;
        }
        QVERIFY(find<QCheckBox>("keepLibSyncedCheck")->toolTip().contains("deleted"));
        QVERIFY(!find<QPushButton>("redownloadButton")->toolTip().isEmpty());
    }

    void platformWordsAndAlertIcons() {
        // Nothing that does nothing here; the update choices say what they do.
        QVERIFY(!find<QCheckBox>("susRepairCheck")->isVisibleTo(view_));
        QVERIFY(find<QLineEdit>("susServerEdit")->isVisibleTo(view_));
        QComboBox* sus = find<QComboBox>("susModeCombo");
        QCOMPARE(sus->count(), 3);
        QVERIFY(sus->itemText(1).contains("apt"));
        QVERIFY(sus->itemText(2).contains("site"));
        pane_->store().setValue("vynd_sus_mode", 2);
        QCOMPARE(sus->currentIndex(), 2);
        pane_->store().setValue("vynd_sus_mode", 5);
        QCOMPARE(sus->currentIndex(), 1);

        unlock();
        fs::create_directories("/tmp/new-share");
        pane_->store().setValue("vynd_host", "file:///tmp/new-share");
        pane_->setupShare();
        QMessageBox* box = lastAlert(view_);
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Setup successful"));
        QCOMPARE(box->icon(), QMessageBox::Information);
        box->close();
        pane_->store().setValue("vynd_host", "smb:///no-host");
        pane_->setupShare();
        QTRY_COMPARE(lastAlert(view_)->text(), QString("Invalid host path"));
        QCOMPARE(lastAlert(view_)->icon(), QMessageBox::Warning);
    }

    void volumeIconAtTheScreensScale() {
        auto* icon = find<QLabel>("volumeIcon");
        const qreal ratio = icon->devicePixelRatioF();
        QCOMPARE(icon->pixmap().devicePixelRatio(), ratio);
        QCOMPARE(icon->pixmap().size(), (icon->minimumSize() * ratio));
    }

    void volumeIconTakesOnlyPictureFiles() {
        unlock();
        auto* icon = find<QLabel>("volumeIcon");
        const QImage before = icon->pixmap().toImage();
        // As a drag does it: the drop comes only after an accepted entry.
        auto drop = [icon](const QString& path) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(icon, &enter);
            QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                             Qt::NoModifier);
            QCoreApplication::sendEvent(icon, &event);
        };
        // A FIFO dropped by mistake is refused at once, not read for ever.
        const QString fifo = dir_->filePath("picture.png");
        QCOMPARE(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        drop(fifo);
        QCOMPARE(icon->pixmap().toImage(), before);
        QImage red(64, 64, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(dir_->filePath("red.png")));
        drop(dir_->filePath("red.png"));
        QCOMPARE(icon->pixmap().toImage().pixelColor(20, 20), QColor(Qt::red));
    }

    void hostDrivesThePaneLifeCycle() {
        pane_.reset();
        QSettings settings(dir_->filePath("host.conf"), QSettings::IniFormat);
        QString err;
        auto loaded = loadPane(VYND_PANE_PLUGIN, &settings, &err);
        QVERIFY2(loaded, qPrintable(err));
        QVERIFY(!loadPane("/nonexistent/vyndPref.so", &settings, &err));
        QVERIFY2(err.contains("/nonexistent/vyndPref.so"), qPrintable(err));
        write_file(kPaneLogPath, "from the host\n");
        PreferencePane* pane = loaded.get();
        auto window = std::make_unique<SettingsWindow>(std::move(loaded));
        QVERIFY(!window->isPaneSelected());
        window->show();
        QVERIFY(window->isPaneSelected());
        auto* log = window->findChild<QPlainTextEdit*>("logView");
        QVERIFY(log);
        QTRY_COMPARE_WITH_TIMEOUT(log->toPlainText(), QString("from the host\n"), 2500);
        QVERIFY(pane->mainView()->isVisible());
        window->close();
        QVERIFY(!window->isPaneSelected());
        // Hidden, the pane neither ticks nor follows the file.
        auto* vp = dynamic_cast<vyndPref*>(pane);
        QVERIFY(vp);
        QVERIFY(!vp->isTimerActive());
        append_file(kPaneLogPath, "after closing\n");
        QCoreApplication::processEvents();
        QCOMPARE(log->toPlainText(), QString("from the host\n"));
    }

    void failedSaveKeepsTheEditsAndSaysWhy() {
        unlock();
        write_file("/run/vyndctl.stderr", "vyndctl: the disk is full\n");
        QLineEdit* host = find<QLineEdit>("hostEdit");
        host->setFocus();
        QTest::keyClicks(host, "smb://server/share");
        QVERIFY(pane_->hasUnsavedEdits());
        QVERIFY(!pane_->saveGlobalPreferences());
        QMessageBox* box = lastAlert(view_);
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Unable to save settings"));
        QVERIFY2(informativeText(box).startsWith("vyndctl: the disk is full\n\nYour changes"),
                 qPrintable(informativeText(box)));
        delete box;
        QVERIFY(pane_->hasUnsavedEdits());
        QCOMPARE(host->text(), QString("smb://server/share"));
        // The lock stays open for another try.
        pane_->lockClicked();
        QVERIFY(pane_->getAuthorized());
        delete lastAlert(view_);

        // Turning the schedule on says what the tool said.
        write_file(kReply, "1\n");
        write_file("/run/vyndctl.stderr", "Unit vynd.timer not found.\n");
        pane_->startProcess();
        QCOMPARE(informativeText(lastAlert(view_)),
                 QString("Error: 1\n\nUnit vynd.timer not found."));
        delete lastAlert(view_);
        std::error_code ec;
        fs::remove(kReply, ec);

        // Leaving asks before the edits go; keeping them keeps the pane.
        write_file("/run/vyndctl.stderr", "vyndctl: the disk is full\n");
        auto answer = [](const char* button) {
            QTimer::singleShot(0, [button] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* ask = qobject_cast<QMessageBox*>(w);
                        ask && ask->objectName() == "unsavedQuestion")
                        for (QAbstractButton* b : ask->buttons())
                            if (b->text() == button)
                                b->click();
            });
        };
        answer("Keep Editing");
        QVERIFY(!pane_->shouldUnselect());
        answer("Close Without Saving");
        QVERIFY(pane_->shouldUnselect());
        clearCalls();
        pane_->didUnselect();
        QVERIFY(!fs::exists(kCalls));  // no second try, no second alert
        fs::remove("/run/vyndctl.stderr", ec);

        // A save that works leaves nothing to ask about.
        pane_->didSelect();
        unlock();
        QTest::keyClicks(host, "x");
        QVERIFY(pane_->shouldUnselect());
        QVERIFY(!pane_->hasUnsavedEdits());
    }

    void lockSaysWhyAndRelocks() {
        if (geteuid() == 0)
            QSKIP("needs the --as-user sandbox");
        QPushButton* lock = find<QPushButton>("lockButton");
        QLabel* status = find<QLabel>("lockStatusLabel");
        QVERIFY(!lock->icon().isNull());
        QVERIFY(!status->isVisible());
        write_file("/run/pkcheck.status", "2\n");
        lock->click();
        QVERIFY(!pane_->getAuthorized());
        QVERIFY(status->isVisible());
        QVERIFY2(status->text().contains("no polkit authentication agent"),
                 qPrintable(status->text()));
        write_file("/run/pkcheck.status", "3\n");
        lock->click();
        QVERIFY(status->text().contains("cancelled"));

        write_file("/run/pkcheck.status", "0\n");
        lock->click();
        QVERIFY(pane_->getAuthorized());
        QVERIFY(!status->isVisible());
        QCOMPARE(lock->text(), QString("Click the &lock to prevent further changes."));
        // Polkit lets the kept authorization go: the pane locks, keeping the edits.
        QTest::keyClicks(find<QLineEdit>("hostEdit"), "file:///srv");
        write_file("/run/pkcheck.status", "2\n");
        pane_->checkAuthorizationKept();
        QVERIFY(!pane_->getAuthorized());
        QCOMPARE(lock->text(), QString("Click the &lock to make changes."));
        QVERIFY(status->text().contains("lapsed"));
        QVERIFY(pane_->hasUnsavedEdits());
    }

    void asUserGoesThroughPkexec() {
        if (geteuid() == 0)
            QSKIP("needs the --as-user sandbox");
        write_file(kReply, "1\n");
        unlock();
        QVERIFY(pane_->getAuthorized());
        QCOMPARE(pane_->getVyndOff(), 1);
        std::string recorded = read_file("/run/.sandbox-calls");
        QVERIFY(recorded.find("pkcheck\037--action-id\037com.quenderlyn.vynd.unlock") !=
                std::string::npos);
        QVERIFY(recorded.find("pkexec\037/Library/Application Support/Quenderlyn/vyndctl\037?") !=
                std::string::npos);
        pane_->saveGlobalPreferences();
        std::string folder = handOverFolder().value_or("none");
        struct stat st;
        QCOMPARE(stat(folder.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0700u);
        QVERIFY(fs::exists(kPCopy));
        QVERIFY(fs::is_empty(folder));
    }
};

QTEST_MAIN(PaneTest)
#include "pane_test.moc"
