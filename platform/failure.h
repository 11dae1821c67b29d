// Telling a caller why something failed, when the caller asked to know.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

namespace vynd {

// Stores the reason where `err` points (it may be null); always false, so a
// failing step reads `return fail(err, "...")`.
inline bool fail(std::string* err, std::string why) {
    if (err)
        *err = std::move(why);
    return false;
}

// The same for a system call that failed: "<what>: <the system's text for
// `error`>".
inline bool fail_errno(std::string* err, const std::string& what, int error = errno) {
    if (err)
        *err = what + ": " + std::strerror(error);
    return false;
}

}  // namespace vynd
