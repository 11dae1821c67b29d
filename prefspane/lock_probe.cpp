// Whether a daemon run holds the run lock right now.
#include "prefspane/lock_probe.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vynd {

bool daemonHoldsLock(const std::string& lockPath) {
    int fd = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!held)
        flock(fd, LOCK_UN);
    close(fd);
    return held;
}

}  // namespace vynd
