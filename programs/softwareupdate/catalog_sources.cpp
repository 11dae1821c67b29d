// A site's private catalog: an apt sources file that replaces this
// computer's own sources, so that updates come only from what the site approved.
#include "programs/softwareupdate/catalog_sources.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "platform/property_list.h"
#include "platform/share/share_url.h"
#include "programs/softwareupdate/plain_text.h"

namespace vynd::softwareupdate {

namespace {

constexpr const char* kAptHelper = "/usr/lib/apt/apt-helper";
constexpr size_t kMaxCatalogSize = 1 << 20;

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
        std::optional<std::string> path = file_url_path(url);
        if (!path) {
            *err = "a file URL of this computer is needed: " + url;
            return std::nullopt;
        }
        return read_small_file(*path, err);
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
