// What a manifest keeps of the installed paths of an area.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace vynd {

// What the manifest keeps for one installed path.
struct FileEntry {
    // "date": when rsync last listed the item, seconds since the Unix epoch.
    std::optional<int64_t> date;
    // Any other keys of the stored entry, kept as their XML so they survive.
    std::string other_keys_xml;
    // Listed by this run's rsync (not stored).
    bool listed = false;
    // First listed by this run's rsync (not stored).
    bool fresh = false;
};

// Relative path (as rsync names it, folders ending in "/") to entry, in
// byte order: the order manifests are stored in and folders are walked in,
// so neither loading nor saving nor walking has to sort.
using FileMap = std::map<std::string, FileEntry, std::less<>>;

}  // namespace vynd
