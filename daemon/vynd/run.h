// One daemon run: the options and the sequence from start to shutdown.
#pragma once

#include <atomic>

#include "daemon/vynd/lock.h"
#include "daemon/vynd/manifests.h"
#include "daemon/vynd/mount.h"
#include "daemon/vynd/notify.h"
#include "daemon/vynd/prefs.h"

namespace vynd {

// What a run knows and holds, handed to the steps that need it.
struct RunContext {
    // Logged-in users counted at start.
    int users_logged_in = 0;
    // Set by -t: the mirrored areas go under /var/db/vynd.
    bool test_mode = false;
    // Set by package installation and software update; read at the very end,
    // and by a stop signal's thread when it ends the run.
    std::atomic<bool> requires_restart = false;
    RunLock lock;
    Settings settings;
    Share share;
    Notifier notifier;
};

// The program: parses the options and runs.
int vynd_main(int argc, char** argv);

[[noreturn]] void print_usage();
[[noreturn]] void show_setup();
[[noreturn]] void null_sleep_test();
void vynd_init(RunContext& run);
void vynd_shutdown(RunContext& run, const Manifests& jobs);
void restart_computer(const Notifier& notifier);

}  // namespace vynd
