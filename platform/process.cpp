// Child processes started from an argument vector, never through a shell.
#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <initializer_list>

#include "platform/unique_fd.h"

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

// Starts argv[0] with our descriptor `from` of each redirect as the child's
// `to`, and nothing else of ours but the lent descriptor. The child's pid,
// or -1 when it could not be started.
struct Redirect {
    int from;
    int to;
};
pid_t spawn_child(const std::vector<std::string>& argv, std::initializer_list<Redirect> redirects,
                  const std::vector<std::string>& extra_env = {}, int lent = -1) {
    if (argv.empty())
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const Redirect& r : redirects) posix_spawn_file_actions_adddup2(&actions, r.from, r.to);
    keep_only_standard_descriptors(&actions, lent);
    auto args = c_argv(argv);
    auto env = child_environment(extra_env);
    pid_t pid = 0;
    hold_if_stopping();
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    started(pid);
    return pid;
}

// Started past the stop gate and never taken for the running child, so
// neither held back nor sent the stop signal; its standard descriptors are
// /dev/null.
pid_t spawn_detached_child(const std::vector<std::string>& argv) {
    if (argv.empty())
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                         fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    keep_only_standard_descriptors(&actions);
    auto args = c_argv(argv);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

sigset_t pipe_signal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

// Writes all of `data` to a pipe whose reader may have gone.
void write_all_to_pipe(int fd, std::string_view data) {
    HeldPipeSignal held;
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
}

int exit_status(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
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
    return exit_status(status);
}

}  // namespace

int run_process(const std::vector<std::string>& argv) {
    pid_t pid = spawn_child(argv, {});
    return pid < 0 ? -1 : wait_for(pid);
}

int run_process_lines(const std::vector<std::string>& argv,
                      const std::function<void(std::string_view)>& on_line, bool merge_stderr,
                      const std::function<void()>& on_batch,
                      const std::vector<std::string>& extra_env, int lent_descriptor) {
    UniqueFd reader, writer;
    if (argv.empty() || !make_pipe(&reader, &writer))
        return -1;
    const int to = writer.get();
    pid_t pid = merge_stderr ? spawn_child(argv, {{to, STDOUT_FILENO}, {to, STDERR_FILENO}},
                                           extra_env, lent_descriptor)
                             : spawn_child(argv, {{to, STDOUT_FILENO}}, extra_env, lent_descriptor);
    // Only the child's copy may be left, or the output would never end.
    writer.reset();
    if (pid < 0)
        return -1;
    // Room for the lines written while the reader waits between batches.
    (void)fcntl(reader.get(), F_SETPIPE_SZ, kPipeSize);
    std::string pending;
    std::vector<char> buf(kPipeSize);
    int short_reads = 0;
    for (;;) {
        ssize_t n = read(reader.get(), buf.data(), buf.size());
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
        // After the first kEagerReads short reads (they are counted over the
        // whole run, never reset) the child is taken for one that writes a
        // line at a time, and its lines are let gather instead of waking for
        // each. A child that says little is read at once.
        if (static_cast<size_t>(n) < buf.size() / 2 && ++short_reads > kEagerReads)
            usleep(kBatchWaitMicroseconds);
    }
    if (!pending.empty())
        on_line(pending);
    reader.reset();
    return wait_for(pid);
}

int run_process_with_input(const std::vector<std::string>& argv, const std::string& input,
                           const std::vector<std::string>& extra_env) {
    UniqueFd reader, writer;
    if (argv.empty() || !make_pipe(&reader, &writer))
        return -1;
    pid_t pid = spawn_child(argv, {{reader.get(), STDIN_FILENO}}, extra_env);
    reader.reset();
    if (pid < 0)
        return -1;
    write_all_to_pipe(writer.get(), input);
    writer.reset();  // the end of the input, which the child may wait for
    return wait_for(pid);
}

int run_process_while_stopping(const std::vector<std::string>& argv,
                               std::chrono::milliseconds limit) {
    pid_t pid = spawn_detached_child(argv);
    if (pid < 0)
        return -1;
    constexpr std::chrono::milliseconds kTick{10};
    const timespec tick{0, std::chrono::duration_cast<std::chrono::nanoseconds>(kTick).count()};
    int status = 0;
    for (auto waited = std::chrono::milliseconds::zero(); waited < limit; waited += kTick) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return exit_status(status);
        if (done < 0 && errno != EINTR)
            return -1;
        nanosleep(&tick, nullptr);
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return exit_status(status);
}

void stop_children(int signal) {
    stop_signal = signal;
    stopping = true;
    if (pid_t pid = running_child)
        kill(pid, signal);
}

HeldPipeSignal::HeldPipeSignal() {
    const sigset_t set = pipe_signal();
    pthread_sigmask(SIG_BLOCK, &set, &old_mask_);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
}

HeldPipeSignal::~HeldPipeSignal() {
    const sigset_t set = pipe_signal();
    if (!was_pending_) {
        sigset_t pending;
        sigpending(&pending);
        static const struct timespec kNoWait {};
        while (sigismember(&pending, SIGPIPE) == 1 && sigtimedwait(&set, nullptr, &kNoWait) < 0 &&
               errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
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
