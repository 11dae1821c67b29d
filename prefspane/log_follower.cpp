// Following the daemon's log file: read whole once, then only what is appended.
#include "log_follower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vynd {

void LogFollower::start() {
    (void)watch_.open();
}

void LogFollower::stop() {
    closeFile();
    watch_.close();
}

void LogFollower::closeFile() {
    watch_.unwatch();
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    offset_ = 0;
}

void LogFollower::rewind() {
    if (fd_ < 0)
        return;
    lseek(fd_, 0, SEEK_SET);
    offset_ = 0;
    decoder_.resetState();
}

QString LogFollower::readToEnd() {
    QString text;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        offset_ += n;
        text += decoder_(QByteArrayView(buf, n));
    }
    return text;
}

LogFollower::Update LogFollower::poll() {
    if (!watch_.isOpen())
        return {};
    if (fd_ < 0) {
        fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            return {};
        // Watch before reading, so nothing written in between is missed.
        (void)watch_.watch(path_);
        (void)watch_.poll();
        offset_ = 0;
        decoder_.resetState();
        return {Change::Replaced, readToEnd()};
    }
    unsigned events = watch_.poll();
    if (events == FileWatch::None)
        return {};
    struct stat st;
    if ((events & FileWatch::Gone) || fstat(fd_, &st) != 0 || st.st_nlink == 0) {
        closeFile();
        return {Change::Emptied, QString()};
    }
    if (st.st_size < offset_) {
        // Cut short by someone else: show what is there now, from the start.
        rewind();
        return {Change::Replaced, readToEnd()};
    }
    if (st.st_size > offset_) {
        QString piece = readToEnd();
        if (!piece.isEmpty())
            return {Change::Appended, piece};
    }
    return {};
}

}  // namespace vynd
