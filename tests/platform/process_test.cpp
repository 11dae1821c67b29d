// Children started while this process is being stopped.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

namespace vynd {
namespace {

// Once a stop has begun no child starts, but what ends the things this
// process left running still does, and one that hangs does not hold the
// stop up. In a child of its own: a stop cannot be undone.
TEST(ProcessTest, RunsWhileStoppingAndKillsWhatHangs) {
    EXPECT_EXIT(
        {
            stop_children(SIGTERM);
            const bool ran = run_process_while_stopping({"/bin/sh", "-c", "exit 7"},
                                                        std::chrono::seconds(5)) == 7;
            const bool killed =
                run_process_while_stopping({"/bin/sleep", "60"}, std::chrono::milliseconds(20)) ==
                128 + SIGKILL;
            _exit(ran && killed ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vynd
