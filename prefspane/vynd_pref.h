// The vynd preference pane: settings, schedule, daemon control and the live log.
#pragma once

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

#include "log_follower.h"
#include "preference_pane.h"
#include "settings_store.h"
#include "value_transformers.h"

namespace Ui {
class vyndPref;
}

namespace vynd {

inline constexpr char kVyndctlPath[] = "/Library/Application Support/Quenderlyn/vyndctl";
inline constexpr char kVyndPath[] = "/Library/Application Support/Quenderlyn/vynd";
inline constexpr char kPaneGlobalPrefsPath[] = "/Library/Preferences/com.quenderlyn.vynd.plist";
inline constexpr char kPaneManagedPrefsPath[] =
    "/Library/Managed Preferences/com.quenderlyn.vynd.plist";
inline constexpr char kJobFilePath[] = "/Library/LaunchDaemons/com.quenderlyn.vynd.plist";
inline constexpr char kPaneLogPath[] = "/var/log/vynd.log";
inline constexpr char kPaneLockPath[] = "/var/run/vynd.lock";
// The polkit action the lock obtains; pkexec runs vyndctl under it.
inline constexpr char kPolkitAction[] = "com.quenderlyn.vynd.vyndctl";

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
    void didUnselect() override;
    [[nodiscard]] QString paneTitle() const override { return tr("vynd"); }

    // The lock control.
    void lockClicked();
    void authorizationViewDidAuthorize();
    void authorizationViewDidDeauthorize();
    [[nodiscard]] bool authorizationViewShouldDeauthorize();
    // Drops the authorization without asking, as leaving the pane does.
    void deauthorize();

    // Keys offered to the controls.
    [[nodiscard]] bool getAuthorized() const { return authorized_; }
    void setAuthorized(bool flag);
    [[nodiscard]] bool getVyndRunning() const { return vyndRunning_; }
    void setVyndRunning(bool running);
    [[nodiscard]] int getVyndOff() const { return vyndOff_; }
    void setVyndOff(int off);
    [[nodiscard]] bool getManagedPrefs() const { return managedPrefs_; }
    void setManagedPrefs(bool managed) { managedPrefs_ = managed; }
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
    void runAlert(const QString& title, const QString& message);

    // Settings bridge and schedule.
    void loadGlobalPreferences();
    void saveGlobalPreferences();
    void removeVyndKeysFromPrefs();
    [[nodiscard]] int getSchedule() const;
    void setSchedule(int index);
    [[nodiscard]] std::optional<QTime> dayStartTime() const;
    void setDayStartTime(QTime time);
    [[nodiscard]] bool usingPrivateSUS() const;

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

  private:
    void bindControls();
    void refreshControls();
    void refreshSchedule();
    void updateEnabled();
    void refreshLog();
    void appendLogText(const QString& piece);
    void saveScrollPosition();
    void restoreScrollPosition();
    [[nodiscard]] bool managedPrefsExist() const;

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

    LogFollower log_{kPaneLogPath};
    QTimer logTimer_;
    QString logText_;
    // Runs of the daemon started here and not yet reaped.
    std::vector<pid_t> runs_;
    QTimer runWatch_;
    struct ScrollPosition {
        int horizontal = 0;
        int vertical = 0;
    };
    std::optional<ScrollPosition> savedScroll_;

    bool authorization_ = false;  // the lock is open
    bool authorized_ = false;     // editing and saving are allowed
    bool vyndRunning_ = false;
    int vyndOff_ = 1;
    bool managedPrefs_ = false;
    bool canDownload_ = false;
};

}  // namespace vynd
