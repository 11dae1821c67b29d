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

int users_logged_in = 0;
bool test_mode = false;
bool requires_restart = false;

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
    read_prefs();
    std::optional<std::string> escaped;
    if (hostname)
        escaped = percent_escape_ascii(*hostname);
    printf("host: %s %s\n", hostname ? hostname->c_str() : "(null)",
           escaped ? escaped->c_str() : "(null)");
    printf("%s -> %s -> /Applications\n", app_path.c_str(), "/var/db/vynd/Applications");
    printf("%s -> %s -> /Users\n", user_path.c_str(), "/var/db/vynd/Users");
    printf("%s -> %s -> /Library\n", lib_path.c_str(), "/var/db/vynd/Library");
    printf("%s -> %s -> <install>\n", pkg_path.c_str(), "/var/db/vynd/Packages");
    printf("auto_restart: %s\n", auto_restart ? "yes" : "no");
    printf("bandwidth: %d kb/s\n", bandwidth);
    if (!prefs_error.empty())
        fprintf(stderr, "vynd: %s\n", prefs_error.c_str());
    exit(0);
}

void null_sleep_test() {
    puts("vynd null test, waiting 30 sec...");
    fflush(stdout);
    file_lock();
    report_public_lock();
    sleep(30);
    file_unlock();
    puts("vynd goodbye");
    fflush(stdout);
    exit(0);
}

void vynd_init() {
    file_lock();
    std::string report_problem;
    report_run_started(&report_problem);
    if (!open_log_file())
        vynd_log("Fatal", "can't open log file");
    catch_stop_signals();
    vynd_log("Info", "vynd started");
    report_public_lock();
    if (!prefs_error.empty())
        vynd_log("Error", "%s", prefs_error.c_str());
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

void vynd_shutdown() {
    save_manifests();
    unmount_vol();
    std::string err;
    if (!write_run_report(0, requires_restart, &err))
        vynd_log("Error", "Could not write the run report: %s", err.c_str());
    vynd_log("Debug", "vynd finished");
    close_log_file();
    file_unlock();
    growl("Process has shutdown succesfully", "Info");
}

void restart_computer() {
    growl("vynd restarting computer", "Info");
    if (!request_restart())
        reboot_fallback();
}

int vynd_main(int argc, char** argv) {
    // What this program and its children (rsync, the installer) make must not
    // be writable by others, whatever umask it was started with (pkexec and
    // shells pass theirs on).
    umask(022);
    system_log_open("vynd");
    check_users_logged_in();
    growl_init();

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
                test_mode = true;
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

    read_prefs();
    if (run_at_login && users_logged_in > 0) {
        vynd_log("Info", "Exiting, vynd restricted to running only when users are not logged in");
        exit(0);
    }

    vynd_init();
    if (clean_requested)
        clean_database();
    mount_vol();
    load_manifests();
    mkdbdir();
    if (install_requested) {
        install();
        if (sus_mode != 0 && software_update() && sus_restart)
            requires_restart = true;
        if (sus_repair)
            (void)repair_permissions();
    }
    vynd_shutdown();

    if (requires_restart)
        restart_computer();
    return 0;
}

}  // namespace vynd
