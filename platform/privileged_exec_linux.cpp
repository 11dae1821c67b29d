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

std::optional<pid_t> start_privileged(const std::vector<std::string>& argv) {
    std::vector<std::string> full = privileged_argv(argv);
    if (full.empty() || access(full[0].c_str(), X_OK) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // A session of its own: a run must not end with the terminal or the
    // signals of the window that started it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    std::vector<char*> args = c_argv(full);
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return std::nullopt;
    return pid;
}

std::optional<int> reap_privileged(pid_t pid) {
    int status = 0;
    pid_t done;
    while ((done = waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (done == 0)
        return std::nullopt;
    if (done < 0)  // not our child, or reaped already
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
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
