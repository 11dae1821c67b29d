// The software update tool of this platform: Debian package upgrades through apt.
#include "software_update_tool.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>

#include "process.h"

namespace vynd::softwareupdate {

namespace {

constexpr const char* kAptGet = "/usr/bin/apt-get";

int usage() {
    fputs(
        "usage: softwareupdate -l\n"
        "       softwareupdate -d -i -a\n",
        stderr);
    return 1;
}

int list_updates() {
    // Fresh package lists first; stale ones still give an answer.
    int refreshed = run_process_lines(
        {kAptGet, "-q", "update"},
        [](std::string_view line) {
            fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
        },
        true);
    if (refreshed != 0)
        fprintf(stderr, "softwareupdate: could not refresh the package lists (status %d)\n",
                refreshed);
    std::vector<Upgrade> upgrades;
    int status =
        run_process_lines({kAptGet, "-s", "-q", "dist-upgrade"}, [&](std::string_view line) {
            Upgrade u;
            if (parse_apt_install_line(line, &u))
                upgrades.push_back(u);
        });
    if (status != 0) {
        fprintf(stderr, "softwareupdate: cannot list the updates (apt-get exited with status %d)\n",
                status);
        return 1;
    }
    if (upgrades.empty()) {
        printf("No new software available.\n");
        return 0;
    }
    printf("Software Update found the following new or updated software:\n");
    for (const auto& u : upgrades) printf("   * %s-%s\n", u.name.c_str(), u.version.c_str());
    return 0;
}

int install_all() {
    setenv("DEBIAN_FRONTEND", "noninteractive", 1);
    int status = run_process({kAptGet, "-y", "-q", "-o", "Dpkg::Options::=--force-confdef", "-o",
                              "Dpkg::Options::=--force-confold", "dist-upgrade"});
    return status == 0 ? 0 : (status > 0 && status < 256 ? status : 1);
}

}  // namespace

bool parse_apt_install_line(std::string_view line, Upgrade* out) {
    if (line.substr(0, 5) != "Inst ")
        return false;
    line.remove_prefix(5);
    auto blank = line.find(' ');
    out->name = std::string(line.substr(0, blank));
    out->version.clear();
    if (out->name.empty())
        return false;
    auto open = line.find('(');
    if (open != std::string_view::npos) {
        auto end = line.find_first_of(" )", open + 1);
        out->version = std::string(line.substr(
            open + 1, end == std::string_view::npos ? std::string_view::npos : end - open - 1));
    }
    return true;
}

int softwareupdate_main(const std::vector<std::string>& args) {
    if (args == std::vector<std::string>{"-l"})
        return list_updates();
    std::vector<std::string> sorted = args;
    std::sort(sorted.begin(), sorted.end());
    if (sorted == std::vector<std::string>{"-a", "-d", "-i"})
        return install_all();
    return usage();
}

}  // namespace vynd::softwareupdate
