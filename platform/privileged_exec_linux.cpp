// Running a program as root through polkit's pkexec, or directly as root.
#include "privileged_exec.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "process.h"

extern char** environ;

namespace vynd {

namespace {

const char kPkexec[] = "/usr/bin/pkexec";
const char kPkcheck[] = "/usr/bin/pkcheck";

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

void reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::vector<std::string> privileged_argv(const std::vector<std::string>& argv) {
    if (geteuid() == 0)
        return argv;
    std::vector<std::string> out = {kPkexec};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

std::optional<std::string> run_privileged_first_line(const std::vector<std::string>& argv,
                                                     std::size_t max_line) {
    std::vector<std::string> full = privileged_argv(argv);
    if (full.empty() || access(full[0].c_str(), X_OK) != 0)
        return std::nullopt;
    std::string first;
    bool have_line = false;
    int status = run_process_lines(full, [&](std::string_view line) {
        if (have_line)
            return;
        have_line = true;
        first.assign(line.substr(0, max_line));
    });
    if (status == -1 && !have_line)
        return std::nullopt;
    return first;
}

bool start_privileged(const std::vector<std::string>& argv) {
    std::vector<std::string> full = privileged_argv(argv);
    if (full.empty() || access(full[0].c_str(), X_OK) != 0)
        return false;
    // A middle child starts the program and leaves at once, so the program is
    // adopted by init and reaped there; the caller never waits for it.
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return false;
    pid_t middle = fork();
    if (middle < 0) {
        close(ready[0]);
        close(ready[1]);
        return false;
    }
    if (middle == 0) {
        close(ready[0]);
        setsid();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        pid_t pid;
        std::vector<char*> args = c_argv(full);
        int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
        char ok = rc == 0 ? 1 : 0;
        (void)!write(ready[1], &ok, 1);
        _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    ssize_t n;
    while ((n = read(ready[0], &ok, 1)) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    reap(middle);
    return n == 1 && ok == 1;
}

bool obtain_authorization(const std::string& action_id) {
    if (geteuid() == 0)
        return true;
    if (access(kPkcheck, X_OK) != 0)
        return false;
    return run_process({kPkcheck, "--action-id", action_id, "--process", std::to_string(getpid()),
                        "--allow-user-interaction"}) == 0;
}

}  // namespace vynd
