// The run lock on /var/run/vynd.lock, so that one run works at a time.
#include "lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "log.h"

namespace vynd {

int lock_fd = -1;

void file_lock() {
    lock_fd = open(kLockPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (lock_fd < 0)
        vynd_log("Fatal", "Unable to open or create lock file %s", kLockPath);
    if (flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            vynd_log("Fatal", "vynd already installing");
        vynd_log("Fatal", "Unable to acquire file lock %d", errno);
    }
}

void file_unlock() {
    if (lock_fd < 0)
        return;
    flock(lock_fd, LOCK_UN);
    close(lock_fd);
    lock_fd = -1;
}

}  // namespace vynd
