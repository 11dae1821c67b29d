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

// How long the timer may put off each run, in seconds, to spread a fleet that
// would otherwise hit the share at the same moment. No value: a tenth of the
// schedule's period (a day for a daily time), at most ten minutes.
using RandomDelay = std::optional<int64_t>;

// Takes the schedule from the job file, clears the disabled mark and starts
// the job; the first run comes one interval after loading, never at once.
// Fails with 1, starting nothing, when the job file holds no schedule the
// timer can keep.
[[nodiscard]] int job_load(const std::string& job_file = kJobFile, RandomDelay random_delay = {});

// The timer settings for the schedule keys of a job file's dictionary
// (`StartInterval`, `StartCalendarInterval`).
struct TimerSchedule {
    // What the timer keeps from boot on: runs soon after boot, then on the schedule.
    std::string at_boot;
    // What replaces its interval runs from loading until the next reboot: the
    // boot delay is long past then and would start a run at once. Empty for a
    // schedule of daily times only.
    std::string since_load;
};

// No value when the dictionary holds no schedule the timer can keep (a
// missing or non-positive interval, an hour or minute out of range).
[[nodiscard]] std::optional<TimerSchedule> timer_schedule(plist_t job, RandomDelay random_delay = {});

}  // namespace vynd
