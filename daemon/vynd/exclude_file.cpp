// The exclude file that keeps installed paths of a job out of rsync's way.
#include "daemon/vynd/exclude_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/bounded_read.h"
#include "platform/failure.h"
#include "platform/unique_fd.h"

namespace vynd {

std::string exclude_pattern(std::string_view relative_path) {
    // rsync treats a backslash as an escape only in a pattern that holds a
    // wildcard, so escaping is needed (and allowed) only then.
    bool wild = relative_path.find_first_of("*?[\n\r") != std::string_view::npos;
    std::string out = "/";
    out.reserve(relative_path.size() + 8);
    for (char c : relative_path) {
        if (!wild) {
            out += c;
        } else if (c == '\n' || c == '\r') {
            out += "[[:cntrl:]]";
        } else {
            if (c == '\\' || c == '*' || c == '?' || c == '[')
                out += '\\';
            out += c;
        }
    }
    return out;
}

std::vector<std::string> exclude_lines(const FileMap& files) {
    std::vector<std::string> lines;
    for (const auto& [path, entry] : files) {
        if (path.empty())
            continue;
        bool under_listed_folder = false;
        for (size_t slash = path.find('/'); slash != std::string::npos && slash + 1 < path.size();
             slash = path.find('/', slash + 1)) {
            if (files.count(std::string_view(path).substr(0, slash + 1))) {
                under_listed_folder = true;
                break;
            }
        }
        if (!under_listed_folder)
            lines.push_back(exclude_pattern(path));
    }
    return lines;
}

bool write_exclude_file(const std::string& path, const FileMap& files, std::string* err) {
    // Made afresh rather than cut short: whatever stands at the path (a link
    // someone planted while the folder was open to them) is not written through.
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        return fail_errno(err, path);
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    FILE* f = fd && fchmod(fd.get(), 0644) == 0 ? fdopen(fd.get(), "w") : nullptr;
    if (!f)
        return fail_errno(err, path);
    (void)fd.release();  // the stream closes it
    for (const auto& line : exclude_lines(files)) {
        fwrite(line.data(), 1, line.size(), f);
        fputc('\n', f);
    }
    bool ok = fflush(f) == 0 && !ferror(f);
    if (!ok)
        (void)fail_errno(err, path);
    if (fclose(f) != 0)
        ok = false;
    return ok;
}

SiteExclude check_site_exclude_file(const std::string& path, std::string* err) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT)
            return SiteExclude::none;
        *err = "cannot open the site exclude file " + path + ": " + strerror(errno);
        return SiteExclude::refused;
    }
    struct stat st;
    int stat_result = fstat(fd.get(), &st);
    fd.reset();
    if (stat_result != 0 || !S_ISREG(st.st_mode)) {
        *err = "the site exclude file " + path + " is not a regular file; it was not used";
        return SiteExclude::refused;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxSiteExcludeSize) {
        *err = too_large_message(path, kMaxSiteExcludeSize, "a site exclude file");
        return SiteExclude::refused;
    }
    return SiteExclude::usable;
}

}  // namespace vynd
