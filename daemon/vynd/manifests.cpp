// The four sync jobs of a run, loaded at its start and saved at its end.
#include "daemon/vynd/manifests.h"

#include "daemon/vynd/database.h"
#include "daemon/vynd/log.h"
#include "daemon/vynd/manifest_file.h"
#include "daemon/vynd/mount.h"
#include "daemon/vynd/notify.h"
#include "daemon/vynd/prefs.h"
#include "daemon/vynd/rsync_output.h"

namespace vynd {

namespace {

void log_dropped_key(const std::string& key) {
    vynd_log("Error", "Ignoring manifest entry %s: it leads outside its area",
             escape_name(key).c_str());
}

// Left to the end of the process on purpose (see Manifests).
SyncJob& load(const char* id) {
    std::string too_large;
    auto job = read_manifest_file(manifest_file_path(id), log_dropped_key, &too_large);
    // Taken for empty, it would have every package installed again and
    // every installed file overwritten.
    if (!too_large.empty())
        vynd_log("Fatal", "%s", too_large.c_str());
    return *new SyncJob(job ? std::move(*job) : SyncJob());
}

std::string share_path(const Share& share, const std::string& folder) {
    return join_path(share.volURL ? share.volURL->path : std::string(), folder);
}

void fill_mirrored(SyncJob& job, const char* id, const Area& area, const char* dst,
                   const Share& share, bool test_mode) {
    job.id = id;
    job.srcPath = share_path(share, area.path);
    job.dstPath = test_mode ? std::string(kDatabasePath) + "/" + id : std::string(dst);
    job.setPerm = area.setPerm;
    job.keepSynced = area.keepSynced;
    job.perms = area.perms;
    job.owner = area.owner;
    job.group = area.group;
}

}  // namespace

Manifests load_manifests(const Settings& settings, const Share& share, bool test_mode) {
    Manifests jobs{load("Applications"), load("Users"), load("Library"), load("Packages")};
    fill_mirrored(jobs.appManifest, "Applications", settings.app, "/Applications", share,
                  test_mode);
    fill_mirrored(jobs.userManifest, "Users", settings.user, "/Users", share, test_mode);
    fill_mirrored(jobs.libManifest, "Library", settings.lib, "/Library", share, test_mode);
    SyncJob& pkg = jobs.pkgManifest;
    pkg.id = "Packages";
    pkg.srcPath = share_path(share, settings.pkg_path);
    pkg.dstPath = std::string(kDatabasePath) + "/Packages";
    pkg.setPerm = false;
    pkg.keepSynced = true;
    pkg.autoRestart = settings.auto_restart;
    return jobs;
}

void save_manifests(const Manifests& jobs) {
    // A failed write leaves the previous manifest in place; what this run
    // installed is then done again by the next.
    for (auto [id, job] : {std::pair{"Applications", &jobs.appManifest},
                           {"Users", &jobs.userManifest},
                           {"Library", &jobs.libManifest},
                           {"Packages", &jobs.pkgManifest}}) {
        std::string err;
        bool rewritten = false;
        if (!update_manifest_file(manifest_file_path(id), *job, &rewritten, &err))
            vynd_log("Error", "Could not save the manifest %s: %s", id, err.c_str());
    }
}

void install(const Manifests& jobs, const JobContext& run) {
    jobs.appManifest.install(run);
    jobs.libManifest.install(run);
    jobs.userManifest.install(run);
    jobs.pkgManifest.pkgInstall(run);
    run.notifier.growl("installs complete", "Info");
}

}  // namespace vynd
