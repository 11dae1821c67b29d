// A root-only file holding a secret for a child program, removed when it goes away.
#include "platform/secret_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/leftover_files.h"

namespace vynd {

bool SecretFile::create(const std::string& text, std::string* err) {
    char name[] = "/run/vynd-credentials-XXXXXX";
    // mkostemp makes it 0600 whatever the umask; 077 keeps it so should
    // that ever change.
    mode_t old_mask = umask(077);
    fd_.reset(mkostemp(name, O_CLOEXEC));
    umask(old_mask);
    if (!fd_) {
        if (err)
            *err = std::string("cannot create a credentials file: ") + strerror(errno);
        return false;
    }
    flock(fd_.get(), LOCK_EX);
    path_ = name;
    leftover_file_made(path_);
    fchmod(fd_.get(), 0600);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd_.get(), text.data() + done, text.size() - done);
        if (n <= 0) {
            if (err)
                *err = "cannot write the credentials file";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

SecretFile::~SecretFile() {
    if (path_.empty())
        return;
    unlink(path_.c_str());
    leftover_file_gone(path_);
}

}  // namespace vynd
