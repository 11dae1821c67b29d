// A temporary folder removed with everything in it when the test ends.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/support/files.h"

namespace vynd::test {

class TempDir {
  public:
    TempDir() {
        std::string name = (std::filesystem::temp_directory_path() / "vynd-test-XXXXXX").string();
        if (!mkdtemp(name.data()))
            throw std::runtime_error("cannot make a temporary folder");
        path_ = name;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

    // Writes a file at the relative path, making its folders; its path.
    std::string write(const std::string& rel, std::string_view text = "x",
                      mode_t mode = 0644) const {
        write_file(*this / rel, text);
        chmod((*this / rel).c_str(), mode);
        return *this / rel;
    }
    std::string write(const std::string& rel, std::span<const std::uint8_t> bytes) const {
        return write(rel,
                     std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    bool exists(const std::string& rel) const {
        struct stat st;
        return lstat((*this / rel).c_str(), &st) == 0;
    }

  private:
    std::string path_;
};

}  // namespace vynd::test
