// Test helpers: the openssl and base64 programs, stderr capture.
#include "tests/crypto/test_tools.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "tests/support/files.h"
#include "tests/support/run_program.h"

namespace vynd::test {

ToolResult runTool(const std::vector<std::string>& argv, ByteView input) {
    ProgramResult r = run_program(
        argv, std::string_view(reinterpret_cast<const char*>(input.data()), input.size()));
    return {r.status, Bytes(r.out.begin(), r.out.end())};
}

const std::string& opensslProgram() {
    static const std::string program = VYND_TEST_OPENSSL;
    return program;
}

const std::string& base64Program() {
    static const std::string program = VYND_TEST_BASE64;
    return program;
}

StderrCapture::StderrCapture() : file_(dir_.path() + "/stderr") {
    std::fflush(stderr);
    saved_ = dup(2);
    const int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
}

std::string StderrCapture::text() const {
    std::fflush(stderr);
    return read_file(file_);
}

Bytes patternBytes(std::size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes out(length);
    for (auto& b : out) b = static_cast<std::uint8_t>(generator());
    return out;
}

Bytes fromHex(const std::string& hex) {
    Bytes out;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            continue;
        }
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

}  // namespace vynd::test
