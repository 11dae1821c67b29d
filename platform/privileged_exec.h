// Running a program as root: through pkexec (polkit), or directly when we already are root.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace vynd {

// The argument vector that runs argv with root rights: argv itself when the
// process is root already, otherwise argv behind /usr/bin/pkexec.
[[nodiscard]] std::vector<std::string> privileged_argv(const std::vector<std::string>& argv);

// What a privileged program run to its end said.
struct PrivilegedRun {
    // The first line of its standard output (at most max_line bytes, without
    // its line feed); no value when it printed none.
    std::optional<std::string> first_line;
    // All of its standard output (up to 64 KiB).
    std::string output;
    // Its standard error, and pkexec's: why it failed, when it did.
    std::string error;
    // Its exit status (see privileged_start_refused); -1 when it could not
    // be started at all, with the reason in `error`.
    int status = -1;
};

// Runs argv with root rights, with `input` on its standard input (which
// keeps secrets off the command line), reading its standard output and
// standard error to the end, and waits for it.
[[nodiscard]] PrivilegedRun run_privileged(const std::vector<std::string>& argv,
                                           std::size_t max_line = 31,
                                           const std::string& input = {});

// Starts argv with root rights without waiting for it, as a child of this
// process in a session of its own: pkexec serves only a caller whose parent
// is still there. No value when it could not be started. The caller reaps
// the child with `reap_privileged`.
[[nodiscard]] std::optional<pid_t> start_privileged(const std::vector<std::string>& argv);

// Reaps a child of `start_privileged` without waiting for it: no value while
// it runs, then its exit status (128 plus the signal that ended it).
[[nodiscard]] std::optional<int> reap_privileged(pid_t pid);

// pkexec's own exit statuses: the administrator was not authorized or
// dismissed the dialog (126), or authentication failed or pkexec refused to
// run the program (127). The programs the pane runs never end with these.
[[nodiscard]] inline bool privileged_start_refused(int status) {
    return status == 126 || status == 127;
}

enum class Authorization {
    Granted,
    Refused,     // the password was wrong, or polkit's rules say no
    Dismissed,   // the administrator closed the password dialog
    NoAgent,     // nothing is running that could ask for a password
    Unavailable  // polkit itself could not be asked
};

// Asks polkit whether this process may run the given action, letting the
// authentication agent ask the administrator for a password (always granted
// for root). With the action's auth_admin_keep, later pkexec calls from this
// process are then not asked again for a while. `detail`, when given, gets
// polkit's own words.
[[nodiscard]] Authorization obtain_authorization(const std::string& action_id,
                                                 std::string* detail = nullptr);

// Whether this process still holds the action's kept authorization, asking
// no one: false once it has lapsed.
[[nodiscard]] bool holds_authorization(const std::string& action_id);

}  // namespace vynd
