// Mirroring benchmark: the daemon against bare rsync over the same share tree.
#include <plist/plist.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sandbox.h"

using vynd::test::Sandbox;

namespace {

// Files in bundles of 100: Bundle<n>.app/Contents/{MacOS,Resources/r<k>}/f<i>,
// every one of them written.
void make_share(Sandbox& box, const std::string& area, int files) {
    std::string root = box.path("/Volumes/Deploy/" + area);
    for (int i = 0; i < files; ++i) {
        std::string dir = root + "/Bundle" + std::to_string(i / 100) + ".app/Contents/" +
                          ((i % 100) < 2 ? "MacOS" : "Resources/r" + std::to_string(i % 10));
        if ((i % 100) < 12)
            std::filesystem::create_directories(dir);
        std::ofstream out(dir + "/f" + std::to_string(i));
        out << "content " << i << "\n";
        if (!out)
            throw std::runtime_error("cannot write " + dir);
    }
}

// Wall time of the command alone (the sandbox's own start is left out) and
// its peak resident memory. Pending writes of the previous run are flushed
// first, so that no run pays for another's.
double seconds(Sandbox& box, const std::vector<std::string>& argv, long* peak_kib = nullptr) {
    sync();
    std::vector<std::string> timed = {
        "/bin/bash", "-c", "TIMEFORMAT=%3R; time /usr/bin/time -f %M \"$@\" >/dev/null", "bash"};
    timed.insert(timed.end(), argv.begin(), argv.end());
    auto r = box.run(timed);
    if (r.status != 0)
        fprintf(stderr, "%s exited %d: %s\n", argv[0].c_str(), r.status, r.err.c_str());
    auto lines = vynd::test::split_lines(r.err);
    if (lines.size() < 2)
        return -1;
    if (peak_kib)
        *peak_kib = std::atol(lines[lines.size() - 2].c_str());
    return std::atof(lines.back().c_str());
}

void prefs(Sandbox& box, bool app_set_perm) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "vynd_host", plist_new_string("file:///Volumes/Deploy"));
    plist_dict_set_item(d, "vynd_keep_app_synced", plist_new_bool(1));
    plist_dict_set_item(d, "vynd_set_app_perm", plist_new_bool(app_set_perm));
    plist_dict_set_item(d, "vynd_app_group", plist_new_string("root"));
    plist_dict_set_item(d, "vynd_keep_lib_synced", plist_new_bool(0));
    box.writePrefs(d);
    plist_free(d);
}

struct Figures {
    double rsync_copy, rsync_scan, first, nochange, nochange_perm, lib_nochange;
    long peak_kib;
};

Figures measure(int files) {
    Sandbox box;
    make_share(box, "Applications", files);
    // Bare rsync: the daemon's own command for the area, into the area, so
    // both copy between the same two mounts with the same temporary folder.
    box.mkdirs("/var/db/vynd/Applications");
    const std::vector<std::string> bare = {"/usr/bin/rsync",
                                           "--out-format=%t %i %n",
                                           "-ii",
                                           "-rltD",
                                           "-T",
                                           "/var/db/vynd/Applications",
                                           "--bwlimit=0",
                                           "-pgo",
                                           "--delay-updates",
                                           "/Volumes/Deploy/Applications/",
                                           "/Applications/"};
    Figures f{};
    f.rsync_copy = seconds(box, bare);
    f.rsync_scan = seconds(box, bare);
    for (const char* dir : {"/Applications", "/var/db/vynd"}) {
        std::filesystem::remove_all(box.path(dir));
        box.mkdirs(dir);
    }
    const std::vector<std::string> daemon = {Sandbox::program("vynd"), "-i"};
    prefs(box, false);
    f.first = seconds(box, daemon);
    f.nochange = seconds(box, daemon, &f.peak_kib);
    prefs(box, true);
    (void)seconds(box, daemon);  // gives every path its mode once
    long peak = 0;
    f.nochange_perm = seconds(box, daemon, &peak);
    f.peak_kib = std::max(f.peak_kib, peak);
    // The Library area, not kept in step, installed once, then run again.
    std::filesystem::rename(box.path("/Volumes/Deploy/Applications"),
                            box.path("/Volumes/Deploy/Library"));
    std::filesystem::create_directories(box.path("/Volumes/Deploy/Applications"));
    prefs(box, false);
    (void)seconds(box, daemon);
    f.lib_nochange = seconds(box, daemon, &peak);
    f.peak_kib = std::max(f.peak_kib, peak);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {10000, 100000};
    if (argc > 1)
        sizes = {std::atoi(argv[1])};
    std::vector<Figures> all;
    for (int n : sizes) {
        Figures f = measure(n);
        all.push_back(f);
        printf("%d files:\n", n);
        printf("  bare rsync: first copy %.2f s, no-change re-run %.2f s\n", f.rsync_copy,
               f.rsync_scan);
        printf("  first copy (kept in step)          %.2f s  %.2f x bare rsync (goal 1.05)\n",
               f.first, f.first / f.rsync_copy);
        printf("  no-change run, setPerm off          %.2f s  %.2f x bare rsync (goal 1.15)\n",
               f.nochange, f.nochange / f.rsync_scan);
        printf("  no-change run, setPerm on           %.2f s  %.2f x bare rsync (goal 1.25)\n",
               f.nochange_perm, f.nochange_perm / f.rsync_scan);
        printf("  no-change run, not kept in step     %.2f s  %.2f x bare rsync scan (goal 0.25)\n",
               f.lib_nochange, f.lib_nochange / f.rsync_scan);
        printf("  daemon peak memory %.1f MiB (goal 64)\n", f.peak_kib / 1024.0);
        fflush(stdout);
    }
    if (all.size() == 2) {
        const Figures& a = all[0];
        const Figures& b = all[1];
        double worst =
            std::max({b.first / a.first, b.nochange / a.nochange, b.nochange_perm / a.nochange_perm,
                      b.lib_nochange / a.lib_nochange});
        printf("growth at %dx the files (goal at most 11 x the time):\n", sizes[1] / sizes[0]);
        printf(
            "  daemon: first copy %.2f x, no-change %.2f x, setPerm on %.2f x, "
            "not kept in step %.2f x; worst %.2f x\n",
            b.first / a.first, b.nochange / a.nochange, b.nochange_perm / a.nochange_perm,
            b.lib_nochange / a.lib_nochange, worst);
        printf("  bare rsync: first copy %.2f x, no-change %.2f x\n", b.rsync_copy / a.rsync_copy,
               b.rsync_scan / a.rsync_scan);
    }
    return 0;
}
