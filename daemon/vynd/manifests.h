// The four sync jobs of a run, loaded at its start and saved at its end.
#pragma once

#include "daemon/vynd/sync_job.h"

namespace vynd {

extern SyncJob& appManifest;
extern SyncJob& userManifest;
extern SyncJob& libManifest;
extern SyncJob& pkgManifest;

// Builds the four jobs from the settings and their stored manifests.
void load_manifests();

// Writes the four jobs to /var/db/vynd/<id>.plist, atomically each.
void save_manifests();

// Runs the jobs: Applications, Library, Users, then the packages.
void install();

}  // namespace vynd
