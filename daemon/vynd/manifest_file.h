// The stored form of a sync job: an XML property list read and written as a
// stream, so that manifests of many thousand paths cost little.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/vynd/sync_job.h"

namespace vynd {

// A manifest of a million paths, each entry some 90 bytes of XML besides its
// path, stays far below this unless its paths average near a kilobyte;
// what is larger was not written by this program and is not parsed.
inline constexpr uint64_t kMaxManifestSize = uint64_t{1} << 30;

// Reads a stored job. No value when the file is missing or is not a
// property list whose root is a dictionary. Keys of the wrong type are left
// out; so are "files" keys that could lead outside the area (absolute, with
// an empty, "." or ".." component), each reported through `on_dropped_key`.
// A file larger than `limit` is not read, with the reason in `too_large`.
[[nodiscard]] std::optional<SyncJob> read_manifest_file(
    const std::string& path, void (*on_dropped_key)(const std::string& key) = nullptr,
    std::string* too_large = nullptr, uint64_t limit = kMaxManifestSize);

// The same, from the bytes of a property list (XML or binary).
[[nodiscard]] std::optional<SyncJob> parse_manifest(
    const std::string& bytes, void (*on_dropped_key)(const std::string& key) = nullptr);

// The two XML readers parse_manifest uses: the fast one for the plain form
// this program writes, which declines (no value) whatever it does not
// handle, and libxml2's, which reads any property-list document.
[[nodiscard]] std::optional<SyncJob> parse_plain_manifest(
    std::string_view xml, void (*on_dropped_key)(const std::string& key) = nullptr);
[[nodiscard]] std::optional<SyncJob> parse_general_manifest(
    std::string_view xml, void (*on_dropped_key)(const std::string& key) = nullptr);

// Writes the job as an XML property list: a temporary file beside the path,
// flushed to the disk and renamed over it.
[[nodiscard]] bool write_manifest_file(const std::string& path, const SyncJob& job,
                                       std::string* err);

// The same, unless the file already holds exactly what would be written: a
// manifest that did not change keeps its file (and its time) as it is.
// `rewritten` tells which happened.
[[nodiscard]] bool update_manifest_file(const std::string& path, const SyncJob& job,
                                        bool* rewritten, std::string* err);

// True when a relative path can be a "files" key: not empty, not absolute,
// no empty, "." or ".." component.
[[nodiscard]] bool is_safe_relative_path(std::string_view path);

// True when the text can stand in an XML property list: valid UTF-8 without
// the control characters XML 1.0 forbids.
[[nodiscard]] bool is_storable_text(std::string_view text);

// Property-list dates: "2009-10-22T12:03:53Z" and seconds since the epoch.
[[nodiscard]] std::string format_plist_date(int64_t seconds);
[[nodiscard]] std::optional<int64_t> parse_plist_date(std::string_view text);

}  // namespace vynd
