// Files that must not outlive this process, removed when it is stopped.
#include "platform/leftover_files.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>

extern char** environ;

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

// Started here rather than as the process's children are, which start no
// more once a stop has begun. A command that does not end in five seconds
// is killed: the stop must not wait on it for ever.
void run_command(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return;
    const timespec tick{0, 10 * 1000 * 1000};
    for (int waited = 0; waited < 500; ++waited) {
        const pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return;
        nanosleep(&tick, nullptr);
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
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
    for (const auto& argv : commands()) run_command(argv);
    commands().clear();
    for (const auto& path : files()) unlink(path.c_str());
    files().clear();
    // remove_all follows no links: only the tree itself goes.
    std::error_code ec;
    for (const auto& path : folders()) std::filesystem::remove_all(path, ec);
    folders().clear();
}

}  // namespace vynd
