// Files that must not outlive this process, removed when it is stopped.
#include "platform/leftover_files.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/process.h"

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

std::set<std::vector<std::string>>& commands() {
    static auto* s = new std::set<std::vector<std::string>>;
    return *s;
}

// A command that does not end in five seconds is killed: the stop must
// not wait on it for ever.
constexpr std::chrono::seconds kCommandLimit{5};

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

void leftover_command_made(const std::vector<std::string>& argv) {
    std::lock_guard<std::mutex> hold(files_lock());
    if (!argv.empty())
        commands().insert(argv);
}

void leftover_command_gone(const std::vector<std::string>& argv) {
    std::lock_guard<std::mutex> hold(files_lock());
    commands().erase(argv);
}

void remove_leftover_files() {
    std::lock_guard<std::mutex> hold(files_lock());
    // First, while the files a command may need are still there.
    for (const auto& argv : commands()) (void)run_process_while_stopping(argv, kCommandLimit);
    commands().clear();
    for (const auto& path : files()) unlink(path.c_str());
    files().clear();
    // remove_all follows no links: only the tree itself goes.
    std::error_code ec;
    for (const auto& path : folders()) std::filesystem::remove_all(path, ec);
    folders().clear();
}

}  // namespace vynd
