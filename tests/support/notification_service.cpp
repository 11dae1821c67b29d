// A private session bus with a recording notification service, for tests.
#include "tests/support/notification_service.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/sandbox.h"

extern char** environ;

namespace vynd::test {

namespace {

pid_t spawn(std::vector<std::string> argv, const std::string& out) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

bool wait_for(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return true;
}

}  // namespace

NotificationService::NotificationService(Sandbox& box, uid_t uid, Mode mode) {
    std::string dir = "/run/user/" + std::to_string(uid);
    box.mkdirs(dir);
    std::string socket = box.path(dir + "/bus");
    record_ = box.path("/run/.notifications-" + std::to_string(uid));
    std::ofstream(record_).close();
    std::string address = "unix:path=" + socket;
    bus_pid_ = spawn(
        {"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address},
        "/dev/null");
    struct stat st;
    if (bus_pid_ < 0 || !wait_for([&] { return stat(socket.c_str(), &st) == 0; }))
        return;
    if (chown(socket.c_str(), uid, static_cast<gid_t>(-1)) != 0)
        return;
    std::string ready = box.path("/run/.notification-service-ready");
    std::vector<std::string> argv = {VYND_NOTIFICATION_RECORDER, address, record_};
    if (mode == Mode::Hang)
        argv.push_back("hang");
    service_pid_ = spawn(argv, ready);
    ready_ = service_pid_ > 0 && wait_for([&] {
                 std::ifstream in(ready);
                 std::string word;
                 return static_cast<bool>(in >> word) && word == "ready";
             });
}

NotificationService::~NotificationService() {
    stop(service_pid_);
    stop(bus_pid_);
}

std::vector<std::string> NotificationService::descriptors() const {
    std::ifstream in(record_ + ".fds");
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> NotificationService::notifications() const {
    std::ifstream in(record_);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace vynd::test
