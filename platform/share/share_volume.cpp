// A network share mounted at its place under /Volumes for as long as it is needed.
#include "platform/share/share_volume.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/share/share_mount.h"

namespace vynd {

std::optional<MountedShare> mount_share_volume(const ShareUrl& url,
                                               const std::optional<std::string>& user,
                                               const std::optional<std::string>& password,
                                               std::string* err, int* error_code) {
    MountedShare share;
    share.mount_point = share_mount_point(url);
    MountRequest request;
    request.scheme = url.scheme;
    request.host = url.host;
    request.port = url.port;
    request.path = url.path;
    request.escaped_path = url.escaped_path;
    request.user = user;
    request.password = password;
    request.mount_point = share.mount_point;
    if (std::optional<MountEntry> there = mount_entry(share.mount_point)) {
        // Someone else's mount is left alone, and not taken for the share.
        if (!mount_is_share(*there, request)) {
            *error_code = -1;
            if (err)
                *err = share.mount_point + " holds another mount (" + there->type + " " +
                       there->source + ")";
            return std::nullopt;
        }
        share.reused = true;
        return share;
    }
    mkdir("/Volumes", 0755);
    share.made_folder = mkdir(share.mount_point.c_str(), 0700) == 0;
    if (!mount_share(request, err, error_code)) {
        if (share.made_folder)
            rmdir(share.mount_point.c_str());
        return std::nullopt;
    }
    return share;
}

bool unmount_share_volume(const MountedShare& share, int* error_code) {
    if (!unmount_share(share.mount_point, error_code))
        return false;
    if (share.made_folder)
        rmdir(share.mount_point.c_str());
    return true;
}

}  // namespace vynd
