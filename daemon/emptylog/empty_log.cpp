// Emptying the daemon's log, the one thing the settings pane's log button asks of root.
#include "daemon/emptylog/empty_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/unique_fd.h"

namespace vynd {

bool empty_log_file(std::string* err, const std::string& path) {
    const UniqueFd fd(
        open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT)
            return true;
        *err = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
    if (!ok)
        *err = path + " is not a regular file";
    else if (ftruncate(fd.get(), 0) != 0) {
        *err = "cannot empty " + path + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}

int emptylog_main(int argc, char** argv) {
    // Nothing is created here, but nothing ever may be under the caller's umask.
    umask(022);
    // Nothing on the command line may choose what is emptied.
    if (argc > 1) {
        std::fprintf(stderr, "usage: %s\n", argv[0]);
        return 2;
    }
    if (geteuid() != 0) {
        std::fputs("Need to be running as root!\n", stderr);
        return 1;
    }
    std::string err;
    if (!empty_log_file(&err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    return 0;
}

}  // namespace vynd
