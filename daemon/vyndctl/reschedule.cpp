// Mode t: a new schedule for the daemon's job, written into the job file.
#include "daemon/vyndctl/reschedule.h"

#include <cstdlib>
#include <vector>

#include "daemon/vyndctl/ctl_log.h"
#include "daemon/vyndctl/reply.h"
#include "platform/property_list.h"

namespace vynd {

namespace {

std::vector<std::string> split_at_colons(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
        parts.push_back(text.substr(start, colon - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Integers are stored as libplist keeps them: a signed value in its
// unsigned node, written back as the signed number.
plist_t integer(int value) {
    return plist_new_uint(static_cast<uint64_t>(static_cast<int64_t>(value)));
}

// A binary job file may hold a key twice; libplist removes one at a time.
void remove_every(plist_t dict, const char* key) {
    while (plist_dict_get_item(dict, key)) plist_dict_remove_item(dict, key);
}

}  // namespace

void set_schedule(plist_t job, const std::string& value) {
    auto parts = split_at_colons(value);
    remove_every(job, "StartInterval");
    remove_every(job, "StartCalendarInterval");
    if (parts.size() == 2) {
        plist_t calendar = plist_new_dict();
        plist_dict_set_item(calendar, "Hour", integer(std::atoi(parts[0].c_str())));
        plist_dict_set_item(calendar, "Minute", integer(std::atoi(parts[1].c_str())));
        plist_dict_set_item(job, "StartCalendarInterval", calendar);
    } else {
        plist_dict_set_item(job, "StartInterval", integer(std::atoi(value.c_str())));
    }
}

int reschedule(const std::string& value, const std::string& job_file, RandomDelay random_delay) {
    // A value the timer cannot keep would stop the job here and fail every
    // later load: it is refused before anything changes.
    Plist probe(plist_new_dict());
    set_schedule(probe.get(), value);
    if (!timer_schedule(probe.get())) {
        ctl_log("\"" + value + "\" is no schedule the timer can keep; the job is left as it was");
        return 1;
    }
    bool loaded = job_list() == 0;
    int reply = 255;
    if (loaded)
        reply = reply_value(job_unload());
    // A missing or broken job file is left alone; the job is still reloaded.
    if (auto job = read_property_list_dictionary(job_file)) {
        set_schedule(job->get(), value);
        std::string err;
        if (!write_property_list_atomically(job_file, job->get(), &err, 0644))
            ctl_log(err);
    }
    if (loaded)
        reply = reply_value(job_load(job_file, random_delay));
    return reply;
}

}  // namespace vynd
