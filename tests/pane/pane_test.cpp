// The preference pane under the offscreen platform, run inside the test sandbox.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <memory>

#include "pane_loader.h"
#include "permissions_table.h"
#include "property_list.h"
#include "settings_keys.h"
#include "settings_window.h"
#include "temp_file.h"
#include "value_transformers.h"
#include "vynd_pref.h"

using namespace vynd;
namespace fs = std::filesystem;

namespace {

const char kCalls[] = "/run/vyndctl.calls";
const char kReply[] = "/run/vyndctl.reply";
const char kPCopy[] = "/run/vyndctl.p-copy";
const char kVyndCalls[] = "/run/vynd.calls";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void appendTo(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::app) << content;
}

QStringList lines(const std::string& path) {
    QString all = QString::fromStdString(slurp(path));
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

QMessageBox* lastAlert(QWidget* view) {
    auto boxes = view->window()->findChildren<QMessageBox*>("alert");
    return boxes.isEmpty() ? nullptr : boxes.last();
}

QString informativeText(QMessageBox* box) {
    return box ? box->informativeText() : QString();
}

}  // namespace

class PaneTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<vyndPref> pane_;
    QWidget* view_ = nullptr;

    // A pane over a fresh store, shown and selected as the host does it.
    void openPane() {
        pane_.reset();
        settings_ = std::make_unique<QSettings>(dir_->filePath("store.conf"), QSettings::IniFormat);
        pane_ = std::make_unique<vyndPref>(settings_.get());
        view_ = pane_->loadMainView();
        view_->show();
        pane_->didSelect();
    }
    template <typename T>
    T* find(const char* name) {
        T* w = view_->findChild<T*>(name);
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
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
    void initTestCase() {
        // Everything below writes the fixed system paths: only ever inside
        // the sandbox, whose host name and call record give it away.
        char host[64] = {};
        gethostname(host, sizeof host - 1);
        if (std::string(host) != "vynd-test" || !fs::exists("/run/.sandbox-calls"))
            qFatal("pane_test runs only inside the test sandbox (pane_sandbox)");
    }

    void init() {
        std::error_code ec;
        for (const char* p : {kPaneGlobalPrefsPath, kPaneManagedPrefsPath, kJobFilePath,
                              kPaneLogPath, kPaneLockPath, kCalls, kReply, kPCopy, kVyndCalls})
            fs::remove(p, ec);
        fs::remove_all("/tmp/pane_test-0", ec);
        dir_ = std::make_unique<QTemporaryDir>();
        openPane();
    }

    void cleanup() {
        pane_.reset();
        settings_.reset();
        dir_.reset();
    }

    void lockedUnlockedAndManaged() {
        // Shown: locked, nothing editable, nothing runnable.
        QVERIFY(!pane_->getAuthorized());
        QVERIFY(!pane_->getCanDownload());
        QVERIFY(!find<QLineEdit>("hostEdit")->isEnabled());
        QVERIFY(!find<QPushButton>("downloadButton")->isEnabled());
        QVERIFY(!find<QComboBox>("scheduleCombo")->isEnabled());
        QVERIFY(find<QPushButton>("lockButton")->isEnabled());

        // Unlocking asks for the job's state: loaded.
        spit(kReply, "0\n");
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
        QVERIFY(lines(kCalls)[0].startsWith("p /tmp/pane_test-0/"));
        spit(kReply, "1\n");
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
        spit(kReply, "Need to be running as root!\n");
        QCOMPARE(pane_->executeLaunchCtl("?"), -1);
        spit(kReply, "");
        QCOMPARE(pane_->executeLaunchCtl("?"), -1);

        spit(kReply, "Need to be running as root!\n");
        pane_->setVyndOff(1);
        pane_->stopProcess();
        QMessageBox* box = lastAlert(view_);
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Error stopping process"));
        QCOMPARE(informativeText(box), QString("Error: -1"));
        QCOMPARE(pane_->getVyndOff(), 0);

        spit(kReply, "3\n");
        pane_->setVyndOff(0);
        pane_->startProcess();
        box = lastAlert(view_);
        QCOMPARE(box->text(), QString("Error starting process"));
        QCOMPARE(informativeText(box), QString("Error: 3"));
        QCOMPARE(pane_->getVyndOff(), 1);

        // Success leaves the state the switch already shows.
        int alerts = view_->window()->findChildren<QMessageBox*>("alert").size();
        spit(kReply, "0\n");
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
        spit(kPaneLockPath, "");
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
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(kVyndCalls) && !slurp(kVyndCalls).empty(), 3000);
        QCOMPARE(lines(kVyndCalls), QStringList{"-i"});
        QCOMPARE(lines(kCalls).size(), 1);
        QVERIFY(lines(kCalls)[0].startsWith("p "));
        pane_->redownload();
        QTRY_COMPARE_WITH_TIMEOUT(lines(kVyndCalls).size(), 2, 3000);
        QCOMPARE(lines(kVyndCalls)[1], QString("-ci"));
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
        for (const auto& key : registeredDefaults().keys())
            QVERIFY2(plist_dict_get_item(d, key.toUtf8().constData()), qPrintable(key));
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
        QVERIFY(path.startsWith("/tmp/pane_test-0/"));
        QVERIFY(!fs::exists(path.toStdString()));
        struct stat st;
        QCOMPARE(stat("/tmp/pane_test-0", &st), 0);
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
        // Another user's folder, or a link, where ours should be: no file.
        fs::create_directories("/tmp/pane_test-0");
        QCOMPARE(chown("/tmp/pane_test-0", 1234, 1234), 0);
        QVERIFY(!tempFilePath());
        unlock();
        clearCalls();
        pane_->saveGlobalPreferences();
        QVERIFY(!fs::exists(kCalls));

        fs::remove_all("/tmp/pane_test-0");
        fs::create_directories("/tmp/elsewhere");
        fs::create_directory_symlink("/tmp/elsewhere", "/tmp/pane_test-0");
        QVERIFY(!tempFilePath());
        fs::remove("/tmp/pane_test-0");

        // A folder of ours that others can write is refused too.
        fs::create_directories("/tmp/pane_test-0");
        chmod("/tmp/pane_test-0", 0777);
        QVERIFY(!tempFilePath());
        chmod("/tmp/pane_test-0", 0755);

        auto a = tempFilePath();
        auto b = tempFilePath();
        QVERIFY(a && b && *a != *b);
        struct stat st;
        QCOMPARE(stat(a->c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0600u);
        QCOMPARE(fs::path(*a).filename().string().size(), 12u);
        QCOMPARE(stat("/tmp/pane_test-0", &st), 0);
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
        spit(kJobFilePath, "not a property list");
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
        store.setValue("vynd_passwd", "s3cret");
        QCheckBox* check = find<QCheckBox>("encryptPassCheck");
        check->click();
        QVERIFY(store.flag("vynd_encrypt_pass"));
        QCOMPARE(store.text("vynd_passwd").toStdString(),
                 *PasswordValueTransformer::encode("s3cret"));
        QCOMPARE(store.text("vynd_username").toStdString(),
                 *PasswordValueTransformer::encode("admin"));
        // The fields show the clear text and edit through the cipher.
        QCOMPARE(find<QLineEdit>("passwordEdit")->text(), QString("s3cret"));
        QTest::keyClick(find<QLineEdit>("passwordEdit"), Qt::Key_X);
        QCOMPARE(store.text("vynd_passwd").toStdString(),
                 *PasswordValueTransformer::encode("s3cretx"));
        check->click();
        QCOMPARE(store.text("vynd_passwd"), QString("s3cretx"));
        QCOMPARE(store.text("vynd_username"), QString("admin"));

        // An empty password has no enciphered form and reads as "".
        store.setValue("vynd_passwd", "");
        pane_->toggleEncryptPassword(1);
        QVERIFY(!store.hasStoredValue("vynd_passwd"));
        QCOMPARE(store.text("vynd_passwd"), QString(""));
    }

    void logViewFollowsTheFile() {
        QPlainTextEdit* log = find<QPlainTextEdit>("logView");
        QCOMPARE(log->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(log->font().pointSizeF(), 9.0);
        // Fixed pitch as asked for; the offscreen platform may have no such face.
        QVERIFY(log->font().fixedPitch() || QFontInfo(log->font()).fixedPitch());

        // The whole file at the first tick after it appears.
        std::string first = "2024/01/01 10:00:00 vynd started\n2024/01/01 10:00:01 line two\n";
        spit(kPaneLogPath, first);
        QTRY_COMPARE_WITH_TIMEOUT(log->toPlainText(),
                                  QString::fromStdString(first).chopped(1) + "\n", 2500);
        QCOMPARE(pane_->getLogText(), QString::fromStdString(first));

        // Appended lines within a tick; a long line is not wrapped.
        std::string longLine(2000, 'x');
        appendTo(kPaneLogPath, longLine + "\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(),
                                  QString::fromStdString(first + longLine + "\n"), 2500);
        QVERIFY(log->horizontalScrollBar()->maximum() > 0);

        // Bytes that are not UTF-8, and a character split across writes,
        // do not stop the updates.
        appendTo(kPaneLogPath, "bad \xff byte\n\xc3");
        QTRY_VERIFY_WITH_TIMEOUT(pane_->getLogText().contains(QString("bad ") + QChar(0xFFFD)),
                                 2500);
        appendTo(kPaneLogPath, "\xa9 after\n");
        QTRY_VERIFY_WITH_TIMEOUT(
            pane_->getLogText().endsWith(QString::fromUtf8("\xc3\xa9 after\n")), 2500);

        // Deletion empties the view; the new file is shown from its start.
        fs::remove(kPaneLogPath);
        QTRY_COMPARE_WITH_TIMEOUT(log->toPlainText(), QString(), 2500);
        spit(kPaneLogPath, "fresh\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("fresh\n"), 2500);

        // Truncated and rewritten by someone else.
        spit(kPaneLogPath, "new\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("new\n"), 2500);
    }

    void logScrollPositionIsKept() {
        std::string text;
        for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + "\n";
        spit(kPaneLogPath, text);
        QPlainTextEdit* log = find<QPlainTextEdit>("logView");
        QTRY_VERIFY_WITH_TIMEOUT(log->verticalScrollBar()->maximum() > 100, 2500);
        // As a reader would: page down twice.
        log->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        log->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        int reading = log->verticalScrollBar()->value();
        QVERIFY(reading > 0);
        appendTo(kPaneLogPath, "appended\n");
        QTRY_VERIFY_WITH_TIMEOUT(pane_->getLogText().endsWith("appended\n"), 2500);
        // A restore would come on a later tick: let two go by.
        QSignalSpy ticks(pane_->findChild<QTimer*>("logTimer"), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 2, 5000);
        QCOMPARE(log->verticalScrollBar()->value(), reading);
    }

    void clearAndOpenTheLog() {
        spit(kPaneLogPath, "old line\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("old line\n"), 2500);
        // Locked: the file keeps its content, the view is emptied.
        QVERIFY(!find<QPushButton>("clearLogButton")->isEnabled());
        pane_->clearLogFile();
        QCOMPARE(slurp(kPaneLogPath), std::string("old line\n"));
        QCOMPARE(pane_->getLogText(), QString());
        unlock();
        pane_->clearLogFile();
        QCOMPARE(slurp(kPaneLogPath), std::string());
        appendTo(kPaneLogPath, "next line\n");
        QTRY_COMPARE_WITH_TIMEOUT(pane_->getLogText(), QString("next line\n"), 2500);
        QVERIFY(find<QPushButton>("openLogButton")->isEnabled());
    }

    void permissionTables() {
        QCOMPARE(pane_->users(), (std::vector<std::string>{"root", "daemon", "admin"}));
        QCOMPARE(pane_->groups(), (std::vector<std::string>{"root", "wheel", "staff"}));
        PermissionsTable* lib = table("libPermsTable");
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
        emit lib->nameCell(0)->activated(2);
        QCOMPARE(pane_->store().text("vynd_lib_owner"), QString("admin"));
        QCOMPARE(pane_->store().text("vynd_app_perms"), QString("011"));

        // A stored owner that is not a local user shows as no selection.
        pane_->store().setValue("vynd_lib_owner", "nobody-here");
        QCOMPARE(lib->nameCell(0)->currentIndex(), -1);
        pane_->lockClicked();
        QVERIFY(allEnabled(lib, false));
    }

    void hostDrivesThePaneLifeCycle() {
        pane_.reset();
        QSettings settings(dir_->filePath("host.conf"), QSettings::IniFormat);
        QString err;
        auto loaded = loadPane(VYND_PANE_PLUGIN, &settings, &err);
        QVERIFY2(loaded, qPrintable(err));
        QVERIFY(!loadPane("/nonexistent/vyndPref.so", &settings, &err));
        spit(kPaneLogPath, "from the host\n");
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
        appendTo(kPaneLogPath, "after closing\n");
        QCoreApplication::processEvents();
        QCOMPARE(log->toPlainText(), QString("from the host\n"));
    }

    void asUserGoesThroughPkexec() {
        if (geteuid() == 0)
            QSKIP("needs the --as-user sandbox");
        spit(kReply, "1\n");
        unlock();
        QVERIFY(pane_->getAuthorized());
        QCOMPARE(pane_->getVyndOff(), 1);
        std::string recorded = slurp("/run/.sandbox-calls");
        QVERIFY(recorded.find("pkcheck\037--action-id\037com.quenderlyn.vynd.vyndctl") !=
                std::string::npos);
        QVERIFY(recorded.find("pkexec\037/Library/Application Support/Quenderlyn/vyndctl\037?") !=
                std::string::npos);
        pane_->saveGlobalPreferences();
        std::string folder = "/tmp/pane_test-" + std::to_string(geteuid());
        struct stat st;
        QCOMPARE(stat(folder.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0700u);
        QVERIFY(fs::exists(kPCopy));
        QVERIFY(fs::is_empty(folder));
    }
};

QTEST_MAIN(PaneTest)
#include "pane_test.moc"
