// Fleet benchmark: N computers (sandboxes) run vynd at the same moment
// against one share served on the loopback address by sshd (sshfs, SFTP),
// by an rsync daemon, and by sshd for rsync over ssh.
//
//   bench_fleet [files] [N...]
//
// Defaults: 10,000 files, N = 1, 4, 16. For each transport one computer
// makes a real first copy (not timed) and the others are given a copy of
// its trees and manifests, exactly as that run left them; then N computers
// run a no-change run together. Printed per transport and N: the wall time
// until every computer is done, the median computer's time, and the
// server's CPU seconds per computer (the server's own accounting: its time
// and that of the per-client processes it reaped), each beside the same
// figure for one computer, and the computers' own CPU seconds per computer.
// Then, for the rsync daemon, one computer's no-change run beside bare
// rsync doing the same transfers: the daemon's own commands, run by hand.
//
// The share and the computers' trees live on /dev/shm (16 copies of 100,000
// files are 1.6 million files), in a folder removed at the end; one left by
// a benchmark that was killed is removed by the next. Times are taken inside
// the sandboxes, without their own start; the computers' CPU leaves out
// sshfs, which leaves vynd's process tree. At 100,000 files the whole run
// takes some 25 minutes on two cores and 8 GB of /dev/shm.
//
// Results (Debian 12, 2 cores shared; server CPU s per computer at N = 16;
// one computer's no-change run beside bare rsync doing the same transfers):
//   files    SFTP  rsync daemon    rsync over ssh   vynd/bare rsync (wall, CPU)
//   10,000   0.57  0.10 (18%)      0.21 (36%)       1.01x, 1.11x
//   100,000  6.16  0.96 (16%)      1.04 (17%)       1.08-1.17x, 0.99-1.08x
// Most of a short run through an rsync daemon was once waiting: 40 ms a
// message for delayed acknowledgements, on each of the run's five
// connections, until both sides set TCP_NODELAY.
#include <plist/plist.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"
#include "tests/support/share_servers.h"

using vynd::test::RsyncDaemon;
using vynd::test::run_program;
using vynd::test::Sandbox;
using vynd::test::ShareServer;
using vynd::test::SshServer;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kPassword[] = "fleet-bench";
const char kShm[] = "/dev/shm";
const char kPrefix[] = "vynd-fleet-";

__attribute__((format(printf, 2, 3))) void appendf(std::string& out, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out += line;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A folder on /dev/shm named after this process.
class Workspace {
  public:
    Workspace() {
        remove_abandoned();
        root_ = std::string(kShm) + "/" + kPrefix + std::to_string(getpid());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    std::string operator/(const std::string& relative) const { return root_ + "/" + relative; }

  private:
    // Those of benchmarks whose process is gone.
    static void remove_abandoned() {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(kShm, ec)) {
            std::string name = entry.path().filename().string();
            if (name.rfind(kPrefix, 0) != 0)
                continue;
            pid_t pid = static_cast<pid_t>(std::atoi(name.c_str() + sizeof kPrefix - 1));
            if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH)
                fs::remove_all(entry.path(), ec);
        }
    }
    std::string root_;
};

void make_share(const std::string& root, int files) {
    std::string apps = root + "/Applications";
    for (int i = 0; i < files; ++i) {
        std::string dir =
            apps + "/Bundle" + std::to_string(i / 100) + ".app/Contents/r" + std::to_string(i % 10);
        if (i % 100 < 10)
            fs::create_directories(dir);
        std::ofstream(dir + "/f" + std::to_string(i)) << "content " << i << "\n";
    }
    for (const char* area : {"Library", "Users", "Packages"})
        fs::create_directories(root + "/" + area);
}

std::string proc_stat(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// utime + stime + cutime + cstime of a process, in seconds.
double cpu_seconds(pid_t pid) {
    std::string stat = proc_stat(pid);
    size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 17 && fields >> field; ++i) {
        if (i >= 14)
            ticks += std::atof(field.c_str());
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Whether a process has children that it has not reaped yet.
bool has_children(pid_t parent) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
        if (pid <= 0)
            continue;
        std::string stat = proc_stat(pid);
        size_t close = stat.rfind(')');
        if (close != std::string::npos && std::atoi(stat.c_str() + close + 4) == parent)
            return true;
    }
    return false;
}

struct Transport {
    const char* name;
    std::string host;  // vynd_host
    bool key;          // logs in with the client key
};

struct Figures {
    double wall = 0, median = 0, server_cpu = 0, client_cpu = 0;
    size_t failed = 0;  // computers whose run did not end with status 0
};

// A program's run in a sandbox as the sandbox itself saw it, so that the
// sandbox's own start is left out: when it started and ended (the host's
// clock), and the CPU seconds of the program and what it waited for.
struct Timed {
    double start = 0, end = 0, cpu = 0;
    [[nodiscard]] double wall() const { return end - start; }
};

const char kTimes[] = "/run/bench-times";

Sandbox::Running start_timed(Sandbox& box, const std::vector<std::string>& argv) {
    std::vector<std::string> full = {
        "/bin/bash", "-c",
        "TIMEFORMAT='%U %S'; s=$EPOCHREALTIME; { time \"$@\" >/run/bench-out 2>&1; } "
        "2>/run/bench-cpu; status=$?; echo \"$s $EPOCHREALTIME $(cat /run/bench-cpu)\" >" +
            std::string(kTimes) + "; cat /run/bench-out; exit $status",
        "timed"};
    full.insert(full.end(), argv.begin(), argv.end());
    return box.start(full);
}

Timed read_timed(const Sandbox& box) {
    Timed t;
    double user = 0, system = 0;
    std::istringstream(box.readFile(kTimes)) >> t.start >> t.end >> user >> system;
    t.cpu = user + system;
    return t;
}

// One computer: a sandbox whose /Applications and /var/db/vynd are folders
// of the workspace.
struct Computer {
    Computer(const Workspace& ws, size_t index) {
        std::string base = ws / ("computer" + std::to_string(index));
        apps = base + "/Applications";
        db = base + "/db";
        clear();
        box.mkdirs("/var/db/vynd");
        box.bind(apps, "/Applications", false);
        box.bind(db, "/var/db/vynd", false);
    }
    void clear() const {
        for (const auto& dir : {apps, db}) {
            fs::remove_all(dir);
            fs::create_directories(dir);
        }
    }
    // Takes the trees and manifests that another computer's run left.
    bool clone(const Computer& from) const {
        for (auto [source, target] : {std::pair{from.apps, apps}, std::pair{from.db, db}}) {
            fs::remove_all(target);
            if (run_program({"/bin/cp", "-a", source, target}).status != 0)
                return false;
        }
        return true;
    }
    Sandbox box;
    std::string apps, db;
};

void settings(Sandbox& box, const Transport& t) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "vynd_host", plist_new_string(t.host.c_str()));
    plist_dict_set_item(d, "vynd_keep_app_synced", plist_new_bool(1));
    if (t.key) {
        plist_dict_set_item(d, "vynd_ssh_key_file", plist_new_string(SshServer::kClientKey));
    } else {
        plist_dict_set_item(d, "vynd_username",
                            plist_new_string(t.host.rfind("rsync:", 0) == 0 ? "fleet" : "root"));
        plist_dict_set_item(d, "vynd_passwd", plist_new_string(kPassword));
    }
    box.writePrefs(d);
    plist_free(d);
}

// Waits for the server to reap what served the computers, so that its
// accounting holds them.
double server_cpu(pid_t server) {
    for (int i = 0; i < 100 && has_children(server); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return cpu_seconds(server);
}

// The first n computers run at once: the time from the first one's start
// to the last one's end, and the median computer's own time.
Figures fleet_run(std::vector<std::unique_ptr<Computer>>& computers, size_t n, pid_t server) {
    double server_before = server_cpu(server);
    std::vector<Sandbox::Running> running;
    for (size_t i = 0; i < n; ++i)
        running.push_back(start_timed(computers[i]->box, {Sandbox::program("vynd"), "-i"}));
    std::vector<Timed> runs;
    size_t failed = 0;
    for (size_t i = 0; i < n; ++i) {
        Sandbox& box = computers[i]->box;
        auto r = box.wait(running[i]);
        if (r.status != 0) {
            fprintf(stderr, "computer %zu: vynd exited %d\n%s\n", i, r.status,
                    box.readFile("/var/log/vynd.log").c_str());
            ++failed;
        }
        runs.push_back(read_timed(box));
    }
    Figures f;
    f.failed = failed;
    double first = runs[0].start, last = runs[0].end;
    std::vector<double> times;
    for (const auto& t : runs) {
        first = std::min(first, t.start);
        last = std::max(last, t.end);
        times.push_back(t.wall());
        f.client_cpu += t.cpu / static_cast<double>(n);
    }
    f.wall = last - first;
    std::sort(times.begin(), times.end());
    f.median = times[times.size() / 2];
    f.server_cpu = (server_cpu(server) - server_before) / static_cast<double>(n);
    return f;
}

// One program run in one computer: its own figures and the server's CPU.
Figures timed_run(Sandbox& box, const std::vector<std::string>& argv, pid_t server) {
    double server_before = server_cpu(server);
    auto r = box.wait(start_timed(box, argv));
    if (r.status != 0)
        fprintf(stderr, "%s ... %s exited %d: %s%s\n", argv.front().c_str(), argv.back().c_str(),
                r.status, r.out.c_str(), r.err.c_str());
    Timed t = read_timed(box);
    Figures f;
    f.wall = f.median = t.wall();
    f.client_cpu = t.cpu;
    f.server_cpu = server_cpu(server) - server_before;
    return f;
}

// One computer's no-change run through the rsync daemon beside the same
// connections and transfers made by hand: the listing of the share's root
// that shows it is reachable, the three areas with the daemon's options
// (those not kept in step exclude what they installed), and the listing
// of the Packages folder. Each figure is the median of a few runs.
std::string overhead(Computer& c, const std::string& root, pid_t server) {
    Sandbox& box = c.box;
    box.writeFile("/run/bench-pw", std::string(kPassword) + "\n", 0600);
    const std::vector<std::string> env = {"/usr/bin/env", "USER=fleet", "LC_ALL=C.UTF-8"};
    const std::vector<std::string> access = {"--contimeout=30", "--timeout=600",
                                             "--sockopts=TCP_NODELAY",
                                             "--password-file=/run/bench-pw"};
    auto listing = [&](const std::string& folder) {
        std::vector<std::string> argv = env;
        argv.insert(argv.end(), {"/usr/bin/rsync", "--no-motd", "--list-only"});
        argv.insert(argv.end(), access.begin(), access.end());
        argv.push_back(folder + "/");
        return argv;
    };
    auto area = [&](const std::string& name, bool synced) {
        std::vector<std::string> argv = env;
        argv.push_back("/usr/bin/rsync");
        argv.insert(argv.end(), access.begin(), access.end());
        argv.push_back("--no-motd");
        argv.insert(argv.end(), {"--out-format=%t %i %n", "-ii", "-rltD", "-T",
                                 "/var/db/vynd/" + name, "--bwlimit=0"});
        if (!synced)
            argv.push_back("--exclude-from=/var/db/vynd/" + name + ".exclude");
        // The Users area keeps no modes or owners of the share.
        if (name != "Users")
            argv.push_back("-pgo");
        argv.insert(argv.end(), {"--delay-updates", "--no-devices", "--no-specials"});
        if (name != "Users")
            argv.push_back("--chmod=Fug-s");
        argv.insert(argv.end(), {root + "/" + name + "/", "/" + name + "/"});
        return argv;
    };
    struct Step {
        const char* what;
        std::vector<std::string> argv;
        std::vector<Figures> runs;
    };
    std::vector<Step> steps = {
        {"vynd -i", {Sandbox::program("vynd"), "-i"}, {}},
        {"list the share's root", listing(root), {}},
        {"rsync Applications", area("Applications", true), {}},
        {"rsync Library", area("Library", false), {}},
        {"rsync Users", area("Users", false), {}},
        {"list Packages", listing(root + "/Packages"), {}},
    };
    const int kRepeats = 3;
    std::string out;
    for (int r = 0; r < kRepeats; ++r) {
        for (auto& step : steps) step.runs.push_back(timed_run(box, step.argv, server));
    }
    auto median = [](std::vector<Figures> runs) {
        Figures m;
        for (double Figures::*field :
             {&Figures::wall, &Figures::client_cpu, &Figures::server_cpu}) {
            std::sort(runs.begin(), runs.end(),
                      [&](const Figures& a, const Figures& b) { return a.*field < b.*field; });
            m.*field = runs[runs.size() / 2].*field;
        }
        return m;
    };
    appendf(out,
            "\none computer's no-change run through the rsync daemon, and by hand (median of %d)\n",
            kRepeats);
    appendf(out, "%-24s %8s %14s %14s\n", "", "wall s", "computer CPU s", "server CPU s");
    Figures bare, vynd;
    for (size_t i = 0; i < steps.size(); ++i) {
        Figures m = median(steps[i].runs);
        appendf(out, "%-24s %8.3f %14.3f %14.3f\n", steps[i].what, m.wall, m.client_cpu,
                m.server_cpu);
        if (i == 0) {
            vynd = m;
        } else {
            bare.wall += m.wall;
            bare.client_cpu += m.client_cpu;
            bare.server_cpu += m.server_cpu;
        }
    }
    appendf(out, "%-24s %8.3f %14.3f %14.3f\n", "bare rsync, all of it", bare.wall, bare.client_cpu,
            bare.server_cpu);
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0; };
    appendf(out, "%-24s %7.2fx %13.2fx %13.2fx\n", "vynd / bare rsync", ratio(vynd.wall, bare.wall),
            ratio(vynd.client_cpu, bare.client_cpu), ratio(vynd.server_cpu, bare.server_cpu));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    std::vector<size_t> counts;
    for (int i = 2; i < argc; ++i) counts.push_back(static_cast<size_t>(std::atoi(argv[i])));
    if (counts.empty())
        counts = {1, 4, 16};
    if (files <= 0 || std::find(counts.begin(), counts.end(), 0) != counts.end()) {
        fprintf(stderr, "usage: bench_fleet [files] [N...]\n");
        return 2;
    }
    std::sort(counts.begin(), counts.end());
    counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
    if (counts.front() != 1)
        counts.insert(counts.begin(), 1);
    size_t most = counts.back();

    Workspace ws;
    auto start = Clock::now();
    make_share(ws / "share", files);
    std::vector<std::unique_ptr<Computer>> computers;
    for (size_t i = 0; i < most; ++i) computers.push_back(std::make_unique<Computer>(ws, i));
    fprintf(stderr, "share and %zu computers made in %.1f s\n", most, seconds_since(start));

    printf("%d files; no-change runs of N computers at once\n", files);
    printf("%-14s %4s %16s %16s %21s %13s\n", "transport", "N", "wall s (N=1)", "median s (N=1)",
           "server CPU s/computer", "computer CPU s");
    std::string breakdown;
    for (int kind = 0; kind < 3; ++kind) {
        Sandbox server_box;
        server_box.bind(ws / "share", "/home/deploy");
        std::unique_ptr<ShareServer> server;
        std::string why;
        Transport t{};
        bool started = false;
        std::string comm;
        if (kind == 1) {
            auto daemon = std::make_unique<RsyncDaemon>(server_box);
            started = daemon->start(kPassword, &why);
            t = {"rsync daemon", "rsync://127.0.0.1:" + std::to_string(daemon->port()) + "/deploy",
                 false};
            comm = "rsync";
            server = std::move(daemon);
        } else {
            auto sshd = std::make_unique<SshServer>(server_box);
            started = sshd->start(kind == 0 ? kPassword : "", true, &why);
            std::string at = "127.0.0.1:" + std::to_string(sshd->port()) + "/home/deploy";
            t = kind == 0 ? Transport{"SFTP (sshfs)", "sftp://" + at, false}
                          : Transport{"rsync over ssh", "ssh://root@" + at, true};
            comm = "sshd";
            server = std::move(sshd);
        }
        if (!started) {
            fprintf(stderr, "%s: %s\n", t.name, why.c_str());
            continue;
        }
        auto pid = server->serverProcess(comm);
        if (!pid) {
            fprintf(stderr, "%s: no server process\n", t.name);
            continue;
        }
        for (auto& c : computers) {
            for (const char* f : {"/root/.ssh/known_hosts", SshServer::kClientKey}) {
                if (server_box.exists(f))
                    c->box.writeFile(f, server_box.readFile(f), 0600);
            }
            settings(c->box, t);
        }
        start = Clock::now();
        computers[0]->clear();
        Figures first = fleet_run(computers, 1, *pid);
        auto cloning = Clock::now();
        bool cloned = true;
        for (size_t i = 1; i < most && cloned; ++i) cloned = computers[i]->clone(*computers[0]);
        fprintf(stderr, "%s: first copy %.1f s, %zu copies of it %.1f s\n", t.name, first.wall,
                most - 1, seconds_since(cloning));
        if (first.failed || !cloned) {
            fprintf(stderr, "%s: no first copy to start from\n", t.name);
            continue;
        }
        Figures one;
        for (size_t n : counts) {
            Figures f = fleet_run(computers, n, *pid);
            if (n == 1)
                one = f;
            printf("%-14s %4zu %7.2f (%6.2f) %7.2f (%6.2f) %9.3f (%9.3f) %13.3f", t.name, n, f.wall,
                   one.wall, f.median, one.median, f.server_cpu, one.server_cpu, f.client_cpu);
            if (f.failed)
                printf("  %zu of %zu failed", f.failed, n);
            printf("\n");
            fflush(stdout);
            fflush(stdout);
        }
        if (kind == 1)
            breakdown = overhead(*computers[0], t.host, *pid);
    }
    printf("%s", breakdown.c_str());
    return 0;
}
