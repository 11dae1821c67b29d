// vyndctl: the privileged control tool the pane runs for what needs root.
#include "daemon/vyndctl/ctl.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "daemon/vyndctl/ctl_log.h"
#include "daemon/vyndctl/global_prefs.h"
#include "daemon/vyndctl/random_delay.h"
#include "daemon/vyndctl/reply.h"
#include "daemon/vyndctl/reschedule.h"
#include "platform/job_control.h"

namespace vynd {

namespace {

void print_usage() {
    std::fputs(
        "usage: vyndctl [01?rt]\n"
        "wrapper for launchctl called by prefs pane with elevated privileges to set\n"
        "real user id to root since launchctl uses it and not the effective user id\n"
        "to determine which launch daemons to control.\n"
        "\t0 : stop vynd\n"
        "\t1 : start vynd\n"
        "\t? : status - 1(stopped), 0(running)\n"
        "\tt : change StartInterval in seconds or StartCalendarInterval HH:MM\n"
        "\tp <pref plist> : set global preferences\n",
        stdout);
}

// The user on whose behalf the tool runs: pkexec names them in PKEXEC_UID;
// started any other way it is the real user. No value for a PKEXEC_UID that
// is not a user id.
std::optional<uid_t> requesting_user() {
    const char* text = std::getenv("PKEXEC_UID");
    if (!text)
        return getuid();
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' ||
        value >= static_cast<unsigned long>(static_cast<uid_t>(-1)))
        return std::nullopt;
    return static_cast<uid_t>(value);
}

// The reply stays 255 whatever happens; a failure's reason goes to the log
// and to standard error, where the pane reads it as a failed save.
int set_global_preferences(int argc, char** argv, std::optional<uid_t> requester) {
    if (argc < 3)
        return 255;
    std::string err;
    if (!requester)
        err = "PKEXEC_UID names no user; the settings are left as they are";
    else if (replace_global_preferences(argv[2], *requester, &err))
        return 255;
    ctl_log(err);
    std::fprintf(stderr, "vyndctl: %s\n", err.c_str());
    return 255;
}

}  // namespace

int vyndctl_main(int argc, char** argv) {
    if (argc <= 1) {
        print_usage();
        return 0;
    }
    if (geteuid() != 0) {
        std::fputs("Need to be running as root!\n", stdout);
        return 0;
    }
    // pkexec passes on the caller's umask; what the tool makes is not theirs to open.
    umask(022);
    const std::optional<uid_t> requester = requesting_user();
    // The pane's privileged start may make only the effective user root.
    [[maybe_unused]] int ignored = setuid(0);
    openlog("vyndctl", LOG_PID, LOG_DAEMON);

    int reply = 0;
    switch (argv[1][0]) {
        case '0':
            reply = reply_value(job_unload());
            break;
        case '1':
            reply = reply_value(job_load(kJobFile, random_delay_setting()));
            break;
        case '?':
            reply = reply_value(job_list());
            break;
        case 't':
            if (argc < 3) {
                print_usage();
                return 0;
            }
            reply = reschedule(argv[2], kJobFile, random_delay_setting());
            break;
        case 'p':
            reply = set_global_preferences(argc, argv, requester);
            break;
        default:
            print_usage();
            return 0;
    }
    std::printf("%d\n", reply);
    return 0;
}

}  // namespace vynd
