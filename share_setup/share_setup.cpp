// Preparing a share for the daemon: mount it, mark its volume, create the four area folders.
#include "share_setup/share_setup.h"

#include <sys/stat.h>
#include <QUrl>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "icon/icns_family.h"
#include "platform/finder_info.h"
#include "platform/share/remote_share.h"
#include "platform/share/share_url.h"
#include "platform/share/share_volume.h"
#include "platform/share/volume_users.h"
#include "share_setup/share_folders.h"
#include "transformers/value_transformers.h"

namespace fs = std::filesystem;

namespace vynd {

namespace {

struct Area {
    const char* key;
    const char* defaultName;
};

// The order in which the folders are made, and so the order of their alerts.
constexpr Area kAreas[] = {
    {"vynd_app_path", "Applications"},
    {"vynd_user_path", "Users"},
    {"vynd_library_path", "Library"},
    {"vynd_pkg_path", "Packages"},
};

std::string folderName(const Area& area, const QString& setting) {
    return setting.isEmpty() ? area.defaultName : setting.toStdString();
}

QString withNumber(const char* format, int number) {
    return QString::fromUtf8(format).replace("%d", QString::number(number));
}

// An area's folder name as a path below the share's root; none for a name
// such as "../../etc" that would reach anywhere else, or that names the root.
std::optional<fs::path> insideTheShare(const std::string& name) {
    fs::path relative = fs::path(name).relative_path().lexically_normal();
    if (relative.empty() || *relative.begin() == "..")
        return std::nullopt;
    return relative;
}

// Makes the folder and its missing parents, following the path as given:
// the share's root is the administrator's to name. An existing folder is
// left as it is.
bool makeFolders(const fs::path& folder) {
    fs::path made;
    for (const fs::path& part : folder) {
        made /= part;
        if (mkdir(made.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    std::error_code ec;
    return fs::is_directory(folder, ec);
}

// The designed message, with what went wrong beside it.
QString withReason(const QString& message, const std::string& reason) {
    return reason.empty() ? message : message + "\n\n" + QString::fromStdString(reason);
}

}  // namespace

ShareSetup::ShareSetup(Settings settings, AlertSink alert, Save save)
    : settings_(std::move(settings)), alert_(std::move(alert)), save_(std::move(save)) {}

QString ShareSetup::setting(const char* key) const {
    return settings_(QString::fromLatin1(key)).toString();
}

bool ShareSetup::flag(const char* key) const {
    return settings_(QString::fromLatin1(key)).toBool();
}

std::optional<std::string> ShareSetup::credential(const char* key) const {
    const std::string stored = setting(key).toStdString();
    if (stored.empty())
        return std::nullopt;
    if (!flag("vynd_encrypt_pass"))
        return stored;
    // A stored text that does not decipher is passed as none, never as
    // itself: the cipher text is no one's password.
    return PasswordValueTransformer::decode(stored);
}

bool ShareSetup::mountsAShare(const QString& host) {
    const std::optional<std::string> escaped = percent_escape_ascii(host.toStdString());
    const std::optional<ShareUrl> url = escaped ? parse_share_url(*escaped) : std::nullopt;
    return url && is_network_share(*url) && !url->host.empty();
}

ShareSetup::Outcome ShareSetup::setupShare(const QImage& volumeIcon) {
    if (save_)
        save_();

    // A host text that cannot be escaped or parsed, or that has no scheme,
    // names nothing this setup may create folders in.
    const std::optional<std::string> escaped =
        percent_escape_ascii(setting("vynd_host").toStdString());
    const std::optional<ShareUrl> url = escaped ? parse_share_url(*escaped) : std::nullopt;
    const bool network = url && is_network_share(*url);
    if (!url || url->scheme.empty() || (network && url->host.empty()) ||
        (!network && (url->path.empty() || url->path.front() != '/'))) {
        alert_(kInvalidHostTitle, kInvalidHostMessage);
        return Outcome::InvalidHost;
    }

    if (!network) {
        createAreaFolders(url->path);
        alert_(kSetupDoneTitle, kSetupDoneMessage);
        return Outcome::Succeeded;
    }

    if (is_remote_share(*url))
        return setupRemoteShare(*url);

    // A share that is mounted there already (by a daemon run, say) is used
    // as it is rather than mounted twice.
    std::string why;
    int error = 0;
    const std::optional<MountedShare> share = mount_share_volume(
        *url, credential("vynd_username"), credential("vynd_passwd"), &why, &error);
    if (!share) {
        alert_(kMountFailedTitle, withReason(withNumber(kMountFailedMessage, error), why));
        return Outcome::MountFailed;
    }
    const std::string& mountPoint = share->mount_point;

    markVolume(mountPoint, volumeIcon);
    createAreaFolders(mountPoint);

    if (!unmount_share_volume(*share, &error)) {
        if (pid_t holder = process_using_volume(mountPoint); holder != 0) {
            QString name = QString::fromStdString(
                process_name(holder).value_or("process " + std::to_string(holder)));
            alert_(kUnmountFailedTitle, QString::fromUtf8(kStillInUseMessage).replace("%@", name));
        } else {
            alert_(kUnmountFailedTitle,
                   withReason(withNumber(kErrorMessage, error),
                              "umount could not unmount " + mountPoint +
                                  ", which stays mounted; unmount it by hand."));
        }
        return Outcome::UnmountFailed;
    }
    alert_(kSetupDoneTitle, kSetupDoneMessage);
    return Outcome::Succeeded;
}

ShareSetup::Outcome ShareSetup::setupRemoteShare(const ShareUrl& url) {
    // Nothing is mounted, so there is no volume to mark: the folders are
    // sent to the share as rsync reaches it, with the daemon's credentials.
    std::string why;
    int error = -1;
    const std::optional<RemoteShare> share =
        remote_share(url, credential("vynd_username"), credential("vynd_passwd"),
                     setting("vynd_ssh_key_file").toStdString(), &why);
    std::vector<std::string> folders;
    std::vector<std::string> refused;
    for (const Area& area : kAreas) {
        const std::string name = folderName(area, setting(area.key));
        if (const std::optional<fs::path> relative = insideTheShare(name))
            folders.push_back(relative->string());
        else
            refused.push_back(name);
    }
    const bool made = share && create_remote_folders(*share, folders, &why, &error);
    if (share)
        close_remote_share(*share);
    if (!made) {
        alert_(kMountFailedTitle, withNumber(kMountFailedMessage, error));
        return Outcome::MountFailed;
    }
    // Told as a mounted share tells a folder it could not make.
    for (const std::string& name : refused)
        alert_(kCreateFailedTitle, QString::fromStdString(share->root + "/" + name));
    alert_(kSetupDoneTitle, kSetupDoneMessage);
    return Outcome::Succeeded;
}

void ShareSetup::markVolume(const std::string& root, const QImage& volumeIcon) const {
    // Where the file system keeps no Finder information the flags are lost;
    // the volume icon file is written all the same.
    uint16_t flags = finder_flags(root).value_or(0);
    if (flag("vynd_volume_hidden")) {
        flags |= kIsInvisible;
    } else {
        flags &= static_cast<uint16_t>(~kIsInvisible);
        flags |= kHasCustomIcon;
        if (auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(volumeIcon)) {
            const QByteArray bytes = family->data();
            (void)replaceFileBelow(openShareRoot(root), root, kVolumeIconName,
                                   std::string(bytes.constData(), std::size_t(bytes.size())), 0644);
        }
    }
    (void)set_finder_flags(root, flags);
}

void ShareSetup::createAreaFolders(const std::string& base) const {
    const OpenFolder root = makeFolders(base) ? openShareRoot(base) : OpenFolder();
    for (const Area& area : kAreas) {
        const std::string name = folderName(area, setting(area.key));
        const std::optional<fs::path> relative = insideTheShare(name);
        if (!relative) {
            alert_(kCreateFailedTitle, QString::fromStdString(base + "/" + name));
            continue;
        }
        // An existing folder counts as made; anything else in its place does not.
        const std::string folder = (fs::path(base) / *relative).string();
        BelowFailure failure;
        if (makeFoldersBelow(root, base, *relative, &failure))
            continue;
        alert_(kCreateFailedTitle,
               failure.link ? withReason(QString::fromStdString(folder),
                                         failure.path + " is a link, which setup does not "
                                                        "follow: nothing was made through it.")
                            : QString::fromStdString(folder));
    }
}

}  // namespace vynd
