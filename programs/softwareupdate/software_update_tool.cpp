// The software update tool of this platform: Debian package upgrades through apt.
#include "programs/softwareupdate/software_update_tool.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>

#include "platform/process.h"
#include "programs/softwareupdate/catalog_sources.h"

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

// apt-get with the private catalog's options after `flags`, when one is set.
std::vector<std::string> apt_get(std::vector<std::string> flags,
                                 const std::vector<std::string>& catalog,
                                 const std::string& command) {
    flags.insert(flags.begin(), kAptGet);
    flags.insert(flags.end(), catalog.begin(), catalog.end());
    flags.push_back(command);
    return flags;
}

// The site's sources when a catalog is set; no value when it is set but
// cannot be used, for then nothing may be updated from elsewhere.
std::optional<std::vector<std::string>> catalog_options() {
    auto url = configured_catalog_url();
    if (!url)
        return std::vector<std::string>{};
    std::string err;
    auto options = prepare_catalog(*url, kCatalogState, &err);
    if (!options)
        fprintf(stderr, "softwareupdate: Error: %s; nothing is updated\n", err.c_str());
    return options;
}

int refresh_lists(const std::vector<std::string>& catalog) {
    int refreshed = run_process_lines(
        apt_get({"-q"}, catalog, "update"),
        [](std::string_view line) {
            fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
        },
        true);
    if (refreshed != 0)
        fprintf(stderr, "softwareupdate: could not refresh the package lists (status %d)\n",
                refreshed);
    return refreshed;
}

int list_updates() {
    auto catalog = catalog_options();
    if (!catalog)
        return 1;
    // Fresh package lists first; stale ones still give an answer.
    (void)refresh_lists(*catalog);
    std::vector<Upgrade> upgrades;
    int status = run_process_lines(apt_get({"-s", "-q"}, *catalog, "dist-upgrade"),
                                   [&](std::string_view line) {
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
    auto catalog = catalog_options();
    if (!catalog)
        return 1;
    // The catalog may have changed since the check: its lists are fetched again.
    if (!catalog->empty() && refresh_lists(*catalog) != 0)
        return 1;
    setenv("DEBIAN_FRONTEND", "noninteractive", 1);
    int status = run_process(apt_get({"-y", "-q", "-o", "Dpkg::Options::=--force-confdef", "-o",
                                      "Dpkg::Options::=--force-confold"},
                                     *catalog, "dist-upgrade"));
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
