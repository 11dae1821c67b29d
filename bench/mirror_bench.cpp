// Mirroring benchmark: the daemon against bare rsync over the same share tree.
#include <plist/plist.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sandbox.h"

using vynd::test::Sandbox;

namespace {

// Files in bundles of 100: Bundle<n>.app/Contents/{MacOS,Resources/<k>}/...
void make_share(Sandbox& box, const std::string& area, int files) {
    std::string root = box.path("/Volumes/Deploy/" + area);
    for (int i = 0; i < files; ++i) {
        std::string dir = root + "/Bundle" + std::to_string(i / 100) + ".app/Contents/" +
                          ((i % 100) < 2 ? "MacOS" : "Resources/r" + std::to_string(i % 10));
        if (i % 10 == 0 || (i % 100) < 2)
            std::filesystem::create_directories(dir);
        std::ofstream(dir + "/f" + std::to_string(i)) << "content " << i << "\n";
    }
}

double seconds(Sandbox& box, const std::vector<std::string>& argv, long* peak_kib = nullptr) {
    std::vector<std::string> timed = {"/usr/bin/time", "-f", "%M"};
    timed.insert(timed.end(), argv.begin(), argv.end());
    auto start = std::chrono::steady_clock::now();
    auto r = box.run(timed);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (r.status != 0)
        fprintf(stderr, "%s exited %d: %s\n", argv[0].c_str(), r.status, r.err.c_str());
    if (peak_kib) {
        size_t nl = r.err.find_last_of('\n', r.err.size() - 2);
        *peak_kib = std::atol(r.err.c_str() + (nl == std::string::npos ? 0 : nl + 1));
    }
    return s;
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
    box.mkdirs("/var/bare");
    const std::vector<std::string> bare = {
        "/usr/bin/rsync",  "--out-format=%t %i %n",         "-ii",       "-rltD", "-pgo",
        "--delay-updates", "/Volumes/Deploy/Applications/", "/var/bare/"};
    Figures f{};
    f.rsync_copy = seconds(box, bare);
    f.rsync_scan = seconds(box, bare);
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
        printf("growth 10x files: first copy %.2f x, no-change %.2f x, setPerm %.2f x (goal 11)\n",
               all[1].first / all[0].first, all[1].nochange / all[0].nochange,
               all[1].nochange_perm / all[0].nochange_perm);
    }
    return 0;
}
