// A private root in which end-to-end tests run the real installed programs.
#include "tests/support/sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmpx.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "platform/property_list.h"
#include "tests/support/files.h"

extern char** environ;

namespace fs = std::filesystem;

namespace vynd::test {

namespace {

const char kCallsFile[] = "/run/.sandbox-calls";

// Programs under /bin and /sbin live in /usr on this system.
std::string usr_relative(const std::string& program) {
    for (const char* prefix : {"/usr/", "/bin/", "/sbin/"}) {
        if (program.rfind(prefix, 0) == 0)
            return (std::string(prefix) == "/usr/" ? "" : std::string(prefix + 1)) +
                   program.substr(std::strlen(prefix));
    }
    throw std::invalid_argument("stand-ins go under /usr, /bin or /sbin: " + program);
}

}  // namespace

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string log_message(const std::string& line) {
    return line.size() > 20 ? line.substr(20) : "";
}

Sandbox::Sandbox() {
    char tmpl[] = "/tmp/vynd-sandbox-XXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error("cannot create the sandbox root");
    root_ = tmpl;
    try {
        populate();
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        throw;
    }
}

void Sandbox::populate() {
    for (const char* dir :
         {".usr", ".usr-upper", ".usr-work", ".etc", "tmp", "var/db", "var/log", "var/tmp",
          "run/lock", "Applications", "Users", "Library/Preferences", "Volumes", "home", "root"})
        fs::create_directories(root_ + "/" + dir);
    fs::permissions(root_ + "/tmp", fs::perms::all | fs::perms::sticky_bit);
    fs::create_directory_symlink("/run", root_ + "/var/run");
    write_file(path(kCallsFile), "");
    // Nothing in a test may restart this machine.
    addStub("/usr/sbin/reboot");
    addStub("/usr/bin/systemctl");
#ifdef VYND_INSTALLED_PROGRAMS
    std::istringstream programs(VYND_INSTALLED_PROGRAMS);
    for (std::string host; std::getline(programs, host, '|');) {
        if (host.empty())
            continue;
        std::string inside = program(fs::path(host).filename().string());
        fs::create_directories(fs::path(path(inside)).parent_path());
        fs::copy_file(host, path(inside), fs::copy_options::overwrite_existing);
    }
#endif
}

Sandbox::~Sandbox() {
    for (const auto& mount_point : tmpfs_) umount2(mount_point.c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string Sandbox::path(const std::string& inside) const {
    if (inside.empty() || inside[0] != '/')
        throw std::invalid_argument("not absolute: " + inside);
    // /var/run is a link to /run inside; resolve it so the host path is real.
    if (inside.rfind("/var/run/", 0) == 0)
        return root_ + "/run/" + inside.substr(9);
    return root_ + inside;
}

void Sandbox::writeFile(const std::string& inside, const std::string& content, mode_t mode) {
    write_file(path(inside), content);
    chmod(path(inside).c_str(), mode);
}

std::string Sandbox::readFile(const std::string& inside) const {
    return read_file(path(inside));
}

bool Sandbox::exists(const std::string& inside) const {
    struct stat st;
    return lstat(path(inside).c_str(), &st) == 0;
}

void Sandbox::mkdirs(const std::string& inside) {
    fs::create_directories(path(inside));
}

void Sandbox::writePrefs(plist_t dict, bool managed) {
    writeFile(managed ? "/Library/Managed Preferences/com.quenderlyn.vynd.plist"
                      : "/Library/Preferences/com.quenderlyn.vynd.plist",
              property_list_xml(dict));
}

void Sandbox::addStub(const std::string& program, const std::string& body) {
    std::string script =
        "#!/bin/sh\n"
        "{ printf '%s' \"$0\"; for a in \"$@\"; do printf '\\037%s' \"$a\"; done; "
        "printf '\\036'; } >>" +
        std::string(kCallsFile) + "\n" + body + "\n";
    std::string host = root_ + "/.usr-upper/" + usr_relative(program);
    std::error_code ignored;
    fs::remove(host, ignored);
    write_file(host, script);
    chmod(host.c_str(), 0755);
}

std::vector<std::vector<std::string>> Sandbox::calls() const {
    std::vector<std::vector<std::string>> out;
    std::string all = readFile(kCallsFile);
    size_t start = 0;
    for (size_t end; (end = all.find('\036', start)) != std::string::npos; start = end + 1) {
        std::vector<std::string> argv;
        std::string record = all.substr(start, end - start);
        size_t a = 0;
        for (size_t b; (b = record.find('\037', a)) != std::string::npos; a = b + 1)
            argv.push_back(record.substr(a, b - a));
        argv.push_back(record.substr(a));
        out.push_back(argv);
    }
    return out;
}

std::vector<std::string> Sandbox::callLines() const {
    std::vector<std::string> out;
    for (const auto& argv : calls()) {
        std::string line;
        for (const auto& a : argv) line += (line.empty() ? "" : " ") + a;
        out.push_back(line);
    }
    return out;
}

void Sandbox::setLoggedInUsers(const std::vector<std::pair<std::string, std::string>>& users) {
    std::string records;
    int pid = 1000;
    for (const auto& [name, line] : users) {
        struct utmpx u;
        std::memset(&u, 0, sizeof u);
        u.ut_type = USER_PROCESS;
        u.ut_pid = pid++;
        std::strncpy(u.ut_user, name.c_str(), sizeof u.ut_user);
        std::strncpy(u.ut_line, line.c_str(), sizeof u.ut_line);
        std::strncpy(u.ut_id, line.c_str() + (line.size() > 4 ? line.size() - 4 : 0),
                     sizeof u.ut_id);
        records.append(reinterpret_cast<const char*>(&u), sizeof u);
    }
    writeFile("/run/utmp", records);
}

void Sandbox::bind(const std::string& host, const std::string& inside, bool readonly) {
    std::ofstream out(root_ + "/.binds", std::ios::app);
    out << (readonly ? "ro" : "rw") << '\t' << host << '\t' << inside << '\n';
}

void Sandbox::setEtcFile(const std::string& name, const std::string& content) {
    write_file(root_ + "/.etc/" + name, content);
}

Sandbox::Running Sandbox::start(const std::vector<std::string>& argv, const Options& options) {
    if (options.uid)
        return spawn(argv, {"--uid", std::to_string(*options.uid)});
    return spawn(argv, {});
}

Sandbox::Running Sandbox::start_as_user(const std::vector<std::string>& argv, uid_t user) {
    return spawn(argv, {"--user", std::to_string(user)});
}

Sandbox::Running Sandbox::spawn(const std::vector<std::string>& argv,
                                const std::vector<std::string>& identity) {
    Running r;
    int n = runs_++;
    r.out_file = root_ + "/.out-" + std::to_string(n);
    r.err_file = root_ + "/.err-" + std::to_string(n);
    std::vector<std::string> full = {VYND_SANDBOX_RUN, root_};
    full.insert(full.end(), identity.begin(), identity.end());
    full.push_back("--");
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (auto& a : full) args.push_back(a.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, r.out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, r.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (posix_spawn(&r.pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        r.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return r;
}

Sandbox::Result Sandbox::wait(const Running& running) {
    Result result;
    if (running.pid < 0)
        return result;
    int status = 0;
    while (waitpid(running.pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_file(running.out_file);
    result.err = read_file(running.err_file);
    return result;
}

Sandbox::Result Sandbox::run(const std::vector<std::string>& argv, const Options& options) {
    return wait(start(argv, options));
}

Sandbox::Result Sandbox::vynd(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {program("vynd")};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

void Sandbox::mountTmpfs(const std::string& inside, size_t bytes) {
    static bool own_namespace = false;
    if (!own_namespace) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
            throw std::runtime_error("cannot make a private mount namespace");
        own_namespace = true;
    }
    mkdirs(inside);
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (mount("tmpfs", path(inside).c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        throw std::runtime_error("cannot mount a tmpfs at " + inside);
    tmpfs_.push_back(path(inside));
}

void Sandbox::resizeTmpfs(const std::string& inside, size_t bytes) {
    std::string options = "size=" + std::to_string(bytes);
    if (mount("tmpfs", path(inside).c_str(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV,
              options.c_str()) != 0)
        throw std::runtime_error("cannot resize the tmpfs at " + inside);
}

std::optional<pid_t> Sandbox::findProcess(const Running& running, const std::string& comm) const {
    // Parent of each process, from /proc/<pid>/stat ("pid (comm) state ppid").
    std::vector<std::pair<pid_t, pid_t>> parents;
    std::vector<std::pair<pid_t, std::string>> names;
    DIR* proc = opendir("/proc");
    if (!proc)
        return std::nullopt;
    while (struct dirent* e = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(atoi(e->d_name));
        if (pid <= 0)
            continue;
        std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        size_t open = stat.find('(');
        if (close == std::string::npos || open == std::string::npos)
            continue;
        parents.emplace_back(pid, static_cast<pid_t>(atoi(stat.c_str() + close + 4)));
        names.emplace_back(pid, stat.substr(open + 1, close - open - 1));
    }
    closedir(proc);
    auto descends = [&](pid_t pid) {
        for (int depth = 0; depth < 64 && pid > 1; ++depth) {
            if (pid == running.pid)
                return true;
            auto it = std::find_if(parents.begin(), parents.end(),
                                   [&](const auto& p) { return p.first == pid; });
            if (it == parents.end())
                return false;
            pid = it->second;
        }
        return false;
    };
    for (const auto& [pid, name] : names) {
        if (name == comm && pid != running.pid && descends(pid))
            return pid;
    }
    return std::nullopt;
}

std::vector<std::string> Sandbox::logLines() const {
    return split_lines(readFile("/var/log/vynd.log"));
}

std::vector<std::string> Sandbox::logMessages() const {
    std::vector<std::string> out;
    for (const auto& line : logLines()) out.push_back(log_message(line));
    return out;
}

std::string Sandbox::lastLoggedWith(const std::string& text) const {
    auto messages = logMessages();
    auto found = std::find_if(messages.rbegin(), messages.rend(), [&](const std::string& m) {
        return m.find(text) != std::string::npos;
    });
    return found == messages.rend() ? "" : *found;
}

bool Sandbox::logged(const std::string& message) const {
    auto messages = logMessages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

}  // namespace vynd::test
