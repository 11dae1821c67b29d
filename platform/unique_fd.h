// An open file descriptor that is closed when its owner goes away.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace vynd {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    [[nodiscard]] int get() const noexcept { return fd_; }
    [[nodiscard]] explicit operator bool() const noexcept { return fd_ >= 0; }

    // Gives up ownership: the caller closes what is returned.
    [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }
    // Closes what is held (if anything) and holds `fd` instead.
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now and says whether close succeeded: for a file just written,
    // close is where some file systems report that the data did not reach
    // the disk. Nothing is held afterwards, whatever the result.
    [[nodiscard]] bool close() noexcept {
        if (fd_ < 0)
            return true;
        return ::close(release()) == 0;
    }

  private:
    int fd_ = -1;
};

// A new pipe, both ends close-on-exec. False, with nothing held, when the
// system makes none.
[[nodiscard]] inline bool make_pipe(UniqueFd* read_end, UniqueFd* write_end) noexcept {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    read_end->reset(fds[0]);
    write_end->reset(fds[1]);
    return true;
}

}  // namespace vynd
