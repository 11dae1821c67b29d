// Writing a job as the XML property list libxml2's writer would make, as a
// stream of pieces. The shortcuts marked "bench_mirror" are measured by that
// benchmark (bench/mirror_bench.cpp).
#include "daemon/vynd/manifest_file.h"
#include "daemon/vynd/manifest_parts.h"
#include "daemon/vynd/rsync_output.h"

namespace vynd {

namespace {

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

}  // namespace

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

}  // namespace vynd
