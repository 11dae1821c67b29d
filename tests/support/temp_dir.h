// A temporary folder removed with everything in it when the test ends.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/vynd-mirroring-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

    void write(const std::string& rel, const std::string& text = "x", mode_t mode = 0644) const {
        std::filesystem::create_directories(std::filesystem::path(*this / rel).parent_path());
        std::ofstream(*this / rel) << text;
        chmod((*this / rel).c_str(), mode);
    }
    bool exists(const std::string& rel) const {
        struct stat st;
        return lstat((*this / rel).c_str(), &st) == 0;
    }

  private:
    std::string path_;
};
