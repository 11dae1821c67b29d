// Whether a daemon run holds the run lock right now.
#pragma once

#include <string>

namespace vynd {

// True exactly when the lock file opens and its exclusive lock is refused;
// a missing or unopenable file means no run. When the lock is free it is
// taken and released at once.
[[nodiscard]] bool daemonHoldsLock(const std::string& lockPath);

}  // namespace vynd
