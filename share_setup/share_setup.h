// Preparing a share for the daemon: mount it, mark its volume, create the four area folders.
#pragma once

#include <QImage>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <string>

namespace vynd {

struct ShareUrl;

inline constexpr char kInvalidHostTitle[] = "Invalid host path";
inline constexpr char kInvalidHostMessage[] = "Check and retype host path.";
inline constexpr char kMountFailedTitle[] = "Unable to mount share.";
inline constexpr char kMountFailedMessage[] =
    "Check host path, user name, and password.\nError: %d";
inline constexpr char kCreateFailedTitle[] = "Problem Creating Directory";
inline constexpr char kUnmountFailedTitle[] = "Unable to unmount share";
inline constexpr char kStillInUseMessage[] = "Still in use by %@";
inline constexpr char kErrorMessage[] = "Error: %d";
inline constexpr char kSetupDoneTitle[] = "Setup successful";
inline constexpr char kSetupDoneMessage[] =
    "The network share has been successfully setup.  For security reasons it is advised that "
    "the share is change to read only for the connecting user.";
inline constexpr char kVolumeIconName[] = ".VolumeIcon.icns";

// One pass of share setup. The settings, the saving and the alerts come from
// whoever runs it (the pane, or a test), so the steps can be run alone.
class ShareSetup {
  public:
    // A setting by key, as the settings store gives it.
    using Settings = std::function<QVariant(const QString& key)>;
    // Called once per alert, in the order they arise.
    using AlertSink = std::function<void(const QString& title, const QString& message)>;
    // Saves the settings before they are used.
    using Save = std::function<void()>;

    enum class Outcome { InvalidHost, MountFailed, UnmountFailed, Succeeded };

    ShareSetup(Settings settings, AlertSink alert, Save save);

    // setupShare: volumeIcon is the image the pane's image view shows.
    Outcome setupShare(const QImage& volumeIcon);

    // Whether the host text names a network share, which only root can
    // mount; a local folder, or a text naming nothing, is set up as it is.
    [[nodiscard]] static bool mountsAShare(const QString& host);

  private:
    [[nodiscard]] QString setting(const char* key) const;
    [[nodiscard]] bool flag(const char* key) const;
    // A stored credential as the mount takes it: none when empty.
    [[nodiscard]] std::optional<std::string> credential(const char* key) const;
    // A share that rsync reaches itself (rsync://, ssh://).
    Outcome setupRemoteShare(const ShareUrl& url);
    void markVolume(const std::string& root, const QImage& volumeIcon) const;
    void createAreaFolders(const std::string& base) const;

    Settings settings_;
    AlertSink alert_;
    Save save_;
};

}  // namespace vynd
