// The daemon's job on systemd: vynd.timer starts vynd.service on the job file's schedule.
#include "job_control.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "property_list.h"

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

// The caller's standard output carries only its reply, so the service
// manager's output goes to /dev/null.
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

std::optional<std::string> timer_schedule(plist_t job) {
    if (!job || plist_get_node_type(job) != PLIST_DICT)
        return std::nullopt;
    // Empty assignments first: they drop the packaged unit's own schedule.
    std::string out = "[Timer]\nOnBootSec=\nOnUnitActiveSec=\nOnCalendar=\n";
    bool any = false;
    if (plist_dict_get_item(job, "StartInterval")) {
        auto seconds = plist_dict_int(job, "StartInterval");
        // Zero would start the job again the moment it ends.
        if (!seconds || *seconds <= 0)
            return std::nullopt;
        out += "OnBootSec=" + std::to_string(std::min(*seconds, kLongestBootDelay)) + "s\n";
        out += "OnUnitActiveSec=" + std::to_string(*seconds) + "s\n";
        any = true;
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
            out += *line;
            any = true;
        }
    }
    if (!any)
        return std::nullopt;
    return out;
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

int job_load(const std::string& job_file) {
    auto job = read_property_list_dictionary(job_file);
    if (!job) {
        note("cannot read the job file " + job_file);
        return 1;
    }
    auto schedule = timer_schedule(job->get());
    if (!schedule) {
        note("the job file " + job_file + " holds no schedule the timer can keep");
        return 1;
    }
    std::string text = "# Written by vyndctl from " + job_file +
                       " when the job is loaded; edit the job file, not this file.\n" + *schedule;
    std::string err;
    if (mkdir(kDropInDir, 0755) != 0 && errno != EEXIST) {
        note(std::string("cannot create ") + kDropInDir);
        return 1;
    }
    if (!write_file_atomically(kDropIn, text, &err, 0644)) {
        note(err);
        return 1;
    }
    if (int status = systemctl({"daemon-reload"}); status != 0)
        return status;
    return systemctl({"enable", "--now", "--quiet", kTimer});
}

}  // namespace vynd
