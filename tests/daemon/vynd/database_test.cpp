// Removing installed paths: trees, links and folders that cannot be listed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "daemon/vynd/database.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace vynd;
using vynd::test::TempDir;

namespace {

bool exists_nofollow(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(Rmpath, RemovesFilesAndTreesAndReportsWhatIsLeft) {
    TempDir t;
    EXPECT_TRUE(rmpath(t / "missing", false));
    EXPECT_TRUE(rmpath(t / "missing", true));

    fs::create_directories(t / "empty");
    EXPECT_FALSE(rmpath(t / "empty", true));
    EXPECT_TRUE(fs::is_directory(t / "empty"));

    t.write("file");
    EXPECT_TRUE(rmpath(t / "file", true));
    EXPECT_FALSE(exists_nofollow(t / "file"));

    fs::create_directories(t / "tree/a/b/c");
    t.write("tree/a/b/c/f");
    t.write("tree/.hidden");
    EXPECT_TRUE(rmpath(t / "tree", false));
    EXPECT_FALSE(exists_nofollow(t / "tree"));
}

TEST(Rmpath, NeverFollowsSymbolicLinks) {
    TempDir t;
    fs::create_directories(t / "outside/keep");
    t.write("outside/keep/precious");

    // A link to a folder is removed itself, with keep listable folders too.
    fs::create_directory_symlink(t / "outside", t / "link");
    EXPECT_TRUE(rmpath(t / "link", true));
    EXPECT_FALSE(exists_nofollow(t / "link"));
    EXPECT_TRUE(fs::exists(t / "outside/keep/precious"));

    // A dangling link is something there, and is removed.
    fs::create_symlink(t / "nowhere", t / "dangling");
    EXPECT_TRUE(rmpath(t / "dangling", false));
    EXPECT_FALSE(exists_nofollow(t / "dangling"));

    // Removing a tree never descends through a link inside it.
    fs::create_directories(t / "tree/sub");
    fs::create_directory_symlink(t / "outside", t / "tree/sub/escape");
    fs::create_symlink(t / "outside/keep/precious", t / "tree/file-link");
    EXPECT_TRUE(rmpath(t / "tree", false));
    EXPECT_FALSE(exists_nofollow(t / "tree"));
    EXPECT_TRUE(fs::exists(t / "outside/keep/precious"));
}

TEST(Rmpath, UnlistableFolderIsRemovedEvenWhenKeepingListableOnes) {
    TempDir t;
    fs::create_directories(t / "locked/inner");
    chmod((t / "locked").c_str(), 0);
    // As root a folder is always listable; the rule only matters for others.
    if (geteuid() == 0) {
        EXPECT_FALSE(rmpath(t / "locked", true));
    } else {
        EXPECT_TRUE(rmpath(t / "locked", true));
    }
    chmod((t / "locked").c_str(), 0755);
}
