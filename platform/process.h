// Child processes started from an argument vector, never through a shell.
#pragma once

#include <signal.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vynd {

// Runs argv[0] (an absolute path) with the arguments and waits for it.
// Returns its exit status, 128 + the signal when a signal ended it, or -1
// when it could not be started.
[[nodiscard]] int run_process(const std::vector<std::string>& argv);

// As run_process, calling on_line with each line the child writes to its
// standard output (without the line feed; a last line without one is passed
// too). Lines of any length are passed whole. With merge_stderr the child's
// standard error goes into the same pipe. Output is taken in batches (a
// child that writes many short lines wakes the caller only every few
// milliseconds); on_batch, when given, is called after each batch's lines.
// `extra_env` ("NAME=value") is added to the child's environment. Of this
// process's descriptors the child keeps only `lent_descriptor`, when given,
// which it has as kLentDescriptor.
inline constexpr int kLentDescriptor = 3;
[[nodiscard]] int run_process_lines(const std::vector<std::string>& argv,
                                    const std::function<void(std::string_view)>& on_line,
                                    bool merge_stderr = false,
                                    const std::function<void()>& on_batch = {},
                                    const std::vector<std::string>& extra_env = {},
                                    int lent_descriptor = -1);

// As run_process, with `input` written to the child's standard input (which
// is then closed). Keeps secrets off the command line and out of the
// environment. `extra_env` ("NAME=value") is added to the child's environment.
[[nodiscard]] int run_process_with_input(const std::vector<std::string>& argv,
                                         const std::string& input,
                                         const std::vector<std::string>& extra_env = {});

// For what must still run while this process is being stopped, when
// stop_children holds every other child back: runs argv[0] with nothing of
// ours (its standard descriptors are /dev/null) and waits for it, killing it
// once `limit` has passed, so that the stop never waits on it for ever.
// Returns as run_process does.
[[nodiscard]] int run_process_while_stopping(const std::vector<std::string>& argv,
                                             std::chrono::milliseconds limit);

// For a process that is being stopped: the running child gets the signal,
// and from now on no child is started and a thread whose child has ended
// waits for the process to end instead of going on. Safe from any thread.
void stop_children(int signal);

// While one lives, SIGPIPE is held back for the calling thread, and one that
// a write to a pipe whose reader has gone raised then is taken when it ends:
// a child that stops reading ends neither this process nor the caller's
// handling of SIGPIPE elsewhere (the pane lives in another program).
class HeldPipeSignal {
  public:
    HeldPipeSignal();
    ~HeldPipeSignal();
    HeldPipeSignal(const HeldPipeSignal&) = delete;
    HeldPipeSignal& operator=(const HeldPipeSignal&) = delete;

  private:
    sigset_t old_mask_;
    bool was_pending_ = false;
};

// Joins an argument vector into one readable line, for logs and messages.
[[nodiscard]] std::string join_command_line(const std::vector<std::string>& argv);

}  // namespace vynd
