// Descriptors owned by UniqueFd are closed exactly once, by their last owner.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "platform/unique_fd.h"

using vynd::UniqueFd;

namespace {
bool is_open(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}
}  // namespace

TEST(UniqueFd, ClosesOnceWhereverOwnershipGoes) {
    int raw = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    {
        UniqueFd a(raw);
        UniqueFd b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), raw);
        UniqueFd c;
        c = std::move(b);
        EXPECT_TRUE(is_open(raw));
    }
    EXPECT_FALSE(is_open(raw));

    UniqueFd d(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int kept = d.release();
    EXPECT_FALSE(d);
    EXPECT_TRUE(is_open(kept));
    UniqueFd e(kept);
    EXPECT_TRUE(e.close());
    EXPECT_FALSE(is_open(kept));
    EXPECT_TRUE(e.close());
}
