// Property-list files: reading either encoding, writing XML atomically.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/atomic_file.h"

namespace vynd {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
// An owned property-list node (the root of a tree).
using Plist = std::unique_ptr<void, PlistDeleter>;

// No settings, job or report file comes near this size; what is larger was
// made to exhaust the reader's memory.
inline constexpr uint64_t kMaxPropertyListSize = uint64_t{1} << 20;

// Reads a property list in XML or binary form. No value when the file is
// missing, unreadable, not a regular file, larger than `limit` bytes or not
// a property list. A file refused for its size alone is told in `too_large`
// (naming the file and the limit), so a caller can report what it would
// otherwise take for a missing file; `what` names the kind of file there.
[[nodiscard]] std::optional<Plist> read_property_list(const std::string& path,
                                                      uint64_t limit = kMaxPropertyListSize,
                                                      std::string* too_large = nullptr,
                                                      const char* what = "a property list");

// Parses a property list held in memory, in either encoding.
[[nodiscard]] std::optional<Plist> parse_property_list(const std::string& bytes);

// Reads a property list whose root must be a dictionary.
[[nodiscard]] std::optional<Plist> read_property_list_dictionary(
    const std::string& path, uint64_t limit = kMaxPropertyListSize,
    std::string* too_large = nullptr, const char* what = "a property list");

// The XML form of a property list.
[[nodiscard]] std::string property_list_xml(plist_t node);

// Writes the XML form to a temporary file beside the path, flushes it to the
// disk and renames it into place, so a reader sees the old file or the new
// one, never a part. `mode` is the new file's permission bits.
[[nodiscard]] bool write_property_list_atomically(const std::string& path, plist_t node,
                                                  std::string* err = nullptr, unsigned mode = 0644);

// The text of a string node; no value for another kind of node or for a
// string holding a zero byte, which no text setting can be.
[[nodiscard]] std::optional<std::string> plist_string(plist_t node);

// Typed reads of one dictionary entry; no value when the key is missing or
// holds another kind.
[[nodiscard]] std::optional<std::string> plist_dict_string(plist_t dict, const char* key);
[[nodiscard]] std::optional<bool> plist_dict_bool(plist_t dict, const char* key);
[[nodiscard]] std::optional<int64_t> plist_dict_int(plist_t dict, const char* key);

}  // namespace vynd
