// A private root in which end-to-end tests run the real installed programs.
#pragma once

#include <plist/plist.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vynd::test {

// Inside the sandbox the fixed system paths (/Applications, /Users, /Library,
// /Volumes, /var, /run, /tmp, /home, /root) are folders of a temporary root
// on the host, /usr is overlaid with recording stand-ins, and the programs
// built by this project are installed where the system installs them.
class Sandbox {
  public:
    // Where the programs are installed inside the sandbox.
    static constexpr const char* kSupportDir = "/Library/Application Support/Quenderlyn";
    static std::string program(const std::string& name) {
        return std::string(kSupportDir) + "/" + name;
    }

    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // The host path of a path inside the sandbox.
    [[nodiscard]] std::string path(const std::string& inside) const;

    void writeFile(const std::string& inside, const std::string& content, mode_t mode = 0644);
    [[nodiscard]] std::string readFile(const std::string& inside) const;
    [[nodiscard]] bool exists(const std::string& inside) const;
    void mkdirs(const std::string& inside);

    // Writes the global (or the managed) preference file as XML.
    void writePrefs(plist_t dict, bool managed = false);

    // Replaces a program under /usr (or /bin, /sbin) with a stand-in that
    // records its argument vector and then runs `body` as shell text.
    void addStub(const std::string& program, const std::string& body = "exit 0");
    // Every recorded call, in order: argv[0] as invoked, then the arguments.
    [[nodiscard]] std::vector<std::vector<std::string>> calls() const;
    // The same calls joined with blanks, for readable assertions.
    [[nodiscard]] std::vector<std::string> callLines() const;

    // Writes the login records: one logged-in user per (name, terminal).
    void setLoggedInUsers(const std::vector<std::pair<std::string, std::string>>& users);

    // Makes a host path visible inside the sandbox.
    void bind(const std::string& host, const std::string& inside, bool readonly = true);
    // Overrides one file of /etc (passwd, group, ...) inside the sandbox.
    void setEtcFile(const std::string& name, const std::string& content);

    struct Result {
        int status = -1;
        std::string out;
        std::string err;
    };
    struct Options {
        std::optional<uid_t> uid;  // run as this user instead of root
    };
    // A program started in the sandbox and not yet waited for.
    struct Running {
        pid_t pid = -1;
        std::string out_file;
        std::string err_file;
    };

    [[nodiscard]] Running start(const std::vector<std::string>& argv, const Options& options);
    [[nodiscard]] Running start(const std::vector<std::string>& argv) {
        return start(argv, Options{});
    }
    // Runs as the real, unprivileged account `user` (no user namespace, no
    // capabilities; with --uid the host still sees root): the local attacker
    // of the security tests.
    [[nodiscard]] Running start_as_user(const std::vector<std::string>& argv, uid_t user);
    [[nodiscard]] Result run_as_user(const std::vector<std::string>& argv, uid_t user) {
        return wait(start_as_user(argv, user));
    }
    [[nodiscard]] Result wait(const Running& running);
    [[nodiscard]] Result run(const std::vector<std::string>& argv, const Options& options);
    [[nodiscard]] Result run(const std::vector<std::string>& argv) { return run(argv, Options{}); }
    // Runs the daemon with these arguments.
    [[nodiscard]] Result vynd(const std::vector<std::string>& args);

    // Mounts a tmpfs of `bytes` at the sandbox path, for disk-full cases. The
    // mount lives in a mount namespace of this test process alone (made on
    // first use), so the host never sees it; it goes with the sandbox.
    void mountTmpfs(const std::string& inside, size_t bytes);
    // Gives a tmpfs mounted with mountTmpfs a new size.
    void resizeTmpfs(const std::string& inside, size_t bytes);

    // The host process ID of the program named `comm` started, directly or
    // not, by `running`; no value when there is none.
    [[nodiscard]] std::optional<pid_t> findProcess(const Running& running,
                                                   const std::string& comm) const;

    // The daemon's log file, split into lines.
    [[nodiscard]] std::vector<std::string> logLines() const;
    // The messages of its lines, without their times.
    [[nodiscard]] std::vector<std::string> logMessages() const;
    // Whether one of its lines has exactly this message.
    [[nodiscard]] bool logged(const std::string& message) const;
    // The last of its messages that holds the text; "" when none does.
    [[nodiscard]] std::string lastLoggedWith(const std::string& text) const;

    // Host path of the root, for diagnostics.
    [[nodiscard]] const std::string& root() const { return root_; }

  private:
    void populate();
    [[nodiscard]] Running spawn(const std::vector<std::string>& argv,
                                const std::vector<std::string>& identity);

    std::string root_;
    int runs_ = 0;
    std::vector<std::string> tmpfs_;
};

// Splits text into lines (without line feeds; no empty last line).
[[nodiscard]] std::vector<std::string> split_lines(const std::string& text);

// The message part of a log line, after its "YYYY/MM/DD HH:MM:SS " time.
[[nodiscard]] std::string log_message(const std::string& line);

}  // namespace vynd::test
