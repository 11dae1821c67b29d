// The daemon's command line, settings listing, lock and log, run in the sandbox.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include "platform/property_list.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"

using vynd::test::log_message;
using vynd::test::Sandbox;

namespace {

const std::string kUsage =
    "usage: vynd [-hicsnt]\n"
    "\th : shows this menu\n"
    "\ti : install files\n"
    "\tc : clean local database\n"
    "\ts : show setup\n"
    "\tn : null sleep test\n"
    "\tt : test mode (downloads to /var/db/vynd) \n";

const std::string kDefaultSetup =
    "host: (null) (null)\n"
    "Applications -> /var/db/vynd/Applications -> /Applications\n"
    "Users -> /var/db/vynd/Users -> /Users\n"
    "Library -> /var/db/vynd/Library -> /Library\n"
    "Packages -> /var/db/vynd/Packages -> <install>\n"
    "auto_restart: no\n"
    "bandwidth: 0 kb/s\n";

using Prefs = vynd::test::PrefsBuilder;

// A run that mounts the (empty) test share.
void use_share(Sandbox& box, Prefs& p) {
    box.mkdirs(vynd::test::kShareFolder);
    box.writePrefs(p.share().get());
}

}  // namespace

TEST(Usage, PrintedWhenNothingIsToBeDone) {
    Sandbox box;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"-t"}, {"-h"}, {"-x"}, {"-ih"}, {"operand", "-i"}, {"-t", "--", "-i"}}) {
        auto r = box.vynd(args);
        EXPECT_EQ(r.status, 0) << testing::PrintToString(args);
        EXPECT_EQ(r.out, kUsage) << testing::PrintToString(args);
    }
    EXPECT_NE(box.vynd({"-x"}).err.find("invalid option -- 'x'"), std::string::npos);
    // None of these took the lock or wrote the log.
    EXPECT_FALSE(box.exists("/var/log/vynd.log"));
    EXPECT_FALSE(box.exists("/var/run/vynd.lock"));
}

TEST(Usage, UsersAreCheckedEvenForHelp) {
    Sandbox box;
    box.setLoggedInUsers({{"root", "console"}, {"root", "ttys000"}, {"admin", "ttys001"}});
    auto r = box.vynd({"-h"});
    EXPECT_NE(r.err.find("Checking users logged in\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("user root console\n"), std::string::npos);
    EXPECT_NE(r.err.find("user admin ttys001\n"), std::string::npos);
    EXPECT_NE(r.err.find("number of users logged in 3\n"), std::string::npos);
}

TEST(ShowSetup, DefaultsAndOptionOrder) {
    Sandbox box;
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-s"}, {"-is"}, {"-si"}, {"-ts"}}) {
        auto r = box.vynd(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kDefaultSetup) << testing::PrintToString(args);
    }
    EXPECT_FALSE(box.exists("/var/log/vynd.log"));
    EXPECT_FALSE(box.exists("/var/db/vynd"));
}

TEST(ShowSetup, GlobalSettingsAndEscapedHost) {
    Sandbox box;
    Prefs p;
    p.text("vynd_host", "smb://server/My Share")
        .text("vynd_app_path", "Apps")
        .text("vynd_user_path", "")
        .text("vynd_pkg_path", "Installers")
        .flag("vynd_auto_restart", true)
        .number("vynd_bandwidth", 512);
    box.writePrefs(p.get());
    auto r = box.vynd({"-s"});
    EXPECT_EQ(r.out,
              "host: smb://server/My Share smb://server/My%20Share\n"
              "Apps -> /var/db/vynd/Applications -> /Applications\n"
              "Users -> /var/db/vynd/Users -> /Users\n"
              "Library -> /var/db/vynd/Library -> /Library\n"
              "Installers -> /var/db/vynd/Packages -> <install>\n"
              "auto_restart: yes\n"
              "bandwidth: 512 kb/s\n");
}

TEST(ShowSetup, ManagedFileIsReadWhole) {
    Sandbox box;
    Prefs global;
    global.text("vynd_host", "file:///global").flag("vynd_auto_restart", true);
    box.writePrefs(global.get());
    Prefs managed;
    managed.text("vynd_host", "file:///managed");
    box.writePrefs(managed.get(), true);
    auto r = box.vynd({"-s"});
    EXPECT_NE(r.out.find("host: file:///managed file:///managed\n"), std::string::npos) << r.out;
    // A key only in the global file is not used.
    EXPECT_NE(r.out.find("auto_restart: no\n"), std::string::npos);

    // A managed file that is not a dictionary gives every default.
    box.writeFile("/Library/Managed Preferences/com.quenderlyn.vynd.plist", "<plist><array/>");
    EXPECT_EQ(box.vynd({"-s"}).out, kDefaultSetup);
}

TEST(ShowSetup, BadSettingsFilesGiveDefaults) {
    Sandbox box;
    const std::string prefs = "/Library/Preferences/com.quenderlyn.vynd.plist";
    Prefs good;
    good.text("vynd_host", "file:///share");
    std::string xml = vynd::property_list_xml(good.get());
    for (const std::string& content :
         {std::string(), std::string("not a property list"), xml.substr(0, xml.size() / 2),
          std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><string>x</string></plist>"),
          std::string("bplist00\xff\xff\xff", 11), std::string(100000, '<')}) {
        box.writeFile(prefs, content);
        auto r = box.vynd({"-s"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kDefaultSetup);
    }
    // A long host text is printed whole.
    Prefs p;
    std::string host = "file:///" + std::string(5000, 'h');
    p.text("vynd_host", host);
    box.writePrefs(p.get());
    EXPECT_NE(box.vynd({"-s"}).out.find("host: " + host + " " + host + "\n"), std::string::npos);
}

TEST(Run, CleanRecreatesTheDatabaseAndLogsTheRun) {
    Sandbox box;
    Prefs p;
    use_share(box, p);
    box.writeFile("/var/db/vynd/Applications.plist", "old manifest");
    box.writeFile("/var/db/vynd/Packages/old.pkg/Contents/x", "old copy");
    auto r = box.vynd({"-c"});
    EXPECT_EQ(r.status, 0) << r.err;
    // The old manifest is forgotten; the run saved a new, empty one.
    EXPECT_EQ(box.readFile("/var/db/vynd/Applications.plist").find("old manifest"),
              std::string::npos);
    EXPECT_FALSE(box.exists("/var/db/vynd/Packages/old.pkg"));
    for (const char* dir : {"Applications", "Users", "Library", "Packages"})
        EXPECT_TRUE(box.exists(std::string("/var/db/vynd/") + dir)) << dir;

    auto lines = box.logLines();
    ASSERT_FALSE(lines.empty());
    std::regex format(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} .*$)");
    for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, format)) << line;
    auto m = box.logMessages();
    EXPECT_EQ(m.front(), "vynd started");
    EXPECT_NE(std::find(m.begin(), m.end(), "Clearing database..."), m.end());
    EXPECT_NE(std::find(m.begin(), m.end(), "Database cleared"), m.end());
    EXPECT_EQ(m.back(), "vynd finished");

    // The lock file stays, empty and unlocked.
    EXPECT_EQ(box.readFile("/var/run/vynd.lock"), "");
    int fd = open(box.path("/var/run/vynd.lock").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);

    // The log is appended to by the next run.
    EXPECT_EQ(box.vynd({"-c"}).status, 0);
    EXPECT_EQ(box.logLines().size(), 2 * lines.size());
}

TEST(Run, SecondRunFailsAtOnceWhileTheLockIsHeld) {
    Sandbox box;
    box.mkdirs("/run/vynd");
    chmod(box.path("/run/vynd").c_str(), 0700);
    box.writeFile("/run/vynd/vynd.lock", "", 0600);
    int fd = open(box.path("/run/vynd/vynd.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    auto r = box.vynd({"-i"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("vynd already installing\n"), std::string::npos) << r.err;
    EXPECT_FALSE(box.exists("/var/log/vynd.log"));
    close(fd);
}

TEST(Run, AUserHoldingThePublicLockStopsNoRun) {
    Sandbox box;
    Prefs p;
    use_share(box, p);
    ASSERT_EQ(box.vynd({"-c"}).status, 0);
    // flock works on a descriptor opened for reading only.
    auto holder = box.start_as_user({"/usr/bin/flock", "-n", "/var/run/vynd.lock", "-c",
                                     "echo held > /tmp/held; exec sleep 30"},
                                    1000);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (box.readFile("/tmp/held") != "held\n") {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The lock runs exclude each other by is closed to that user.
    auto grab = box.run_as_user({"/usr/bin/flock", "-n", "/run/vynd/vynd.lock", "true"}, 1000);
    EXPECT_NE(grab.status, 0);
    EXPECT_NE(grab.err.find("Permission denied"), std::string::npos) << grab.err;

    EXPECT_EQ(box.vynd({"-i"}).status, 0);
    kill(holder.pid, SIGKILL);
    (void)box.wait(holder);
    auto m = box.logMessages();
    EXPECT_NE(std::find(m.begin(), m.end(),
                        "Warning: /var/run/vynd.lock is held by another process; this run goes "
                        "on, but the settings pane may not show it"),
              m.end());
    EXPECT_EQ(m.back(), "vynd finished");
    struct stat st;
    ASSERT_EQ(stat(box.path("/run/vynd").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(box.path("/var/run/vynd.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(Run, NullSleepTestHoldsTheLock) {
    Sandbox box;
    auto sleeper = box.start({Sandbox::program("vynd"), "-n"});
    // Wait until the sleeper holds the lock.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        int fd = open(box.path("/var/run/vynd.lock").c_str(), O_RDONLY);
        bool held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0)
            close(fd);
        if (held)
            break;
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    auto second = box.vynd({"-i"});
    EXPECT_EQ(second.status, 255);
    EXPECT_NE(second.err.find("vynd already installing"), std::string::npos);
    EXPECT_FALSE(box.exists("/var/log/vynd.log"));

    auto first = box.wait(sleeper);
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, "vynd null test, waiting 30 sec...\nvynd goodbye\n");
}

TEST(Run, FatalLineIsTheLastAndEndsWith255) {
    Sandbox box;
    Prefs p;
    use_share(box, p);
    // A file where the database folder should be: its subfolders cannot be made.
    box.writeFile("/var/db/vynd", "not a folder");
    auto r = box.vynd({"-i"});
    EXPECT_EQ(r.status, 255);
    auto m = box.logMessages();
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m.front(), "vynd started");
    EXPECT_EQ(m.back(), "Problem creating directory /var/db/vynd/Applications");
}

TEST(Run, UnopenableLogIsFatal) {
    Sandbox box;
    box.mkdirs("/var/log/vynd.log");
    auto r = box.vynd({"-i"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("can't open log file"), std::string::npos);
}

TEST(Run, RestrictedToTimesWithoutLoggedInUsers) {
    Sandbox box;
    Prefs p;
    p.flag("vynd_run_at_login", true);
    use_share(box, p);
    box.setLoggedInUsers({{"root", "console"}});
    auto r = box.vynd({"-i"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Exiting, vynd restricted to running only when users are not logged in"),
              std::string::npos);
    EXPECT_FALSE(box.exists("/var/log/vynd.log"));
    EXPECT_FALSE(box.exists("/var/run/vynd.lock"));

    // With nobody logged in it runs; with the setting off it runs anyway.
    box.setLoggedInUsers({});
    EXPECT_EQ(box.vynd({"-c"}).status, 0);
    EXPECT_EQ(box.logMessages().front(), "vynd started");
    box.setLoggedInUsers({{"root", "ttys003"}});
    p.flag("vynd_run_at_login", false);
    box.writePrefs(p.get());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(box.vynd({"-c"}).status, 0);
    // No notification service here: notifications are skipped without delay.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(box.logMessages().back(), "vynd finished");
}

TEST(Run, FilesTooLargeForWhatTheyHoldAreRefusedUnread) {
    Sandbox box;
    const std::string prefs = "/Library/Preferences/com.quenderlyn.vynd.plist";
    Prefs p;
    use_share(box, p);
    // Sparse, so only a reader that takes it whole pays for its size.
    std::filesystem::resize_file(box.path(prefs), uint64_t{3} << 30);
    auto r = box.vynd({"-i"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(box.logged(
        prefs + " is larger than 1 MiB, the most a settings file may be; it was not read"));

    // A manifest taken for empty would have everything installed again.
    box.writePrefs(p.share().get());
    box.writeFile("/var/db/vynd/Packages.plist", "");
    std::filesystem::resize_file(box.path("/var/db/vynd/Packages.plist"), uint64_t{2} << 30);
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    EXPECT_EQ(box.logMessages().back(),
              "/var/db/vynd/Packages.plist is larger than 1 GiB, the "
              "most a manifest may be; it was not read");
}
