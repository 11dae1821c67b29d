// The job file's schedule keys as the timer keeps them, and as mode t sets them.
#include <gtest/gtest.h>

#include "daemon/vyndctl/reschedule.h"
#include "platform/job_control.h"
#include "platform/property_list.h"

namespace {

vynd::Plist job(const std::string& body) {
    auto parsed = vynd::parse_property_list(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>Label</key><string>com.quenderlyn.vynd</string>" +
        body + "</dict></plist>");
    EXPECT_TRUE(parsed);
    return parsed ? std::move(*parsed) : vynd::Plist(plist_new_dict());
}

const std::string kResets = "[Timer]\nOnBootSec=\nOnUnitActiveSec=\nOnCalendar=\n";

std::string atBoot(const std::string& body, vynd::RandomDelay delay = {}) {
    auto schedule = vynd::timer_schedule(job(body).get(), delay);
    return schedule ? schedule->at_boot : "(none)";
}
std::string sinceLoad(const std::string& body) {
    auto schedule = vynd::timer_schedule(job(body).get());
    return schedule ? schedule->since_load : "(none)";
}

const std::string kHourly = "<key>StartInterval</key><integer>3600</integer>";
const std::string kDaily =
    "<key>StartCalendarInterval</key><dict><key>Hour</key><integer>7</integer><key>Minute</key>"
    "<integer>5</integer></dict>";

}  // namespace

TEST(TimerSchedule, IntervalRunsSoonAfterBootButOneIntervalAfterLoading) {
    EXPECT_EQ(atBoot(kHourly), kResets +
                                   "OnBootSec=300s\nOnUnitActiveSec=3600s\n"
                                   "RandomizedDelaySec=360s\n");
    // Loaded long after boot, a boot delay would already be over.
    EXPECT_EQ(sinceLoad(kHourly), kResets + "OnActiveSec=3600s\nOnUnitActiveSec=3600s\n");
    EXPECT_EQ(atBoot("<key>StartInterval</key><integer>57</integer>"),
              kResets + "OnBootSec=57s\nOnUnitActiveSec=57s\nRandomizedDelaySec=5s\n");
}

TEST(TimerSchedule, CalendarRunsDailyAtThatTime) {
    EXPECT_EQ(atBoot(kDaily), kResets + "OnCalendar=*-*-* 07:05:00\nRandomizedDelaySec=600s\n");
    EXPECT_EQ(sinceLoad(kDaily), "");
    // A key left out matches every value, as launchd reads it.
    EXPECT_EQ(atBoot("<key>StartCalendarInterval</key><dict><key>Minute</key>"
                     "<integer>30</integer></dict>"),
              kResets + "OnCalendar=*-*-* *:30:00\nRandomizedDelaySec=600s\n");
    EXPECT_EQ(atBoot("<key>StartCalendarInterval</key><array>"
                     "<dict><key>Hour</key><integer>1</integer><key>Minute</key>"
                     "<integer>0</integer></dict>"
                     "<dict><key>Hour</key><integer>13</integer><key>Minute</key>"
                     "<integer>0</integer></dict></array>"),
              kResets +
                  "OnCalendar=*-*-* 01:00:00\nOnCalendar=*-*-* 13:00:00\n"
                  "RandomizedDelaySec=600s\n");
}

TEST(TimerSchedule, RandomDelayIsATenthOfThePeriodAtMostTenMinutesUnlessSet) {
    EXPECT_EQ(atBoot("<key>StartInterval</key><integer>9</integer>").substr(kResets.size()),
              "OnBootSec=9s\nOnUnitActiveSec=9s\nRandomizedDelaySec=0s\n");
    EXPECT_NE(atBoot("<key>StartInterval</key><integer>86400</integer>")
                  .find("RandomizedDelaySec=600s\n"),
              std::string::npos);
    EXPECT_NE(atBoot(kHourly, 0).find("RandomizedDelaySec=0s\n"), std::string::npos);
    EXPECT_NE(atBoot(kDaily, 1800).find("RandomizedDelaySec=1800s\n"), std::string::npos);
}

TEST(TimerSchedule, RefusesWhatTheTimerCannotKeep) {
    for (const char* body : {
             "",
             "<key>StartInterval</key><integer>0</integer>",
             "<key>StartInterval</key><integer>-60</integer>",
             "<key>StartInterval</key><string>60</string>",
             "<key>StartCalendarInterval</key><dict><key>Hour</key><integer>25</integer>"
             "<key>Minute</key><integer>99</integer></dict>",
             "<key>StartCalendarInterval</key><dict><key>Hour</key><integer>-1</integer></dict>",
             "<key>StartCalendarInterval</key><string>10:30</string>",
         })
        EXPECT_FALSE(vynd::timer_schedule(job(body).get()).has_value()) << body;
}

TEST(SetSchedule, ReadsValuesAsAtoiDoesAndKeepsOneKey) {
    struct Case {
        const char* value;
        std::optional<int64_t> interval, hour, minute;
    };
    for (const Case& c : {Case{"10:30", {}, 10, 30}, Case{"7:", {}, 7, 0}, Case{":30", {}, 0, 30},
                          Case{"25:99", {}, 25, 99}, Case{" +8:x", {}, 8, 0},
                          Case{"-3:4", {}, -3, 4}, Case{"1:2:3", 1, {}, {}}, Case{"7", 7, {}, {}},
                          Case{"90s", 90, {}, {}}, Case{"abc", 0, {}, {}}, Case{"", 0, {}, {}}}) {
        auto dict =
            job("<key>StartInterval</key><integer>60</integer>"
                "<key>StartCalendarInterval</key><dict/>");
        vynd::set_schedule(dict.get(), c.value);
        EXPECT_EQ(vynd::plist_dict_int(dict.get(), "StartInterval"), c.interval) << c.value;
        plist_t calendar = plist_dict_get_item(dict.get(), "StartCalendarInterval");
        EXPECT_EQ(calendar != nullptr, c.hour.has_value()) << c.value;
        EXPECT_EQ(vynd::plist_dict_int(calendar, "Hour"), c.hour) << c.value;
        EXPECT_EQ(vynd::plist_dict_int(calendar, "Minute"), c.minute) << c.value;
        EXPECT_EQ(vynd::plist_dict_string(dict.get(), "Label"), "com.quenderlyn.vynd");
    }
}

// A binary job file can hold a key twice: none of the old schedule may stay.
TEST(SetSchedule, LeavesOneScheduleKeyWhenTheFileHeldOneTwice) {
    using namespace std::string_literals;
    // {"StartInterval": 60, "StartInterval": 90, "StartCalendarInterval": {},
    //  "StartCalendarInterval": {}}
    std::string body = "bplist00\xd4\x01\x01\x02\x02\x03\x04\x05\x05"s +
                       "\x5dStartInterval\x5f\x10\x15StartCalendarInterval\x10\x3c\x10\x5a\xd0"s;
    std::string offsets = "\x08\x11\x1f\x37\x39\x3b"s;
    std::string trailer = std::string(6, '\0') + "\x01\x01"s + std::string(7, '\0') + "\x06"s +
                          std::string(15, '\0') + std::string(1, char(body.size()));
    auto file = vynd::parse_property_list(body + offsets + trailer);
    ASSERT_TRUE(file);
    for (const char* value : {"10:30", "60"}) {
        vynd::Plist dict(plist_copy(file->get()));
        vynd::set_schedule(dict.get(), value);
        EXPECT_EQ(plist_dict_get_size(dict.get()), 1u) << value;
    }
}
