// The run lock, so that one run works at a time, and the public lock the pane probes.
#include "daemon/vynd/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "daemon/vynd/log.h"

namespace vynd {

namespace {

// The folder must be root's own and closed to everyone else, or a user could
// hold the lock open.
bool private_folder_ready() {
    if (mkdir(kRunLockFolder, 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (lstat(kRunLockFolder, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    return (st.st_mode & 077) == 0 || chmod(kRunLockFolder, 0700) == 0;
}

UniqueFd take_run_lock() {
    if (!private_folder_ready())
        vynd_log("Fatal", "Unable to open or create lock file %s", kRunLockPath);
    UniqueFd fd(open(kRunLockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd)
        vynd_log("Fatal", "Unable to open or create lock file %s", kRunLockPath);
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            vynd_log("Fatal", "vynd already installing");
        vynd_log("Fatal", "Unable to acquire file lock %d", errno);
    }
    return fd;
}

}  // namespace

RunLock file_lock() {
    RunLock lock;
    lock.run_lock = take_run_lock();
    lock.public_lock.reset(
        open(kLockPath, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!lock.public_lock)
        vynd_log("Fatal", "Unable to open or create lock file %s", kLockPath);
    fchmod(lock.public_lock.get(), 0644);
    if (flock(lock.public_lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            vynd_log("Fatal", "Unable to acquire file lock %d", errno);
        lock.public_lock_elsewhere = true;
    }
    return lock;
}

void report_public_lock(const RunLock& lock) {
    if (lock.public_lock_elsewhere)
        vynd_log("Warning",
                 "Warning: %s is held by another process; this run goes on, but the settings "
                 "pane may not show it",
                 kLockPath);
}

void file_unlock(RunLock& lock) {
    for (UniqueFd* fd : {&lock.public_lock, &lock.run_lock}) {
        if (*fd) {
            flock(fd->get(), LOCK_UN);
            fd->reset();
        }
    }
}

}  // namespace vynd
