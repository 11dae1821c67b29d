// One sync job: an area's description together with its manifest.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vynd {

// What the manifest keeps for one installed path.
struct FileEntry {
    // "date": when rsync last listed the item, seconds since the Unix epoch.
    std::optional<int64_t> date;
    // Any other keys of the stored entry, kept as their XML so they survive.
    std::string other_keys_xml;
    // Listed by this run's rsync (not stored).
    bool listed = false;
    // First listed by this run's rsync (not stored).
    bool fresh = false;
};

// Relative path (as rsync names it, folders ending in "/") to entry, in
// byte order: the order manifests are stored in and folders are walked in,
// so neither loading nor saving nor walking has to sort.
using FileMap = std::map<std::string, FileEntry, std::less<>>;

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

    // The rsync command text without its path operands, for the log.
    [[nodiscard]] std::string rsyncWithOptions() const;
    [[nodiscard]] std::string rsyncSetPermOpt() const;
    [[nodiscard]] std::string rsyncKeySyncOpt() const;
    [[nodiscard]] std::string rsyncExcludeString() const;
    // True, with an Error logged, when a site exclude file stands at the
    // area's path but cannot be used (not a regular file, too large): the
    // area is then not run at all.
    [[nodiscard]] bool siteExcludeRefused() const;
    // The same command as an argument vector, one element per argument,
    // without the operands.
    [[nodiscard]] std::vector<std::string> rsyncArguments() const;

    // Runs a mirrored area's job: rsync, change log, deletions, merge,
    // permissions (sync_run.cpp).
    void install();
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
    void pkgInstall();
    [[nodiscard]] bool rsyncPkgDownload(const std::string& name);
    void installPkg(const std::string& name);
    [[nodiscard]] bool packageRequiresRestart(const std::string& name);

    [[nodiscard]] bool keeps_synced() const { return keepSynced.value_or(false); }
    [[nodiscard]] bool sets_perm() const { return setPerm.value_or(false); }
    // True when rsync keeps the share's modes, owners and groups (-pgo).
    [[nodiscard]] bool keeps_share_modes() const;
    [[nodiscard]] const std::string& job_id() const;
};

// Joins path components: one "/" between them, a trailing "/" of the
// appended part dropped; an empty part leaves the path as it is.
[[nodiscard]] std::string join_path(std::string_view base, std::string_view name);

// The entry stored under the path in a files map, created empty when absent.
FileEntry& fileAtPath(FileMap& map, const std::string& path);

// /var/db/vynd/<id>.exclude and the site exclude file of a job id.
[[nodiscard]] std::string exclude_file_path(std::string_view id);
[[nodiscard]] std::string site_exclude_file_path(std::string_view id);
[[nodiscard]] std::string manifest_file_path(std::string_view id);

}  // namespace vynd
