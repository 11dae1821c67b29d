// What the manifest readers, the writer and the file code share: the keys of
// a stored job, how its "files" keys are stored, and the document as pieces.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/vynd/sync_job.h"

namespace vynd {

// A key of the stored job and the field that holds it: a string or a flag.
// "files" has neither; it is read and written apart.
struct JobKey {
    std::string_view name;
    std::optional<std::string> SyncJob::*text = nullptr;
    std::optional<bool> SyncJob::*flag = nullptr;
};

// Every key of a job, in the sorted order property-list writers store them.
inline constexpr JobKey kJobKeys[] = {
    {"autoRestart", nullptr, &SyncJob::autoRestart},
    {"dstPath", &SyncJob::dstPath},
    {"files"},
    {"group", &SyncJob::group},
    {"id", &SyncJob::id},
    {"keepSynced", nullptr, &SyncJob::keepSynced},
    {"owner", &SyncJob::owner},
    {"perms", &SyncJob::perms},
    {"setPerm", nullptr, &SyncJob::setPerm},
    {"srcPath", &SyncJob::srcPath},
};

// The key of one value by its name; nullptr for "files" and unknown keys.
inline const JobKey* value_key(std::string_view name) {
    for (const JobKey& key : kJobKeys) {
        if (key.name == name)
            return key.text || key.flag ? &key : nullptr;
    }
    return nullptr;
}

// A "files" key as stored, and the real name it stands for.
[[nodiscard]] std::string stored_key_path(const std::string& key);

// A name is stored as it is unless XML cannot carry it, or it holds what
// reads back as an escape.
[[nodiscard]] bool needs_escape(std::string_view path);

// The plain-form reader (see parse_plain_manifest). With `mapped`, the data
// is a private mapping of the file, whose pages it gives back as it reads.
[[nodiscard]] std::optional<SyncJob> plain_manifest(std::string_view xml, bool mapped,
                                                    void (*on_dropped_key)(const std::string&));

// Takes one piece of the document; false stops the writing of the rest.
using Drain = std::function<bool(const std::string&)>;

// The whole document of the job, handed to `drain` in pieces.
void job_xml(const SyncJob& job, const Drain& drain);

}  // namespace vynd
