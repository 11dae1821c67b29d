// The daemon's log: the log file, the system log echo and notifications.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <cstdio>

namespace vynd {

// The open log file; null until vynd_init opens it.
extern FILE* log_file;

// What a logged line does beyond the log, as the run above the log decides.
// A hook not set does nothing.
struct LogHooks {
    // An "Error" or "Fatal" line, before it is written.
    std::function<void(const char* message)> error;
    // Every line, after it is written: posted as a notification named for its level.
    std::function<void(const std::string& message, const std::string& level)> notify;
    // A "Fatal" line, last before the process ends.
    std::function<void()> fatal;
};
// Replaces the hooks; set once, before any second thread logs.
void set_log_hooks(LogHooks hooks);

// Writes one line "<local time> <message>" to the log file (when open),
// echoes the message to the system log and posts it as a notification whose
// name is the level. The level "Fatal" ends the process with status 255.
void vynd_log(const char* level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Copies a line verbatim into the log file (rsync and installer output),
// flushed at once unless `flush` is false (then vynd_log_flush follows a
// batch of lines). Nothing happens while the log file is closed.
void vynd_log_raw(std::string_view line, bool flush = true);
void vynd_log_flush();

// Opens /var/log/vynd.log for appending; false when it cannot be opened.
[[nodiscard]] bool open_log_file();
void close_log_file();

}  // namespace vynd
