// Test helpers: running the openssl and base64 programs, temporary folders, captured stderr.
#pragma once

#include <string>
#include <vector>

#include "crypto/bytes.h"
#include "tests/support/temp_dir.h"

namespace vynd::test {

struct ToolResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    Bytes out;        // its standard output
};

// Runs a program by argument vector (no shell), with `input` on its standard
// input; standard error is discarded.
ToolResult runTool(const std::vector<std::string>& argv, ByteView input = {});

// The openssl and base64 programs found at configure time; empty when missing.
const std::string& opensslProgram();
const std::string& base64Program();

// Redirects standard error into a file for its lifetime; text() is what was
// written so far.
class StderrCapture {
  public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    [[nodiscard]] std::string text() const;

  private:
    TempDir dir_;
    std::string file_;
    int saved_ = -1;
};

// Deterministic pseudo-random bytes for test inputs.
Bytes patternBytes(std::size_t length, unsigned seed);

// Bytes from a text of hex digits, ignoring anything else (colons, line feeds).
Bytes fromHex(const std::string& hex);

}  // namespace vynd::test
