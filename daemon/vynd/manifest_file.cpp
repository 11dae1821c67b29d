// The stored form of a sync job: an XML property list read and written as a
// stream, so that manifests of many thousand paths cost little. The shortcuts
// marked "bench_mirror" are measured by that benchmark (bench/mirror_bench.cpp),
// whose areas of 100,000 files give manifests of as many paths.
#include "daemon/vynd/manifest_file.h"

#include <fcntl.h>
#include <libxml/xmlreader.h>
#include <plist/plist.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

#include "daemon/vynd/path_components.h"
#include "daemon/vynd/rsync_output.h"
#include "platform/atomic_file.h"
#include "platform/bounded_read.h"
#include "platform/failure.h"
#include "platform/utf8.h"

namespace vynd {

namespace {

// A "files" key as stored, and the real name it stands for.
std::string stored_key_path(const std::string& key) {
    return key.find("\\#") == std::string::npos ? key : decode_rsync_escapes(key);
}

// A name is stored as it is unless XML cannot carry it, or it holds what
// reads back as an escape.
bool needs_escape(std::string_view path) {
    bool plain = true;
    for (char c : path) {
        auto b = static_cast<unsigned char>(c);
        plain = plain && b >= 0x20 && b < 0x80 && b != '\\';
    }
    return !plain && (!is_storable_text(path) || decode_rsync_escapes(path) != path);
}

// A key of the stored job and the field that holds it: a string or a flag.
// "files" has neither; it is read and written apart.
struct JobKey {
    std::string_view name;
    std::optional<std::string> SyncJob::*text = nullptr;
    std::optional<bool> SyncJob::*flag = nullptr;
};

// Every key of a job, in the sorted order property-list writers store them.
constexpr JobKey kJobKeys[] = {
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
const JobKey* value_key(std::string_view name) {
    for (const JobKey& key : kJobKeys) {
        if (key.name == name)
            return key.text || key.flag ? &key : nullptr;
    }
    return nullptr;
}

const char* as_c(const xmlChar* s) {
    return reinterpret_cast<const char*>(s);
}

// Walks the elements of a property list document one by one.
class Reader {
  public:
    explicit Reader(xmlTextReaderPtr r) : r_(r) {}
    ~Reader() {
        if (r_)
            xmlFreeTextReader(r_);
    }
    bool ok() const { return r_ != nullptr && !failed_; }

    // Moves to the next start or end tag; false at the end or on an error.
    bool next_tag() {
        for (;;) {
            int rc = xmlTextReaderRead(r_);
            if (rc != 1) {
                if (rc < 0)
                    failed_ = true;
                return false;
            }
            int type = xmlTextReaderNodeType(r_);
            if (type == XML_READER_TYPE_ELEMENT || type == XML_READER_TYPE_END_ELEMENT)
                return true;
            if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA) {
                failed_ = true;  // text where only tags belong
                return false;
            }
        }
    }
    bool is_start() const { return xmlTextReaderNodeType(r_) == XML_READER_TYPE_ELEMENT; }
    bool is_empty() const { return xmlTextReaderIsEmptyElement(r_) == 1; }
    std::string_view name() const { return as_c(xmlTextReaderConstName(r_)); }
    int depth() const { return xmlTextReaderDepth(r_); }

    // The text of the element the reader stands on; leaves it on the end tag.
    std::optional<std::string> text() {
        std::string out;
        if (is_empty())
            return out;
        int my_depth = depth();
        for (;;) {
            if (xmlTextReaderRead(r_) != 1) {
                failed_ = true;
                return std::nullopt;
            }
            int type = xmlTextReaderNodeType(r_);
            if (type == XML_READER_TYPE_END_ELEMENT && depth() == my_depth)
                return out;
            if (type == XML_READER_TYPE_ELEMENT)
                return std::nullopt;  // not plain text
            if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
                type == XML_READER_TYPE_WHITESPACE ||
                type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE) {
                if (const xmlChar* v = xmlTextReaderConstValue(r_))
                    out += as_c(v);
            }
        }
    }

    // The whole element as XML, and skips it.
    std::string outer_xml_and_skip() {
        std::string out;
        if (xmlChar* x = xmlTextReaderReadOuterXml(r_)) {
            out = as_c(x);
            xmlFree(x);
        } else {
            failed_ = true;  // the element is not whole: kept as nothing, it would be lost
        }
        skip();
        return out;
    }

    // Skips the element the reader stands on, leaving it on its last node.
    void skip() {
        if (is_empty())
            return;
        int my_depth = depth();
        for (;;) {
            if (xmlTextReaderRead(r_) != 1) {
                failed_ = true;
                return;
            }
            if (xmlTextReaderNodeType(r_) == XML_READER_TYPE_END_ELEMENT && depth() == my_depth)
                return;
        }
    }

  private:
    xmlTextReaderPtr r_;
    bool failed_ = false;
};

std::optional<bool> read_bool(Reader& r) {
    std::string_view n = r.name();
    if (n == "true" || n == "false") {
        bool v = n == "true";
        r.skip();
        return v;
    }
    r.skip();
    return std::nullopt;
}

std::optional<std::string> read_string(Reader& r) {
    if (r.name() != "string") {
        r.skip();
        return std::nullopt;
    }
    return r.text();
}

// Reads one entry of "files"; the reader stands on its <dict>.
bool read_entry(Reader& r, FileEntry& entry) {
    if (r.name() != "dict") {
        r.skip();
        return r.ok();
    }
    if (r.is_empty())
        return true;
    while (r.next_tag()) {
        if (!r.is_start())
            return true;  // </dict>
        if (r.name() != "key")
            return false;
        std::string key_xml = r.outer_xml_and_skip();
        // outer XML lost the text reading; read the key from it instead.
        auto open = key_xml.find('>');
        auto close = key_xml.rfind("</");
        std::string key = (open != std::string::npos && close != std::string::npos && close > open)
                              ? key_xml.substr(open + 1, close - open - 1)
                              : std::string();
        if (!r.next_tag() || !r.is_start())
            return false;
        if (key == "date" && r.name() == "date") {
            auto text = r.text();
            if (!text)
                return false;
            entry.date = parse_plist_date(*text);
        } else {
            entry.other_keys_xml += key_xml;
            entry.other_keys_xml += r.outer_xml_and_skip();
        }
    }
    return false;
}

bool read_files(Reader& r, FileMap& files, void (*on_dropped_key)(const std::string&)) {
    if (r.name() != "dict") {
        r.skip();
        return r.ok();
    }
    if (r.is_empty())
        return true;
    while (r.next_tag()) {
        if (!r.is_start())
            return true;
        if (r.name() != "key")
            return false;
        auto key = r.text();
        if (!key || !r.next_tag() || !r.is_start())
            return false;
        FileEntry entry;
        if (!read_entry(r, entry))
            return false;
        std::string path = stored_key_path(*key);
        if (!is_safe_relative_path(path)) {
            if (on_dropped_key)
                on_dropped_key(path);
            continue;
        }
        files[std::move(path)] = std::move(entry);
    }
    return false;
}

std::optional<SyncJob> read_job(Reader& r, void (*on_dropped_key)(const std::string&)) {
    if (!r.next_tag() || r.name() != "plist" || !r.is_start() || r.is_empty())
        return std::nullopt;
    if (!r.next_tag() || r.name() != "dict" || !r.is_start())
        return std::nullopt;
    SyncJob job;
    if (r.is_empty())
        return job;
    while (r.next_tag()) {
        if (!r.is_start())
            return r.ok() ? std::optional<SyncJob>(std::move(job)) : std::nullopt;
        if (r.name() != "key")
            return std::nullopt;
        auto key = r.text();
        if (!key || !r.next_tag() || !r.is_start())
            return std::nullopt;
        const std::string& k = *key;
        if (k == "files") {
            FileMap files;
            if (!read_files(r, files, on_dropped_key))
                return std::nullopt;
            if (r.name() == "dict")
                job.files_ = std::move(files);
        } else if (const JobKey* known = value_key(k)) {
            if (known->text)
                job.*known->text = read_string(r);
            else
                job.*known->flag = read_bool(r);
        } else {
            job.other_keys_xml.emplace_back(k, r.outer_xml_and_skip());
        }
        if (!r.ok())
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<SyncJob> parse_xml(const char* data, size_t size,
                                 void (*on_dropped_key)(const std::string&)) {
    Reader r(xmlReaderForMemory(data, static_cast<int>(size), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!r.ok())
        return std::nullopt;
    return read_job(r, on_dropped_key);
}

// A reader for manifests in the plain form this program writes: elements
// without attributes or comments, text with the predefined and numeric
// character references. Anything else it declines, and the document is read
// again by the general reader above, so it never decides what a manifest
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

std::optional<SyncJob> plain_manifest(std::string_view xml, bool mapped,
                                      void (*on_dropped_key)(const std::string&)) {
    std::vector<std::string> dropped;
    auto job = PlainReader(xml.data(), xml.size(), mapped).read(&dropped);
    if (job && on_dropped_key) {
        for (const auto& key : dropped) on_dropped_key(key);
    }
    return job;
}

std::optional<SyncJob> parse_xml_document(const char* data, size_t size,
                                          void (*on_dropped_key)(const std::string&),
                                          bool mapped = false) {
    if (auto job = plain_manifest({data, size}, mapped, on_dropped_key))
        return job;
    return parse_general_manifest({data, size}, on_dropped_key);
}

// Element text as libxml2's writer escapes it, so manifests keep their form.
void append_escaped(std::string& out, std::string_view text) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* rep = nullptr;
        switch (text[i]) {
            case '&':
                rep = "&amp;";
                break;
            case '<':
                rep = "&lt;";
                break;
            case '>':
                rep = "&gt;";
                break;
            case '"':
                rep = "&quot;";
                break;
            case '\r':
                rep = "&#13;";
                break;
            default:
                continue;
        }
        out.append(text.substr(start, i - start));
        out += rep;
        start = i + 1;
    }
    out.append(text.substr(start));
}

void append_element(std::string& out, std::string_view indent, const char* name,
                    std::string_view text) {
    out += indent;
    out += '<';
    out += name;
    out += '>';
    append_escaped(out, text);
    out += "</";
    out += name;
    out += ">\n";
}

void append_string(std::string& out, std::string_view key,
                   const std::optional<std::string>& value) {
    if (!value || !is_storable_text(*value))
        return;
    append_element(out, "\t\t", "key", key);
    append_element(out, "\t\t", "string", *value);
}

void append_bool(std::string& out, std::string_view key, const std::optional<bool>& value) {
    if (!value)
        return;
    append_element(out, "\t\t", "key", key);
    out += *value ? "\t\t<true/>\n" : "\t\t<false/>\n";
}

// Takes one piece of the document; false stops the writing of the rest.
using Drain = std::function<bool(const std::string&)>;
constexpr size_t kPiece = 1 << 16;

// The "files" dictionary, one entry per installed path, handed to `drain`
// a piece at a time. False when `drain` stopped it.
bool append_files(std::string& out, const FileMap& files, const Drain& drain) {
    bool any = !files.empty();
    append_element(out, "\t\t", "key", "files");
    out += any ? "\t\t<dict>\n" : "\t\t<dict/>\n";
    // The entries of one run share a handful of seconds, so each date is
    // formatted once (bench_mirror).
    std::optional<int64_t> last_date;
    std::string date_text;
    for (const auto& [path, entry] : files) {
        if (out.size() >= kPiece) {
            if (!drain(out))
                return false;
            out.clear();
        }
        // Every name is kept: one that XML cannot carry in its escaped form.
        append_element(out, "\t\t\t", "key", needs_escape(path) ? escape_name(path) : path);
        if (!entry.date && entry.other_keys_xml.empty()) {
            out += "\t\t\t<dict/>\n";
            continue;
        }
        out += "\t\t\t<dict>";
        if (entry.date) {
            if (entry.date != last_date) {
                last_date = entry.date;
                date_text = format_plist_date(*entry.date);
            }
            out += "\n\t\t\t\t<key>date</key>\n";
            append_element(out, "\t\t\t\t", "date", date_text);
        }
        if (entry.other_keys_xml.empty()) {
            out += "\t\t\t</dict>\n";
        } else {
            out += entry.other_keys_xml;
            out += "</dict>\n";
        }
    }
    if (any)
        out += "\t\t</dict>\n";
    return true;
}

// The whole document, indented with tabs as libxml2's writer lays it out.
// Manifests hold one entry per installed path, so this is written directly
// rather than through a tree or a writer object, and handed to `drain` in
// pieces, so that a large manifest is never held twice in memory.
void job_xml(const SyncJob& job, const Drain& drain) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist\n"
        "PUBLIC \"-//Apple//DTD PLIST 1.0//EN\"\n"
        "       \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n"
        "\t<dict>\n";
    for (const JobKey& key : kJobKeys) {
        if (key.text)
            append_string(out, key.name, job.*key.text);
        else if (key.flag)
            append_bool(out, key.name, job.*key.flag);
        else if (job.files_ && !append_files(out, *job.files_, drain))
            return;
    }
    bool after_raw = false;
    for (const auto& [key, xml] : job.other_keys_xml) {
        if (!is_storable_text(key))
            continue;
        append_element(out, "\t\t", "key", key);
        out += xml;
        after_raw = true;
    }
    out += after_raw ? "</dict>\n</plist>\n" : "\t</dict>\n</plist>\n";
    drain(out);
}

}  // namespace

bool is_safe_relative_path(std::string_view path) {
    if (path.empty() || path.front() == '/')
        return false;
    std::string_view rest = path;
    if (rest.back() == '/')
        rest.remove_suffix(1);
    return for_each_component(rest, [](std::string_view part) {
        return !part.empty() && part != "." && part != ".." &&
               part.find('\0') == std::string_view::npos;
    });
}

bool is_storable_text(std::string_view text) {
    // XML 1.0 takes no other control character, nor U+FFFE or U+FFFF (bench_mirror).
    return utf8_all_of(text, [](char32_t c) {
        return (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') && c != 0xFFFE && c != 0xFFFF;
    });
}

std::string format_plist_date(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::optional<int64_t> parse_plist_date(std::string_view text) {
    // Dates repeat from entry to entry, so the last one is kept (bench_mirror).
    static thread_local std::string last_text;
    static thread_local int64_t last_value = 0;
    if (!last_text.empty() && text == last_text)
        return last_value;
    struct tm tm {};
    std::string s(text);
    const char* end = strptime(s.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    if (!end)
        return std::nullopt;
    if (*end == '.') {
        ++end;
        while (*end >= '0' && *end <= '9') ++end;
    }
    if (*end != 'Z' || end[1] != '\0')
        return std::nullopt;
    last_value = static_cast<int64_t>(timegm(&tm));
    last_text = s;
    return last_value;
}

std::optional<SyncJob> parse_plain_manifest(std::string_view xml,
                                            void (*on_dropped_key)(const std::string&)) {
    return plain_manifest(xml, false, on_dropped_key);
}

std::optional<SyncJob> parse_general_manifest(std::string_view xml,
                                              void (*on_dropped_key)(const std::string&)) {
    return parse_xml(xml.data(), xml.size(), on_dropped_key);
}

namespace {

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
