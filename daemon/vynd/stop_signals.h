// A run stopped by SIGTERM (systemctl stop), SIGINT or SIGHUP.
#pragma once

namespace vynd {

// From now on a stop signal ends the run as a Fatal line does, after ending
// the running child and removing the secrets and half-written files the
// run has made.
void catch_stop_signals();

}  // namespace vynd
