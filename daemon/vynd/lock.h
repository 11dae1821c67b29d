// The run lock, so that one run works at a time, and the public lock the pane probes.
#pragma once

#include "platform/unique_fd.h"

namespace vynd {

// World-readable, so the pane can tell whether a run is in progress; any
// user can lock it too, so it only shows, it does not decide.
inline constexpr const char* kLockPath = "/var/run/vynd.lock";
// What runs exclude each other by: no one but root can open it.
inline constexpr const char* kRunLockFolder = "/run/vynd";
inline constexpr const char* kRunLockPath = "/run/vynd/vynd.lock";

// The two locks a run holds.
struct RunLock {
    UniqueFd run_lock;
    UniqueFd public_lock;
    // The public lock is held by another process.
    bool public_lock_elsewhere = false;
};

// Takes the run lock and the public lock, or ends the run with a Fatal line.
// A public lock held by someone else does not stop the run.
[[nodiscard]] RunLock file_lock();
// Logs a Warning when the public lock could not be taken (after the log is open).
void report_public_lock(const RunLock& lock);
void file_unlock(RunLock& lock);

}  // namespace vynd
