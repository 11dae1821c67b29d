// The Packages job: each new package of the share downloaded, installed once, recorded.
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "area_paths.h"
#include "database.h"
#include "log.h"
#include "mount.h"
#include "notify.h"
#include "prefs.h"
#include "process.h"
#include "rsync_output.h"
#include "run.h"
#include "run_report.h"
#include "sync_job.h"
#include "system_tools.h"

namespace vynd {

namespace {

// The names in a folder in the order the file system lists them: hidden
// entries too, no sorting, no filtering. A missing folder lists nothing.
std::vector<std::string> list_folder(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return names;
    while (struct dirent* e = readdir(dir)) {
        std::string_view n = e->d_name;
        if (n != "." && n != "..")
            names.emplace_back(n);
    }
    closedir(dir);
    return names;
}

// A package that did not get installed is told to whoever is logged in, as
// always, and logged as an Error, so the log and the run report show that
// the computer is failing; it is tried again at the next run.
void package_not_installed(const std::string& name) {
    const std::string shown = escape_name(name);
    vynd_log("Error", "Package %s not installed", shown.c_str());
    growl("Package " + shown + " not installed", "Packages");
    report_package(name, false);
}

}  // namespace

void SyncJob::pkgInstall() {
    vynd_log("Debug", "Installing Packages...");
    const std::string src = srcPath.value_or("");
    const bool remote = share_is_remote();
    int folder = volURL && !remote ? open_folder_below(volURL->path, src) : -1;
    bool is_link = (volURL && !remote && folder < 0 && errno == ELOOP) ||
                   (remote && remote_folder_is_link(src));
    if (folder >= 0)
        close(folder);
    if (is_link) {
        vynd_log("Error", "%s is a symbolic link on the share: no package installed", src.c_str());
        vynd_log("Debug", "Package installs finished");
        return;
    }
    std::vector<std::string> names =
        remote ? list_share_folder(src).value_or(std::vector<std::string>{}) : list_folder(src);
    for (const auto& name : names) {
        if (files().count(name))
            continue;
        if (!rsyncPkgDownload(name)) {
            // Never hand the installer a partial or stale copy.
            vynd_log("Debug", "Download of package %s failed", escape_name(name).c_str());
            package_not_installed(name);
            continue;
        }
        installPkg(name);
    }
    vynd_log("Debug", "Package installs finished");
}

bool SyncJob::rsyncPkgDownload(const std::string& name) {
    const std::string target = fullDstPath("") + "/";
    std::string command = rsyncWithOptions() + " \"" + fullSrcPath(name) + "\" \"" + target + "\"";
    vynd_log("Debug", "%s", escape_name(command).c_str());
    std::vector<std::string> argv = rsyncArguments();
    std::vector<std::string> env;
    RemoteAccess access;
    if (!add_share_access(access, argv, env))
        return false;
    argv.push_back(fullSrcPath(name));
    argv.push_back(target);
    int status = run_process_lines(
        argv, [](std::string_view line) { printf("%.*s\n", static_cast<int>(line.size()), line.data()); },
        false, {}, env);
    fflush(stdout);
    return status == 0;
}

void SyncJob::installPkg(const std::string& name) {
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
        package_not_installed(name);
        return;
    }
    if (auto_restart && packageRequiresRestart(name))
        requires_restart = true;
    fileAtPath(files(), name);
    (void)rmpath(path, false);
    growl("Package " + escape_name(name) + " installed", "Packages");
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
