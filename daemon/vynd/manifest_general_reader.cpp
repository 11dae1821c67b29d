// Reading any property-list document of a job, through libxml2's reader.
#include <libxml/xmlreader.h>

#include "daemon/vynd/manifest_file.h"
#include "daemon/vynd/manifest_parts.h"

namespace vynd {

namespace {

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

}  // namespace

std::optional<SyncJob> parse_general_manifest(std::string_view xml,
                                              void (*on_dropped_key)(const std::string&)) {
    return parse_xml(xml.data(), xml.size(), on_dropped_key);
}

}  // namespace vynd
