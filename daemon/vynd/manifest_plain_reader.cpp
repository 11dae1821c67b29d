// Reading the plain form of a manifest that this program writes, quickly.
// The shortcuts marked "bench_mirror" are measured by that benchmark
// (bench/mirror_bench.cpp), whose areas of 100,000 files give manifests of
// as many paths.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "daemon/vynd/manifest_file.h"
#include "daemon/vynd/manifest_parts.h"

namespace vynd {

namespace {

// A reader for manifests in the plain form this program writes: elements
// without attributes or comments, text with the predefined and numeric
// character references. Anything else it declines, and the document is read
// again by the general reader, so it never decides what a manifest
// means on its own; it only makes the common case cheap (bench_mirror).
class PlainReader {
  public:
    // With `mapped`, the data is a private mapping of the file, and the
    // pages read are given back as the reading goes on: a large manifest is
    // then never held whole in memory beside the job it becomes.
    PlainReader(const char* data, size_t size, bool mapped = false)
        : p_(data), end_(data + size), released_(mapped ? data : nullptr) {}

    std::optional<SyncJob> read(std::vector<std::string>* dropped) {
        if (!prolog() || !open_tag("plist", true) || !open_tag("dict"))
            return std::nullopt;
        SyncJob job;
        if (empty_)
            return std::nullopt;  // leave unusual shapes to the general reader
        std::string key;
        for (;;) {
            if (close_tag("dict"))
                break;
            if (!element_text("key", key))
                return std::nullopt;
            if (key == "files") {
                FileMap files;
                if (!read_files(files, dropped))
                    return std::nullopt;
                job.files_ = std::move(files);
                continue;
            }
            const JobKey* known = value_key(key);
            if (!known)
                return std::nullopt;
            if (known->text) {
                std::string value;
                if (!element_text("string", value))
                    return std::nullopt;
                job.*known->text = std::move(value);
            } else if (open_tag("true") && empty_) {
                job.*known->flag = true;
            } else if (open_tag("false") && empty_) {
                job.*known->flag = false;
            } else {
                return std::nullopt;
            }
        }
        if (!close_tag("plist"))
            return std::nullopt;
        space();
        if (p_ != end_)
            return std::nullopt;
        return job;
    }

  private:
    void space() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
    }
    bool literal(std::string_view s) {
        if (static_cast<size_t>(end_ - p_) < s.size())
            return false;
        // Tags are short: a plain loop beats a call to memcmp (bench_mirror).
        for (size_t i = 0; i < s.size(); ++i) {
            if (p_[i] != s[i])
                return false;
        }
        p_ += s.size();
        return true;
    }

    // The declaration and the document type that property-list writers
    // put there, blanks between their words as they may lay them out; any
    // other prolog is the general reader's to judge.
    bool prolog() {
        if (literal("<?xml")) {
            if (!literal(" version=\"1.0\""))
                return false;
            (void)literal(" encoding=\"UTF-8\"");
            if (!literal("?>"))
                return false;
        }
        space();
        if (literal("<!DOCTYPE")) {
            for (std::string_view word : {"plist", "PUBLIC", "\"-//Apple//DTD PLIST 1.0//EN\"",
                                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\""}) {
                const char* at = p_;
                space();
                if (p_ == at || !literal(word))
                    return false;
            }
            space();
            if (!literal(">"))
                return false;
        }
        return true;
    }

    // "<name>" or "<name/>" (empty_ tells which); the plist tag may carry
    // its version attribute.
    bool open_tag(std::string_view name, bool attributes = false) {
        space();
        const char* at = p_;
        if (!literal("<") || !literal(name)) {
            p_ = at;
            return false;
        }
        if (attributes && p_ < end_ && *p_ == ' ') {
            if (!literal(" version=\"1.0\"")) {
                p_ = at;
                return false;
            }
        }
        empty_ = literal("/>");
        if (!empty_ && !literal(">")) {
            p_ = at;
            return false;
        }
        return true;
    }

    bool close_tag(std::string_view name) {
        space();
        const char* at = p_;
        if (literal("</") && literal(name) && literal(">"))
            return true;
        p_ = at;
        return false;
    }

    // <name>text</name> or <name/>.
    bool element_text(std::string_view name, std::string& out) {
        out.clear();
        if (!open_tag(name))
            return false;
        if (empty_)
            return true;
        if (!text(out))
            return false;
        const char* at = p_;
        if (literal("</") && literal(name) && literal(">"))
            return true;
        p_ = at;
        return false;
    }

    // Character data up to the next tag, references decoded. Declines a
    // carriage return (an XML reader turns it into a line feed), "]]>" and
    // text an XML document cannot hold.
    bool text(std::string& out) {
        for (;;) {
            const char* stop = p_;
            while (stop < end_ && *stop != '<' && *stop != '&' && *stop != '\r' && *stop != ']')
                ++stop;
            out.append(p_, stop - p_);
            p_ = stop;
            if (p_ == end_ || *p_ == '\r')
                return false;
            if (*p_ == '<')
                break;
            if (*p_ == ']') {
                if (literal("]]>"))
                    return false;
                out += *p_++;
                continue;
            }
            if (!reference(out))
                return false;
        }
        return is_storable_text(out);
    }

    bool reference(std::string& out) {
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        for (const auto& [name, c] : kNamed) {
            if (literal(name)) {
                out += c;
                return true;
            }
        }
        if (!literal("&#"))
            return false;
        bool hex = literal("x");
        uint32_t cp = 0;
        int digits = 0;
        for (; p_ < end_ && *p_ != ';'; ++p_, ++digits) {
            char c = *p_;
            int v = c >= '0' && c <= '9'          ? c - '0'
                    : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : -1;
            if (v < 0 || digits > 7)
                return false;
            cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
        }
        if (digits == 0 || !literal(";"))
            return false;
        bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                       (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
        if (!allowed)
            return false;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        return true;
    }

    // The "files" dictionary: each entry empty or holding only its "date".
    bool read_files(FileMap& files, std::vector<std::string>* dropped) {
        if (!open_tag("dict"))
            return false;
        if (empty_)
            return true;
        std::string key;
        std::string inner;
        for (;;) {
            if (close_tag("dict"))
                return true;
            if (!element_text("key", key) || !open_tag("dict"))
                return false;
            FileEntry entry;
            if (!empty_) {
                while (!close_tag("dict")) {
                    if (!element_text("key", inner) || inner != "date" ||
                        !element_text("date", inner))
                        return false;
                    entry.date = parse_plist_date(inner);
                }
            }
            std::string path = stored_key_path(key);
            if (!is_safe_relative_path(path)) {
                dropped->push_back(path);
                continue;
            }
            // Stored in order, so each entry goes at the end, without a search
            // (bench_mirror); escaped names may sort elsewhere, and the hint is
            // then merely not used.
            files.insert_or_assign(files.end(), std::move(path), std::move(entry));
            release_read_pages();
        }
    }

    // Pages of a mapped file that are read again after this (by the general
    // reader, when this one declines) are simply read from the file anew.
    void release_read_pages() {
        constexpr size_t kStep = 1 << 20;
        if (!released_ || static_cast<size_t>(p_ - released_) < kStep)
            return;
        static const uintptr_t kPageMask = ~(static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1);
        auto upto = reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(p_) & kPageMask);
        if (upto > released_ && madvise(const_cast<char*>(released_),
                                        static_cast<size_t>(upto - released_), MADV_DONTNEED) == 0)
            released_ = upto;
    }

    const char* p_;
    const char* end_;
    const char* released_;  // start of the pages not yet given back; nullptr when not mapped
    bool empty_ = false;
};

}  // namespace

std::optional<SyncJob> plain_manifest(std::string_view xml, bool mapped,
                                      void (*on_dropped_key)(const std::string&)) {
    std::vector<std::string> dropped;
    auto job = PlainReader(xml.data(), xml.size(), mapped).read(&dropped);
    if (job && on_dropped_key) {
        for (const auto& key : dropped) on_dropped_key(key);
    }
    return job;
}

std::optional<SyncJob> parse_plain_manifest(std::string_view xml,
                                            void (*on_dropped_key)(const std::string&)) {
    return plain_manifest(xml, false, on_dropped_key);
}

}  // namespace vynd
