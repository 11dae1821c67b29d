// The stored form of a sync job: an XML property list read and written as a
// stream, so that manifests of many thousand paths cost little.
#include "manifest_file.h"

#include <fcntl.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace vynd {

namespace {

const char* as_c(const xmlChar* s) {
    return reinterpret_cast<const char*>(s);
}
const xmlChar* as_x(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
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
        if (!is_safe_relative_path(*key)) {
            if (on_dropped_key)
                on_dropped_key(*key);
            continue;
        }
        files[*key] = std::move(entry);
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
        if (k == "id") {
            job.id = read_string(r);
        } else if (k == "srcPath") {
            job.srcPath = read_string(r);
        } else if (k == "dstPath") {
            job.dstPath = read_string(r);
        } else if (k == "perms") {
            job.perms = read_string(r);
        } else if (k == "owner") {
            job.owner = read_string(r);
        } else if (k == "group") {
            job.group = read_string(r);
        } else if (k == "setPerm") {
            job.setPerm = read_bool(r);
        } else if (k == "keepSynced") {
            job.keepSynced = read_bool(r);
        } else if (k == "autoRestart") {
            job.autoRestart = read_bool(r);
        } else if (k == "files") {
            FileMap files;
            if (!read_files(r, files, on_dropped_key))
                return std::nullopt;
            if (r.name() == "dict")
                job.files_ = std::move(files);
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

// Writes through libxml2's stream writer into a FILE.
class Writer {
  public:
    explicit Writer(FILE* f) {
        xmlOutputBufferPtr out = xmlOutputBufferCreateFile(f, nullptr);
        if (out)
            w_ = xmlNewTextWriter(out);
        if (w_) {
            xmlTextWriterSetIndent(w_, 1);
            xmlTextWriterSetIndentString(w_, as_x("\t"));
        }
    }
    ~Writer() {
        if (w_)
            xmlFreeTextWriter(w_);
    }
    bool ok() const { return w_ && !failed_; }
    void check(int rc) {
        if (rc < 0)
            failed_ = true;
    }
    void start(const char* name) { check(xmlTextWriterStartElement(w_, as_x(name))); }
    void end() { check(xmlTextWriterEndElement(w_)); }
    void element(const char* name, const std::string& text) {
        check(xmlTextWriterWriteElement(w_, as_x(name), as_x(text.c_str())));
    }
    void empty(const char* name) {
        start(name);
        end();
    }
    void raw(const std::string& xml) { check(xmlTextWriterWriteRaw(w_, as_x(xml.c_str()))); }
    xmlTextWriterPtr get() { return w_; }

  private:
    xmlTextWriterPtr w_ = nullptr;
    bool failed_ = false;
};

void write_string(Writer& w, const char* key, const std::optional<std::string>& value) {
    if (!value || !is_storable_text(*value))
        return;
    w.element("key", key);
    w.element("string", *value);
}

void write_bool(Writer& w, const char* key, const std::optional<bool>& value) {
    if (!value)
        return;
    w.element("key", key);
    w.empty(*value ? "true" : "false");
}

void write_job(Writer& w, const SyncJob& job) {
    w.check(xmlTextWriterStartDocument(w.get(), "1.0", "UTF-8", nullptr));
    w.check(xmlTextWriterWriteDTD(w.get(), as_x("plist"), as_x("-//Apple//DTD PLIST 1.0//EN"),
                                  as_x("http://www.apple.com/DTDs/PropertyList-1.0.dtd"), nullptr));
    w.start("plist");
    w.check(xmlTextWriterWriteAttribute(w.get(), as_x("version"), as_x("1.0")));
    w.start("dict");
    // Keys in sorted order, as property-list writers do.
    write_bool(w, "autoRestart", job.autoRestart);
    write_string(w, "dstPath", job.dstPath);
    if (job.files_) {
        w.element("key", "files");
        w.start("dict");
        std::vector<const FileMap::value_type*> entries;
        entries.reserve(job.files_->size());
        for (const auto& e : *job.files_) {
            if (is_storable_text(e.first))
                entries.push_back(&e);
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto* a, const auto* b) { return a->first < b->first; });
        for (const auto* e : entries) {
            w.element("key", e->first);
            const FileEntry& entry = e->second;
            if (!entry.date && entry.other_keys_xml.empty()) {
                w.empty("dict");
                continue;
            }
            w.start("dict");
            if (entry.date) {
                w.element("key", "date");
                w.element("date", format_plist_date(*entry.date));
            }
            if (!entry.other_keys_xml.empty())
                w.raw(entry.other_keys_xml);
            w.end();
        }
        w.end();
    }
    write_string(w, "group", job.group);
    write_string(w, "id", job.id);
    write_bool(w, "keepSynced", job.keepSynced);
    write_string(w, "owner", job.owner);
    write_string(w, "perms", job.perms);
    write_bool(w, "setPerm", job.setPerm);
    write_string(w, "srcPath", job.srcPath);
    for (const auto& [key, xml] : job.other_keys_xml) {
        if (!is_storable_text(key))
            continue;
        w.element("key", key);
        w.raw(xml);
    }
    w.end();
    w.end();
    w.check(xmlTextWriterEndDocument(w.get()));
    w.check(xmlTextWriterFlush(w.get()));
}

bool fail(std::string* err, const std::string& what) {
    if (err)
        *err = what + ": " + strerror(errno);
    return false;
}

}  // namespace

bool is_safe_relative_path(std::string_view path) {
    if (path.empty() || path.front() == '/')
        return false;
    std::string_view rest = path;
    if (rest.back() == '/')
        rest.remove_suffix(1);
    for (;;) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (part.find('\0') != std::string_view::npos)
            return false;
        if (slash == std::string_view::npos)
            return true;
        rest.remove_prefix(slash + 1);
    }
}

bool is_storable_text(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned c = s[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                return false;
            ++i;
            continue;
        }
        size_t len = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
        if (len == 0 || c > 0xf4 || i + len > n)
            return false;
        unsigned cp = c & (0xff >> (len + 1));
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3f);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
            (cp >= 0xd800 && cp <= 0xdfff) || cp == 0xfffe || cp == 0xffff)
            return false;
        i += len;
    }
    return true;
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
    return static_cast<int64_t>(timegm(&tm));
}

std::optional<SyncJob> parse_manifest(const std::string& bytes,
                                      void (*on_dropped_key)(const std::string&)) {
    if (bytes.compare(0, 6, "bplist") == 0) {
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
        auto job = parse_xml(xml, len, on_dropped_key);
        free(xml);
        return job;
    }
    return parse_xml(bytes.data(), bytes.size(), on_dropped_key);
}

std::optional<SyncJob> read_manifest_file(const std::string& path,
                                          void (*on_dropped_key)(const std::string&)) {
    FILE* f = fopen(path.c_str(), "rbe");
    if (!f)
        return std::nullopt;
    std::string bytes;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    bool bad = ferror(f);
    fclose(f);
    if (bad)
        return std::nullopt;
    return parse_manifest(bytes, on_dropped_key);
}

bool write_manifest_file(const std::string& path, const SyncJob& job, std::string* err) {
    std::string tmp = path + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(err, tmp);
    fchmod(fd, 0644);
    FILE* f = fdopen(fd, "w");
    if (!f) {
        close(fd);
        unlink(tmp.c_str());
        return fail(err, tmp);
    }
    bool ok;
    {
        Writer w(f);
        if (w.ok())
            write_job(w, job);
        ok = w.ok();
    }
    ok = ok && fflush(f) == 0 && fsync(fileno(f)) == 0;
    if (fclose(f) != 0)
        ok = false;
    if (!ok) {
        if (err)
            *err = tmp + ": could not be written";
        unlink(tmp.c_str());
        return false;
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        int saved = errno;
        unlink(tmp.c_str());
        errno = saved;
        return fail(err, path);
    }
    return true;
}

}  // namespace vynd
