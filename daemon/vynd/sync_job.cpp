// One sync job: an area's description together with its manifest.
#include "daemon/vynd/sync_job.h"

#include <sys/stat.h>

#include "daemon/vynd/database.h"
#include "daemon/vynd/exclude_file.h"
#include "daemon/vynd/log.h"
#include "daemon/vynd/mount.h"
#include "daemon/vynd/prefs.h"
#include "daemon/vynd/rsync_output.h"
#include "daemon/vynd/run_report.h"

namespace vynd {

std::string join_path(std::string_view base, std::string_view name) {
    while (!name.empty() && name.back() == '/') name.remove_suffix(1);
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    std::string out(base);
    if (name.empty())
        return out;
    if (out.empty() || out.back() != '/')
        out += '/';
    out += name;
    return out;
}

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

std::string SyncJob::rsyncSetPermOpt() const {
    if (sets_perm())
        return "";
    std::optional<std::string> modes = share_modes_option();
    if (!keeps_share_modes())
        return modes.value_or("");
    return modes ? "-pgo " + *modes : "-pgo";
}

std::string SyncJob::rsyncKeySyncOpt() const {
    if (keeps_synced())
        return "";
    return "--exclude-from=\"" + exclude_file_path(job_id()) + "\"";
}

std::string SyncJob::rsyncExcludeString() const {
    std::string site = site_exclude_file_path(job_id());
    std::string err;
    if (check_site_exclude_file(site, &err) != SiteExclude::usable)
        return "";
    return "--exclude-from=\"" + site + "\"";
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

namespace {

// Whatever a share holds, no device node, socket or pipe of its is made
// here: root would make them as they are, and a device node open to all is
// the whole disk. Where the share's modes are kept, its set-user-ID and
// set-group-ID bits are not: any writer of the share could otherwise hand
// every computer a program that runs as root. (Without -p rsync gives new
// files none, and vynd's own modes clear them.)
constexpr const char* kNoSpecialFiles[] = {"--no-devices", "--no-specials"};
constexpr const char* kNoSetIdBits = "--chmod=Fug-s";

}  // namespace

std::string SyncJob::rsyncWithOptions() const {
    std::string command = "rsync --out-format=\"%t %i %n\" -ii -rltD -T \"" +
                          std::string(kDatabasePath) + "/" + job_id() +
                          "\" --bwlimit=" + std::to_string(bandwidth) + " " + rsyncExcludeString() +
                          " " + rsyncKeySyncOpt() + " " + rsyncSetPermOpt() + " --delay-updates";
    for (const char* option : kNoSpecialFiles) command += std::string(" ") + option;
    if (keeps_share_modes())
        command += std::string(" ") + kNoSetIdBits;
    return command;
}

std::vector<std::string> SyncJob::rsyncArguments() const {
    std::vector<std::string> argv = {"/usr/bin/rsync",
                                     "--out-format=%t %i %n",
                                     "-ii",
                                     "-rltD",
                                     "-T",
                                     std::string(kDatabasePath) + "/" + job_id(),
                                     "--bwlimit=" + std::to_string(bandwidth)};
    std::string site = site_exclude_file_path(job_id());
    std::string err;
    if (check_site_exclude_file(site, &err) == SiteExclude::usable)
        argv.push_back("--exclude-from=" + site);
    if (!keeps_synced())
        argv.push_back("--exclude-from=" + exclude_file_path(job_id()));
    if (!sets_perm()) {
        if (keeps_share_modes())
            argv.push_back("-pgo");
        if (std::optional<std::string> modes = share_modes_option())
            argv.push_back(*modes);
    }
    argv.push_back("--delay-updates");
    argv.insert(argv.end(), std::begin(kNoSpecialFiles), std::end(kNoSpecialFiles));
    if (keeps_share_modes())
        argv.push_back(kNoSetIdBits);
    return argv;
}

}  // namespace vynd
