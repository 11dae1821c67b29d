// One sync job: an area's description together with its manifest.
#include "daemon/vynd/sync_job.h"

#include <sys/stat.h>

#include "daemon/vynd/database.h"
#include "daemon/vynd/exclude_file.h"
#include "daemon/vynd/log.h"
#include "daemon/vynd/rsync_output.h"
#include "daemon/vynd/run_report.h"

namespace vynd {

FileEntry& fileAtPath(FileMap& map, const std::string& path) {
    return map[path];
}

std::string exclude_file_path(std::string_view id) {
    return std::string(kDatabasePath) + "/" + std::string(id) + ".exclude";
}

std::string site_exclude_file_path(std::string_view id) {
    return "/Library/Application Support/Quenderlyn/exclude-" + std::string(id);
}

std::string manifest_file_path(std::string_view id) {
    return std::string(kDatabasePath) + "/" + std::string(id) + ".plist";
}

FileMap& SyncJob::files() {
    if (!files_)
        files_.emplace();
    return *files_;
}

const std::string& SyncJob::job_id() const {
    static const std::string kNone;
    return id ? *id : kNone;
}

std::string SyncJob::fullSrcPath(std::string_view name) const {
    return join_path(srcPath.value_or(""), name);
}

std::string SyncJob::fullDstPath(std::string_view name) const {
    return join_path(dstPath.value_or(""), name);
}

// In the Users area the share's modes, owners and groups are not kept even
// when vynd sets none: with -o and -g rsync would hand each user's folder
// and files to the share's owner for as long as it runs (and, after a kill,
// until the next run ends), and -p would undo a user's own modes (their
// home made 700) at every run, only for the ownership step to give the
// paths back afterwards. Without them rsync makes new items as root, with
// the share's modes as the umask leaves them and no set-ID bit, leaves the
// modes of existing ones as they are, and the ownership step gives each
// user their paths.
// Downloaded packages keep none of them either: with -o a package that the
// share holds under a local user's number would be that user's to rewrite
// between its download and its install, which runs it as root.
bool SyncJob::keeps_share_modes() const {
    return !sets_perm() && job_id() != "Users" && job_id() != "Packages";
}

bool SyncJob::siteExcludeRefused() const {
    std::string err;
    if (check_site_exclude_file(site_exclude_file_path(job_id()), &err) != SiteExclude::refused)
        return false;
    // Left out, the file would no longer hold back the paths it names, and
    // rsync would copy over them: the area waits until it is mended.
    vynd_log("Error", "%s; nothing copied or deleted for %s", escape_name(err).c_str(),
             job_id().c_str());
    report_failed(job_id(), 0);
    return true;
}

}  // namespace vynd
