// A site's private catalog: an apt sources file that replaces this
// computer's own sources, so that updates come only from what the site approved.
#include "programs/softwareupdate/catalog_sources.h"

#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"
#include "platform/property_list.h"

namespace vynd::softwareupdate {

namespace {

constexpr const char* kAptHelper = "/usr/lib/apt/apt-helper";
constexpr size_t kMaxCatalogSize = 1 << 20;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::vector<std::string> words(const std::string& s, const char* separators = " \t") {
    std::vector<std::string> out;
    for (size_t i = 0; (i = s.find_first_not_of(separators, i)) != std::string::npos;) {
        size_t end = s.find_first_of(separators, i);
        out.push_back(s.substr(i, end == std::string::npos ? end : end - i));
        i = end;
    }
    return out;
}

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

std::optional<std::string> read_small_file(const std::string& path, std::string* err) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *err = "cannot read " + path;
        return std::nullopt;
    }
    std::string bytes(kMaxCatalogSize + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (bytes.size() > kMaxCatalogSize) {
        *err = path + " is too large for a sources file";
        return std::nullopt;
    }
    return bytes;
}

std::string percent_decoded(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// A folder of root's own that no one else may change, made when missing.
bool private_folder(const std::string& path, std::string* err) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        *err = "cannot create " + path;
        return false;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 022)) {
        *err = path + " is not a folder of root's own that only root may write";
        return false;
    }
    return true;
}

std::optional<std::string> fetch(const std::string& url, const std::string& state,
                                 std::string* err) {
    if (!url.empty() && url[0] == '/')
        return read_small_file(url, err);
    std::string scheme = lower(url.substr(0, url.find("://")));
    if (scheme == "file") {
        std::string rest = url.substr(7);
        if (rest.rfind("localhost/", 0) == 0)
            rest = rest.substr(9);
        if (rest.empty() || rest[0] != '/') {
            *err = "a file URL of this computer is needed: " + url;
            return std::nullopt;
        }
        return read_small_file(percent_decoded(rest), err);
    }
    if (scheme != "http" && scheme != "https") {
        *err = "the catalog is neither a path nor a file, http or https URL: " + url;
        return std::nullopt;
    }
    if (scheme == "http")
        fprintf(stderr,
                "softwareupdate: Warning: the catalog %s comes over plain http: anyone on the way "
                "can choose which of the trusted archives this computer updates from\n",
                url.c_str());
    const std::string download = state + "/catalog.download";
    unlink(download.c_str());
    int status = run_process({kAptHelper, "download-file", url, download});
    auto bytes = status == 0 ? read_small_file(download, err) : std::nullopt;
    unlink(download.c_str());
    if (status != 0)
        *err = "cannot fetch " + url + " (status " + std::to_string(status) + ")";
    return bytes;
}

}  // namespace

std::vector<std::string> software_update_preference_files() {
    const char* name = "/com.apple.SoftwareUpdate.plist";
    struct passwd* pw = getpwuid(0);
    std::string home = pw && pw->pw_dir ? pw->pw_dir : "/root";
    // Managed settings win, then root's own, then the computer's.
    return {std::string("/Library/Managed Preferences") + name,
            home + "/Library/Preferences" + name, std::string("/Library/Preferences") + name};
}

std::optional<std::string> configured_catalog_url() {
    for (const auto& file : software_update_preference_files()) {
        auto dict = read_property_list_dictionary(file);
        auto url = dict ? plist_dict_string(dict->get(), "CatalogURL") : std::nullopt;
        if (url && !trim(*url).empty())
            return trim(*url);
    }
    return std::nullopt;
}

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

std::optional<std::vector<std::string>> prepare_catalog(const std::string& url,
                                                        const std::string& state,
                                                        std::string* err) {
    std::string parent = state.substr(0, state.rfind('/'));
    std::error_code ignored;
    std::filesystem::create_directories(parent.substr(0, parent.rfind('/')), ignored);
    for (const auto& folder :
         {parent, state, state + "/lists", state + "/lists/partial", state + "/sources.list.d"})
        if (!private_folder(folder, err))
            return std::nullopt;
    auto text = fetch(url, state, err);
    if (!text)
        return std::nullopt;
    bool deb822 = false;
    std::string why;
    if (!check_sources(*text, &deb822, &why)) {
        *err = "the catalog " + url + " is refused: " + why;
        return std::nullopt;
    }
    // apt tells the two formats apart by the file's extension.
    const std::string list = state + (deb822 ? "/catalog.sources" : "/catalog.list");
    unlink((state + (deb822 ? "/catalog.list" : "/catalog.sources")).c_str());
    if (!write_file_atomically(list, *text, err, 0644))
        return std::nullopt;
    return std::vector<std::string>{
        "-o", "Dir::Etc::SourceList=" + list,
        "-o", "Dir::Etc::SourceParts=" + state + "/sources.list.d",
        "-o", "Dir::State::Lists=" + state + "/lists",
        "-o", "Dir::Cache::pkgcache=" + state + "/pkgcache.bin",
        "-o", "Dir::Cache::srcpkgcache=" + state + "/srcpkgcache.bin",
    };
}

}  // namespace vynd::softwareupdate
