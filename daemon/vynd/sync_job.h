// One sync job: an area's description together with its manifest.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "daemon/vynd/file_map.h"
#include "daemon/vynd/path_components.h"

namespace vynd {

struct Settings;
struct Share;
class Notifier;

// What a job's run takes from the run around it.
struct JobContext {
    const Settings& settings;
    const Share& share;
    const Notifier& notifier;
    // Set when an installed package asks for a restart.
    std::atomic<bool>& requires_restart;
};

// The fields are the keys of the stored manifest; a field without a value
// is a key the manifest does not hold. The stored form is written and read
// by manifest_file.h.
class SyncJob {
  public:
    std::optional<std::string> id;       // "id"
    std::optional<std::string> srcPath;  // "srcPath"
    std::optional<std::string> dstPath;  // "dstPath"
    std::optional<bool> setPerm;         // "setPerm"
    std::optional<bool> keepSynced;      // "keepSynced"
    std::optional<std::string> perms;    // "perms"
    std::optional<std::string> owner;    // "owner"
    std::optional<std::string> group;    // "group"
    std::optional<bool> autoRestart;     // "autoRestart"
    std::optional<FileMap> files_;       // "files"
    // Keys this program does not know, in stored order, as key and value XML.
    std::vector<std::pair<std::string, std::string>> other_keys_xml;

    // "files", created empty on first use.
    FileMap& files();

    [[nodiscard]] std::string fullSrcPath(std::string_view name) const;
    [[nodiscard]] std::string fullDstPath(std::string_view name) const;

    // True, with an Error logged, when a site exclude file stands at the
    // area's path but cannot be used (not a regular file, too large): the
    // area is then not run at all.
    [[nodiscard]] bool siteExcludeRefused() const;

    // Runs a mirrored area's job: rsync, change log, deletions, merge,
    // permissions (sync_run.cpp).
    void install(const JobContext& run);
    // Writes the exclude file of a job that is not kept in step.
    void excludeManifest();
    // Removes local copies of installed paths this run's rsync did not list
    // (entries not marked "listed").
    void deleteFilesRemovedFromSource();
    // Mode and ownership after a run (permissions.cpp).
    void setPermissionsAndOwnership();
    void setUsersPermissions();

    // The Packages job (packages.cpp): installs each package of the share
    // not yet in "files"; a download that fails is not installed.
    void pkgInstall(const JobContext& run);
    [[nodiscard]] bool rsyncPkgDownload(const std::string& name, const JobContext& run);
    void installPkg(const std::string& name, const JobContext& run);
    [[nodiscard]] bool packageRequiresRestart(const std::string& name);

    [[nodiscard]] bool keeps_synced() const { return keepSynced.value_or(false); }
    [[nodiscard]] bool sets_perm() const { return setPerm.value_or(false); }
    // True when rsync keeps the share's modes, owners and groups (-pgo).
    [[nodiscard]] bool keeps_share_modes() const;
    [[nodiscard]] const std::string& job_id() const;
};

// The entry stored under the path in a files map, created empty when absent.
FileEntry& fileAtPath(FileMap& map, const std::string& path);

// /var/db/vynd/<id>.exclude and the site exclude file of a job id.
[[nodiscard]] std::string exclude_file_path(std::string_view id);
[[nodiscard]] std::string site_exclude_file_path(std::string_view id);
[[nodiscard]] std::string manifest_file_path(std::string_view id);

}  // namespace vynd
