// One daemon run: the options and the sequence from start to shutdown.
#include "daemon/vynd/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "daemon/vynd/database.h"
#include "daemon/vynd/lock.h"
#include "daemon/vynd/log.h"
#include "daemon/vynd/manifests.h"
#include "daemon/vynd/mount.h"
#include "daemon/vynd/notify.h"
#include "daemon/vynd/prefs.h"
#include "daemon/vynd/run_report.h"
#include "daemon/vynd/software_update.h"
#include "daemon/vynd/stop_signals.h"
#include "daemon/vynd/users.h"
#include "platform/restart.h"
#include "platform/share/share_mount.h"
#include "platform/share/share_url.h"
#include "platform/system_log.h"

namespace vynd {

void print_usage() {
    puts("usage: vynd [-hicsnt]");
    puts("\th : shows this menu");
    puts("\ti : install files");
    puts("\tc : clean local database");
    puts("\ts : show setup");
    puts("\tn : null sleep test");
    puts("\tt : test mode (downloads to /var/db/vynd) ");
    exit(0);
}

void show_setup() {
    const Settings settings = read_prefs();
    const std::optional<std::string>& hostname = settings.hostname;
    std::optional<std::string> escaped;
    if (hostname)
        escaped = percent_escape_ascii(*hostname);
    printf("host: %s %s\n", hostname ? hostname->c_str() : "(null)",
           escaped ? escaped->c_str() : "(null)");
    printf("%s -> %s -> /Applications\n", settings.app.path.c_str(), "/var/db/vynd/Applications");
    printf("%s -> %s -> /Users\n", settings.user.path.c_str(), "/var/db/vynd/Users");
    printf("%s -> %s -> /Library\n", settings.lib.path.c_str(), "/var/db/vynd/Library");
    printf("%s -> %s -> <install>\n", settings.pkg_path.c_str(), "/var/db/vynd/Packages");
    printf("auto_restart: %s\n", settings.auto_restart ? "yes" : "no");
    printf("bandwidth: %d kb/s\n", settings.bandwidth);
    if (!settings.error.empty())
        fprintf(stderr, "vynd: %s\n", settings.error.c_str());
    exit(0);
}

void null_sleep_test() {
    puts("vynd null test, waiting 30 sec...");
    fflush(stdout);
    RunLock lock = file_lock();
    report_public_lock(lock);
    sleep(30);
    file_unlock(lock);
    puts("vynd goodbye");
    fflush(stdout);
    exit(0);
}

void vynd_init(RunContext& run) {
    run.lock = file_lock();
    std::string report_problem;
    report_run_started(&report_problem);
    if (!open_log_file())
        vynd_log("Fatal", "can't open log file");
    catch_stop_signals();
    vynd_log("Info", "vynd started");
    report_public_lock(run.lock);
    if (!run.settings.error.empty())
        vynd_log("Error", "%s", run.settings.error.c_str());
    if (!report_problem.empty())
        vynd_log("Error", "%s", report_problem.c_str());
    // Before anything in the database is read or written.
    close_database_to_others();
    // What a run killed outright (SIGKILL, a power cut) left behind.
    for (const auto& list : {remove_leftover_credentials(), remove_half_written_manifests(),
                             remove_half_written_reports(kDatabasePath, kTextfileFolder)}) {
        for (const auto& path : list)
            vynd_log("Info", "Removed %s, left behind by a run that was stopped", path.c_str());
    }
}

void vynd_shutdown(RunContext& run, const Manifests& jobs) {
    save_manifests(jobs);
    unmount_vol(run.share);
    std::string err;
    if (!write_run_report(0, run.requires_restart, &err))
        vynd_log("Error", "Could not write the run report: %s", err.c_str());
    vynd_log("Debug", "vynd finished");
    close_log_file();
    file_unlock(run.lock);
    run.notifier.growl("Process has shutdown succesfully", "Info");
}

void restart_computer(const Notifier& notifier) {
    notifier.growl("vynd restarting computer", "Info");
    if (!request_restart())
        reboot_fallback();
}

int vynd_main(int argc, char** argv) {
    // What this program and its children (rsync, the installer) make must not
    // be writable by others, whatever umask it was started with (pkexec and
    // shells pass theirs on).
    umask(022);
    system_log_open("vynd");
    RunContext run;
    {
        const std::vector<Login> logins = logged_in_users();
        run.users_logged_in = check_users_logged_in(logins);
        run.notifier = growl_init(logins);
    }
    set_log_hooks({
        [](const char* message) { report_error(message); },
        [&run](const std::string& message, const std::string& level) {
            run.notifier.growl(message, level);
        },
        [&run] {
            // The Fatal line stays the last of the log; a report not written is told elsewhere.
            std::string err;
            if (!write_run_report(255, run.requires_restart, &err))
                system_log("Could not write the run report: " + err);
        },
    });

    bool install_requested = false;
    bool clean_requested = false;
    // "+": stop at the first operand instead of reordering the arguments.
    for (int ch; (ch = getopt(argc, argv, "+icshnt")) != -1;) {
        switch (ch) {
            case 'i':
                install_requested = true;
                break;
            case 'c':
                clean_requested = true;
                break;
            case 't':
                run.test_mode = true;
                break;
            case 's':
                show_setup();
            case 'n':
                null_sleep_test();
            case 'h':
            default:
                print_usage();
        }
    }
    if (!install_requested && !clean_requested)
        print_usage();

    run.settings = read_prefs();
    if (run.settings.run_at_login && run.users_logged_in > 0) {
        vynd_log("Info", "Exiting, vynd restricted to running only when users are not logged in");
        exit(0);
    }

    vynd_init(run);
    if (clean_requested)
        clean_database();
    mount_vol(run.share, run.settings);
    const Manifests jobs = load_manifests(run.settings, run.share, run.test_mode);
    mkdbdir();
    if (install_requested) {
        install(jobs, {run.settings, run.share, run.notifier, run.requires_restart});
        if (run.settings.sus_mode != 0 && software_update(run.settings) && run.settings.sus_restart)
            run.requires_restart = true;
        if (run.settings.sus_repair)
            (void)repair_permissions();
    }
    vynd_shutdown(run, jobs);

    if (run.requires_restart)
        restart_computer(run.notifier);
    set_log_hooks({});
    return 0;
}

}  // namespace vynd
