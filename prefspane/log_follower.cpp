// Following the daemon's log file: read whole once, then only what is appended.
#include "prefspane/log_follower.h"

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

LogFollower::Update LogFollower::readTail(long long size) {
    const long long start = size > kTailBytes ? size - kTailBytes : 0;
    if (lseek(fd_, start, SEEK_SET) < 0)
        return {};
    offset_ = start;
    decoder_.resetState();
    QByteArray bytes;
    char buf[65536];
    // What is written while we read is taken too, up to the same bound;
    // the rest comes with the next poll.
    while (bytes.size() < 2 * kTailBytes) {
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        offset_ += n;
        bytes.append(buf, n);
    }
    qsizetype from = 0;
    bool partial = start > 0;
    if (partial) {
        // Begin at a line, not in the middle of one (or of a character).
        qsizetype newline = bytes.indexOf('\n');
        from = newline < 0 ? bytes.size() : newline + 1;
    }
    // Keep the last kTailLines lines; a final line without its newline yet
    // counts as one.
    int lines = 0;
    qsizetype end = bytes.size();
    if (end > from && bytes[end - 1] == '\n')
        --end;
    for (qsizetype i = end; i-- > from;) {
        if (bytes[i] == '\n' && ++lines == kTailLines) {
            from = i + 1;
            partial = true;
            break;
        }
    }
    return {Change::Replaced, decoder_(QByteArrayView(bytes).sliced(from)), partial};
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
        struct stat st;
        return readTail(fstat(fd_, &st) == 0 ? st.st_size : 0);
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
        // Cut short by someone else: show what is there now.
        return readTail(st.st_size);
    }
    if (st.st_size - offset_ > kTailBytes)
        return readTail(st.st_size);
    if (st.st_size > offset_) {
        QString piece = readToEnd();
        if (!piece.isEmpty())
            return {Change::Appended, piece};
    }
    return {};
}

}  // namespace vynd
