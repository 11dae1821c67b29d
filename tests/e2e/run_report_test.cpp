// The run report end to end: what a run did, how it ended, and since when runs fail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/property_list.h"
#include "tests/support/debian_package.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"

using vynd::test::build_debian_package;
using vynd::test::PrefsBuilder;
using vynd::test::Sandbox;

namespace {

const std::string kShare = "/Volumes/Share";
const std::string kReport = "/var/db/vynd/report.plist";
const std::string kProm = "/var/lib/prometheus/node-exporter/vynd.prom";

class RunReportTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* area : {"Applications", "Library", "Users", "Packages"})
            box.mkdirs(kShare + "/" + area);
        // A package whose name holds "bad" fails; one that holds "slow" takes a while.
        box.addStub(
            "/usr/bin/dpkg",
            "[ \"$1\" = --audit ] && exit 0\ncase $(readlink -f \"$4\") in *bad*) exit 1 ;; "
            "*slow*) : >/run/slow; sleep 30 ;; esac\nexit 0");
        share();
    }
    void share() {
        PrefsBuilder p;
        box.writePrefs(p.share().flag("vynd_keep_app_synced", true).get());
    }
    void addPackage(const std::string& name) {
        ASSERT_TRUE(
            build_debian_package(box.path(kShare + "/Packages/" + name), "vynd-test", "f", "v1"));
    }

    vynd::Plist report() const {
        auto d = vynd::read_property_list_dictionary(box.path(kReport));
        EXPECT_TRUE(d) << box.readFile(kReport);
        return d ? std::move(*d) : vynd::Plist(plist_new_dict());
    }
    static std::optional<int64_t> date(plist_t dict, const char* key) {
        plist_t node = plist_dict_get_item(dict, key);
        if (!node || plist_get_node_type(node) != PLIST_DATE)
            return std::nullopt;
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return 978307200 + int64_t{sec};
    }
    static std::optional<int64_t> count(plist_t dict, const char* area, const char* key) {
        return vynd::plist_dict_int(plist_dict_get_item(plist_dict_get_item(dict, "areas"), area),
                                    key);
    }
    static std::vector<std::string> names(plist_t dict, const char* key) {
        std::vector<std::string> out;
        plist_t a = plist_dict_get_item(dict, key);
        for (uint32_t i = 0; a && i < plist_array_get_size(a); ++i) {
            char* s = nullptr;
            plist_get_string_val(plist_array_get_item(a, i), &s);
            out.emplace_back(s ? s : "");
            free(s);
        }
        return out;
    }

    Sandbox box;
};

}  // namespace

// Counts of a first copy, then of a run that deletes; the node exporter's
// file once its folder exists.
TEST_F(RunReportTest, CompletedRunsReportWhatTheyDid) {
    box.writeFile(kShare + "/Applications/Tool.app/a", "a");
    box.writeFile(kShare + "/Applications/b", "b");
    addPackage("tool.deb");
    addPackage("bad.deb");
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    auto r = report();
    EXPECT_EQ(vynd::plist_dict_int(r.get(), "exitStatus"), 0);
    EXPECT_EQ(count(r.get(), "Applications", "copied"), 3);  // Tool.app/, its a, b
    EXPECT_EQ(count(r.get(), "Applications", "deleted"), 0);
    EXPECT_EQ(count(r.get(), "Library", "copied"), 0);
    EXPECT_EQ(names(r.get(), "packagesInstalled"), std::vector<std::string>{"tool.deb"});
    EXPECT_EQ(names(r.get(), "packagesFailed"), std::vector<std::string>{"bad.deb"});
    EXPECT_EQ(vynd::plist_dict_bool(r.get(), "restartRequested"), false);
    // A package that failed is a failing computer.
    EXPECT_EQ(vynd::plist_dict_string(r.get(), "lastError"), "Package bad.deb not installed");
    EXPECT_FALSE(date(r.get(), "lastRunWithoutError"));
    EXPECT_LE(*date(r.get(), "startDate"), *date(r.get(), "endDate"));
    EXPECT_FALSE(box.exists(kProm));

    box.mkdirs("/var/lib/prometheus/node-exporter");
    chmod(box.path("/var/lib/prometheus/node-exporter").c_str(), 0755);
    std::filesystem::remove(box.path(kShare + "/Applications/b"));
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    r = report();
    EXPECT_EQ(count(r.get(), "Applications", "copied"), 0);
    EXPECT_EQ(count(r.get(), "Applications", "deleted"), 1);
    EXPECT_TRUE(names(r.get(), "packagesInstalled").empty());
    std::string prom = box.readFile(kProm);
    for (const char* line : {"vynd_last_run_exit_status 0\n", "vynd_last_run_error 1\n",
                             "vynd_items_deleted{area=\"Applications\"} 1\n",
                             "vynd_packages_failed 1\n", "vynd_restart_requested 0\n"})
        EXPECT_NE(prom.find(line), std::string::npos) << line << "\nin:\n" << prom;
    EXPECT_NE(prom.find("vynd_last_run_end_time_seconds " +
                        std::to_string(*date(r.get(), "endDate")) + "\n"),
              std::string::npos);
}

// A failed run keeps the time of the last good one, also through a clean;
// a run refused by the lock leaves the report of the run that holds it.
TEST_F(RunReportTest, FailingRunsKeepTheLastRunWithoutError) {
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    auto good = date(report().get(), "lastRunWithoutError");
    ASSERT_TRUE(good);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));

    PrefsBuilder no_host;
    box.writePrefs(no_host.get());
    for (const char* args : {"-i", "-ci"}) {
        ASSERT_EQ(box.vynd({args}).status, 255) << args;
        auto r = report();
        EXPECT_EQ(vynd::plist_dict_int(r.get(), "exitStatus"), 255) << args;
        EXPECT_EQ(vynd::plist_dict_string(r.get(), "lastError")
                      .value_or("")
                      .rfind("host string is nil!", 0),
                  0u)
            << args;
        EXPECT_EQ(date(r.get(), "lastRunWithoutError"), good) << args;
        EXPECT_GT(*date(r.get(), "endDate"), *good) << args;
    }

    std::string before = box.readFile(kReport);
    int fd = open(box.path("/run/vynd/vynd.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    close(fd);
    EXPECT_EQ(box.readFile(kReport), before);
}

// A run stopped by a signal reports how it ended and what it had done.
TEST_F(RunReportTest, StoppedRunIsReported) {
    box.writeFile(kShare + "/Applications/a", "a");
    addPackage("slow.deb");
    auto running = box.start({Sandbox::program("vynd"), "-i"});
    for (int i = 0; i < 200 && !box.exists("/run/slow"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto vynd = box.findProcess(running, "vynd");
    ASSERT_TRUE(vynd);
    kill(*vynd, SIGTERM);
    EXPECT_EQ(box.wait(running).status, 255);
    auto r = report();
    EXPECT_EQ(vynd::plist_dict_int(r.get(), "exitStatus"), 255);
    EXPECT_EQ(vynd::plist_dict_string(r.get(), "lastError"), "vynd stopped by SIGTERM");
    EXPECT_EQ(count(r.get(), "Applications", "copied"), 1);
    EXPECT_FALSE(date(r.get(), "lastRunWithoutError"));
    auto lines = box.logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(vynd::test::log_message(lines.back()), "vynd stopped by SIGTERM");
}
