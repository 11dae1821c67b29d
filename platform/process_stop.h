// A process stopped by SIGTERM, SIGINT or SIGHUP: what it started and what it
// made for itself do not outlive it.
#pragma once

namespace vynd {

// Ends the process once it is stopped; called with the stop signal.
using StopEnd = void (*)(int signal);

// From now on a stop signal ends the running child (and no other starts),
// removes the leftover files and folders, then calls `end` on a thread of
// its own, which ends the process: the threads that were working wait for
// that instead of going on. Should `end` return, the process ends with
// 128 + the signal. Only the first call counts.
void end_on_stop_signals(StopEnd end);

}  // namespace vynd
