// Child processes started from an argument vector, never through a shell.
#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

extern char** environ;

namespace vynd {

namespace {

constexpr int kPipeSize = 1 << 20;
constexpr int kEagerReads = 16;
constexpr useconds_t kBatchWaitMicroseconds = 10000;

std::atomic<bool> stopping{false};
std::atomic<int> stop_signal{SIGTERM};
std::atomic<pid_t> running_child{0};

// Once the process is being stopped, its threads go no further.
void hold_if_stopping() {
    while (stopping) pause();
}

void started(pid_t pid) {
    running_child = pid;
    if (stopping)
        kill(pid, stop_signal);
}

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    out.reserve(argv.size() + 1);
    for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

// This process's environment with the added variables ("NAME=value"), which
// replace any of the same name.
std::vector<char*> child_environment(const std::vector<std::string>& extra_env) {
    std::vector<char*> env;
    for (const auto& e : extra_env) env.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e; ++e) {
        std::string_view var = *e;
        bool replaced = false;
        for (const auto& x : extra_env)
            replaced |= var.substr(0, var.find('=') + 1) == x.substr(0, x.find('=') + 1);
        if (!replaced)
            env.push_back(*e);
    }
    env.push_back(nullptr);
    return env;
}

// A child gets standard input, output and error and nothing else of ours
// (the log, the locks, a credentials file), whatever was opened without
// close-on-exec by a library; a descriptor lent to it becomes its
// kLentDescriptor.
void keep_only_standard_descriptors(posix_spawn_file_actions_t* actions, int lent = -1) {
    int first_closed = STDERR_FILENO + 1;
    if (lent >= 0) {
        posix_spawn_file_actions_adddup2(actions, lent, kLentDescriptor);
        first_closed = kLentDescriptor + 1;
    }
    posix_spawn_file_actions_addclosefrom_np(actions, first_closed);
}

int wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            running_child = 0;
            return -1;
        }
    }
    running_child = 0;
    hold_if_stopping();
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

int run_process(const std::vector<std::string>& argv) {
    if (argv.empty())
        return -1;
    auto args = c_argv(argv);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    keep_only_standard_descriptors(&actions);
    pid_t pid = 0;
    hold_if_stopping();
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    started(pid);
    return wait_for(pid);
}

int run_process_lines(const std::vector<std::string>& argv,
                      const std::function<void(std::string_view)>& on_line, bool merge_stderr,
                      const std::function<void()>& on_batch,
                      const std::vector<std::string>& extra_env, int lent_descriptor) {
    if (argv.empty())
        return -1;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (merge_stderr)
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    keep_only_standard_descriptors(&actions, lent_descriptor);
    auto args = c_argv(argv);
    auto env = child_environment(extra_env);
    pid_t pid = 0;
    hold_if_stopping();
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return -1;
    }
    started(pid);
    // Room for the lines written while the reader waits between batches.
    (void)fcntl(fds[0], F_SETPIPE_SZ, kPipeSize);
    std::string pending;
    std::vector<char> buf(kPipeSize);
    int short_reads = 0;
    for (;;) {
        ssize_t n = read(fds[0], buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buf.data(), static_cast<size_t>(n));
        size_t start = 0;
        for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
            on_line(std::string_view(pending).substr(start, nl - start));
        pending.erase(0, start);
        if (on_batch)
            on_batch();
        // Short reads, one after another, mean a child that writes a line
        // at a time: let its lines gather instead of waking for each. A child
        // that says little is read at once.
        if (static_cast<size_t>(n) < buf.size() / 2 && ++short_reads > kEagerReads)
            usleep(kBatchWaitMicroseconds);
    }
    if (!pending.empty())
        on_line(pending);
    close(fds[0]);
    return wait_for(pid);
}

int run_process_with_input(const std::vector<std::string>& argv, const std::string& input,
                           const std::vector<std::string>& extra_env) {
    if (argv.empty()) return -1;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    keep_only_standard_descriptors(&actions);
    auto args = c_argv(argv);
    auto env = child_environment(extra_env);
    pid_t pid = 0;
    hold_if_stopping();
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (rc != 0) {
        close(fds[1]);
        return -1;
    }
    started(pid);
    // A child that stops reading must not end the daemon through SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    size_t done = 0;
    while (done < input.size()) {
        ssize_t n = write(fds[1], input.data() + done, input.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fds[1]);
    return wait_for(pid);
}

void stop_children(int signal) {
    stop_signal = signal;
    stopping = true;
    if (pid_t pid = running_child)
        kill(pid, signal);
}

std::string join_command_line(const std::vector<std::string>& argv) {
    std::string out;
    for (const auto& a : argv) {
        if (!out.empty())
            out += ' ';
        out += a;
    }
    return out;
}

}  // namespace vynd
