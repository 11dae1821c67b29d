// Replacing a file whole: written under a temporary name beside it, flushed to
// the disk and renamed over it, so a reader sees the old file or the new one,
// never a part of either.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace vynd {

// What stopped a replacement, for a caller that words its own message.
struct AtomicFileFailure {
    enum class Step { create, write, rename };
    Step step = Step::create;
    // The temporary file's path ("<name>.XXXXXX" when none could be made).
    std::string temporary;
    int error = 0;
};

// A file being written under the name "<name>.XXXXXX" (six letters or
// digits), made fresh in an open folder and never opened through an existing
// name, so nothing put in its place beforehand is written through. Until
// commit() succeeds the file at `name` is untouched; a replacement that fails
// or is abandoned removes its temporary.
class AtomicFile {
  public:
    // `folder` is the path of the folder open at `dir`, for messages and for
    // the leftover list: with `leftover`, the temporary is removed should the
    // process be stopped while it exists.
    AtomicFile(int dir, std::string folder, std::string name, mode_t mode, bool leftover = false);
    // The file at a path, whose folder is opened as the path names it; only
    // the final name is never followed.
    AtomicFile(const std::string& path, mode_t mode, bool leftover = false);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // False once anything has failed; failure() then says what.
    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] bool write(std::string_view bytes);
    // Flushes the file to the disk and renames it over `name`.
    [[nodiscard]] bool commit();
    [[nodiscard]] const AtomicFileFailure& failure() const { return failure_; }
    // The temporary's path and the final one.
    [[nodiscard]] std::string temporary_path() const;
    [[nodiscard]] std::string path() const;

  private:
    void start(mode_t mode);
    bool failed(AtomicFileFailure::Step step, int error);
    void discard();

    UniqueFd own_dir_;
    int dir_;
    std::string folder_;
    std::string name_;
    std::string temporary_;
    UniqueFd fd_;
    bool leftover_;
    bool made_ = false;  // the temporary is there to remove
    bool ok_ = true;
    off_t written_ = 0;
    off_t queued_ = 0;
    AtomicFileFailure failure_;
};

// True when `entry` is a name AtomicFile gives a temporary of `name`.
[[nodiscard]] bool is_temporary_of(std::string_view entry, std::string_view name);

// Replaces `name` in the folder open at `dir` with the bytes. On failure
// `err` says "cannot create <temporary>: <why>" or "cannot write
// <folder>/<name>: <why>".
[[nodiscard]] bool replace_file_in(int dir, const std::string& folder, const std::string& name,
                                   std::string_view bytes, mode_t mode, std::string* err = nullptr);

// The same for a path (see AtomicFile), with the same messages.
[[nodiscard]] bool write_file_atomically(const std::string& path, const std::string& bytes,
                                         std::string* err = nullptr, unsigned mode = 0644);

}  // namespace vynd
