// The daemon's scheduled job: asking whether it is loaded, unloading and loading it.
#pragma once

#include <plist/plist.h>

#include <optional>
#include <string>

namespace vynd {

// The launchd job file: the source of the job's schedule.
inline constexpr const char* kJobFile = "/Library/LaunchDaemons/com.quenderlyn.vynd.plist";

// Each operation returns the exit status of the service manager's command
// (0 means loaded or done), or -1 when the command could not be run at all.
// Nothing is written to standard output or standard error.

// 0 when the job is loaded (its timer is active), 1 when it is not, another
// status when the service manager fails.
[[nodiscard]] int job_list();

// Stops the job and marks it disabled, so it stays stopped across restarts.
[[nodiscard]] int job_unload();

// Takes the schedule from the job file, clears the disabled mark and starts
// the job. Fails with 1, starting nothing, when the job file holds no
// schedule the timer can keep.
[[nodiscard]] int job_load(const std::string& job_file = kJobFile);

// The timer settings for the schedule keys of a job file's dictionary
// (`StartInterval`, `StartCalendarInterval`); no value when it holds none the
// timer can keep (a missing or non-positive interval, an hour or minute out
// of range).
[[nodiscard]] std::optional<std::string> timer_schedule(plist_t job);

}  // namespace vynd
