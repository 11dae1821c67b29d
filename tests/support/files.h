// Whole files read and written in tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vynd::test {

// The file's bytes; "" when it cannot be read.
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Creates or replaces the file, and the folders it is in; throws when it
// cannot be written, so that a test never goes on with a file it lacks.
inline void write_file(const std::string& path, std::string_view content) {
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// Adds to the end of the file, which it creates when absent; throws when it
// cannot be written.
inline void append_file(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot append to " + path);
}

}  // namespace vynd::test
