// Test helpers: child programs through posix_spawn, temporary folders, stderr capture.
#include "test_tools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

extern char** environ;

namespace vynd::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vynd-crypto-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, ByteView bytes) const {
    const std::string file = path_ + "/" + name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file);
    return file;
}

namespace {

Bytes readFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

ToolResult runTool(const std::vector<std::string>& argv, ByteView input) {
    // Files rather than pipes: no deadlock however much either side writes.
    TempDir dir;
    const std::string in = dir.write("stdin", input);
    const std::string out = dir.path() + "/stdout";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    ToolResult result;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return result;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(out);
    return result;
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
    return stringOf(readFile(file_));
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
