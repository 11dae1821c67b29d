// One run of a mirrored area: rsync, its change lines, deletions, merge.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <unordered_set>

#include "daemon/vynd/area_paths.h"
#include "daemon/vynd/exclude_file.h"
#include "daemon/vynd/log.h"
#include "daemon/vynd/manifest_file.h"
#include "daemon/vynd/mount.h"
#include "daemon/vynd/notify.h"
#include "daemon/vynd/prefs.h"
#include "daemon/vynd/rsync_command.h"
#include "daemon/vynd/rsync_output.h"
#include "daemon/vynd/run_report.h"
#include "daemon/vynd/sync_job.h"
#include "platform/process.h"
#include "platform/unique_fd.h"

namespace vynd {

namespace {

// Copies a change line that reports an update into the log, as printed.
// rsync's own text (its messages, a server's message of the day) goes in
// escaped and after "rsync: ", so that it can never pass for a change line
// or for one of the daemon's own lines (a forged "Fatal"). The log is
// flushed after each batch of lines rsync wrote.
void rsyncLog(std::string_view line, const std::optional<ChangeLine>& change) {
    std::string text;
    if (change) {
        if (change->update_type == '.')
            return;
    } else {
        text = escape_name(decode_rsync_escapes(line));
        if (text.rfind("rsync: ", 0) != 0 && text.rfind("rsync error: ", 0) != 0)
            text.insert(0, "rsync: ");
        line = text;
    }
    vynd_log_raw(line, false);
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
}

// Records the items of one rsync run in the job's files, each marked as
// listed with the date rsync gave it.
class ListingReader {
  public:
    ListingReader(FileMap& files, const std::string& area) : files_(files), area_(area) {}

    // The line as a change line of this run; no value for rsync's own text.
    std::optional<ChangeLine> read(std::string_view line) { return lines_.read(line); }

    void updateManifest(ChangeLine&& change) {
        // "*deleting" tells of an item going, never of one listed.
        if (change.name == "./" || change.update_type == '*')
            return;
        if (!is_safe_relative_path(change.name))
            return;
        if (change.update_type != '.')
            report_copied(area_);
        FileEntry& entry = entryFor(std::move(change.name));
        entry.date = parse_rsync_timestamp(change.timestamp);
        entry.listed = true;
    }

  private:
    // rsync lists the items of a folder in the order the files are kept in,
    // so the entry after the last one is most often the one wanted.
    FileEntry& entryFor(std::string&& name) {
        if (next_ != files_.end() && next_->first == name)
            return (next_++)->second;
        auto it = files_.lower_bound(name);
        if (it == files_.end() || it->first != name) {
            it = files_.emplace_hint(it, std::move(name), FileEntry{});
            it->second.fresh = true;
        }
        next_ = std::next(it);
        return it->second;
    }

    FileMap& files_;
    const std::string& area_;
    FileMap::iterator next_ = files_.end();
    ChangeLineReader lines_;
};

// After a failed rsync: forgets the paths this run listed that are not in
// place. With --delay-updates rsync lists a file before it is put in place,
// and a folder before its content is complete, so a new folder is never
// kept and a new file only when it is there as the share has it. Recorded,
// either would be excluded from later runs and never installed. Returns how
// many were forgotten.
size_t forget_what_is_not_in_place(FileMap& files, const std::string& src, const std::string& dst) {
    size_t forgotten = 0;
    for (auto it = files.begin(); it != files.end();) {
        bool keep = true;
        if (it->second.fresh) {
            struct stat here;
            struct stat there;
            keep = it->first.back() != '/' && lstat_in_area(dst, it->first, &here);
            if (keep && lstat_in_area(src, it->first, &there)) {
                keep = (here.st_mode & S_IFMT) == (there.st_mode & S_IFMT) &&
                       (!S_ISREG(here.st_mode) ||
                        (here.st_size == there.st_size && here.st_mtime == there.st_mtime));
            }
        }
        if (keep) {
            ++it;
        } else {
            it = files.erase(it);
            ++forgotten;
        }
    }
    return forgotten;
}

}  // namespace

void SyncJob::excludeManifest() {
    if (keeps_synced())
        return;
    std::string err;
    if (!write_exclude_file(exclude_file_path(job_id()), files(), &err))
        vynd_log("Fatal", "couldn't create exclude file");
}

void SyncJob::deleteFilesRemovedFromSource() {
    if (!keeps_synced())
        return;
    std::vector<std::string> gone;
    for (const auto& [path, entry] : files()) {
        if (!entry.listed)
            gone.push_back(path);
    }
    // In reverse byte order a folder's content comes before the folder
    // ("a/b" sorts after "a/"), so a folder is looked at only once its
    // content that left the share is deleted.
    std::sort(gone.begin(), gone.end(), std::greater<>());
    for (const auto& path : gone) {
        if (!remove_in_area(dstPath.value_or(""), path, true)) {
            // A folder that still lists is kept by design, not a failure.
            if (path.back() != '/')
                report_failed(job_id(), 1);
            continue;
        }
        files().erase(path);
        vynd_log("Debug", "*deleted %s", escape_name(path).c_str());
        report_deleted(job_id());
    }
}

namespace {

// An area that a successful rsync lists as empty while installed paths are
// recorded for it is far more often an empty export or a mount that did not
// happen on the server than an intent: deleting would empty every computer.
bool empty_area_holds_deletions(const SyncJob& job, const FileMap& files, const std::string& src,
                                const JobContext& run) {
    if (run.settings.allow_empty_area || !job.keeps_synced() || files.empty())
        return false;
    for (const auto& [path, entry] : files) {
        if (entry.listed)
            return false;
    }
    char message[1024];
    snprintf(message, sizeof message,
             "%s is empty on the share while %zu installed paths are recorded for %s: nothing "
             "deleted (vynd_allow_empty_area lets an empty area delete them)",
             escape_name(src).c_str(), files.size(), job.job_id().c_str());
    vynd_log("Error", "%s", message);
    run.notifier.growl(message, "Fatal");
    return true;
}

}  // namespace

void SyncJob::install(const JobContext& run) {
    const std::string src = srcPath.value_or("");
    const std::string dst = dstPath.value_or("");
    const Share& share = run.share;
    const std::optional<ShareUrl>& volURL = share.volURL;
    const bool remote = share_is_remote(share);
    // rsync follows a source folder that is a link, here to any folder of
    // this computer; it is given the folder itself, opened without
    // following one, so that a swap while it runs leads nowhere either. On
    // a share that rsync reaches itself a link is followed, if at all, on
    // the server: refused all the same.
    UniqueFd pinned(volURL && !remote ? open_folder_below(volURL->path, src) : -1);
    if ((volURL && !remote && !pinned && errno == ELOOP) ||
        (remote && remote_folder_is_link(share, src))) {
        vynd_log("Error", "%s is a symbolic link on the share: nothing copied or deleted for %s",
                 src.c_str(), job_id().c_str());
        return;
    }
    if (siteExcludeRefused())
        return;
    RsyncCommand command = rsync_options(*this, share, run.settings.bandwidth);
    // rsync is given the folder it was opened as; the log names it.
    if (pinned)
        command.add_lent_folder(kLentDescriptor, src + "/");
    else
        command.add_quoted("", src + "/");  // rsync reports what is wrong with it (missing, say)
    command.add_quoted("", dst + "/");
    vynd_log("Debug", "%s -> %s starting...", src.c_str(), dst.c_str());
    excludeManifest();
    vynd_log("Debug", "%s", command.text().c_str());
    // Names that are printable UTF-8 printed as they are, as the daemon's
    // own lines give them; other bytes rsync escapes.
    command.environment = {"LC_ALL=C.UTF-8"};
    FileMap& map = files();
    for (auto& [path, entry] : map) entry.listed = entry.fresh = false;
    ListingReader reader(map, job_id());
    // A path longer than this computer allows fails every run, and with it
    // every deletion in the area: each is named, so that someone can mend it.
    size_t too_long = 0;
    auto name_too_long = [&](std::string_view text) {
        std::optional<std::string_view> path = overlong_path_in(text);
        if (!path)
            return;
        ++too_long;
        vynd_log("Error", "Not installed in %s, the path is longer than this computer allows: %s",
                 dst.c_str(), escape_name(decode_rsync_escapes(*path)).c_str());
    };
    int status = -1;
    {
        // The private files go before anything can end the run.
        RemoteAccess access;
        if (!add_share_access(share, access, command)) {
            pinned.reset();
            vynd_log("Error", "Nothing copied or deleted for %s", job_id().c_str());
            return;
        }
        status = run_process_lines(
            command.arguments(),
            [&](std::string_view line) {
                std::optional<ChangeLine> change = reader.read(line);
                rsyncLog(line, change);
                if (change)
                    reader.updateManifest(std::move(*change));
                else
                    name_too_long(line);
            },
            // rsync's complaints go into the log with its lines, which rsync
            // writes whole, so that the log says what failed and why.
            true,
            [] {
                vynd_log_flush();
                fflush(stdout);
            },
            command.environment, pinned.get());
    }
    pinned.reset();
    vynd_log_flush();
    fflush(stdout);
    if (status < 0)
        vynd_log("Fatal", "Can't run rsync");
    if (status == 0) {
        if (empty_area_holds_deletions(*this, map, src, run))
            report_deletions_held(job_id());
        else
            deleteFilesRemovedFromSource();
    } else {
        // A partial listing (share lost, folder missing, unreadable files,
        // disk full) must not be taken for paths that left the share.
        size_t forgotten = forget_what_is_not_in_place(map, remote ? "" : src, dst);
        report_failed(job_id(), static_cast<int64_t>(forgotten));
        vynd_log("Error",
                 "rsync for %s ended with status %d, nothing deleted in %s; %zu listed paths not "
                 "recorded, left for the next run",
                 job_id().c_str(), status, dst.c_str(), forgotten);
        if (keeps_synced()) {
            report_deletions_held(job_id());
            if (too_long > 0)
                vynd_log("Error",
                         "Deletions in %s are held at every run while %zu paths of the share are "
                         "longer than this computer allows: shorten them or take them off the "
                         "share",
                         dst.c_str(), too_long);
        }
    }
    setPermissionsAndOwnership();
    vynd_log("Debug", "%s -> %s finished", src.c_str(), dst.c_str());
}

}  // namespace vynd
