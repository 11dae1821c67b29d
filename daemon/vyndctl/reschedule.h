// Mode t: a new schedule for the daemon's job, written into the job file.
#pragma once

#include <plist/plist.h>

#include <string>

#include "platform/job_control.h"

namespace vynd {

// Sets the job dictionary's schedule from "HH:MM" (`StartCalendarInterval`
// {`Hour`, `Minute`}) or a number of seconds (`StartInterval`), removing the
// other key. Values are read as atoi reads them; ranges are `reschedule`'s
// to check.
void set_schedule(plist_t job, const std::string& value);

// Unloads a loaded job, rewrites the job file's schedule and loads the job
// again. The result is the reload's status, or 255 when the job was not
// loaded (it stays unloaded). A value the timer cannot keep (an hour or
// minute out of range, an interval below one second) changes nothing and
// gives 1.
[[nodiscard]] int reschedule(const std::string& value, const std::string& job_file = kJobFile,
                             RandomDelay random_delay = {});

}  // namespace vynd
