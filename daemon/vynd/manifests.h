// The four sync jobs of a run, loaded at its start and saved at its end.
#pragma once

#include "daemon/vynd/sync_job.h"

namespace vynd {

struct Settings;
struct Share;

// The run's four jobs. They are never destroyed: a manifest may hold many
// thousand paths, and freeing them one by one as the program exits only
// delays its end.
struct Manifests {
    SyncJob& appManifest;
    SyncJob& userManifest;
    SyncJob& libManifest;
    SyncJob& pkgManifest;
};

// Builds the four jobs from the settings and their stored manifests; in
// test mode the mirrored areas go under /var/db/vynd.
[[nodiscard]] Manifests load_manifests(const Settings& settings, const Share& share,
                                       bool test_mode);

// Writes the four jobs to /var/db/vynd/<id>.plist, atomically each.
void save_manifests(const Manifests& jobs);

// Runs the jobs: Applications, Library, Users, then the packages.
void install(const Manifests& jobs, const JobContext& run);

}  // namespace vynd
