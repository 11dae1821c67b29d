// The run lock on /var/run/vynd.lock, so that one run works at a time.
#pragma once

namespace vynd {

inline constexpr const char* kLockPath = "/var/run/vynd.lock";

extern int lock_fd;

// Takes the lock or ends the run with a Fatal line.
void file_lock();
void file_unlock();

}  // namespace vynd
