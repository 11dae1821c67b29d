// The Packages job: each new package of the share downloaded, installed once, recorded.
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "daemon/vynd/area_paths.h"
#include "daemon/vynd/database.h"
#include "daemon/vynd/log.h"
#include "daemon/vynd/mount.h"
#include "daemon/vynd/notify.h"
#include "daemon/vynd/prefs.h"
#include "daemon/vynd/rsync_command.h"
#include "daemon/vynd/rsync_output.h"
#include "daemon/vynd/run_report.h"
#include "daemon/vynd/sync_job.h"
#include "platform/process.h"
#include "platform/system_tools.h"
#include "platform/unique_fd.h"

namespace vynd {

namespace {

// The type of an item as the first character of its mode, as ls and a
// remote listing show it.
char type_of(mode_t mode) {
    if (S_ISREG(mode))
        return '-';
    if (S_ISDIR(mode))
        return 'd';
    if (S_ISLNK(mode))
        return 'l';
    if (S_ISCHR(mode))
        return 'c';
    if (S_ISBLK(mode))
        return 'b';
    if (S_ISFIFO(mode))
        return 'p';
    if (S_ISSOCK(mode))
        return 's';
    return '?';
}

std::string kind_of(char type) {
    switch (type) {
        case '-':
            return "a regular file";
        case 'd':
            return "a folder";
        case 'l':
            return "a symbolic link";
        case 'c':
        case 'b':
            return "a device";
        case 'p':
            return "a FIFO";
        case 's':
            return "a socket";
        default:
            return "neither a regular file nor a folder";
    }
}

// The folder opened for listing; null when it cannot be.
DIR* open_listing(int folder) {
    UniqueFd fd(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = fd ? fdopendir(fd.get()) : nullptr;
    if (dir)
        (void)fd.release();  // the listing closes it
    return dir;
}

// The names in the share's packages folder, reached through `folder`
// without following a link, in the order the file system lists them: hidden
// entries too, no sorting. Each comes with the type of the entry itself,
// never of what a link names.
void list_folder(int folder, std::vector<std::string>& names, std::vector<char>& types) {
    DIR* dir = open_listing(folder);
    if (!dir)
        return;
    while (struct dirent* e = readdir(dir)) {
        std::string_view n = e->d_name;
        if (n == "." || n == "..")
            continue;
        struct stat st;
        names.emplace_back(n);
        types.push_back(fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                            ? type_of(st.st_mode)
                            : '?');
    }
    closedir(dir);
}

// The first item of a downloaded package folder that a reader of the folder
// could be led out of it by, or that is no file, folder or link, named
// (escaped) with what it is; no value when there is none. `root` is the
// package folder, `folder` the one below it at `relative`.
std::optional<std::string> leaving_item(int root, int folder, const std::string& relative) {
    DIR* dir = open_listing(folder);
    if (!dir) {
        return escape_name(relative.empty() ? "." : relative) + ", a folder that cannot be read";
    }
    std::optional<std::string> found;
    while (!found) {
        struct dirent* e = readdir(dir);
        if (!e)
            break;
        std::string_view n = e->d_name;
        if (n == "." || n == "..")
            continue;
        const std::string item = relative.empty() ? std::string(n) : relative + "/" + e->d_name;
        struct stat st;
        if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            found = escape_name(item) + ", gone while it was checked";
        } else if (S_ISDIR(st.st_mode)) {
            UniqueFd sub(
                openat(dirfd(dir), e->d_name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            found = sub ? leaving_item(root, sub.get(), item)
                        : escape_name(item) + ", a folder that cannot be read";
        } else if (S_ISLNK(st.st_mode)) {
            // The kernel resolves the link as a reader would and refuses
            // any step out of the package folder, whether by "..", by an
            // absolute target or by another link met on the way. A link to
            // nothing inside it leads nowhere; where the kernel cannot tell,
            // every link is refused.
            struct open_how how {};
            how.flags = O_PATH | O_CLOEXEC;
            how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
            UniqueFd target(
                static_cast<int>(syscall(SYS_openat2, root, item.c_str(), &how, sizeof how)));
            if (!target && errno != ENOENT)
                found = escape_name(item) + ", a symbolic link that leads out of it";
        } else if (!S_ISREG(st.st_mode)) {
            found = escape_name(item) + ", " + kind_of(type_of(st.st_mode));
        }
    }
    closedir(dir);
    return found;
}

// What is wrong with the download of a package the share listed as `listed`
// ('-' or 'd'): rsync copies links, devices and FIFOs as what they are, and
// the share may have changed between its listing and the download. No value
// when the download is that regular file, or that folder holding no link
// out of it and nothing but files, folders and links.
std::optional<std::string> download_fault(const std::string& downloads, const std::string& name,
                                          char listed) {
    UniqueFd dir(open(downloads.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!dir || fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::string("its download is missing");
    std::optional<std::string> fault;
    char got = type_of(st.st_mode);
    if (got != listed) {
        fault = "the share listed it as " + kind_of(listed) + " and " + kind_of(got) +
                " was downloaded";
    } else if (st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        // Someone besides root could change it before the installer reads it.
        fault = "its download is not root's alone";
    } else if (got == 'd') {
        UniqueFd root(
            openat(dir.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        std::optional<std::string> item =
            root ? leaving_item(root.get(), root.get(), "")
                 : std::optional<std::string>("., a folder that cannot be read");
        if (item)
            fault = "the package folder holds " + *item;
    }
    return fault;
}

// A package that did not get installed is told to whoever is logged in, as
// always, and logged as an Error (with the reason when there is one beyond
// the installer's own output), so the log and the run report show that the
// computer is failing; it is tried again at the next run.
void package_not_installed(const Notifier& notifier, const std::string& name,
                           const std::string& why = "") {
    const std::string shown = escape_name(name);
    if (why.empty())
        vynd_log("Error", "Package %s not installed", shown.c_str());
    else
        vynd_log("Error", "Package %s not installed: %s", shown.c_str(), why.c_str());
    notifier.growl("Package " + shown + " not installed", "Packages");
    report_package(name, false);
}

}  // namespace

void SyncJob::pkgInstall(const JobContext& run) {
    vynd_log("Debug", "Installing Packages...");
    const std::string src = srcPath.value_or("");
    const Share& share = run.share;
    const std::optional<ShareUrl>& volURL = share.volURL;
    const bool remote = share_is_remote(share);
    UniqueFd folder(volURL && !remote ? open_folder_below(volURL->path, src) : -1);
    bool is_link = (volURL && !remote && !folder && errno == ELOOP) ||
                   (remote && remote_folder_is_link(share, src));
    if (is_link) {
        vynd_log("Error", "%s is a symbolic link on the share: no package installed", src.c_str());
        vynd_log("Debug", "Package installs finished");
        return;
    }
    if (siteExcludeRefused()) {
        vynd_log("Debug", "Package installs finished");
        return;
    }
    std::vector<std::string> names;
    std::vector<char> types;
    if (remote) {
        names = list_share_folder(share, src, &types).value_or(std::vector<std::string>{});
    } else if (folder) {
        list_folder(folder.get(), names, types);
        folder.reset();
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (files().count(name))
            continue;
        // Only what the share holds as itself is installed: a link would
        // hand the installer a file of this computer that anyone may have
        // written, and a device or FIFO is no package.
        char type = i < types.size() ? types[i] : '?';
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
            package_not_installed(run.notifier, name, "not a name a folder can hold");
            continue;
        }
        if (type != '-' && type != 'd') {
            package_not_installed(
                run.notifier, name,
                "the share lists it as " + kind_of(type) + ", not a regular file");
            continue;
        }
        if (!rsyncPkgDownload(name, run)) {
            // Never hand the installer a partial or stale copy.
            vynd_log("Debug", "Download of package %s failed", escape_name(name).c_str());
            package_not_installed(run.notifier, name);
            continue;
        }
        if (auto fault = download_fault(fullDstPath(""), name, type)) {
            (void)rmpath(fullDstPath(name), false);
            package_not_installed(run.notifier, name, *fault);
            continue;
        }
        installPkg(name, run);
    }
    vynd_log("Debug", "Package installs finished");
}

bool SyncJob::rsyncPkgDownload(const std::string& name, const JobContext& run) {
    const std::string target = fullDstPath("") + "/";
    RsyncCommand command = rsync_options(*this, run.share, run.settings.bandwidth);
    command.add_quoted("", fullSrcPath(name));
    command.add_quoted("", target);
    vynd_log("Debug", "%s", escape_name(command.text()).c_str());
    RemoteAccess access;
    if (!add_share_access(run.share, access, command))
        return false;
    int status = run_process_lines(
        command.arguments(),
        [](std::string_view line) { printf("%.*s\n", static_cast<int>(line.size()), line.data()); },
        false, {}, command.environment);
    fflush(stdout);
    return status == 0;
}

void SyncJob::installPkg(const std::string& name, const JobContext& run) {
    const std::string path = fullDstPath(name);
    std::string command = std::string(kInstallerPath) + " -pkg \"" + path + "\"  -target /";
    vynd_log("Debug", "%s", escape_name(command).c_str());
    int status = run_process_lines({kInstallerPath, "-pkg", path, "-target", "/"},
                                   [](std::string_view line) {
                                       std::string text(line);
                                       vynd_log_raw(text.c_str());
                                       printf("%s\n", text.c_str());
                                   });
    fflush(stdout);
    if (status < 0)
        vynd_log("Fatal", "Can't run installer");
    if (status != 0) {
        package_not_installed(run.notifier, name);
        return;
    }
    if (run.settings.auto_restart && packageRequiresRestart(name))
        run.requires_restart = true;
    fileAtPath(files(), name);
    (void)rmpath(path, false);
    run.notifier.growl("Package " + escape_name(name) + " installed", "Packages");
    report_package(name, true);
}

bool SyncJob::packageRequiresRestart(const std::string& name) {
    std::optional<std::string> first;
    int status =
        run_process_lines({kInstallerPath, "-query", "RestartAction", "-pkg", fullDstPath(name)},
                          [&](std::string_view line) {
                              if (!first)
                                  first = std::string(line);
                          });
    // A query that cannot be run or says nothing gives no reason to restart.
    if (status < 0 || !first)
        return false;
    return *first != "None";
}

}  // namespace vynd
