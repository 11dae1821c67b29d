// Following the daemon's log file: read whole once, then only what is appended.
#pragma once

#include <QString>
#include <QStringDecoder>

#include <string>

#include "platform/file_watch.h"

namespace vynd {

// Polled once a tick; never blocks. Bytes that are not UTF-8 are shown as
// replacement characters, and a character split between two reads is
// carried over, so the text never stops following the file.
//
// A log can grow to hundreds of megabytes; only its end is read, at most
// kTailLines lines and kTailBytes bytes, whether at opening or when more
// than that was appended since the last poll.
class LogFollower {
  public:
    static constexpr int kTailLines = 10000;
    static constexpr long long kTailBytes = 4LL << 20;

    explicit LogFollower(std::string path) : path_(std::move(path)) {}
    ~LogFollower() { stop(); }
    LogFollower(const LogFollower&) = delete;
    LogFollower& operator=(const LogFollower&) = delete;

    // watchLogFile: creates the notification queue.
    void start();
    // unwatchLogFile: closes the queue and the file.
    void stop();
    [[nodiscard]] bool isFileOpen() const { return fd_ >= 0; }

    enum class Change {
        None,
        Replaced,  // text holds the whole file: (re)opened or truncated
        Appended,  // text holds what was appended
        Emptied,   // the file was deleted
    };
    struct Update {
        Change change = Change::None;
        QString text;
        // Replaced with only the end of the file: earlier lines were left out.
        bool partial = false;
    };
    [[nodiscard]] Update poll();

    // After the file was emptied on purpose: what comes next is read from
    // its start.
    void rewind();

  private:
    void closeFile();
    QString readToEnd();
    // Replaced by the last lines of the file, read from near its end.
    Update readTail(long long size);

    std::string path_;
    FileWatch watch_;
    int fd_ = -1;
    long long offset_ = 0;
    QStringDecoder decoder_{QStringDecoder::Utf8};
};

}  // namespace vynd
