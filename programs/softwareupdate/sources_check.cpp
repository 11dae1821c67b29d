// Which apt sources a site's catalog may name: nothing that loosens apt's
// checks of what it installs, and keyrings that only root can change.
#include "programs/softwareupdate/sources_check.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

#include "programs/softwareupdate/plain_text.h"

namespace vynd::softwareupdate {

namespace {

// Options that only say which parts of an archive to fetch, and keyrings
// named by path or fingerprint. Anything else could loosen apt's checks.
bool allowed_option(const std::string& name) {
    static const char* kAllowed[] = {
        "arch", "lang",   "target",     "pdiffs",        "by-hash",   "signed-by", "types",
        "uris", "suites", "components", "architectures", "languages", "targets",   "enabled"};
    return std::find_if(std::begin(kAllowed), std::end(kAllowed),
                        [&](const char* a) { return name == a; }) != std::end(kAllowed);
}

// Why nobody but root may change the item: owned by root, writable by root
// alone. Empty when so.
std::string not_roots_own(const std::string& path, const struct stat& st) {
    if (st.st_uid != 0)
        return path + " is owned by uid " + std::to_string(st.st_uid) + ", not by root";
    if (st.st_mode & 022)
        return path + " may be written by others than root";
    return "";
}

// A keyring decides whose packages apt installs as root, so it must be one
// that only root can change, as apt's own trusted folders are: a regular
// file owned by root and writable by root alone, reached through folders
// of the same kind from / down. A link on the way is followed and its
// target checked the same way: it sits in a folder only root can change,
// so only root can change where it leads. Empty when the path is such a
// keyring, else why not.
std::string untrusted_keyring(const std::string& path) {
    std::vector<std::string> pending;  // components still to walk, last first
    auto push_components = [&](const std::string& p) {
        auto parts = words(p, "/");
        pending.insert(pending.end(), parts.rbegin(), parts.rend());
    };
    push_components(path);
    std::string here = "/";
    struct stat st;
    if (lstat("/", &st) != 0)
        return "/ cannot be examined";
    if (std::string why = not_roots_own("/", st); !why.empty())
        return why;
    int links = 0;
    while (!pending.empty()) {
        std::string part = pending.back();
        pending.pop_back();
        if (part == ".")
            continue;
        if (part == "..") {
            // `here` holds no link, so its parent is the one walked through.
            here = here.substr(0, std::max<size_t>(here.rfind('/'), 1));
            continue;
        }
        std::string next = here == "/" ? "/" + part : here + "/" + part;
        if (lstat(next.c_str(), &st) != 0)
            return next + " cannot be examined: " + strerror(errno);
        if (S_ISLNK(st.st_mode)) {
            char target[PATH_MAX];
            ssize_t n = readlink(next.c_str(), target, sizeof target);
            if (n <= 0 || n >= static_cast<ssize_t>(sizeof target) || ++links > 40)
                return next + " is a link that cannot be followed";
            std::string to(target, static_cast<size_t>(n));
            if (to[0] == '/')
                here = "/";
            push_components(to);
            continue;
        }
        if (std::string why = not_roots_own(next, st); !why.empty())
            return why;
        if (!pending.empty() && !S_ISDIR(st.st_mode))
            return next + " is not a folder";
        here = next;
    }
    if (lstat(here.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return here + " is not a regular file";
    return "";
}

bool allowed_keyring(const std::string& value, std::string* err) {
    for (const auto& k : words(value, " \t,")) {
        bool path = k[0] == '/';
        bool fingerprint = std::all_of(
            k.begin(), k.end(), [](unsigned char c) { return std::isxdigit(c) || c == '!'; });
        if (!path && !fingerprint) {
            *err = "signed-by names neither a keyring file nor a key fingerprint: " + k;
            return false;
        }
        if (std::string why = path ? untrusted_keyring(k) : ""; !why.empty()) {
            *err = "the keyring " + k + " is not one only root can change: " + why;
            return false;
        }
    }
    return true;
}

bool allowed_uri(const std::string& uri, std::string* err) {
    std::string scheme = lower(uri.substr(0, uri.find(':')));
    for (const char* s : {"http", "https", "file", "mirror+http", "mirror+https", "mirror+file",
                          "tor+http", "tor+https"}) {
        if (scheme == s && uri.find(':') != std::string::npos)
            return true;
    }
    *err = "not an archive address apt may fetch updates from: " + uri;
    return false;
}

bool check_option(const std::string& name, const std::string& value, std::string* err) {
    if (!allowed_option(name)) {
        *err = "option " + name + " is not allowed in a catalog";
        return false;
    }
    return name != "signed-by" || allowed_keyring(value, err);
}

bool check_line(const std::string& line, std::string* err) {
    std::string rest = line;
    size_t blank = rest.find_first_of(" \t");
    std::string type = rest.substr(0, blank);
    if (type != "deb" && type != "deb-src") {
        *err = "not a source line: " + line;
        return false;
    }
    rest = trim(blank == std::string::npos ? "" : rest.substr(blank));
    if (!rest.empty() && rest[0] == '[') {
        size_t close = rest.find(']');
        if (close == std::string::npos) {
            *err = "options without their closing bracket: " + line;
            return false;
        }
        for (const auto& opt : words(rest.substr(1, close - 1))) {
            size_t eq = opt.find('=');
            std::string name = lower(opt.substr(0, eq));
            if (!name.empty() && (name.back() == '+' || name.back() == '-'))
                name.pop_back();
            if (eq == std::string::npos) {
                *err = "option without a value: " + opt;
                return false;
            }
            if (!check_option(name, opt.substr(eq + 1), err))
                return false;
        }
        rest = trim(rest.substr(close + 1));
    }
    auto parts = words(rest);
    if (parts.size() < 2 || (parts[1].back() != '/' && parts.size() < 3)) {
        *err = "a source line needs an address, a suite and its components: " + line;
        return false;
    }
    return allowed_uri(parts[0], err);
}

bool check_stanza(const std::vector<std::pair<std::string, std::string>>& fields,
                  std::string* err) {
    bool has_uris = false;
    bool has_suites = false;
    bool has_types = false;
    for (const auto& [name, value] : fields) {
        if (!check_option(name, value, err))
            return false;
        if (name == "uris") {
            has_uris = true;
            for (const auto& u : words(value))
                if (!allowed_uri(u, err))
                    return false;
        }
        has_suites = has_suites || name == "suites";
        has_types = has_types || name == "types";
    }
    if (!has_uris || !has_suites || !has_types) {
        *err = "a stanza needs Types, URIs and Suites";
        return false;
    }
    return true;
}

bool check_deb822(const std::vector<std::string>& lines, std::string* err) {
    std::vector<std::pair<std::string, std::string>> fields;
    int stanzas = 0;
    auto end_stanza = [&] {
        if (fields.empty())
            return true;
        ++stanzas;
        bool ok = check_stanza(fields, err);
        fields.clear();
        return ok;
    };
    for (const auto& raw : lines) {
        if (!raw.empty() && raw[0] == '#')
            continue;
        if (trim(raw).empty()) {
            if (!end_stanza())
                return false;
            continue;
        }
        if (raw[0] == ' ' || raw[0] == '\t') {
            // A value over several lines: only an embedded key takes that.
            *err = "a value over several lines (an embedded key?) is not allowed in a catalog";
            return false;
        }
        size_t colon = raw.find(':');
        if (colon == std::string::npos) {
            *err = "not a field: " + raw;
            return false;
        }
        fields.emplace_back(lower(trim(raw.substr(0, colon))), trim(raw.substr(colon + 1)));
    }
    if (!end_stanza())
        return false;
    if (stanzas == 0) {
        *err = "the catalog names no source";
        return false;
    }
    return true;
}

}  // namespace

bool check_sources(const std::string& text, bool* deb822, std::string* err) {
    if (text.find('\0') != std::string::npos) {
        *err = "not a text file";
        return false;
    }
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::vector<std::string> content;
    for (const auto& l : lines) {
        std::string t = trim(l.substr(0, l.find('#')));
        if (!t.empty())
            content.push_back(t);
    }
    *deb822 = !content.empty() && content[0].rfind("deb", 0) != 0;
    if (*deb822)
        return check_deb822(lines, err);
    if (content.empty()) {
        *err = "the catalog names no source";
        return false;
    }
    for (const auto& l : content)
        if (!check_line(l, err))
            return false;
    return true;
}

}  // namespace vynd::softwareupdate
