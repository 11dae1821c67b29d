// Desktop notifications of a run, on a private session bus in the sandbox.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "tests/support/notification_service.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"

using vynd::test::NotificationService;
using vynd::test::Sandbox;

namespace {

// Makes the run end on a Fatal line: the database folder cannot be created.
void break_database(Sandbox& box) {
    vynd::test::PrefsBuilder p;
    box.mkdirs(vynd::test::kShareFolder);
    box.writePrefs(p.share().get());
    std::filesystem::remove_all(box.path("/var/db/vynd"));
    box.writeFile("/var/db/vynd", "not a folder");
}

}  // namespace

TEST(Notifications, FatalLinesReachTheLoggedInUser) {
    Sandbox box;
    NotificationService service(box, 0);
    ASSERT_TRUE(service.ready());
    box.setLoggedInUsers({{"root", "console"}, {"nobody", "ttys001"}});
    vynd::test::PrefsBuilder p;
    box.mkdirs(vynd::test::kShareFolder);
    box.writePrefs(p.share().get());

    // A run that completes logs only Info and Debug lines: nothing is shown.
    EXPECT_EQ(box.vynd({"-c"}).status, 0);
    EXPECT_TRUE(service.notifications().empty());

    break_database(box);
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    EXPECT_EQ(service.notifications(),
              std::vector<std::string>{
                  "vynd\tvynd: vynd-test\tProblem creating directory /var/db/vynd/Applications"});
    // The child that posts it holds nothing of root's but its standard
    // streams and the bus: not the log, not a lock.
    auto held = service.descriptors();
    ASSERT_EQ(held.size(), 1u);
    std::istringstream entries(held[0]);
    for (std::string entry; std::getline(entries, entry, '\t');) {
        int fd = std::stoi(entry);
        EXPECT_TRUE(fd <= 2 || entry.find("=socket:") != std::string::npos) << held[0];
    }
}

TEST(Notifications, NobodyLoggedInNobodyNotified) {
    Sandbox box;
    NotificationService service(box, 0);
    ASSERT_TRUE(service.ready());
    break_database(box);
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    EXPECT_TRUE(service.notifications().empty());
}

TEST(Notifications, AServiceThatNeverAnswersDoesNotHoldTheRunUp) {
    Sandbox box;
    NotificationService service(box, 0, NotificationService::Mode::Hang);
    ASSERT_TRUE(service.ready());
    box.setLoggedInUsers({{"root", "console"}});
    break_database(box);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    // About a second per notification; the bound is loose for a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(service.notifications().size(), 1u);
}
