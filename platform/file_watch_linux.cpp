// File watching through inotify.
#include "platform/file_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace vynd {

FileWatch::~FileWatch() = default;

bool FileWatch::open() {
    if (!fd_)
        fd_.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    return static_cast<bool>(fd_);
}

bool FileWatch::watch(const std::string& path) {
    if (!fd_)
        return false;
    unwatch();
    wd_ = inotify_add_watch(fd_.get(), path.c_str(),
                            IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
    return wd_ >= 0;
}

void FileWatch::unwatch() {
    if (fd_ && wd_ >= 0)
        inotify_rm_watch(fd_.get(), wd_);
    wd_ = -1;
}

void FileWatch::close() {
    fd_.reset();
    wd_ = -1;
}

unsigned FileWatch::poll() {
    if (!fd_)
        return None;
    unsigned events = None;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = read(fd_.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (char* p = buf; p < buf + n;) {
            auto* e = reinterpret_cast<inotify_event*>(p);
            if (e->wd == wd_) {
                if (e->mask & IN_MODIFY)
                    events |= Modified;
                if (e->mask & IN_ATTRIB)
                    events |= Attributes;
                if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))
                    events |= Gone;
            }
            p += sizeof(inotify_event) + e->len;
        }
    }
    return events;
}

}  // namespace vynd
