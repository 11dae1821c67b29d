// Programs that tests run and read the output of, by argument vector.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vynd::test {

struct ProgramResult {
    int status = -1;  // exit status; -1 when it did not exit or could not start
    std::string out;  // its standard output
};

// Runs argv[0] (an absolute path) with `input` on its standard input and
// waits for it. Its standard error goes with its output when asked for, and
// is dropped otherwise. Both sides go through files, so that neither can
// stall the other however much it writes.
[[nodiscard]] ProgramResult run_program(const std::vector<std::string>& argv,
                                        std::string_view input = {}, bool with_stderr = false);

}  // namespace vynd::test
