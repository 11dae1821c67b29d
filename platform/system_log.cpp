// The system log: syslog (facility daemon) with the same text on standard error.
#include "platform/system_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace vynd {

namespace {

bool echo_on_stderr = true;

// Started by systemd (or below a program that was), standard error is a
// stream into the journal, where syslog lands as well: echoing there would
// put every line into the journal twice.
bool stderr_is_journal() {
    sockaddr_un peer{};
    socklen_t size = sizeof peer;
    if (getpeername(STDERR_FILENO, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
        peer.sun_family != AF_UNIX)
        return false;
    static const char kJournalStream[] = "/run/systemd/journal/stdout";
    return size >= offsetof(sockaddr_un, sun_path) + sizeof kJournalStream - 1 &&
           std::strncmp(peer.sun_path, kJournalStream, sizeof kJournalStream) == 0;
}

}  // namespace

void system_log_open(const char* ident) {
    openlog(ident, LOG_PID, LOG_DAEMON);
    echo_on_stderr = !stderr_is_journal();
}

void system_log(std::string_view message) {
    std::string text(message);
    syslog(LOG_NOTICE, "%s", text.c_str());
    if (echo_on_stderr) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
}

}  // namespace vynd
