// Watching one file for growth, truncation and deletion, polled without waiting.
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace vynd {

// An inotify watch on a file's inode. The owner polls it once a tick; poll()
// never blocks and reports whether anything happened since the last poll.
class FileWatch {
  public:
    FileWatch() = default;
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Creates the notification queue; false when the system refuses one.
    [[nodiscard]] bool open();
    // Watches the file at path (replacing an earlier watch); false when it
    // cannot be watched, for instance because it does not exist.
    [[nodiscard]] bool watch(const std::string& path);
    void unwatch();
    void close();
    [[nodiscard]] bool isOpen() const { return static_cast<bool>(fd_); }

    enum Event : unsigned {
        None = 0,
        Modified = 1,  // written to or truncated
        Gone = 2,      // deleted, renamed away or its last link removed
        Attributes = 4,
    };
    // The events delivered since the last poll, or'ed together; None when
    // there are none or the queue fails.
    [[nodiscard]] unsigned poll();

  private:
    UniqueFd fd_;
    int wd_ = -1;
};

}  // namespace vynd
