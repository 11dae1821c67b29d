// Fuzz target: manifests. The plain-form reader must give exactly the job
// libxml2's reader gives for every document it accepts; a job written and
// read back, by either reader, must come back as it was.
#include <fuzzer/FuzzedDataProvider.h>
#include <plist/plist.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "daemon/vynd/manifest_file.h"
#include "tests/fuzz/scratch_folder.h"

using vynd::FileEntry;
using vynd::SyncJob;

namespace {

std::vector<std::string>* dropped_keys = nullptr;
void note_dropped(const std::string& key) {
    dropped_keys->push_back(key);
}

struct Reading {
    std::optional<SyncJob> job;
    std::vector<std::string> dropped;
};

template <typename Parse>
Reading read_with(Parse parse, std::string_view xml) {
    Reading out;
    dropped_keys = &out.dropped;
    out.job = parse(xml, note_dropped);
    return out;
}

Reading read_plain(std::string_view xml) {
    return read_with(vynd::parse_plain_manifest, xml);
}
Reading read_general(std::string_view xml) {
    return read_with(vynd::parse_general_manifest, xml);
}

bool same_entry(const FileEntry& a, const FileEntry& b) {
    return a.date == b.date && a.other_keys_xml == b.other_keys_xml;
}

bool same_job(const SyncJob& a, const SyncJob& b) {
    if (a.id != b.id || a.srcPath != b.srcPath || a.dstPath != b.dstPath ||
        a.setPerm != b.setPerm || a.keepSynced != b.keepSynced || a.perms != b.perms ||
        a.owner != b.owner || a.group != b.group || a.autoRestart != b.autoRestart ||
        a.other_keys_xml != b.other_keys_xml || a.files_.has_value() != b.files_.has_value())
        return false;
    if (!a.files_)
        return true;
    return std::equal(a.files_->begin(), a.files_->end(), b.files_->begin(), b.files_->end(),
                      [](const auto& x, const auto& y) {
                          return x.first == y.first && same_entry(x.second, y.second);
                      });
}

void fail(const char* what) {
    std::fprintf(stderr, "manifest fuzz: %s\n", what);
    std::abort();
}

// XML 1.0 characters in UTF-8, written out the long way, against which the
// writer's fast check is held.
bool storable_by_the_book(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80             ? 1
                     : (c & 0xe0) == 0xc0 ? 2
                     : (c & 0xf0) == 0xe0 ? 3
                     : (c & 0xf8) == 0xf0 ? 4
                                          : 0;
        if (len == 0 || i + len > text.size())
            return false;
        uint32_t cp = len == 1 ? c : c & (0x7f >> len);
        for (size_t k = 1; k < len; ++k) {
            unsigned char t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xc0) != 0x80)
                return false;
            cp = cp << 6 | (t & 0x3f);
        }
        static constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kShortest[len])
            return false;
        bool xml_char = cp == 0x9 || cp == 0xa || cp == 0xd || (cp >= 0x20 && cp <= 0xd7ff) ||
                        (cp >= 0xe000 && cp <= 0xfffd) || (cp >= 0x10000 && cp <= 0x10ffff);
        if (!xml_char)
            return false;
        i += len;
    }
    return true;
}

// The readers must agree wherever the plain one answers.
void check_readers_agree(std::string_view xml) {
    Reading plain = read_plain(xml);
    if (!plain.job)
        return;
    Reading general = read_general(xml);
    if (!general.job)
        fail("the plain reader accepts a document libxml2 rejects");
    if (!same_job(*plain.job, *general.job))
        fail("the readers give different jobs");
    if (plain.dropped != general.dropped)
        fail("the readers drop different keys");
}

// Names drawn from pieces that need escaping or care, or raw bytes.
std::string name_from(FuzzedDataProvider& in) {
    if (in.ConsumeBool())
        return in.ConsumeRandomLengthString(48);
    static const char* const kPieces[] = {"a",
                                          "Foo.app",
                                          "/",
                                          ".",
                                          "..",
                                          "&",
                                          "<",
                                          ">",
                                          "\"",
                                          "'",
                                          "\r",
                                          "\n",
                                          "\t",
                                          " ",
                                          "]]>",
                                          "&amp;",
                                          "\\#012",
                                          "\xc3\xa9",
                                          "\xef\xbf\xbd",
                                          "%",
                                          "#",
                                          ";",
                                          "*",
                                          "\x7f",
                                          "\xf0\x9d\x84\x9e",
                                          "\xc2\x85"};
    std::string out;
    for (int n = in.ConsumeIntegralInRange(1, 8); n > 0; --n)
        out += kPieces[in.ConsumeIntegralInRange<size_t>(0, std::size(kPieces) - 1)];
    return out;
}

std::optional<std::string> text_from(FuzzedDataProvider& in) {
    if (in.ConsumeBool())
        return std::nullopt;
    return name_from(in);
}

std::optional<bool> flag_from(FuzzedDataProvider& in) {
    int v = in.ConsumeIntegralInRange(0, 2);
    return v == 0 ? std::nullopt : std::optional<bool>(v == 2);
}

SyncJob job_from(FuzzedDataProvider& in) {
    SyncJob job;
    job.id = text_from(in);
    job.srcPath = text_from(in);
    job.dstPath = text_from(in);
    job.setPerm = flag_from(in);
    job.keepSynced = flag_from(in);
    job.perms = text_from(in);
    job.owner = text_from(in);
    job.group = text_from(in);
    job.autoRestart = flag_from(in);
    if (in.ConsumeBool()) {
        auto& files = job.files_.emplace();
        for (int n = in.ConsumeIntegralInRange(0, 24); n > 0; --n) {
            FileEntry entry;
            // The dates rsync and the readers can give: years 0 to 9999.
            if (in.ConsumeBool())
                entry.date = in.ConsumeIntegralInRange<int64_t>(-62167219200, 253402300799);
            files[name_from(in)] = entry;
        }
    }
    return job;
}

// A text written and read back: the same, or left out when a manifest cannot
// hold it.
bool kept(const std::optional<std::string>& before, const std::optional<std::string>& after) {
    if (before == after)
        return true;
    return before && !after && !vynd::is_storable_text(*before);
}

// `after` is `before` as read back from what the writer wrote.
void check_read_back(const SyncJob& before, const Reading& reading) {
    if (!reading.job)
        fail("a written manifest cannot be read");
    const SyncJob& after = *reading.job;
    if (!kept(before.id, after.id) || !kept(before.srcPath, after.srcPath) ||
        !kept(before.dstPath, after.dstPath) || !kept(before.perms, after.perms) ||
        !kept(before.owner, after.owner) || !kept(before.group, after.group) ||
        before.setPerm != after.setPerm || before.keepSynced != after.keepSynced ||
        before.autoRestart != after.autoRestart || !after.other_keys_xml.empty() ||
        before.files_.has_value() != after.files_.has_value())
        fail("a written job reads back changed");
    if (!before.files_)
        return;
    for (const auto& [path, entry] : *after.files_) {
        auto it = before.files_->find(path);
        if (it == before.files_->end() || !same_entry(it->second, entry))
            fail("a written entry reads back changed");
    }
    for (const auto& [path, entry] : *before.files_) {
        bool readable = vynd::is_safe_relative_path(path) && vynd::is_storable_text(path);
        if (readable && !after.files_->count(path))
            fail("a written entry is lost");
    }
}

const std::string& scratch_file() {
    static const std::string path = scratch_folder() + "/m.plist";
    return path;
}

std::string written(const SyncJob& job) {
    std::string err;
    if (!vynd::write_manifest_file(scratch_file(), job, &err))
        fail("the writer fails");
    std::ifstream in(scratch_file(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void check_round_trip(const SyncJob& job) {
    std::string xml = written(job);
    check_read_back(job, read_plain(xml));
    check_read_back(job, read_general(xml));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    check_readers_agree(bytes);
    // A binary manifest is read through libplist's XML form of it.
    plist_t root = nullptr;
    if (bytes.starts_with("bplist"))
        plist_from_bin(bytes.data(), static_cast<uint32_t>(size), &root);
    if (root) {
        char* xml = nullptr;
        uint32_t length = 0;
        plist_to_xml(root, &xml, &length);
        if (xml)
            check_readers_agree(std::string_view(xml, length));
        free(xml);
        plist_free(root);
    }
    if (vynd::is_storable_text(bytes) != storable_by_the_book(bytes))
        fail("the check for storable text is wrong");

    // Whatever a manifest gave, written again, reads back the same.
    if (auto job = vynd::parse_manifest(bytes)) {
        std::string again = written(*job);
        auto back = vynd::parse_manifest(again);
        if (!back || !same_job(*job, *back))
            fail("a manifest read, written and read again changes");
    }

    FuzzedDataProvider in(data, size);
    check_round_trip(job_from(in));
    return 0;
}
