// A private folder for the fuzz targets that must go through files, in memory
// where the machine has it, removed when the fuzzer ends.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

inline const std::string& scratch_folder() {
    static const std::string path = [] {
        std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        dir += "/vynd-fuzz-XXXXXX";
        if (!mkdtemp(dir.data()))
            std::abort();
        return dir;
    }();
    static const bool removed_at_exit = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_folder(), ignored);
    }) == 0;
    (void)removed_at_exit;
    return path;
}
