// The stored form of a sync job: an XML property list read and written as a
// stream, so that manifests of many thousand paths cost little. Here: the
// file itself, read whole or mapped and replaced whole.
#include "daemon/vynd/manifest_file.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "daemon/vynd/manifest_parts.h"
#include "platform/atomic_file.h"
#include "platform/bounded_read.h"
#include "platform/failure.h"

namespace vynd {

namespace {

std::optional<SyncJob> parse_xml_document(const char* data, size_t size,
                                          void (*on_dropped_key)(const std::string&),
                                          bool mapped = false) {
    if (auto job = plain_manifest({data, size}, mapped, on_dropped_key))
        return job;
    return parse_general_manifest({data, size}, on_dropped_key);
}

std::optional<SyncJob> parse_document(std::string_view bytes, bool mapped,
                                      void (*on_dropped_key)(const std::string&)) {
    if (bytes.substr(0, 6) == "bplist") {
        // A binary manifest (written by another tool): read it through the
        // XML form, which keeps one reader for both.
        plist_t root = nullptr;
        plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
        if (!root)
            return std::nullopt;
        char* xml = nullptr;
        uint32_t len = 0;
        plist_to_xml(root, &xml, &len);
        plist_free(root);
        if (!xml)
            return std::nullopt;
        auto job = parse_xml_document(xml, len, on_dropped_key);
        free(xml);
        return job;
    }
    return parse_xml_document(bytes.data(), bytes.size(), on_dropped_key, mapped);
}

}  // namespace

std::optional<SyncJob> parse_manifest(const std::string& bytes,
                                      void (*on_dropped_key)(const std::string&)) {
    return parse_document(bytes, false, on_dropped_key);
}

std::optional<SyncJob> read_manifest_file(const std::string& path,
                                          void (*on_dropped_key)(const std::string&),
                                          std::string* too_large, uint64_t limit) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    auto refuse = [&] {
        close(fd);
        if (too_large)
            *too_large = too_large_message(path, limit, "a manifest");
        return std::nullopt;
    };
    struct stat st;
    if (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > limit)
        return refuse();
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        static_cast<uint64_t>(st.st_size) < SIZE_MAX / 2) {
        // Mapped rather than read, so that its pages can be given back as
        // they are parsed. Only this program writes the database folder, and
        // it replaces a manifest by renaming, never cuts one short, so the
        // mapping keeps its content however the file is replaced meanwhile.
        auto size = static_cast<size_t>(st.st_size);
        void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (data != MAP_FAILED) {
            close(fd);
            (void)madvise(data, size, MADV_SEQUENTIAL);
            auto job = parse_document({static_cast<const char*>(data), size}, true, on_dropped_key);
            munmap(data, size);
            return job;
        }
    }
    // Not a plain file, or one that cannot be mapped: read in pieces.
    std::string bytes;
    size_t used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(static_cast<size_t>(
                std::min<uint64_t>(std::max<size_t>(bytes.size() * 2, 65536), limit + 1)));
        ssize_t n = read(fd, bytes.data() + used, bytes.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        used += static_cast<size_t>(n);
        if (used > limit)
            return refuse();
    }
    close(fd);
    bytes.resize(used);
    return parse_manifest(bytes, on_dropped_key);
}

namespace {

// Reads up to `size` bytes, fewer only at the end of the file.
ssize_t read_full(int fd, char* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// True when the file at `path` holds exactly the document of the job. The
// comparison stops at the first piece that differs, which for a manifest
// whose dates moved is the first.
bool holds_document(const std::string& path, const SyncJob& job) {
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::string stored;
    job_xml(job, [&](const std::string& piece) {
        stored.resize(piece.size());
        same = same &&
               read_full(fd, stored.data(), piece.size()) == static_cast<ssize_t>(piece.size()) &&
               stored == piece;
        return same;
    });
    char extra;
    same = same && read_full(fd, &extra, 1) == 0;
    close(fd);
    return same;
}

}  // namespace

bool write_manifest_file(const std::string& path, const SyncJob& job, std::string* err) {
    // Registered as a leftover: a run stopped while writing removes it.
    AtomicFile file(path, 0644, true);
    job_xml(job, [&](const std::string& piece) { return file.write(piece); });
    if (file.commit())
        return true;
    const AtomicFileFailure& f = file.failure();
    return fail_errno(err, f.step == AtomicFileFailure::Step::rename ? path : f.temporary, f.error);
}

bool update_manifest_file(const std::string& path, const SyncJob& job, bool* rewritten,
                          std::string* err) {
    *rewritten = false;
    if (holds_document(path, job))
        return true;
    if (!write_manifest_file(path, job, err))
        return false;
    *rewritten = true;
    return true;
}

}  // namespace vynd
