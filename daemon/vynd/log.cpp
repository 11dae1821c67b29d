// The daemon's log: the log file, the system log echo and notifications.
#include "daemon/vynd/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/system_log.h"
#include "platform/unique_fd.h"
#include "platform/utf8.h"

namespace vynd {

FILE* log_file = nullptr;

namespace {

// Never destroyed: a thread may still log while exit() tears down the rest.
LogHooks& hooks = *new LogHooks;

constexpr size_t kMessageSize = 1024;
constexpr const char* kLogPath = "/var/log/vynd.log";

// Cuts a formatted message that filled the buffer back to the last whole
// UTF-8 character, so a shortened line never ends in half a character.
void trim_partial_character(char* msg, size_t len) {
    msg[utf8_whole_length({msg, len})] = '\0';
}

}  // namespace

void vynd_log(const char* level, const char* format, ...) {
    char msg[kMessageSize];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(msg, sizeof msg, format, ap);
    va_end(ap);
    if (n < 0)
        msg[0] = '\0';
    if (n >= static_cast<int>(sizeof msg))
        trim_partial_character(msg, sizeof msg - 1);

    char stamp[30];
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(stamp, sizeof stamp, "%Y/%m/%d %T", &local);

    bool fatal = strcmp(level, "Fatal") == 0;
    if ((fatal || strcmp(level, "Error") == 0) && hooks.error)
        hooks.error(msg);
    if (log_file) {
        fprintf(log_file, "%s %s\n", stamp, msg);
        fflush(log_file);
    }
    system_log(msg);
    if (hooks.notify)
        hooks.notify(msg, level);
    if (fatal) {
        if (hooks.fatal)
            hooks.fatal();
        // From a second thread, exit() would tear down what the first
        // still uses; end at once instead.
        if (gettid() != getpid()) {
            fflush(nullptr);
            _exit(255);
        }
        exit(-1);
    }
}

void set_log_hooks(LogHooks new_hooks) {
    hooks = std::move(new_hooks);
}

void vynd_log_raw(std::string_view line, bool flush) {
    if (!log_file)
        return;
    fwrite(line.data(), 1, line.size(), log_file);
    fputc('\n', log_file);
    if (flush)
        fflush(log_file);
}

void vynd_log_flush() {
    if (log_file)
        fflush(log_file);
}

bool open_log_file() {
    UniqueFd fd(open(kLogPath, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!fd)
        return false;
    // Made by an earlier run under a permissive umask, the log may be open
    // to everyone's writing: then anyone could forge its lines.
    struct stat st;
    if (fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        (st.st_mode & 022) != 0)
        fchmod(fd.get(), st.st_mode & 07755);
    log_file = fdopen(fd.get(), "a+");
    if (!log_file)
        return false;
    (void)fd.release();  // the stream closes it
    return true;
}

void close_log_file() {
    if (log_file)
        fclose(log_file);
    log_file = nullptr;
}

}  // namespace vynd
