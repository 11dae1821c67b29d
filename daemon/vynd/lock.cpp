// The run lock, so that one run works at a time, and the public lock the pane probes.
#include "daemon/vynd/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "daemon/vynd/log.h"

namespace vynd {

int lock_fd = -1;

namespace {

int run_lock_fd = -1;
bool public_lock_elsewhere = false;

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

void take_run_lock() {
    if (!private_folder_ready())
        vynd_log("Fatal", "Unable to open or create lock file %s", kRunLockPath);
    run_lock_fd = open(kRunLockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (run_lock_fd < 0)
        vynd_log("Fatal", "Unable to open or create lock file %s", kRunLockPath);
    if (flock(run_lock_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            vynd_log("Fatal", "vynd already installing");
        vynd_log("Fatal", "Unable to acquire file lock %d", errno);
    }
}

}  // namespace

void file_lock() {
    take_run_lock();
    lock_fd = open(kLockPath, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (lock_fd < 0)
        vynd_log("Fatal", "Unable to open or create lock file %s", kLockPath);
    fchmod(lock_fd, 0644);
    public_lock_elsewhere = false;
    if (flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            vynd_log("Fatal", "Unable to acquire file lock %d", errno);
        public_lock_elsewhere = true;
    }
}

void report_public_lock() {
    if (public_lock_elsewhere)
        vynd_log("Warning",
                 "Warning: %s is held by another process; this run goes on, but the settings "
                 "pane may not show it",
                 kLockPath);
}

void file_unlock() {
    if (lock_fd >= 0) {
        flock(lock_fd, LOCK_UN);
        close(lock_fd);
        lock_fd = -1;
    }
    if (run_lock_fd >= 0) {
        flock(run_lock_fd, LOCK_UN);
        close(run_lock_fd);
        run_lock_fd = -1;
    }
}

}  // namespace vynd
