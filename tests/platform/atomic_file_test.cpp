// Files replaced whole: the new content or the old, never a part, and never
// written through a link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/atomic_file.h"
#include "tests/support/temp_dir.h"

using namespace vynd;
using vynd::test::read_file;
using vynd::test::TempDir;

namespace {
size_t entries(const std::string& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}
}  // namespace

// A link at the final name is replaced, not written through; the mode is the
// one given, whatever the umask.
TEST(AtomicFile, ReplacesALinkWithTheNewFileInItsMode) {
    TempDir dir;
    const std::string target = dir.write("target", "kept");
    const std::string path = dir / "file";
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    const mode_t old_mask = umask(077);
    std::string err;
    const bool ok = write_file_atomically(path, "new", &err, 0644);
    umask(old_mask);
    ASSERT_TRUE(ok) << err;
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(read_file(path), "new");
    EXPECT_EQ(read_file(target), "kept");
    EXPECT_EQ(entries(dir.path()), 2u);
}

// A disk that fills up mid-write (here: a file size limit) leaves the old file
// and no temporary, and says which file could not be written.
TEST(AtomicFile, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const std::string path = dir.write("file", "old");
    struct rlimit was;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &was), 0);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = was;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string err;
    const bool ok = write_file_atomically(path, std::string(64, 'x'), &err, 0644);
    setrlimit(RLIMIT_FSIZE, &was);
    signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, "cannot write " + path + ": File too large");
    EXPECT_EQ(read_file(path), "old");
    EXPECT_EQ(entries(dir.path()), 1u);
}

// The folder is the one open, even when its path now leads elsewhere.
TEST(AtomicFile, WritesInTheOpenFolderNotWhereItsPathNowLeads) {
    TempDir dir;
    std::filesystem::create_directory(dir / "a");
    std::filesystem::create_directory(dir / "elsewhere");
    UniqueFd folder(open((dir / "a").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(folder);
    std::filesystem::rename(dir / "a", dir / "moved");
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "a").c_str()), 0);
    std::string err;
    ASSERT_TRUE(replace_file_in(folder.get(), dir / "a", "f", "bytes", 0600, &err)) << err;
    EXPECT_EQ(read_file(dir / "moved/f"), "bytes");
    EXPECT_EQ(entries(dir / "elsewhere"), 0u);
}
