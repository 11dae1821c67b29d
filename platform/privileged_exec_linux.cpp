// Running a program as root through polkit's pkexec, or directly as root.
#include "platform/privileged_exec.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/process.h"
#include "platform/unique_fd.h"

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

// Runs argv with its standard output and standard error read apart, to the
// end, and waits for it. Status -1 when it could not be started.
PrivilegedRun run_reading_both(const std::vector<std::string>& argv, std::size_t max_line,
                               const std::string& input = {}) {
    PrivilegedRun run;
    // The child's ends, then ours: its input, output and error.
    UniqueFd child_in, child_out, child_err;
    UniqueFd ends[3];
    if (!make_pipe(&child_in, &ends[2]) || !make_pipe(&ends[0], &child_out) ||
        !make_pipe(&ends[1], &child_err))
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child_in.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, child_out.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, child_err.get(), STDERR_FILENO);
    pid_t pid = 0;
    std::vector<char*> args = c_argv(argv);
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    // Only the child's copies may be left, or its output would never end.
    child_in.reset();
    child_out.reset();
    child_err.reset();
    // Written as the child takes it, between reads, so neither side waits
    // on the other; a child that reads nothing just sees the end of it.
    (void)fcntl(ends[2].get(), F_SETFL, O_NONBLOCK);
    // A child that stops reading must not end this process.
    HeldPipeSignal held;
    std::size_t written = 0;
    std::string& output = run.output;
    if (rc == 0) {
        pollfd fds[3] = {
            {ends[0].get(), POLLIN, 0}, {ends[1].get(), POLLIN, 0}, {ends[2].get(), POLLOUT, 0}};
        // A descriptor polled no more is closed at once: the child sees
        // the end of its input, and nothing waits on an output it ended.
        auto done_with = [&](int i) {
            ends[i].reset();
            fds[i].fd = -1;
        };
        if (input.empty())
            done_with(2);
        std::string* into[2] = {&output, &run.error};
        char buf[4096];
        while (fds[0].fd >= 0 || fds[1].fd >= 0) {
            if (poll(fds, 3, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[2].fd >= 0 && fds[2].revents) {
                // A child that closed its end takes no more.
                const bool writable = fds[2].revents & POLLOUT;
                ssize_t n = writable
                                ? write(fds[2].fd, input.data() + written, input.size() - written)
                                : -1;
                if (n > 0)
                    written += static_cast<std::size_t>(n);
                if (!writable || (n < 0 && errno != EAGAIN && errno != EINTR) ||
                    written == input.size())
                    done_with(2);
            }
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !fds[i].revents)
                    continue;
                ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    done_with(i);
                } else if (into[i]->size() < 65536) {  // a reason, not a flood
                    into[i]->append(buf, static_cast<size_t>(n));
                }
            }
        }
        done_with(2);  // a child still reading waits for no more
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status)     ? WEXITSTATUS(status)
                     : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                           : -1;
    } else {
        run.error = argv[0] + ": " + std::strerror(rc);
    }
    if (!output.empty())
        run.first_line = output.substr(0, std::min(output.find('\n'), max_line));
    while (!run.error.empty() && run.error.back() == '\n') run.error.pop_back();
    return run;
}

}  // namespace

std::vector<std::string> privileged_argv(const std::vector<std::string>& argv) {
    if (geteuid() == 0)
        return argv;
    std::vector<std::string> out = {kPkexec};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

PrivilegedRun run_privileged(const std::vector<std::string>& argv, std::size_t max_line,
                             const std::string& input) {
    std::vector<std::string> full = privileged_argv(argv);
    if (full.empty())
        return {};
    if (access(full[0].c_str(), X_OK) != 0) {
        PrivilegedRun missing;
        missing.error = full[0] + ": " + std::strerror(errno);
        return missing;
    }
    return run_reading_both(full, max_line, input);
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

Authorization obtain_authorization(const std::string& action_id, std::string* detail) {
    if (geteuid() == 0)
        return Authorization::Granted;
    if (access(kPkcheck, X_OK) != 0) {
        if (detail)
            *detail = std::string(kPkcheck) + ": " + std::strerror(errno);
        return Authorization::Unavailable;
    }
    PrivilegedRun run = run_reading_both({kPkcheck, "--action-id", action_id, "--process",
                                          std::to_string(getpid()), "--allow-user-interaction"},
                                         4096);
    if (detail)
        *detail = !run.error.empty() ? run.error : run.first_line.value_or("");
    // pkcheck's documented exit statuses.
    switch (run.status) {
        case 0:
            return Authorization::Granted;
        case 1:
            return Authorization::Refused;
        case 2:
            return Authorization::NoAgent;
        case 3:
            return Authorization::Dismissed;
        default:
            return Authorization::Unavailable;
    }
}

bool holds_authorization(const std::string& action_id) {
    if (geteuid() == 0)
        return true;
    if (access(kPkcheck, X_OK) != 0)
        return false;
    return run_reading_both(
               {kPkcheck, "--action-id", action_id, "--process", std::to_string(getpid())}, 0)
               .status == 0;
}

}  // namespace vynd
