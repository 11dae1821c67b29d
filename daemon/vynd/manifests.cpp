// The four sync jobs of a run, loaded at its start and saved at its end.
#include "daemon/vynd/manifests.h"

#include "daemon/vynd/database.h"
#include "daemon/vynd/log.h"
#include "daemon/vynd/manifest_file.h"
#include "daemon/vynd/mount.h"
#include "daemon/vynd/notify.h"
#include "daemon/vynd/prefs.h"
#include "daemon/vynd/rsync_output.h"
#include "daemon/vynd/run.h"

namespace vynd {

// Never destroyed: a manifest may hold many thousand paths, and freeing them
// one by one as the program exits only delays its end.
SyncJob& appManifest = *new SyncJob;
SyncJob& userManifest = *new SyncJob;
SyncJob& libManifest = *new SyncJob;
SyncJob& pkgManifest = *new SyncJob;

namespace {

void log_dropped_key(const std::string& key) {
    vynd_log("Error", "Ignoring manifest entry %s: it leads outside its area",
             escape_name(key).c_str());
}

SyncJob load(const char* id) {
    std::string too_large;
    auto job = read_manifest_file(manifest_file_path(id), log_dropped_key, &too_large);
    // Taken for empty, it would have every package installed again and
    // every installed file overwritten.
    if (!too_large.empty())
        vynd_log("Fatal", "%s", too_large.c_str());
    return job ? std::move(*job) : SyncJob();
}

std::string share_path(const std::string& folder) {
    return join_path(volURL ? volURL->path : std::string(), folder);
}

void fill_mirrored(SyncJob& job, const char* id, const std::string& folder, const char* dst,
                   bool set_perm, bool keep_synced, const std::string& perms,
                   const std::string& owner, const std::string& group) {
    job.id = id;
    job.srcPath = share_path(folder);
    job.dstPath = test_mode ? std::string(kDatabasePath) + "/" + id : std::string(dst);
    job.setPerm = set_perm;
    job.keepSynced = keep_synced;
    job.perms = perms;
    job.owner = owner;
    job.group = group;
}

}  // namespace

void load_manifests() {
    appManifest = load("Applications");
    userManifest = load("Users");
    libManifest = load("Library");
    pkgManifest = load("Packages");
    fill_mirrored(appManifest, "Applications", app_path, "/Applications", set_app_perm,
                  keep_app_synced, app_perms, app_owner, app_group);
    fill_mirrored(userManifest, "Users", user_path, "/Users", set_user_perm, keep_user_synced,
                  user_perms, user_owner, user_group);
    fill_mirrored(libManifest, "Library", lib_path, "/Library", set_lib_perm, keep_lib_synced,
                  lib_perms, lib_owner, lib_group);
    pkgManifest.id = "Packages";
    pkgManifest.srcPath = share_path(pkg_path);
    pkgManifest.dstPath = std::string(kDatabasePath) + "/Packages";
    pkgManifest.setPerm = false;
    pkgManifest.keepSynced = true;
    pkgManifest.autoRestart = auto_restart;
}

void save_manifests() {
    // A failed write leaves the previous manifest in place; what this run
    // installed is then done again by the next.
    for (auto [id, job] : {std::pair{"Applications", &appManifest},
                           {"Users", &userManifest},
                           {"Library", &libManifest},
                           {"Packages", &pkgManifest}}) {
        std::string err;
        bool rewritten = false;
        if (!update_manifest_file(manifest_file_path(id), *job, &rewritten, &err))
            vynd_log("Error", "Could not save the manifest %s: %s", id, err.c_str());
    }
}

void install() {
    appManifest.install();
    libManifest.install();
    userManifest.install();
    pkgManifest.pkgInstall();
    growl("installs complete", "Info");
}

}  // namespace vynd
