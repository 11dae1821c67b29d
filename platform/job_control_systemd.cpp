// The daemon's job on systemd: vynd.timer starts vynd.service on the job file's schedule.
#include "platform/job_control.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/property_list.h"

extern char** environ;

namespace vynd {

namespace {

const char kSystemctl[] = "/bin/systemctl";
const char kTimer[] = "vynd.timer";
// systemctl is-active: the unit is not active (or not known at all).
const int kNotActive = 3;
// An administrator's drop-in, so the schedule outlives a reboot and an
// upgrade of the packaged unit.
const char kDropInDir[] = "/etc/systemd/system/vynd.timer.d";
const char kDropIn[] = "/etc/systemd/system/vynd.timer.d/schedule.conf";
// A job run every few seconds must not wait long after boot either; any
// other runs soon after boot, as a computer that was off has missed runs.
const int64_t kLongestBootDelay = 300;
const int64_t kDay = 24 * 60 * 60;
const int64_t kLongestRandomDelay = 600;
// Lasts until the next reboot, and sorts after kDropIn so that it overrides it.
const char kRuntimeDropInDir[] = "/run/systemd/system/vynd.timer.d";
const char kRuntimeDropIn[] = "/run/systemd/system/vynd.timer.d/since-load.conf";

// The caller's output is its reply: failures are noted in the system log only.
void note(const std::string& message) {
    syslog(LOG_NOTICE, "%s", message.c_str());
}

int systemctl(std::vector<std::string> args) {
    args.insert(args.begin(), kSystemctl);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// One calendar entry: a missing key matches every value, as launchd has it.
std::optional<std::string> on_calendar(plist_t entry) {
    if (plist_get_node_type(entry) != PLIST_DICT)
        return std::nullopt;
    std::string fields[2] = {"*", "*"};
    const char* keys[2] = {"Hour", "Minute"};
    const int64_t limits[2] = {23, 59};
    for (int i = 0; i < 2; ++i) {
        if (!plist_dict_get_item(entry, keys[i]))
            continue;
        auto value = plist_dict_int(entry, keys[i]);
        if (!value || *value < 0 || *value > limits[i])
            return std::nullopt;
        fields[i] = (*value < 10 ? "0" : "") + std::to_string(*value);
    }
    return "OnCalendar=*-*-* " + fields[0] + ":" + fields[1] + ":00\n";
}

}  // namespace

std::optional<TimerSchedule> timer_schedule(plist_t job, RandomDelay random_delay) {
    if (!job || plist_get_node_type(job) != PLIST_DICT)
        return std::nullopt;
    // Empty assignments first: they drop the timers set before, the packaged
    // unit's own or the boot file's.
    const std::string resets = "[Timer]\nOnBootSec=\nOnUnitActiveSec=\nOnCalendar=\n";
    std::string boot_runs, load_runs, calendar_runs;
    int64_t period = kDay;
    if (plist_dict_get_item(job, "StartInterval")) {
        auto seconds = plist_dict_int(job, "StartInterval");
        // Zero would start the job again the moment it ends.
        if (!seconds || *seconds <= 0)
            return std::nullopt;
        std::string every = "OnUnitActiveSec=" + std::to_string(*seconds) + "s\n";
        boot_runs =
            "OnBootSec=" + std::to_string(std::min(*seconds, kLongestBootDelay)) + "s\n" + every;
        load_runs = "OnActiveSec=" + std::to_string(*seconds) + "s\n" + every;
        period = std::min(period, *seconds);
    }
    if (plist_t calendar = plist_dict_get_item(job, "StartCalendarInterval")) {
        std::vector<plist_t> entries;
        if (plist_get_node_type(calendar) == PLIST_ARRAY) {
            for (uint32_t i = 0; i < plist_array_get_size(calendar); ++i)
                entries.push_back(plist_array_get_item(calendar, i));
        } else {
            entries.push_back(calendar);
        }
        for (plist_t entry : entries) {
            auto line = on_calendar(entry);
            if (!line)
                return std::nullopt;
            calendar_runs += *line;
        }
    }
    if (boot_runs.empty() && calendar_runs.empty())
        return std::nullopt;
    int64_t delay = random_delay && *random_delay >= 0 ? *random_delay
                                                       : std::min(period / 10, kLongestRandomDelay);
    TimerSchedule schedule;
    schedule.at_boot =
        resets + boot_runs + calendar_runs + "RandomizedDelaySec=" + std::to_string(delay) + "s\n";
    if (!load_runs.empty())
        schedule.since_load = resets + load_runs + calendar_runs;
    return schedule;
}

int job_list() {
    // "Not active" is 3 to systemctl but 1 to callers, as a job that is not
    // loaded always was; other failures keep their own status.
    int status = systemctl({"is-active", "--quiet", kTimer});
    return status == kNotActive ? 1 : status;
}

int job_unload() {
    return systemctl({"disable", "--now", "--quiet", kTimer});
}

namespace {

// Writes a drop-in atomically, making its folder (and the folders above it,
// which /run may lack) as needed.
bool write_drop_in(const char* folder, const char* path, const std::string& text) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        note(std::string("cannot create ") + folder + ": " + ec.message());
        return false;
    }
    std::string err;
    if (!write_file_atomically(path, text, &err, 0644)) {
        note(err);
        return false;
    }
    return true;
}

}  // namespace

int job_load(const std::string& job_file, RandomDelay random_delay) {
    auto job = read_property_list_dictionary(job_file);
    if (!job) {
        note("cannot read the job file " + job_file);
        return 1;
    }
    auto schedule = timer_schedule(job->get(), random_delay);
    if (!schedule) {
        note("the job file " + job_file + " holds no schedule the timer can keep");
        return 1;
    }
    std::string banner = "# Written by vyndctl from " + job_file +
                         " when the job is loaded; edit the job file, not this file.\n";
    if (!write_drop_in(kDropInDir, kDropIn, banner + schedule->at_boot))
        return 1;
    if (schedule->since_load.empty()) {
        if (unlink(kRuntimeDropIn) != 0 && errno != ENOENT) {
            note(std::string("cannot remove ") + kRuntimeDropIn);
            return 1;
        }
    } else if (!write_drop_in(kRuntimeDropInDir, kRuntimeDropIn, banner + schedule->since_load)) {
        return 1;
    }
    if (int status = systemctl({"daemon-reload"}); status != 0)
        return status;
    return systemctl({"enable", "--now", "--quiet", kTimer});
}

}  // namespace vynd
