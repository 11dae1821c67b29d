// Modes, owners and deletions inside an area, never through a link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "daemon/vynd/area_paths.h"
#include "daemon/vynd/permissions.h"
#include "daemon/vynd/sync_job.h"
#include "tests/support/temp_dir.h"

using namespace vynd;
using vynd::test::TempDir;

namespace {

mode_t mode_of(const std::string& path) {
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

mode_t after(const char* mode, mode_t before, bool dir) {
    auto m = parse_chmod_mode(mode);
    EXPECT_TRUE(m) << mode;
    return apply_chmod_mode(*m, before, dir);
}

}  // namespace

TEST(ChmodMode, CapitalXFollowsTheModeBeforeTheChange) {
    EXPECT_EQ(after("u=rw,g=r,o=r,+X", 0600, false), 0644u);
    EXPECT_EQ(after("u=rw,g=r,o=r,+X", 0700, false), 0755u);
    EXPECT_EQ(after("u=rw,g=r,o=r,+X", 0001, false), 0755u);  // any class's x counts
    EXPECT_EQ(after("u=rw,g=r,o=r,+X", 0000, true), 0755u);
    EXPECT_EQ(after("u=,g=,o=,+X", 0777, true), 0111u);
    EXPECT_EQ(after("u=,g=,o=,+X", 0666, false), 0000u);
    EXPECT_EQ(after("u=rw,g=rw,o=,+X", 0644, false), 0660u);
    EXPECT_EQ(after("u=rw,g=r,o=r,+X", 04755, false), 0755u);  // set-ID of files cleared
    EXPECT_EQ(after("u=rw,g=r,o=r,+X", 02775, true), 02755u);  // a folder keeps it
    EXPECT_EQ(after("u=rw,g=r,o=r,+X", 01777, true), 01755u);  // sticky stays
}

TEST(ChmodMode, RejectsWhatIsNoSymbolicMode) {
    EXPECT_FALSE(parse_chmod_mode("755"));
    EXPECT_FALSE(parse_chmod_mode("u=rwz"));
    EXPECT_FALSE(parse_chmod_mode(""));
    EXPECT_TRUE(parse_chmod_mode("a+x,go-w"));
}

TEST(Ownership, NamesThenNumbersAsChownReadsThem) {
    auto own = lookup_ownership("root", "root", nullptr);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->uid, 0u);
    EXPECT_EQ(own->gid, 0u);
    own = lookup_ownership("", "1234", nullptr);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->uid, static_cast<uid_t>(-1));
    EXPECT_EQ(own->gid, 1234u);
    own = lookup_ownership("root", "", nullptr);  // "root:" takes root's login group
    ASSERT_TRUE(own);
    EXPECT_EQ(own->gid, 0u);
    std::string unknown;
    EXPECT_FALSE(lookup_ownership("root", "no-such-group-vynd", &unknown));
    EXPECT_EQ(unknown, "no-such-group-vynd");
}

class AreaTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string area = dir / "area";
    std::string outside = dir / "outside";
    void SetUp() override {
        dir.write("outside/secret", "s", 0600);
        dir.write("area/Foo.app/Contents/MacOS/run", "x", 0700);
        dir.write("area/Foo.app/Contents/Info.plist", "x", 0600);
        dir.write("area/My App $(x).app/a;b 'c'", "x", 0600);
        dir.write("area/jdoe/Documents/keep", "x", 0600);
    }
    SyncJob job(bool keep = true) {
        SyncJob j;
        j.id = "Applications";
        j.dstPath = area;
        j.setPerm = true;
        j.keepSynced = keep;
        j.perms = "u=rw,g=r,o=r,+X";
        j.owner = "root";
        j.group = "root";
        for (const char* p : {"Foo.app/", "Foo.app/Contents/", "Foo.app/Contents/MacOS/",
                              "Foo.app/Contents/MacOS/run", "Foo.app/Contents/Info.plist",
                              "My App $(x).app/", "My App $(x).app/a;b 'c'", "link", "jdoe/",
                              "jdoe/Documents/", "jdoe/Documents/passwd"})
            j.files()[p];
        return j;
    }
};

TEST_F(AreaTest, ModesFollowTheRuleAndLinksAreNeverFollowed) {
    ASSERT_EQ(symlink(outside.c_str(), (area + "/link").c_str()), 0);
    // A user swapped their folder for a link to somewhere else.
    std::filesystem::remove_all(area + "/jdoe/Documents");
    ASSERT_EQ(symlink(outside.c_str(), (area + "/jdoe/Documents").c_str()), 0);
    dir.write("outside/passwd", "p", 0600);
    SyncJob j = job();
    j.setPermissionsAndOwnership();
    EXPECT_EQ(mode_of(area + "/Foo.app/Contents/MacOS/run"), 0755u);
    EXPECT_EQ(mode_of(area + "/Foo.app/Contents/Info.plist"), 0644u);
    EXPECT_EQ(mode_of(area + "/Foo.app/Contents"), 0755u);
    EXPECT_EQ(mode_of(area + "/My App $(x).app/a;b 'c'"), 0644u);
    EXPECT_EQ(mode_of(outside + "/secret"), 0600u);
    EXPECT_EQ(mode_of(outside + "/passwd"), 0600u);
}

TEST_F(AreaTest, OutsideFolderKeepsItsModeWhenReachedThroughALink) {
    chmod(outside.c_str(), 0700);
    ASSERT_EQ(symlink(outside.c_str(), (area + "/link").c_str()), 0);
    SyncJob j = job();
    j.setPermissionsAndOwnership();
    EXPECT_EQ(mode_of(outside), 0700u);
}

TEST_F(AreaTest, DeletionNeverReachesThroughALink) {
    std::filesystem::remove_all(area + "/jdoe/Documents");
    ASSERT_EQ(symlink(outside.c_str(), (area + "/jdoe/Documents").c_str()), 0);
    EXPECT_FALSE(remove_in_area(area, "jdoe/Documents/secret", true));
    EXPECT_TRUE(dir.exists("outside/secret"));
    // The link itself is an item of the area and may go.
    EXPECT_TRUE(remove_in_area(area, "jdoe/Documents", true));
    EXPECT_TRUE(dir.exists("outside/secret"));
    EXPECT_FALSE(dir.exists("area/jdoe/Documents"));
}

TEST_F(AreaTest, DeletionKeepsListableFoldersAndCountsMissingAsGone) {
    EXPECT_FALSE(remove_in_area(area, "Foo.app/", true));
    EXPECT_TRUE(dir.exists("area/Foo.app"));
    EXPECT_TRUE(remove_in_area(area, "Foo.app/Contents/Info.plist", true));
    EXPECT_FALSE(dir.exists("area/Foo.app/Contents/Info.plist"));
    EXPECT_TRUE(remove_in_area(area, "gone/entirely/x", true));
    EXPECT_TRUE(remove_in_area(area, "Foo.app/nothing", true));
}

TEST_F(AreaTest, DeletingRemovedPathsKeepsFoldersAndLogsNothingForThem) {
    SyncJob j = job();
    j.files()["Foo.app/"].listed = true;  // the share now lists only the bundle's folder
    j.deleteFilesRemovedFromSource();
    EXPECT_FALSE(dir.exists("area/Foo.app/Contents/Info.plist"));
    EXPECT_FALSE(dir.exists("area/Foo.app/Contents/MacOS/run"));
    EXPECT_TRUE(dir.exists("area/Foo.app/Contents/MacOS"));
    EXPECT_TRUE(j.files().count("Foo.app/Contents/MacOS/"));
    EXPECT_FALSE(j.files().count("Foo.app/Contents/Info.plist"));
    EXPECT_TRUE(dir.exists("area/jdoe/Documents/keep"));  // never installed
}

TEST_F(AreaTest, NotKeptInStepDeletesNothing) {
    SyncJob j = job(false);
    j.deleteFilesRemovedFromSource();
    EXPECT_TRUE(dir.exists("area/Foo.app/Contents/Info.plist"));
    EXPECT_EQ(j.files().size(), job().files().size());
}

// Large areas are walked by several threads: every reachable item is still
// visited exactly once, in whatever order the paths come, and an item behind
// a link in any run of the paths is not reached.
TEST(VisitInArea, LargeAreasVisitEveryItemOnceAndNeverThroughALink) {
    TempDir dir;
    std::vector<std::string> paths;
    for (int b = 0; b < 60; ++b) {
        std::string bundle = "B" + std::to_string(b) + ".app/";
        std::filesystem::create_directories(dir / ("area/" + bundle));
        paths.push_back(bundle);
        for (int i = 0; i < 140; ++i) {
            std::string file = bundle + "f" + std::to_string(i);
            std::ofstream(dir / ("area/" + file)) << "x";
            paths.push_back(file);
        }
    }
    dir.write("outside/f0");
    for (const char* swapped : {"B3.app", "B47.app"}) {
        std::string at = dir / (std::string("area/") + swapped);
        std::filesystem::remove_all(at);
        ASSERT_EQ(symlink((dir / "outside").c_str(), at.c_str()), 0);
    }
    paths.push_back("missing/x");
    std::reverse(paths.begin(), paths.end());
    std::vector<std::string_view> views(paths.begin(), paths.end());
    std::mutex m;
    std::map<std::string, int> seen;
    visit_in_area(dir / "area", views, [&](int parent, const char* name, const struct stat& st) {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", parent);
        char where[4096] = {};
        ssize_t n = readlink(link, where, sizeof where - 1);
        std::lock_guard<std::mutex> lock(m);
        ++seen[std::string(where, n > 0 ? static_cast<size_t>(n) : 0) + "/" + name];
        EXPECT_FALSE(S_ISDIR(st.st_mode) && std::string(name) == "outside");
    });
    // Every bundle folder and file but those of the two swapped bundles (whose
    // links themselves are items and are visited).
    EXPECT_EQ(seen.size(), 60u + 58u * 140u);
    for (const auto& [item, count] : seen) {
        EXPECT_EQ(count, 1) << item;
        EXPECT_EQ(item.find("/outside/"), std::string::npos) << item;
    }
}
