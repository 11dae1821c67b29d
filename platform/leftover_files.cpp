// Files that must not outlive this process, removed when it is stopped.
#include "leftover_files.h"

#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <set>

namespace vynd {

namespace {

std::mutex& files_lock() {
    static std::mutex* m = new std::mutex;
    return *m;
}

std::set<std::string>& files() {
    static auto* s = new std::set<std::string>;
    return *s;
}

std::set<std::string>& folders() {
    static auto* s = new std::set<std::string>;
    return *s;
}

}  // namespace

void leftover_file_made(const std::string& path) {
    std::lock_guard<std::mutex> hold(files_lock());
    files().insert(path);
}

void leftover_file_gone(const std::string& path) {
    std::lock_guard<std::mutex> hold(files_lock());
    files().erase(path);
}

void leftover_folder_made(const std::string& path) {
    std::lock_guard<std::mutex> hold(files_lock());
    folders().insert(path);
}

void leftover_folder_gone(const std::string& path) {
    std::lock_guard<std::mutex> hold(files_lock());
    folders().erase(path);
}

void remove_leftover_files() {
    std::lock_guard<std::mutex> hold(files_lock());
    for (const auto& path : files()) unlink(path.c_str());
    files().clear();
    // remove_all follows no links: only the tree itself goes.
    std::error_code ec;
    for (const auto& path : folders()) std::filesystem::remove_all(path, ec);
    folders().clear();
}

}  // namespace vynd
