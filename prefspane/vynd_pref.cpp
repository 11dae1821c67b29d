// The vynd preference pane: life cycle, daemon control, settings, schedule and controls.
#include "prefspane/vynd_pref.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimeEdit>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/account_order.h"
#include "platform/accounts.h"
#include "platform/privileged_exec.h"
#include "platform/property_list.h"
#include "platform/system_log.h"
#include "prefspane/lock_probe.h"
#include "prefspane/permissions_table.h"
#include "prefspane/settings_keys.h"
#include "prefspane/settings_plist.h"
#include "prefspane/volume_icon_view.h"
#include "tempfiles/temp_file.h"
#include "ui_vynd_pref.h"

namespace vynd {

namespace {

const char kHomePage[] = "https://www.quenderlyn.com/vynd/";
const char kSupportPage[] = "https://www.quenderlyn.com/vynd/donate/";

bool fileExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

const char kPasswordKey[] = "vynd_passwd";

QVariant optionalText(const std::optional<std::string>& text) {
    return text ? QVariant(QString::fromStdString(*text)) : QVariant();
}

std::optional<std::string> optionalPlainText(const QVariant& value) {
    if (value.typeId() != QMetaType::QString || value.toString().isEmpty())
        return std::nullopt;
    return value.toString().toStdString();
}

}  // namespace

std::optional<int> replyNumber(const std::string& line) {
    size_t i = 0;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    size_t digits = i;
    if (digits < line.size() && (line[digits] == '+' || line[digits] == '-'))
        ++digits;
    if (digits >= line.size() || !std::isdigit(static_cast<unsigned char>(line[digits])))
        return std::nullopt;
    return std::atoi(line.c_str() + i);
}

vyndPref::vyndPref(QSettings* settings, QObject* parent)
    : QObject(parent),
      store_(settings),
      passwordTransformer_([this] { return store_.flag("vynd_encrypt_pass"); }) {
    logTimer_.setParent(this);
    logTimer_.setObjectName("logTimer");
    logTimer_.setInterval(1000);
    connect(&logTimer_, &QTimer::timeout, this, &vyndPref::update);
    // Also while the pane is not shown: a run outlives the pane's visits.
    runWatch_.setInterval(250);
    connect(&runWatch_, &QTimer::timeout, this, &vyndPref::watchRuns);
    connect(&authorizationWatch_, &QTimer::timeout, this, &vyndPref::checkAuthorizationKept);
    // Any change to a setting but by loading is an edit to save.
    connect(&store_, &SettingsStore::valueChanged, this, [this](const QString& key) {
        if (!loading_ && isVyndKey(key) && key != "vynd_off")
            unsavedEdits_ = true;
    });
}

vyndPref::~vyndPref() {
    logTimer_.stop();
    unwatchLogFile();
    // A view the host did not take into a window is still ours.
    if (mainView_ && !mainView_->parent())
        delete mainView_;
}

QWidget* vyndPref::loadMainView() {
    if (mainView_)
        return mainView_;
    ui_ = std::make_unique<Ui::vyndPref>();
    mainView_ = new QWidget;
    ui_->setupUi(mainView_);
    mainViewDidLoad();
    return mainView_;
}

void vyndPref::mainViewDidLoad() {
    populateUsersAndGroups();
    unwatchLogFile();
    logText_.clear();
    savedScroll_.reset();

    // The log reads like a terminal: small fixed-width type, no wrapping, so
    // long lines run off to the right.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(mono).fixedPitch()) {
        mono = QFont("monospace");
        mono.setStyleHint(QFont::TypeWriter);
        mono.setFixedPitch(true);
    }
    mono.setPointSizeF(9.0);
    ui_->logView->setFont(mono);
    ui_->logView->document()->setDefaultFont(mono);
    ui_->logView->setLineWrapMode(QPlainTextEdit::NoWrap);
    ui_->logView->setWordWrapMode(QTextOption::NoWrap);
    // Read from the keyboard too: arrows and Page Down move through it.
    ui_->logView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // The lines, plus the empty one after the last line end.
    ui_->logView->setMaximumBlockCount(LogFollower::kTailLines + 1);
    ui_->logTrimmedLabel->setText(
        tr("Only the end of the log is shown here; Open Log shows all of it."));
    ui_->logTrimmedLabel->hide();

    (void)VolumeIconView::attach(ui_->volumeIcon)
        ->setImage(
            mainView_->style()->standardIcon(QStyle::SP_DriveNetIcon).pixmap(512, 512).toImage());
    ui_->progress->setRange(0, 0);
    ui_->progress->hide();

    // The settings keep the height they need where there is room; the log
    // takes the rest.
    ui_->paneSplitter->setStretchFactor(0, 0);
    ui_->paneSplitter->setStretchFactor(1, 1);
    nameControls();
    fitToPlatform();

    bindControls();
    setAuthorized(false);
    setManagedPrefs(managedPrefsExist());
    refreshControls();
    // Left to its own sharing, the splitter gives the log part of the height
    // the settings ask for even where both would fit; until the divider is
    // moved by hand, each new height is shared out again.
    ui_->paneSplitter->installEventFilter(this);
    connect(ui_->paneSplitter, &QSplitter::splitterMoved, this, [this] { dividerMoved_ = true; });
}

void vyndPref::sharePaneHeight() {
    QSplitter* splitter = ui_->paneSplitter;
    const int room = splitter->height() - splitter->handleWidth();
    const int log = ui_->logGroup->minimumSizeHint().height();
    const int settings =
        std::max(0, std::min(ui_->settingsScroll->sizeHint().height(), room - log));
    QSignalBlocker block(splitter);
    splitter->setSizes({settings, room - settings});
}

void vyndPref::didSelect() {
    setVyndRunning(false);
    watchLogFile();
    loadGlobalPreferences();
    // Showing the pane always starts locked.
    deauthorize();
    logTimer_.start();
    update();
}

bool vyndPref::shouldUnselect() {
    leaveDecided_ = false;
    if (!unsavedEdits_)
        return true;
    QString reason;
    if (editingAllowed_) {
        if (saveGlobalPreferences(true)) {
            leaveDecided_ = true;
            return true;
        }
        reason = lastFailure_;
    } else {
        reason = tr("The pane was locked before they were saved.");
    }
    QMessageBox ask(mainView_ ? mainView_->window() : nullptr);
    ask.setObjectName("unsavedQuestion");
    ask.setIcon(QMessageBox::Warning);
    ask.setTextFormat(Qt::PlainText);
    ask.setText(tr("Your changes to the settings have not been saved."));
    ask.setInformativeText(
        tr("%1\n\nClose without saving them, or keep editing and unlock to save them?")
            .arg(reason));
    QPushButton* discard = ask.addButton(tr("Close Without Saving"), QMessageBox::DestructiveRole);
    ask.addButton(tr("Keep Editing"), QMessageBox::RejectRole);
    ask.setDefaultButton(qobject_cast<QPushButton*>(ask.buttons().last()));
    ask.exec();
    if (ask.clickedButton() != discard)
        return false;
    leaveDecided_ = true;
    return true;
}

void vyndPref::didUnselect() {
    logTimer_.stop();
    unwatchLogFile();
    // Whatever shouldUnselect decided stands; a host that never asked still
    // gets the save.
    if (editingAllowed_ && !leaveDecided_)
        saveGlobalPreferences();
    leaveDecided_ = false;
    deauthorize();
}

bool vyndPref::managedPrefsExist() const {
    return fileExists(kPaneManagedPrefsPath);
}

void vyndPref::setVyndRunning(bool running) {
    vyndRunning_ = running;
    if (ui_) {
        ui_->runningLabel->setText(running ? tr("vynd is running") : tr("vynd is idle"));
        ui_->progress->setVisible(running);
    }
    emit vyndRunningChanged(running);
}

void vyndPref::setVyndOff(int off) {
    vyndOff_ = off;
    store_.setValue("vynd_off", off);
    if (ui_) {
        QSignalBlocker block(ui_->vyndOnCheck);
        ui_->vyndOnCheck->setChecked(off == 0);
    }
    emit vyndOffChanged(off);
}

void vyndPref::setManagedPrefs(bool managed) {
    managedPrefs_ = managed;
    if (!ui_)
        return;
    ui_->managedBanner->setText(
        tr("These settings are managed: they come from %1 and cannot be changed here. "
           "vynd can still be run once the lock is open.")
            .arg(kPaneManagedPrefsPath));
    ui_->managedBanner->setVisible(managed);
}

void vyndPref::setCanDownload(bool can) {
    canDownload_ = can;
}

// --- Privileged calls and actions -------------------------------------------

QString vyndPref::failureOf(const PrivilegedRun& run, const char* program) {
    const QString said = QString::fromStdString(run.error).trimmed();
    if (run.status == -1)
        return tr("%1 could not be started (%2). Reinstall the vynd package.")
            .arg(QString::fromUtf8(program), said);
    if (privileged_start_refused(run.status))
        return tr("pkexec did not run %1: %2. Click the lock and authenticate as an "
                  "administrator, then try again.")
            .arg(QString::fromUtf8(program),
                 said.isEmpty() ? tr("the authorization was refused") : said);
    return said;
}

int vyndPref::executeLaunchCtl(const char* mode, const char* value) {
    lastFailure_.clear();
    if (!lockOpen_) {
        lastFailure_ = tr("The pane is locked. Click the lock to make changes.");
        return -1;
    }
    std::vector<std::string> argv = {kVyndctlPath, mode};
    if (value)
        argv.push_back(value);
    const PrivilegedRun run = run_privileged(argv, 31);
    lastFailure_ = failureOf(run, kVyndctlPath);
    // Only a number counts as an answer: usage text, the root message or no
    // output at all mean the call failed.
    std::optional<int> reply = run.first_line ? replyNumber(*run.first_line) : std::nullopt;
    if (!reply && lastFailure_.isEmpty())
        lastFailure_ = run.first_line && !run.first_line->empty()
                           ? tr("vyndctl answered: %1").arg(QString::fromStdString(*run.first_line))
                           : tr("vyndctl gave no answer.");
    return reply.value_or(-1);
}

void vyndPref::executeVynd(const char* option) {
    if (!lockOpen_)
        return;
    std::optional<pid_t> pid = start_privileged({kVyndPath, option});
    if (!pid) {
        runAlert(tr("Error running vynd"), QString("Error: %1").arg(-1),
                 tr("%1 or pkexec could not be started. Reinstall the vynd and pkexec packages.")
                     .arg(kVyndPath));
        return;
    }
    runs_.push_back(*pid);
    runWatch_.start();
}

void vyndPref::watchRuns() {
    for (auto it = runs_.begin(); it != runs_.end();) {
        std::optional<int> status = reap_privileged(*it);
        if (!status) {
            ++it;
            continue;
        }
        it = runs_.erase(it);
        // The run's own outcome is in the log; only pkexec refusing to start
        // it is the pane's to tell.
        if (privileged_start_refused(*status))
            runAlert(tr("Error running vynd"), QString("Error: %1").arg(*status),
                     tr("pkexec did not run vynd: the authorization was refused, or no "
                        "authentication agent could ask for it. Click the lock and "
                        "authenticate as an administrator, then try again."));
    }
    if (runs_.empty())
        runWatch_.stop();
}

void vyndPref::runAlert(const QString& title, const QString& message, AlertStyle style) {
    QWidget* parent = mainView_ ? mainView_->window() : nullptr;
    auto* box = new QMessageBox(parent);
    box->setObjectName("alert");
    box->setIcon(style == AlertStyle::Information ? QMessageBox::Information
                                                  : QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    box->setInformativeText(message);
    // Both texts are shown as given, never read as markup.
    for (QLabel* label : box->findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
    box->setStandardButtons(QMessageBox::Ok);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void vyndPref::runAlert(const QString& title, const QString& message, const QString& reason) {
    runAlert(title, reason.isEmpty() ? message : message + "\n\n" + reason);
}

void vyndPref::stopProcess() {
    int r = executeLaunchCtl("0");
    if (r != 0) {
        runAlert(tr("Error stopping process"), QString("Error: %1").arg(r), lastFailure_);
        setVyndOff(0);
    }
}

void vyndPref::startProcess() {
    int r = executeLaunchCtl("1");
    if (r != 0) {
        runAlert(tr("Error starting process"), QString("Error: %1").arg(r), lastFailure_);
        setVyndOff(1);
    }
}

// A run never goes ahead on settings other than those shown.
void vyndPref::download() {
    if (saveGlobalPreferences())
        executeVynd("-i");
}

void vyndPref::redownload() {
    if (saveGlobalPreferences())
        executeVynd("-ci");
}

void vyndPref::openHelpURL() {
    QDesktopServices::openUrl(QUrl(kHomePage));
}

void vyndPref::openSupportURL() {
    QDesktopServices::openUrl(QUrl(kSupportPage));
}

void vyndPref::update() {
    if (savedScroll_) {
        restoreScrollPosition();
        savedScroll_.reset();
    }
    setVyndRunning(daemonHoldsLock(kPaneLockPath));
    refreshLog();
}

// --- Settings bridge ----------------------------------------------------------

void vyndPref::removeVyndKeysFromPrefs() {
    for (const QString& key : store_.allKeys())
        if (isVyndKey(key) && store_.hasStoredValue(key))
            store_.remove(key);
    store_.sync();
}

void vyndPref::loadGlobalPreferences() {
    store_.registerDefaults(registeredDefaults());
    const char* source = nullptr;
    if (fileExists(kPaneManagedPrefsPath))
        source = kPaneManagedPrefsPath;
    else if (fileExists(kPaneGlobalPrefsPath))
        source = kPaneGlobalPrefsPath;
    loading_ = true;
    removeVyndKeysFromPrefs();
    typedPassword_.reset();
    loadedPassword_.reset();
    if (source) {
        if (auto dict = read_property_list_dictionary(source)) {
            QVariantMap values = variantFromPlist(dict->get()).toMap();
            loadedPassword_ = optionalPlainText(values.take(kPasswordKey));
            for (auto it = values.begin(); it != values.end(); ++it) store_.setValue(it.key(), *it);
        }
    }
    setVyndOff(static_cast<int>(store_.integer("vynd_off")));
    loading_ = false;
    unsavedEdits_ = false;
    refreshControls();
}

void vyndPref::reportSaveFailure(const QString& reason) {
    runAlert(tr("Unable to save settings"), reason,
             tr("Your changes are still shown and have not been lost; save them again once the "
                "cause is mended."));
}

bool vyndPref::saveGlobalPreferences(bool quiet) {
    store_.sync();
    Plist dict(plist_new_dict());
    for (const QString& key : store_.allKeys()) {
        if (!isVyndKey(key) || key == kPasswordKey)
            continue;
        if (plist_t node = plistFromVariant(store_.value(key)))
            plist_dict_set_item(dict.get(), key.toUtf8().constData(), node);
    }
    // Without vynd_passwd vyndctl keeps the password it has; an empty one
    // removes it.
    std::optional<std::string> password = loadedPassword_;
    if (typedPassword_) {
        password = typedPassword_;
        if (!typedPassword_->empty() && store_.flag("vynd_encrypt_pass")) {
            // A cipher that fails must not pass for an emptied password.
            password = PasswordValueTransformer::encode(*typedPassword_);
            if (!password) {
                lastFailure_ = tr("The password could not be enciphered.");
                if (!quiet)
                    reportSaveFailure(lastFailure_);
                return false;
            }
        }
    }
    if (password)
        plist_dict_set_item(dict.get(), kPasswordKey, plist_new_string(password->c_str()));
    if (fileExists(kPaneManagedPrefsPath)) {
        unsavedEdits_ = false;
        return true;
    }
    std::optional<std::string> path = tempFilePath();
    std::string err = "no private folder could be made for them";
    if (!path || !write_property_list_atomically(*path, dict.get(), &err, 0600)) {
        system_log("settings not handed over: " + err);
        if (path)
            unlink(path->c_str());
        lastFailure_ = tr("The settings could not be handed over for saving: %1")
                           .arg(QString::fromStdString(err));
        if (!quiet)
            reportSaveFailure(lastFailure_);
        return false;
    }
    // Mode p's reply is the same whatever happened; what it says on its
    // standard error, and pkexec's refusal, tell a failed save.
    const int reply = executeLaunchCtl("p", path->c_str());
    // vyndctl has copied it (or failed to); the hand-over file is not left
    // lying about.
    unlink(path->c_str());
    if (reply == -1 || !lastFailure_.isEmpty()) {
        if (lastFailure_.isEmpty())
            lastFailure_ = tr("vyndctl did not answer.");
        if (!quiet)
            reportSaveFailure(lastFailure_);
        return false;
    }
    unsavedEdits_ = false;
    return true;
}

namespace {

// The schedules a StartInterval stands for: a new one is drawn from `count`
// seconds starting at `first`, and any interval in the wider range read back
// is taken for it.
struct IntervalSchedule {
    int index;
    unsigned first;
    unsigned count;
    int64_t readFrom;
    int64_t readTo;
};
constexpr IntervalSchedule kIntervalSchedules[] = {
    {0, 50, 21, 41, 79},         // about every minute
    {1, 3500, 201, 3401, 3799},  // about every hour
};
constexpr int kDailySchedule = 2;
const QTime kDailyStartTime(10, 0);

}  // namespace

int vyndPref::getSchedule() const {
    auto job = read_property_list_dictionary(kJobFilePath);
    if (!job)
        return -1;
    if (plist_dict_get_item(job->get(), "StartCalendarInterval"))
        return kDailySchedule;
    int64_t v = plist_dict_int(job->get(), "StartInterval").value_or(0);
    for (const IntervalSchedule& schedule : kIntervalSchedules)
        if (v >= schedule.readFrom && v <= schedule.readTo)
            return schedule.index;
    return -1;
}

void vyndPref::setSchedule(int index) {
    const IntervalSchedule* chosen = nullptr;
    for (const IntervalSchedule& schedule : kIntervalSchedules)
        if (schedule.index == index)
            chosen = &schedule;
    if (!chosen) {
        setDayStartTime(kDailyStartTime);
        return;
    }
    const unsigned seconds = QRandomGenerator::system()->generate() % chosen->count + chosen->first;
    if (!editingAllowed_)
        return;
    std::string text = std::to_string(seconds);
    reschedule(text);
}

std::optional<QTime> vyndPref::dayStartTime() const {
    auto job = read_property_list_dictionary(kJobFilePath);
    if (!job)
        return std::nullopt;
    plist_t calendar = plist_dict_get_item(job->get(), "StartCalendarInterval");
    if (!calendar)
        return std::nullopt;
    int64_t hour = 0, minute = 0;
    if (plist_get_node_type(calendar) == PLIST_DICT) {
        hour = plist_dict_int(calendar, "Hour").value_or(0);
        minute = plist_dict_int(calendar, "Minute").value_or(0);
    }
    // Out-of-range values (no range is checked on write) roll over as a
    // calendar would: 25:99 is 02:39 the next day. Reduced first, so that
    // values of any size cannot overflow.
    int64_t total = ((hour % 24) * 60 + minute % 1440) % 1440;
    total = (total + 1440) % 1440;
    return QTime(total / 60, total % 60);
}

void vyndPref::setDayStartTime(QTime time) {
    if (!editingAllowed_ || !time.isValid())
        return;
    reschedule(time.toString("HH:mm").toStdString());
}

void vyndPref::reschedule(const std::string& when) {
    if (executeLaunchCtl("t", when.c_str()) != 0)
        runAlert(tr("Unable to change the schedule"),
                 tr("vyndctl could not set the schedule to %1.").arg(QString::fromStdString(when)),
                 lastFailure_);
    emit scheduleChanged();
}

bool vyndPref::usingPrivateSUS() const {
    return store_.integer("vynd_sus_mode") == 2;
}

void vyndPref::toggleEncryptPassword(int senderValue) {
    // A typed password is enciphered when it is saved, and root's file keeps
    // the form it was stored in; only one read from a settings file changes.
    auto recode = [senderValue](const std::string& text) {
        return senderValue != 0 ? PasswordValueTransformer::encode(text)
                                : PasswordValueTransformer::decode(text);
    };
    std::string username = store_.text("vynd_username").toStdString();
    store_.setValue("vynd_username", optionalText(recode(username)));
    if (loadedPassword_)
        loadedPassword_ = recode(*loadedPassword_);
}

bool vyndPref::passwordIsSet() const {
    if (typedPassword_)
        return !typedPassword_->empty();
    return loadedPassword_ || fileExists(kPanePasswordPrefsPath);
}

std::optional<std::string> vyndPref::clearPassword() const {
    auto decoded = [](const std::string& stored, bool enciphered) {
        return enciphered ? PasswordValueTransformer::decode(stored)
                          : std::optional<std::string>(stored);
    };
    if (typedPassword_)
        return typedPassword_;
    if (loadedPassword_)
        return decoded(*loadedPassword_, store_.flag("vynd_encrypt_pass"));
    // Readable only when the pane itself runs as root.
    auto secret = read_property_list_dictionary(kPanePasswordPrefsPath);
    if (!secret)
        return std::nullopt;
    auto stored = plist_dict_string(secret->get(), kPasswordKey);
    if (!stored)
        return std::nullopt;
    return decoded(*stored, plist_dict_bool(secret->get(), "vynd_encrypt_pass").value_or(false));
}

QVariant vyndPref::shareSetupSetting(const QString& key) const {
    if (key != kPasswordKey)
        return store_.value(key);
    std::optional<std::string> clear = clearPassword();
    if (!clear || clear->empty())
        return QString();
    if (!store_.flag("vynd_encrypt_pass"))
        return QString::fromStdString(*clear);
    return optionalText(PasswordValueTransformer::encode(*clear));
}

// --- Users and groups ---------------------------------------------------------

void vyndPref::populateUsersAndGroups() {
    PeopleFirst users = users_people_first(local_user_names());
    PeopleFirst groups = groups_people_first(local_group_names());
    *users_ = std::move(users.names);
    *groups_ = std::move(groups.names);
    commonUsers_ = users.common;
    commonGroups_ = groups.common;
    for (PermissionsTable* table : tables_) {
        table->setCommonNames(commonUsers_, commonGroups_);
        table->refresh();
    }
}

// --- Controls -------------------------------------------------------------------

void vyndPref::bindControls() {
    bindSettings();
    bindSchedule();
    bindActions();
    bindLogView();
}

void vyndPref::bindSettings() {
    auto bindText = [this](QLineEdit* edit, const char* key, bool credential) {
        QString k = key;
        refreshers_[k] = [this, edit, k, credential] {
            QSignalBlocker block(edit);
            QString stored = store_.text(k);
            if (credential) {
                auto shown = passwordTransformer_.transformedValue(stored.toStdString());
                stored = shown ? QString::fromStdString(*shown) : QString();
            }
            if (edit->text() != stored)
                edit->setText(stored);
        };
        connect(edit, &QLineEdit::textEdited, this, [this, k, credential](const QString& text) {
            if (credential)
                store_.setValue(
                    k,
                    optionalText(passwordTransformer_.reverseTransformedValue(text.toStdString())));
            else
                store_.setValue(k, text);
        });
        settingsControls_.push_back(edit);
    };
    auto bindCheck = [this](QCheckBox* check, const char* key) {
        QString k = key;
        refreshers_[k] = [this, check, k] {
            QSignalBlocker block(check);
            check->setChecked(store_.flag(k));
        };
        connect(check, &QCheckBox::clicked, this, [this, k](bool on) { store_.setValue(k, on); });
        settingsControls_.push_back(check);
    };
    auto bindSpin = [this](QSpinBox* spin, const char* key) {
        QString k = key;
        refreshers_[k] = [this, spin, k] {
            QSignalBlocker block(spin);
            spin->setValue(static_cast<int>(store_.integer(k)));
        };
        connect(spin, &QSpinBox::valueChanged, this,
                [this, k](int value) { store_.setValue(k, value); });
        settingsControls_.push_back(spin);
    };
    auto bindCombo = [this](QComboBox* combo, const char* key) {
        QString k = key;
        refreshers_[k] = [this, combo, k] {
            QSignalBlocker block(combo);
            // Off, the computer's own sources, the site's sources: any
            // other stored mode means the computer's own, as the daemon reads it.
            qlonglong v = store_.integer(k);
            combo->setCurrentIndex(v == 0 || v == 2 ? static_cast<int>(v) : 1);
        };
        connect(combo, &QComboBox::activated, this,
                [this, k](int index) { store_.setValue(k, index); });
        settingsControls_.push_back(combo);
    };

    Ui::vyndPref& ui = *ui_;
    bindText(ui.hostEdit, "vynd_host", false);
    bindText(ui.usernameEdit, "vynd_username", true);
    bindPassword();
    bindCheck(ui.encryptPassCheck, "vynd_encrypt_pass");
    connect(ui.encryptPassCheck, &QCheckBox::clicked, this,
            [this](bool on) { toggleEncryptPassword(on ? 1 : 0); });
    bindCheck(ui.volumeHiddenCheck, "vynd_volume_hidden");

    bindText(ui.appPathEdit, "vynd_app_path", false);
    bindText(ui.userPathEdit, "vynd_user_path", false);
    bindText(ui.libPathEdit, "vynd_library_path", false);
    bindText(ui.pkgPathEdit, "vynd_pkg_path", false);
    bindCheck(ui.keepAppSyncedCheck, "vynd_keep_app_synced");
    bindCheck(ui.keepUserSyncedCheck, "vynd_keep_user_synced");
    bindCheck(ui.keepLibSyncedCheck, "vynd_keep_lib_synced");
    bindCheck(ui.setAppPermCheck, "vynd_set_app_perm");
    bindCheck(ui.setUserPermCheck, "vynd_set_user_perm");
    bindCheck(ui.setLibPermCheck, "vynd_set_lib_perm");

    bindSpin(ui.bandwidthSpin, "vynd_bandwidth");
    bindCheck(ui.autoRestartCheck, "vynd_auto_restart");
    bindCheck(ui.runAtLoginCheck, "vynd_run_at_login");

    bindCombo(ui.susModeCombo, "vynd_sus_mode");
    bindText(ui.susServerEdit, "vynd_sus_server", false);
    bindCheck(ui.susRestartCheck, "vynd_sus_restart");
    bindCheck(ui.susRepairCheck, "vynd_sus_repair");

    for (PermissionsTable* table : {ui.appPermsTable, ui.userPermsTable, ui.libPermsTable})
        table->setCommonNames(commonUsers_, commonGroups_);
    ui.appPermsTable->configure(
        &store_, {"vynd_app_owner", "vynd_app_group", "vynd_app_perms", "vynd_set_app_perm"},
        users_, groups_);
    ui.userPermsTable->configure(
        &store_, {"vynd_user_owner", "vynd_user_group", "vynd_user_perms", "vynd_set_user_perm"},
        users_, groups_);
    ui.libPermsTable->configure(
        &store_, {"vynd_lib_owner", "vynd_lib_group", "vynd_lib_perms", "vynd_set_lib_perm"},
        users_, groups_);
    tables_ = {ui.appPermsTable, ui.userPermsTable, ui.libPermsTable};

    // A control shows its key again whenever the key changes, whoever changed it.
    connect(&store_, &SettingsStore::valueChanged, this, [this](const QString& key) {
        auto it = refreshers_.find(key);
        if (it != refreshers_.end())
            it->second();
        updateEnabled();
    });
}

void vyndPref::bindSchedule() {
    Ui::vyndPref& ui = *ui_;
    // The schedule lives in the job file, not in the settings.
    settingsControls_.push_back(ui.scheduleCombo);
    settingsControls_.push_back(ui.vyndOnCheck);
    connect(ui.scheduleCombo, &QComboBox::activated, this, [this](int index) {
        setSchedule(index);
        refreshSchedule();
    });
    connect(ui.dayStartTimeEdit, &QTimeEdit::editingFinished, this, [this] {
        setDayStartTime(ui_->dayStartTimeEdit->time());
        refreshSchedule();
    });
    // The switch shows the new state at once; a failed action puts it back.
    connect(ui.vyndOnCheck, &QCheckBox::clicked, this, [this](bool on) {
        setVyndOff(on ? 0 : 1);
        if (on)
            startProcess();
        else
            stopProcess();
    });
}

void vyndPref::bindActions() {
    Ui::vyndPref& ui = *ui_;
    connect(ui.lockButton, &QPushButton::clicked, this, &vyndPref::lockClicked);
    connect(ui.downloadButton, &QPushButton::clicked, this, &vyndPref::download);
    connect(ui.redownloadButton, &QPushButton::clicked, this, &vyndPref::redownload);
    connect(ui.setupShareButton, &QPushButton::clicked, this, &vyndPref::setupShare);
    connect(ui.chooseIconButton, &QPushButton::clicked, this, &vyndPref::chooseVolumeIcon);
    connect(ui.clearLogButton, &QPushButton::clicked, this, &vyndPref::clearLogFile);
    connect(ui.openLogButton, &QPushButton::clicked, this, &vyndPref::openLogFile);
    connect(ui.helpButton, &QPushButton::clicked, this, &vyndPref::openHelpURL);
    connect(ui.supportButton, &QPushButton::clicked, this, &vyndPref::openSupportURL);
}

void vyndPref::bindLogView() {
    Ui::vyndPref& ui = *ui_;
    // Whoever scrolls the log by hand decides where it stands.
    for (QScrollBar* bar : {ui.logView->verticalScrollBar(), ui.logView->horizontalScrollBar()})
        connect(bar, &QAbstractSlider::actionTriggered, this, [this] { savedScroll_.reset(); });
    // So does whoever moves through it with the keys.
    ui.logView->installEventFilter(this);
}

bool vyndPref::eventFilter(QObject* watched, QEvent* event) {
    if (ui_ && watched == ui_->logView && event->type() == QEvent::KeyPress)
        savedScroll_.reset();
    if (ui_ && watched == ui_->paneSplitter && event->type() == QEvent::Resize && !dividerMoved_)
        sharePaneHeight();
    return QObject::eventFilter(watched, event);
}

void vyndPref::bindPassword() {
    QLineEdit* edit = ui_->passwordEdit;
    refreshers_[kPasswordKey] = [this] { refreshPassword(); };
    connect(edit, &QLineEdit::textEdited, this, [this](const QString& text) {
        typedPassword_ = text.toStdString();
        refreshPassword();
    });
    settingsControls_.push_back(edit);
}

void vyndPref::refreshPassword() {
    QLineEdit* edit = ui_->passwordEdit;
    QSignalBlocker block(edit);
    if (!typedPassword_)
        edit->clear();
    edit->setPlaceholderText(passwordIsSet() && edit->text().isEmpty() ? tr("Password saved")
                                                                       : QString());
}

void vyndPref::refreshSchedule() {
    if (!ui_)
        return;
    QSignalBlocker comboBlock(ui_->scheduleCombo);
    QSignalBlocker timeBlock(ui_->dayStartTimeEdit);
    ui_->scheduleCombo->setCurrentIndex(getSchedule());
    ui_->dayStartTimeEdit->setTime(dayStartTime().value_or(kDailyStartTime));
    updateEnabled();
}

void vyndPref::refreshControls() {
    if (!ui_)
        return;
    for (auto& [key, refresh] : refreshers_) refresh();
    for (PermissionsTable* table : tables_) table->refresh();
    {
        QSignalBlocker block(ui_->vyndOnCheck);
        ui_->vyndOnCheck->setChecked(vyndOff_ == 0);
    }
    refreshSchedule();
}

void vyndPref::updateEnabled() {
    if (!ui_)
        return;
    for (QWidget* control : settingsControls_) control->setEnabled(editingAllowed_);
    ui_->susServerEdit->setEnabled(editingAllowed_ && usingPrivateSUS());
    ui_->dayStartTimeEdit->setEnabled(editingAllowed_ &&
                                      ui_->scheduleCombo->currentIndex() == kDailySchedule);
    for (PermissionsTable* table : tables_) table->setAuthorized(editingAllowed_);
    // Running the daemon needs the lock open, not editable settings.
    ui_->downloadButton->setEnabled(canDownload_);
    ui_->redownloadButton->setEnabled(canDownload_);
    ui_->clearLogButton->setEnabled(canDownload_);
    ui_->setupShareButton->setEnabled(editingAllowed_ && shareSetupAvailable());
    ui_->chooseIconButton->setEnabled(editingAllowed_);
    ui_->volumeIcon->setEnabled(editingAllowed_);
}

void vyndPref::nameControls() {
    Ui::vyndPref& ui = *ui_;
    // A screen reader names a field by its label, and a field without one
    // by the group around it; say it outright.
    for (QLabel* label : mainView_->findChildren<QLabel*>()) {
        if (!label->buddy())
            continue;
        QString name = label->text().remove('&');
        if (name.endsWith(':'))
            name.chop(1);
        label->buddy()->setAccessibleName(name);
    }
    const std::pair<QWidget*, QString> areas[] = {{ui.appPathEdit, tr("Applications")},
                                                  {ui.userPathEdit, tr("Users")},
                                                  {ui.libPathEdit, tr("Library")}};
    for (const auto& [edit, area] : areas)
        edit->setAccessibleName(tr("%1 folder on the share").arg(area));
    ui.appPermsTable->setAreaName(tr("Applications"));
    ui.userPermsTable->setAreaName(tr("Users"));
    ui.libPermsTable->setAreaName(tr("Library"));
    ui.volumeIcon->setAccessibleName(tr("Volume icon"));
    ui.logView->setAccessibleName(tr("Log"));
    ui.runningLabel->setAccessibleName(tr("Run status"));
}

void vyndPref::fitToPlatform() {
    // Debian has no disk permission repair: the key stays as it is, but the
    // control would promise nothing.
    ui_->susRepairCheck->hide();
}

}  // namespace vynd
