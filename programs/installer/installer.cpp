// The package installer of this platform: Debian packages through dpkg.
#include "programs/installer/installer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/process.h"
#include "platform/unique_fd.h"

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

bool is_debian_archive(int fd) {
    char head[21] = {};
    return pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
           std::memcmp(head, "!<arch>\n", 8) == 0 &&
           std::memcmp(head + 8, "debian-binary", 13) == 0;
}

// Opens the package for reading only when the path itself is a regular
// file: a link is never followed and a device never opened. Everything after
// works on the descriptor, so whatever is put at the path later is not what
// gets installed. Nothing held, with the reason written to `say`, otherwise.
UniqueFd open_package(const std::string& package, FILE* say) {
    const UniqueFd item(open(package.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!item || fstat(item.get(), &st) != 0) {
        if (errno == ENOENT)
            fprintf(say, "installer: %s: no such package\n", package.c_str());
        else
            fprintf(say, "installer: %s: %s\n", package.c_str(), strerror(errno));
        return UniqueFd();
    }
    UniqueFd fd;
    if (S_ISLNK(st.st_mode)) {
        fprintf(say,
                "installer: %s is a symbolic link; only a regular file is installed, never what a "
                "link names\n",
                package.c_str());
    } else if (S_ISDIR(st.st_mode)) {
        fprintf(say,
                "installer: %s is not a Debian package (.deb); only Debian packages can be "
                "installed on this system\n",
                package.c_str());
    } else if (!S_ISREG(st.st_mode)) {
        fprintf(say, "installer: %s is not a regular file; only a regular file is installed\n",
                package.c_str());
    } else {
        fd.reset(
            open(("/proc/self/fd/" + std::to_string(item.get())).c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd)
            fprintf(say, "installer: %s: %s\n", package.c_str(), strerror(errno));
    }
    return fd;
}

int install(const std::string& package) {
    // Diagnostics go to standard output, which the daemon copies into its log.
    const UniqueFd fd = open_package(package, stdout);
    if (!fd)
        return 1;
    if (!is_debian_archive(fd.get())) {
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
    // dpkg reads the very file checked above, lent to it as a descriptor.
    int status =
        run_process_lines({"/usr/bin/dpkg", "--force-confdef", "--force-confold", "--install",
                           "/proc/self/fd/" + std::to_string(kLentDescriptor)},
                          print_line, true, {}, {}, fd.get());
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
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return fd && is_debian_archive(fd.get());
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
        // Asked only of a file that would be installed. Standard output
        // carries nothing but the answer.
        if (!open_package(args[3], stderr))
            return 1;
        printf("%s\n", restart_action().c_str());
        return 0;
    }
    return usage();
}

}  // namespace vynd::installer
