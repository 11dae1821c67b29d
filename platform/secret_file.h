// A root-only file holding a secret for a child program, removed when it goes away.
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace vynd {

// A 0600 file under /run named "vynd-credentials-*", kept open and locked
// while it exists (so that remove_leftover_credentials spares it) and
// registered as a leftover, so that a stop signal removes it too.
class SecretFile {
  public:
    SecretFile() = default;
    SecretFile(const SecretFile&) = delete;
    SecretFile& operator=(const SecretFile&) = delete;
    ~SecretFile();

    [[nodiscard]] bool create(const std::string& text, std::string* err);
    [[nodiscard]] const std::string& path() const { return path_; }

  private:
    std::string path_;
    UniqueFd fd_;  // held open and locked for as long as the file exists
};

}  // namespace vynd
