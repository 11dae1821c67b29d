// The package installer of this platform: Debian packages through dpkg.
#include "installer.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "process.h"

namespace vynd::installer {

namespace {

constexpr const char* kRebootRequired = "/run/reboot-required";

int usage() {
    fputs(
        "usage: installer -pkg <package.deb> -target /\n"
        "       installer -query RestartAction -pkg <package.deb>\n",
        stderr);
    return 1;
}

std::string base_name(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void print_line(std::string_view line) {
    printf("%.*s\n", static_cast<int>(line.size()), line.data());
}

// A package whose installation was stopped half-way (a restart, the service
// stopped) leaves dpkg refusing further work until it is configured. dpkg
// --audit names such packages; say so, and finish them first.
void finish_interrupted_configuration() {
    bool pending = false;
    int status = run_process_lines({"/usr/bin/dpkg", "--audit"},
                                   [&](std::string_view line) { pending |= !line.empty(); });
    if (status != 0 || !pending)
        return;
    printf("installer: Finishing an interrupted package installation (dpkg --configure -a)\n");
    fflush(stdout);
    status = run_process_lines(
        {"/usr/bin/dpkg", "--force-confdef", "--force-confold", "--configure", "-a"}, print_line,
        true);
    if (status != 0)
        printf("installer: Finishing it failed (dpkg exited with status %d).\n", status);
    fflush(stdout);
}

int install(const std::string& package) {
    struct stat st;
    // Diagnostics go to standard output, which the daemon copies into its log.
    if (stat(package.c_str(), &st) != 0) {
        printf("installer: %s: no such package\n", package.c_str());
        return 1;
    }
    if (!S_ISREG(st.st_mode) || !is_debian_package(package)) {
        printf(
            "installer: %s is not a Debian package (.deb); only Debian packages can be "
            "installed on this system\n",
            package.c_str());
        return 1;
    }
    printf("installer: Package name is %s\n", base_name(package).c_str());
    printf("installer: Installing at base path /\n");
    fflush(stdout);
    // Never stop to ask: there is nobody to answer.
    setenv("DEBIAN_FRONTEND", "noninteractive", 1);
    finish_interrupted_configuration();
    int status = run_process_lines(
        {"/usr/bin/dpkg", "--force-confdef", "--force-confold", "--install", package}, print_line,
        true);
    if (status == 0) {
        printf("installer: The install was successful.\n");
    } else {
        printf("installer: The install failed (dpkg exited with status %d).\n", status);
    }
    fflush(stdout);
    return status == 0 ? 0 : (status > 0 && status < 256 ? status : 1);
}

}  // namespace

bool is_debian_package(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[21] = {};
    in.read(head, sizeof head);
    return in.gcount() == sizeof head && std::memcmp(head, "!<arch>\n", 8) == 0 &&
           std::memcmp(head + 8, "debian-binary", 13) == 0;
}

std::string restart_action() {
    struct stat st;
    return stat(kRebootRequired, &st) == 0 ? "RequireRestart" : "None";
}

int installer_main(const std::vector<std::string>& args) {
    if (args.size() == 4 && args[0] == "-pkg" && args[2] == "-target") {
        if (args[3] != "/") {
            fprintf(stderr, "installer: only the target / is supported\n");
            return 1;
        }
        return install(args[1]);
    }
    if (args.size() == 4 && args[0] == "-query" && args[2] == "-pkg") {
        if (args[1] != "RestartAction") {
            fprintf(stderr, "installer: unknown query %s\n", args[1].c_str());
            return 1;
        }
        printf("%s\n", restart_action().c_str());
        return 0;
    }
    return usage();
}

}  // namespace vynd::installer
