// Replacing a file whole: written under a temporary name beside it, flushed to
// the disk and renamed over it.
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/failure.h"
#include "platform/leftover_files.h"

namespace vynd {

namespace {

constexpr size_t kSuffixLength = 6;

// A folder's path and a name in it, as messages show them.
std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

AtomicFile::AtomicFile(int dir, std::string folder, std::string name, mode_t mode, bool leftover)
    : dir_(dir), folder_(std::move(folder)), name_(std::move(name)), leftover_(leftover) {
    start(mode);
}

AtomicFile::AtomicFile(const std::string& path, mode_t mode, bool leftover) : leftover_(leftover) {
    const size_t slash = path.rfind('/');
    name_ = path.substr(slash == std::string::npos ? 0 : slash + 1);
    folder_ = slash == std::string::npos ? std::string() : path.substr(0, slash);
    if (slash == 0)
        folder_ = "/";
    own_dir_.reset(
        open(folder_.empty() ? "." : folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    dir_ = own_dir_.get();
    start(mode);
}

void AtomicFile::start(mode_t mode) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    temporary_ = name_ + ".XXXXXX";
    if (dir_ < 0) {
        failed(AtomicFileFailure::Step::create, errno);
        return;
    }
    for (int attempt = 0; !fd_ && attempt < 100; ++attempt) {
        unsigned char random[kSuffixLength] = {};
        if (getrandom(random, sizeof random, 0) != sizeof random)
            for (auto& r : random) r = static_cast<unsigned char>(rand());
        temporary_ = name_ + ".";
        for (unsigned char r : random) temporary_ += kChars[r % (sizeof kChars - 1)];
        fd_.reset(openat(dir_, temporary_.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd_ && errno != EEXIST)
            break;
    }
    if (!fd_) {
        failed(AtomicFileFailure::Step::create, errno);
        return;
    }
    made_ = true;
    if (leftover_)
        leftover_file_made(temporary_path());
    // The mode is set, not asked of open, so that the umask takes nothing from it.
    if (fchmod(fd_.get(), mode) != 0)
        failed(AtomicFileFailure::Step::write, errno);
}

AtomicFile::~AtomicFile() {
    discard();
}

std::string AtomicFile::temporary_path() const {
    return joined(folder_, temporary_);
}

std::string AtomicFile::path() const {
    return joined(folder_, name_);
}

bool AtomicFile::failed(AtomicFileFailure::Step step, int error) {
    if (ok_) {
        failure_ = {step, temporary_path(), error};
        ok_ = false;
    }
    discard();
    return false;
}

void AtomicFile::discard() {
    fd_.reset();
    if (!made_)
        return;
    made_ = false;
    unlinkat(dir_, temporary_.c_str(), 0);
    if (leftover_)
        leftover_file_gone(temporary_path());
}

bool AtomicFile::write(std::string_view bytes) {
    if (!ok_)
        return false;
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failed(AtomicFileFailure::Step::write, n == 0 ? ENOSPC : errno);
        done += static_cast<size_t>(n);
    }
    // The disk starts on what is written while the rest is laid out, so the
    // flush at the end waits for little more than the last piece of a large file.
    written_ += static_cast<off_t>(bytes.size());
    if (written_ - queued_ >= (off_t{1} << 22)) {
        (void)sync_file_range(fd_.get(), queued_, written_ - queued_, SYNC_FILE_RANGE_WRITE);
        queued_ = written_;
    }
    return true;
}

bool AtomicFile::commit() {
    if (!ok_)
        return false;
    if (fsync(fd_.get()) != 0)
        return failed(AtomicFileFailure::Step::write, errno);
    // Some file systems tell at close that the data did not reach the disk.
    if (!fd_.close())
        return failed(AtomicFileFailure::Step::write, errno);
    if (renameat(dir_, temporary_.c_str(), dir_, name_.c_str()) != 0)
        return failed(AtomicFileFailure::Step::rename, errno);
    made_ = false;
    if (leftover_)
        leftover_file_gone(temporary_path());
    return true;
}

bool is_temporary_of(std::string_view entry, std::string_view name) {
    return entry.size() == name.size() + 1 + kSuffixLength &&
           entry.substr(0, name.size()) == name && entry[name.size()] == '.';
}

namespace {

bool describe(const AtomicFile& file, std::string* err) {
    const AtomicFileFailure& f = file.failure();
    if (f.step == AtomicFileFailure::Step::create)
        return fail_errno(err, "cannot create " + f.temporary, f.error);
    return fail_errno(err, "cannot write " + file.path(), f.error);
}

}  // namespace

bool replace_file_in(int dir, const std::string& folder, const std::string& name,
                     std::string_view bytes, mode_t mode, std::string* err) {
    AtomicFile file(dir, folder, name, mode);
    if (file.write(bytes) && file.commit())
        return true;
    return describe(file, err);
}

bool write_file_atomically(const std::string& path, const std::string& bytes, std::string* err,
                           unsigned mode) {
    AtomicFile file(path, mode);
    if (file.write(bytes) && file.commit())
        return true;
    return describe(file, err);
}

}  // namespace vynd
