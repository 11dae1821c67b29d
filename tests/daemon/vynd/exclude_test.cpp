// Exclude lines: each installed path keeps exactly itself out of rsync's way.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "daemon/vynd/exclude_file.h"
#include "daemon/vynd/rsync_output.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace vynd;
using vynd::test::TempDir;

TEST(ExcludePattern, AnchorsAndEscapes) {
    EXPECT_EQ(exclude_pattern("Foo.app/"), "/Foo.app/");
    EXPECT_EQ(exclude_pattern("#notes"), "/#notes");
    EXPECT_EQ(exclude_pattern(";x"), "/;x");
    EXPECT_EQ(exclude_pattern("a*b?[c]\\d"), "/a\\*b\\?\\[c]\\\\d");
    // Without a wildcard rsync reads backslashes literally.
    EXPECT_EQ(exclude_pattern("back\\slash"), "/back\\slash");
    EXPECT_EQ(exclude_pattern("new\nline"), "/new[[:cntrl:]]line");
}

TEST(ExcludeLines, LeavesOutPathsInsideListedFolders) {
    FileMap files;
    for (const char* p : {"Foo.app/", "Foo.app/Contents/", "Foo.app/Contents/x", "Bar/y", "Bar/z/"})
        files[p];
    auto lines = exclude_lines(files);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"/Bar/y", "/Bar/z/", "/Foo.app/"}));
}

// What a real rsync copies with the exclude file of a files map.
std::set<std::string> copied(const TempDir& dir, const FileMap& installed) {
    std::string err;
    EXPECT_TRUE(write_exclude_file(dir / "list.exclude", installed, &err)) << err;
    std::set<std::string> names;
    int status =
        run_process_lines({"/usr/bin/rsync", "--out-format=%t %i %n", "-ii", "-rltD",
                           "--exclude-from=" + (dir / "list.exclude"), dir / "src/", dir / "dst/"},
                          [&](std::string_view line) {
                              if (auto c = parse_change_line(line, 11)) {
                                  if (c->update_type != '.')
                                      names.insert(c->name);
                              }
                          });
    EXPECT_EQ(status, 0);
    return names;
}

TEST(ExcludeLines, RealRsyncSkipsExactlyTheInstalledPaths) {
    TempDir dir;
    std::vector<std::string> odd = {"Contents/x", "README",  "#hash",      ";semi",  "star*",
                                    "what?",      "br[ack]", "new\nline",  "trail ", "back\\#123",
                                    "- minus",    "+ plus",  "Caf\xc3\xa9"};
    for (const auto& n : odd) dir.write("src/" + n);
    dir.write("src/New.app/Contents/x");
    dir.write("src/New.app/README");
    dir.write("src/Deep/#hash");
    dir.write("src/starXX");
    dir.write("src/whatX");
    dir.write("src/brk");
    dir.write("src/newXline");
    dir.write("src/trail");
    std::filesystem::create_directories(dir / "dst");
    FileMap installed;
    installed["Contents/"];
    for (const auto& n : odd) installed[n];
    auto names = copied(dir, installed);
    for (const auto& n : odd) EXPECT_FALSE(names.count(n)) << n;
    for (const char* n : {"New.app/Contents/x", "New.app/README", "Deep/#hash", "starXX", "whatX",
                          "brk", "trail", "newXline"})
        EXPECT_TRUE(names.count(n)) << n;
}

// The share's Library area can bring any file to the site exclude file's place.
TEST(SiteExclude, OnlyARegularFileOfBoundedSizeIsGivenToRsync) {
    TempDir dir;
    const std::string path = dir.path() + "/exclude-Library";
    std::string err;
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::none);
    std::ofstream(path) << "Caches/\n";
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::usable);
    fs::resize_file(path, kMaxSiteExcludeSize + 1);
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::refused);
    EXPECT_EQ(err,
              path + " is larger than 1 MiB, the most a site exclude file may be; it was not read");
    fs::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::refused);
    fs::remove(path);
    fs::create_symlink("/dev/zero", path);
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::refused);
    EXPECT_EQ(err, "the site exclude file " + path + " is not a regular file; it was not used");
}
