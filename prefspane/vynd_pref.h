// The vynd preference pane: settings, schedule, daemon control and the live log.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTime>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/privileged_exec.h"
#include "prefspane/log_follower.h"
#include "prefspane/preference_pane.h"
#include "prefspane/settings_store.h"
#include "transformers/value_transformers.h"

namespace Ui {
class vyndPref;
}

namespace vynd {

inline constexpr char kVyndctlPath[] = "/Library/Application Support/Quenderlyn/vyndctl";
inline constexpr char kVyndPath[] = "/Library/Application Support/Quenderlyn/vynd";
// Empties the log and nothing else; no shell is ever run as root for it.
inline constexpr char kEmptyLogPath[] = "/Library/Application Support/Quenderlyn/emptylog";
inline constexpr char kPaneGlobalPrefsPath[] = "/Library/Preferences/com.quenderlyn.vynd.plist";
inline constexpr char kPaneManagedPrefsPath[] =
    "/Library/Managed Preferences/com.quenderlyn.vynd.plist";
// Root's own file beside the global one that holds the share password; the
// pane sees only whether it is there.
inline constexpr char kPanePasswordPrefsPath[] =
    "/Library/Preferences/com.quenderlyn.vynd.passwd.plist";
inline constexpr char kJobFilePath[] = "/Library/LaunchDaemons/com.quenderlyn.vynd.plist";
inline constexpr char kPaneLogPath[] = "/var/log/vynd.log";
inline constexpr char kPaneLockPath[] = "/var/run/vynd.lock";
// The polkit action the lock obtains; it implies those pkexec runs the
// pane's programs under, so one unlock covers them all.
inline constexpr char kPolkitAction[] = "com.quenderlyn.vynd.unlock";

class PermissionsTable;

// The number a reply line begins with; no value when it does not begin with
// one (usage text, "Need to be running as root!", nothing).
[[nodiscard]] std::optional<int> replyNumber(const std::string& line);

class vyndPref : public QObject, public PreferencePane {
    Q_OBJECT

  public:
    // initWithBundle: the pane keeps its working copy of the settings in the
    // host's store.
    explicit vyndPref(QSettings* settings, QObject* parent = nullptr);
    ~vyndPref() override;

    // Life cycle.
    QWidget* loadMainView() override;
    QWidget* mainView() const override { return mainView_; }
    void mainViewDidLoad();
    void didSelect() override;
    // Leaving with edits that cannot be saved asks first; false keeps the
    // pane shown.
    [[nodiscard]] bool shouldUnselect() override;
    void didUnselect() override;
    [[nodiscard]] QString paneTitle() const override { return tr("vynd"); }

    // The lock control.
    void lockClicked();
    void authorizationViewDidAuthorize();
    void authorizationViewDidDeauthorize();
    [[nodiscard]] bool authorizationViewShouldDeauthorize();
    // Drops the authorization without asking, as leaving the pane does.
    void deauthorize();
    // Locks the pane once polkit no longer keeps the authorization.
    void checkAuthorizationKept();
    // What the window says about the lock: why it stayed shut, or lapsed.
    [[nodiscard]] QString lockStatus() const;

    // Keys offered to the controls.
    [[nodiscard]] bool getAuthorized() const { return editingAllowed_; }
    void setAuthorized(bool flag);
    [[nodiscard]] bool getVyndRunning() const { return vyndRunning_; }
    void setVyndRunning(bool running);
    [[nodiscard]] int getVyndOff() const { return vyndOff_; }
    void setVyndOff(int off);
    [[nodiscard]] bool getManagedPrefs() const { return managedPrefs_; }
    void setManagedPrefs(bool managed);
    [[nodiscard]] bool getCanDownload() const { return canDownload_; }
    void setCanDownload(bool can);

    // Actions.
    void stopProcess();
    void startProcess();
    void download();
    void redownload();
    void openHelpURL();
    void openSupportURL();
    void setupShare();
    void chooseVolumeIcon();
    [[nodiscard]] bool shareSetupAvailable() const;
    void toggleEncryptPassword(int senderValue);
    void clearLogFile();
    void openLogFile();
    // The one-second timer's work.
    void update();

    // Privileged calls.
    [[nodiscard]] int executeLaunchCtl(const char* mode, const char* value = nullptr);
    void executeVynd(const char* option);
    // Reaps the daemon runs started by executeVynd and shows a refused one.
    void watchRuns();
    // Failures are warnings; an outcome the user asked for is information.
    enum class AlertStyle { Warning, Information };
    void runAlert(const QString& title, const QString& message,
                  AlertStyle style = AlertStyle::Warning);
    // A designed alert with the reason it arose, and what to do, beside it.
    void runAlert(const QString& title, const QString& message, const QString& reason);
    // Why the last privileged call failed; empty when it did not.
    [[nodiscard]] const QString& lastFailure() const { return lastFailure_; }

    // Settings bridge and schedule.
    void loadGlobalPreferences();
    // False when the settings could not be saved; the user is told unless
    // `quiet`, and the edits stay.
    bool saveGlobalPreferences(bool quiet = false);
    // Edits made since the settings were last loaded or saved.
    [[nodiscard]] bool hasUnsavedEdits() const { return unsavedEdits_; }
    void removeVyndKeysFromPrefs();
    [[nodiscard]] int getSchedule() const;
    void setSchedule(int index);
    [[nodiscard]] std::optional<QTime> dayStartTime() const;
    void setDayStartTime(QTime time);
    [[nodiscard]] bool usingPrivateSUS() const;
    // Whether a share password is set, shown without reading it.
    [[nodiscard]] bool passwordIsSet() const;

    // Log view.
    void watchLogFile();
    void unwatchLogFile();
    [[nodiscard]] const QString& getLogText() const { return logText_; }
    void setLogText(const QString& text);
    void setLogPlainText(const QString& text);

    // Users and groups.
    void populateUsersAndGroups();
    [[nodiscard]] const std::vector<std::string>& users() const { return *users_; }
    [[nodiscard]] const std::vector<std::string>& groups() const { return *groups_; }

    [[nodiscard]] SettingsStore& store() { return store_; }
    [[nodiscard]] bool isTimerActive() const { return logTimer_.isActive(); }

  signals:
    void authorizedChanged(bool authorized);
    void vyndRunningChanged(bool running);
    void vyndOffChanged(int off);
    void scheduleChanged();
    void logTextChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void bindControls();
    void bindSettings();
    void bindSchedule();
    void bindActions();
    void bindLogView();
    void sharePaneHeight();
    void showLock();
    void reportSaveFailure(const QString& reason);
    // vyndctl mode t; a refusal is shown.
    void reschedule(const std::string& when);
    // Why a privileged run failed, and what to do; empty when it did not.
    [[nodiscard]] static QString failureOf(const PrivilegedRun& run, const char* program);
    void nameControls();
    void fitToPlatform();
    void refreshControls();
    void refreshSchedule();
    void updateEnabled();
    void refreshLog();
    void appendLogText(const QString& piece);
    void showLogText(const QString& text, bool partial);
    void saveScrollPosition();
    void restoreScrollPosition();
    [[nodiscard]] bool managedPrefsExist() const;
    void bindPassword();
    void refreshPassword();
    [[nodiscard]] std::optional<std::string> clearPassword() const;
    [[nodiscard]] QVariant shareSetupSetting(const QString& key) const;
    void setupShareAsRoot(const QImage& icon, std::vector<std::pair<QString, QString>>* alerts);

    std::unique_ptr<Ui::vyndPref> ui_;
    QPointer<QWidget> mainView_;
    SettingsStore store_;
    PasswordValueTransformer passwordTransformer_;
    std::map<QString, std::function<void()>> refreshers_;
    std::vector<QWidget*> settingsControls_;
    std::vector<PermissionsTable*> tables_;

    std::shared_ptr<std::vector<std::string>> users_ = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<std::vector<std::string>> groups_ =
        std::make_shared<std::vector<std::string>>();
    size_t commonUsers_ = 0;
    size_t commonGroups_ = 0;

    LogFollower log_{kPaneLogPath};
    QTimer logTimer_;
    QString logText_;
    int logLines_ = 0;         // line ends in logText_
    bool logPartial_ = false;  // logText_ leaves out the start of the file
    // Runs of the daemon started here and not yet reaped.
    std::vector<pid_t> runs_;
    QTimer runWatch_;
    struct ScrollPosition {
        int horizontal = 0;
        int vertical = 0;
        bool atEnd = false;  // following what is appended
    };
    std::optional<ScrollPosition> savedScroll_;
    // The administrator has set the divider between settings and log.
    bool dividerMoved_ = false;

    bool lockOpen_ = false;        // polkit granted the lock's authorization
    bool editingAllowed_ = false;  // open and the settings not managed
    QTimer authorizationWatch_;
    QString lockStatus_;
    QString lastFailure_;
    bool unsavedEdits_ = false;
    bool loading_ = false;       // the store is being filled from the files
    bool leaveDecided_ = false;  // shouldUnselect saved, or the user let the edits go
    bool vyndRunning_ = false;
    int vyndOff_ = 1;
    bool managedPrefs_ = false;
    bool canDownload_ = false;

    // The share password never enters the settings store, a file every
    // program of this user may read: one typed in this session is held here,
    // in clear, and handed over at each save;
    std::optional<std::string> typedPassword_;
    // one a readable settings file still held (a managed file, or one saved
    // before passwords moved to root's file) is held as it was stored.
    std::optional<std::string> loadedPassword_;
};

}  // namespace vynd
