// Mirroring benchmark: the daemon against bare rsync over the same share tree.
//
//   bench_mirror [files] [rounds] [first copy rounds]
//
// Without a file count it measures 10,000 and 100,000 files and prints the
// growth between them. Each figure is the median of `rounds` runs (3 by
// default; the first copies, the slowest part, may take fewer), and each
// daemon run is taken next to a bare rsync run of its own round, so that a
// slow moment of the machine weighs on both alike.
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

#include "tests/support/sandbox.h"

using vynd::test::Sandbox;

namespace {

namespace fs = std::filesystem;

// Files in bundles of 100: Bundle<n>.app/Contents/{MacOS,Resources/r<k>}/f<i>,
// every one of them written.
void make_share(Sandbox& box, const std::string& area, int files) {
    std::string root = box.path("/Volumes/Deploy/" + area);
    for (int i = 0; i < files; ++i) {
        std::string dir = root + "/Bundle" + std::to_string(i / 100) + ".app/Contents/" +
                          ((i % 100) < 2 ? "MacOS" : "Resources/r" + std::to_string(i % 10));
        if ((i % 100) < 12)
            fs::create_directories(dir);
        std::ofstream out(dir + "/f" + std::to_string(i));
        out << "content " << i << "\n";
        if (!out)
            throw std::runtime_error("cannot write " + dir);
    }
}

struct Run {
    double seconds = -1;
    long peak_kib = 0;
};

// Wall time of the command alone (the sandbox's own start is left out) and
// its peak resident memory. Pending writes of the previous run are flushed
// first, so that no run pays for another's.
Run timed(Sandbox& box, const std::vector<std::string>& argv) {
    sync();
    std::vector<std::string> command = {
        "/bin/bash", "-c", "TIMEFORMAT=%3R; time /usr/bin/time -f %M \"$@\" >/dev/null", "bash"};
    command.insert(command.end(), argv.begin(), argv.end());
    auto r = box.run(command);
    if (r.status != 0)
        fprintf(stderr, "%s exited %d: %s\n", argv[0].c_str(), r.status, r.err.c_str());
    auto lines = vynd::test::split_lines(r.err);
    Run out;
    if (lines.size() >= 2) {
        out.peak_kib = std::atol(lines[lines.size() - 2].c_str());
        out.seconds = std::atof(lines.back().c_str());
    }
    return out;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
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

// The daemon's own rsync command for an area, as it runs it for a job kept
// in step (and for the Library, which is not, without its exclude file).
std::vector<std::string> bare_rsync(const std::string& area, const std::string& destination) {
    return {"/usr/bin/rsync",
            "--out-format=%t %i %n",
            "-ii",
            "-rltD",
            "-T",
            "/var/db/vynd/" + area,
            "--bwlimit=0",
            "-pgo",
            "--delay-updates",
            "--no-devices",
            "--no-specials",
            "--chmod=Fug-s",
            "/Volumes/Deploy/" + area + "/",
            destination + "/"};
}

// Empties an area and forgets what the daemon installed there.
void clear_area(Sandbox& box, const std::string& area, const std::string& destination) {
    for (const auto& entry : fs::directory_iterator(box.path(destination))) {
        std::string name = entry.path().filename().string();
        if (name != "Preferences" && name != "Application Support")
            fs::remove_all(entry.path());
    }
    fs::remove(box.path("/var/db/vynd/" + area + ".plist"));
    box.mkdirs("/var/db/vynd/" + area);
}

struct Figures {
    double rsync_copy, rsync_scan, rsync_scan_perm, rsync_scan_lib;
    double first, nochange, nochange_perm, lib_nochange;
    long peak_kib = 0;
};

// Rounds of one bare run and one daemon run each; medians of both.
void rounds(Sandbox& box, int n, const std::vector<std::string>& bare, double* bare_median,
            double* daemon_median, long* peak_kib, void (*before)(Sandbox&) = nullptr) {
    const std::vector<std::string> daemon = {Sandbox::program("vynd"), "-i"};
    std::vector<double> b, d;
    for (int i = 0; i < n; ++i) {
        if (before)
            before(box);
        b.push_back(timed(box, bare).seconds);
        if (before)
            before(box);
        Run r = timed(box, daemon);
        d.push_back(r.seconds);
        *peak_kib = std::max(*peak_kib, r.peak_kib);
    }
    *bare_median = median(b);
    *daemon_median = median(d);
}

Figures measure(int files, int n, int copy_rounds) {
    Sandbox box;
    // A share as its setup makes it: all three areas, here two of them empty.
    make_share(box, "Applications", files);
    box.mkdirs("/Volumes/Deploy/Library");
    box.mkdirs("/Volumes/Deploy/Users");
    const std::vector<std::string> daemon = {Sandbox::program("vynd"), "-i"};
    Figures f{};
    prefs(box, false);
    // First copies: each from an empty area and no manifest.
    rounds(box, copy_rounds, bare_rsync("Applications", "/Applications"), &f.rsync_copy, &f.first,
           &f.peak_kib, [](Sandbox& b) { clear_area(b, "Applications", "/Applications"); });
    // No change, setPerm off, then on (after one run that gives every mode).
    rounds(box, n, bare_rsync("Applications", "/Applications"), &f.rsync_scan, &f.nochange,
           &f.peak_kib);
    prefs(box, true);
    (void)timed(box, daemon);
    rounds(box, n, bare_rsync("Applications", "/Applications"), &f.rsync_scan_perm,
           &f.nochange_perm, &f.peak_kib);
    // The Library, not kept in step: the same tree installed there once, the
    // Applications emptied, then runs with nothing new.
    clear_area(box, "Applications", "/Applications");
    fs::remove(box.path("/Volumes/Deploy/Library"));
    fs::rename(box.path("/Volumes/Deploy/Applications"), box.path("/Volumes/Deploy/Library"));
    box.mkdirs("/Volumes/Deploy/Applications");
    prefs(box, false);
    (void)timed(box, daemon);
    rounds(box, n, bare_rsync("Library", "/Library"), &f.rsync_scan_lib, &f.lib_nochange,
           &f.peak_kib);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {10000, 100000};
    if (argc > 1)
        sizes = {std::atoi(argv[1])};
    int n = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    int copy_rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : n;
    std::vector<Figures> all;
    for (int files : sizes) {
        Figures f = measure(files, n, copy_rounds);
        all.push_back(f);
        printf("%d files (medians of %d runs each, first copies of %d):\n", files, n, copy_rounds);
        printf("  bare rsync: first copy %.2f s, no-change re-run %.2f s\n", f.rsync_copy,
               f.rsync_scan);
        printf("  first copy (kept in step)          %6.2f s  %.2f x bare rsync (goal 1.05)\n",
               f.first, f.first / f.rsync_copy);
        printf("  no-change run, setPerm off         %6.2f s  %.2f x bare rsync (goal 1.05)\n",
               f.nochange, f.nochange / f.rsync_scan);
        printf("  no-change run, setPerm on          %6.2f s  %.2f x bare rsync (goal 1.10)\n",
               f.nochange_perm, f.nochange_perm / f.rsync_scan_perm);
        printf("  no-change run, not kept in step    %6.2f s  %.2f x bare rsync scan (goal 0.25)\n",
               f.lib_nochange, f.lib_nochange / f.rsync_scan_lib);
        printf("  daemon peak memory %.1f MiB (goal 32)\n", f.peak_kib / 1024.0);
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
