// A process stopped by SIGTERM, SIGINT or SIGHUP.
#include "platform/process_stop.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/leftover_files.h"
#include "platform/process.h"

namespace vynd {

namespace {

// Raw, not owned: the signal handler writes to it, and it lives as long as
// the process.
int wake_fds[2] = {-1, -1};
StopEnd stop_end = nullptr;

// Only wakes the stopper: the work is not safe inside a signal handler.
void on_stop_signal(int signal) {
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(signal);
    (void)!write(wake_fds[1], &byte, 1);
    errno = saved;
}

void stopper() {
    unsigned char byte = 0;
    while (read(wake_fds[0], &byte, 1) != 1) {
        if (errno != EINTR)
            return;
    }
    int signal = byte;
    stop_children(signal);
    remove_leftover_files();
    stop_end(signal);
    _exit(128 + signal);
}

}  // namespace

void end_on_stop_signals(StopEnd end) {
    if (wake_fds[0] >= 0 || pipe2(wake_fds, O_CLOEXEC) != 0)
        return;
    stop_end = end;
    try {
        std::thread(stopper).detach();
    } catch (const std::system_error&) {
        return;  // the signals keep their default: the process simply ends
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop_signal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
}

}  // namespace vynd
