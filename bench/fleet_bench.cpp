// Fleet benchmark: N computers (sandboxes) run vynd at the same moment
// against one share served on the loopback address by sshd (sshfs, SFTP),
// by an rsync daemon, and by sshd for rsync over ssh.
//
//   bench_fleet [files] [N...]
//
// Defaults: 10,000 files, N = 1, 4, 16. Each computer makes its first copy
// (not timed), then all run a no-change run together. Printed per transport
// and N: the wall time until every computer is done, the median computer's
// time, and the server's CPU seconds per computer (the server's own
// accounting: its time and that of the per-client processes it reaped),
// each beside the same figure for one computer; and bare rsync against the
// same daemon, for the daemon's per-computer overhead.
#include <plist/plist.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox.h"
#include "share_servers.h"

using vynd::test::RsyncDaemon;
using vynd::test::Sandbox;
using vynd::test::ShareServer;
using vynd::test::SshServer;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kPassword[] = "fleet-bench";

void make_share(Sandbox& server, int files) {
    std::string root = server.path("/home/deploy/Applications");
    for (int i = 0; i < files; ++i) {
        std::string dir = root + "/Bundle" + std::to_string(i / 100) + ".app/Contents/r" +
                          std::to_string(i % 10);
        if (i % 100 < 10)
            fs::create_directories(dir);
        std::ofstream(dir + "/f" + std::to_string(i)) << "content " << i << "\n";
    }
    for (const char* area : {"Library", "Users", "Packages"})
        server.mkdirs(std::string("/home/deploy/") + area);
}

// utime + stime + cutime + cstime of a process, in seconds.
double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

struct Transport {
    const char* name;
    std::string host;  // vynd_host
    bool key;          // logs in with the client key
};

struct Figures {
    double wall = 0, median = 0, server_cpu = 0;
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

// All computers run at once; each one's time from its start to its end.
Figures fleet_run(std::vector<std::unique_ptr<Sandbox>>& boxes, size_t n, pid_t server_pid) {
    double cpu_before = cpu_seconds(server_pid);
    auto start = Clock::now();
    std::vector<Sandbox::Running> running;
    for (size_t i = 0; i < n; ++i) running.push_back(boxes[i]->start({Sandbox::program("vynd"), "-i"}));
    std::vector<double> times;
    for (size_t i = 0; i < n; ++i) {
        auto r = boxes[i]->wait(running[i]);
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        if (r.status != 0)
            fprintf(stderr, "computer %zu: vynd exited %d\n%s\n", i, r.status,
                    boxes[i]->readFile("/var/log/vynd.log").c_str());
    }
    Figures f;
    f.wall = *std::max_element(times.begin(), times.end());
    std::sort(times.begin(), times.end());
    f.median = times[times.size() / 2];
    usleep(200000);  // the server reaps its last children
    f.server_cpu = (cpu_seconds(server_pid) - cpu_before) / static_cast<double>(n);
    return f;
}

double bare_rsync(Sandbox& box, const std::string& source) {
    box.writeFile("/run/bench-pw", std::string(kPassword) + "\n", 0600);
    auto start = Clock::now();
    auto r = box.run({"/usr/bin/env", "USER=fleet", "/usr/bin/rsync", "--out-format=%t %i %n",
                      "-ii", "-rltD", "-T", "/var/db/vynd/Applications", "--bwlimit=0", "-pgo",
                      "--delay-updates", "--password-file=/run/bench-pw", source + "/",
                      "/Applications/"});
    if (r.status != 0)
        fprintf(stderr, "bare rsync exited %d: %s\n", r.status, r.err.c_str());
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    std::vector<size_t> counts;
    for (int i = 2; i < argc; ++i) counts.push_back(static_cast<size_t>(std::atoi(argv[i])));
    if (counts.empty())
        counts = {1, 4, 16};
    size_t most = *std::max_element(counts.begin(), counts.end());
    if (std::find(counts.begin(), counts.end(), 1) == counts.end())
        counts.insert(counts.begin(), 1);

    printf("%d files; no-change runs of N computers at once\n", files);
    printf("%-14s %4s %18s %18s %22s\n", "transport", "N", "wall s (N=1)", "median s (N=1)",
           "server CPU s/computer");
    for (int kind = 0; kind < 3; ++kind) {
        Sandbox server_box;
        make_share(server_box, files);
        std::unique_ptr<ShareServer> server;
        std::string why;
        Transport t{};
        bool started = false;
        std::string comm;
        if (kind == 1) {
            auto daemon = std::make_unique<RsyncDaemon>(server_box);
            started = daemon->start(kPassword, &why);
            t = {"rsync daemon", "rsync://127.0.0.1:" + std::to_string(daemon->port()) + "/deploy", false};
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
        std::vector<std::unique_ptr<Sandbox>> boxes;
        for (size_t i = 0; i < most; ++i) {
            boxes.push_back(std::make_unique<Sandbox>());
            Sandbox& b = *boxes.back();
            for (const char* f : {"/root/.ssh/known_hosts", "/home/client/id_ed25519"}) {
                if (server_box.exists(f))
                    b.writeFile(f, server_box.readFile(f), 0600);
            }
            settings(b, t);
        }
        (void)fleet_run(boxes, most, *pid);  // the first copies
        Figures one;
        for (size_t n : counts) {
            Figures f = fleet_run(boxes, n, *pid);
            if (n == 1)
                one = f;
            printf("%-14s %4zu %9.2f (%5.2f) %9.2f (%5.2f) %12.3f (%6.3f)\n", t.name, n, f.wall,
                   one.wall, f.median, one.median, f.server_cpu, one.server_cpu);
            fflush(stdout);
        }
        if (kind == 1) {
            double bare = bare_rsync(*boxes[0], t.host + "/Applications");
            Figures f = fleet_run(boxes, 1, *pid);
            printf("%-14s %4d %9.2f vynd, %5.2f bare rsync: %.2f x\n", "  overhead", 1, f.wall,
                   bare, bare > 0 ? f.wall / bare : 0);
        }
    }
    return 0;
}
