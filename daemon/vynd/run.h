// One daemon run: the options and the sequence from start to shutdown.
#pragma once

namespace vynd {

// Logged-in users counted at start.
extern int users_logged_in;
// Set by -t: the mirrored areas go under /var/db/vynd.
extern bool test_mode;
// Set by package installation and software update; read at the very end.
extern bool requires_restart;

// The program: parses the options and runs.
int vynd_main(int argc, char** argv);

[[noreturn]] void print_usage();
[[noreturn]] void show_setup();
[[noreturn]] void null_sleep_test();
void vynd_init();
void vynd_shutdown();
void restart_computer();

}  // namespace vynd
