// One run of a mirrored area: rsync, its change lines, deletions, merge.
#include <cstdio>
#include <string>
#include <unordered_set>

#include "area_paths.h"
#include "exclude_file.h"
#include "log.h"
#include "manifest_file.h"
#include "process.h"
#include "rsync_output.h"
#include "sync_job.h"

namespace vynd {

namespace {

// Copies a change line that reports an update into the log, as printed.
void rsyncLog(std::string_view line) {
    if (!reports_update(line))
        return;
    std::string text(line);
    vynd_log_raw(text.c_str());
    fwrite(text.data(), 1, text.size(), stdout);
    fputc('\n', stdout);
}

// Reads the lines of one rsync run into a run listing.
class ListingReader {
  public:
    explicit ListingReader(RunListing& listing) : listing_(listing) {}

    void updateManifest(std::string_view line) {
        if (width_ == 0)
            width_ = itemize_width_of_root_line(line);
        auto change = parse_change_line(line, width_ ? width_ : 11);
        if (!change)
            return;  // a message, not an item
        if (change->name == "./")
            return;
        if (!is_safe_relative_path(change->name))
            return;
        if (!is_storable_text(change->name)) {
            vynd_log("Error", "Not recorded (not UTF-8 text): %s",
                     std::string(change->printed_name).c_str());
        }
        FileEntry& entry = fileAtPath(listing_, change->name);
        entry.date = parse_rsync_timestamp(change->timestamp);
    }

  private:
    RunListing& listing_;
    int width_ = 0;
};

}  // namespace

void SyncJob::excludeManifest() {
    if (keeps_synced())
        return;
    std::string err;
    if (!write_exclude_file(exclude_file_path(job_id()), files(), &err))
        vynd_log("Fatal", "couldn't create exclude file");
}

void SyncJob::deleteFilesRemovedFromSource(const RunListing& listing) {
    if (!keeps_synced())
        return;
    std::vector<std::string> gone;
    for (const auto& [path, entry] : files()) {
        if (!listing.count(path))
            gone.push_back(path);
    }
    // Deepest first, so a folder's files go before the folder is looked at.
    std::sort(gone.begin(), gone.end(), std::greater<>());
    for (const auto& path : gone) {
        if (!remove_in_area(dstPath.value_or(""), path, true))
            continue;
        files().erase(path);
        vynd_log("Debug", "*deleted %s", encode_rsync_escapes(path).c_str());
    }
}

void SyncJob::install() {
    const std::string src = srcPath.value_or("");
    const std::string dst = dstPath.value_or("");
    std::string options = rsyncWithOptions();
    vynd_log("Debug", "%s -> %s starting...", src.c_str(), dst.c_str());
    std::string command = options + " \"" + src + "/\" \"" + dst + "/\"";
    excludeManifest();
    vynd_log("Debug", "%s", command.c_str());
    std::vector<std::string> argv = rsyncArguments();
    argv.push_back(src + "/");
    argv.push_back(dst + "/");
    RunListing listing;
    ListingReader reader(listing);
    int status = run_process_lines(argv, [&](std::string_view line) {
        rsyncLog(line);
        reader.updateManifest(line);
    });
    fflush(stdout);
    if (status < 0)
        vynd_log("Fatal", "Can't run rsync");
    if (status == 0) {
        deleteFilesRemovedFromSource(listing);
    } else if (keeps_synced()) {
        // A partial listing (share lost, folder missing, unreadable files)
        // must not be taken for paths that left the share.
        vynd_log("Error", "rsync ended with status %d, nothing deleted in %s", status, dst.c_str());
    }
    FileMap& map = files();
    for (auto& [path, entry] : listing) map[path] = std::move(entry);
    listing.clear();
    setPermissionsAndOwnership();
    vynd_log("Debug", "%s -> %s finished", src.c_str(), dst.c_str());
}

}  // namespace vynd
