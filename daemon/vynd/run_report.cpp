// The report of the last run, for fleet monitoring: a property list in the
// database folder and the same figures for the node exporter's textfile folder.
#include "daemon/vynd/run_report.h"

#include <dirent.h>
#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "daemon/vynd/area_paths.h"
#include "daemon/vynd/database.h"
#include "platform/atomic_file.h"
#include "platform/property_list.h"

namespace vynd {

namespace {

// Property-list dates count from 2001-01-01.
constexpr int64_t kPlistEpoch = 978307200;

plist_t date_node(int64_t seconds) {
    return plist_new_date(static_cast<int32_t>(seconds - kPlistEpoch), 0);
}

plist_t string_array(const std::vector<std::string>& names) {
    plist_t array = plist_new_array();
    for (const auto& n : names) plist_array_append_item(array, plist_new_string(n.c_str()));
    return array;
}

// A label value or help text of the Prometheus text format.
std::string prometheus_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

class PrometheusText {
  public:
    void metric(const char* name, const char* help) {
        out_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    }
    void sample(const char* name, int64_t value, const std::string& labels = "") {
        out_ +=
            name + (labels.empty() ? "" : "{" + labels + "}") + " " + std::to_string(value) + "\n";
    }
    std::string take() { return std::move(out_); }

  private:
    std::string out_;
};

// Opens the folder without following a link anywhere on its path and checks
// that no one but its owner and root's group can write in it.
int open_closed_folder(const std::string& folder, std::string* err) {
    int fd = open_folder_below("/", folder);
    if (fd < 0) {
        *err = folder + (errno == ELOOP ? " is reached through a link"
                                        : ": " + std::string(strerror(errno)));
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || (st.st_mode & S_IWOTH) ||
        ((st.st_mode & S_IWGRP) && st.st_gid != 0)) {
        close(fd);
        *err = folder + " may be written by others";
        return -1;
    }
    return fd;
}

bool write_in_folder(const std::string& folder, const std::string& name, const std::string& bytes,
                     std::string* err) {
    int dir = open_closed_folder(folder, err);
    if (dir < 0)
        return false;
    bool ok = replace_file_in(dir, folder, name, bytes, 0644, err);
    close(dir);
    return ok;
}

}  // namespace

std::string report_property_list(const RunReport& report) {
    Plist root(plist_new_dict());
    plist_t d = root.get();
    plist_dict_set_item(d, "startDate", date_node(report.start));
    plist_dict_set_item(d, "endDate", date_node(report.end));
    plist_dict_set_item(d, "exitStatus", plist_new_uint(static_cast<uint64_t>(report.exit_status)));
    if (report.last_error)
        plist_dict_set_item(d, "lastError", plist_new_string(report.last_error->c_str()));
    plist_t areas = plist_new_dict();
    for (const auto& [id, counts] : report.areas) {
        plist_t area = plist_new_dict();
        plist_dict_set_item(area, "copied", plist_new_uint(static_cast<uint64_t>(counts.copied)));
        plist_dict_set_item(area, "deleted", plist_new_uint(static_cast<uint64_t>(counts.deleted)));
        plist_dict_set_item(area, "failed", plist_new_uint(static_cast<uint64_t>(counts.failed)));
        plist_dict_set_item(area, "deletionsHeld", plist_new_bool(counts.deletions_held != 0));
        plist_dict_set_item(areas, id.c_str(), area);
    }
    plist_dict_set_item(d, "areas", areas);
    plist_dict_set_item(d, "packagesInstalled", string_array(report.packages_installed));
    plist_dict_set_item(d, "packagesFailed", string_array(report.packages_failed));
    plist_dict_set_item(d, "restartRequested", plist_new_bool(report.restart_requested));
    if (report.last_run_without_error)
        plist_dict_set_item(d, "lastRunWithoutError", date_node(*report.last_run_without_error));
    return property_list_xml(d);
}

std::string report_prometheus_text(const RunReport& report) {
    PrometheusText t;
    t.metric("vynd_last_run_start_time_seconds", "When the last vynd run started.");
    t.sample("vynd_last_run_start_time_seconds", report.start);
    t.metric("vynd_last_run_end_time_seconds", "When the last vynd run ended.");
    t.sample("vynd_last_run_end_time_seconds", report.end);
    t.metric("vynd_last_run_exit_status",
             "Exit status of the last vynd run: 0 completed, 255 ended at a Fatal line.");
    t.sample("vynd_last_run_exit_status", report.exit_status);
    t.metric("vynd_last_run_error", "1 when the last vynd run logged an Error or a Fatal line.");
    t.sample("vynd_last_run_error", report.last_error ? 1 : 0);
    if (report.last_error) {
        t.metric("vynd_last_run_error_info", "The last Fatal or Error text of the last vynd run.");
        t.sample("vynd_last_run_error_info", 1,
                 "message=\"" + prometheus_escaped(*report.last_error) + "\"");
    }
    if (report.last_run_without_error) {
        t.metric("vynd_last_run_without_error_time_seconds",
                 "When the latest vynd run that logged no Error ended.");
        t.sample("vynd_last_run_without_error_time_seconds", *report.last_run_without_error);
    }
    const struct {
        const char* name;
        const char* help;
        int64_t AreaCounts::*count;
    } counts[] = {
        {"vynd_items_copied", "Items copied or updated in an area by the last vynd run.",
         &AreaCounts::copied},
        {"vynd_items_deleted", "Items deleted in an area by the last vynd run.",
         &AreaCounts::deleted},
        {"vynd_items_failed",
         "Items the last vynd run could not copy, delete or set up in an area.",
         &AreaCounts::failed},
        {"vynd_deletions_held",
         "1 when the last vynd run deleted nothing that left the share in an area, for rsync "
         "failed or the area was empty on the share.",
         &AreaCounts::deletions_held},
    };
    for (const auto& c : counts) {
        t.metric(c.name, c.help);
        for (const auto& [id, area] : report.areas)
            t.sample(c.name, area.*(c.count), "area=\"" + prometheus_escaped(id) + "\"");
    }
    t.metric("vynd_packages_installed", "Packages installed by the last vynd run.");
    t.sample("vynd_packages_installed", static_cast<int64_t>(report.packages_installed.size()));
    t.metric("vynd_packages_failed", "Packages the last vynd run could not install.");
    t.sample("vynd_packages_failed", static_cast<int64_t>(report.packages_failed.size()));
    t.metric("vynd_restart_requested", "1 when the last vynd run asked for a restart.");
    t.sample("vynd_restart_requested", report.restart_requested ? 1 : 0);
    return t.take();
}

std::optional<int64_t> last_run_without_error_in(const std::string& report_path,
                                                 std::string* too_large) {
    auto dict =
        read_property_list_dictionary(report_path, kMaxReportSize, too_large, "a run report");
    plist_t node = dict ? plist_dict_get_item(dict->get(), "lastRunWithoutError") : nullptr;
    if (!node || plist_get_node_type(node) != PLIST_DATE)
        return std::nullopt;
    int32_t sec = 0;
    int32_t usec = 0;
    plist_get_date_val(node, &sec, &usec);
    return kPlistEpoch + sec;
}

bool write_report_files(const RunReport& report, const std::string& database,
                        const std::string& textfile_folder, std::string* err) {
    struct stat st;
    // A run that ended before the database was made still leaves its report.
    if (lstat(database.c_str(), &st) != 0 && errno == ENOENT)
        (void)make_folders(database, kDatabaseFolderMode);
    bool ok = write_in_folder(database, kReportName, report_property_list(report), err);
    if (lstat(textfile_folder.c_str(), &st) != 0 && errno == ENOENT)
        return ok;
    std::string prom_err;
    if (!write_in_folder(textfile_folder, kTextfileName, report_prometheus_text(report),
                         &prom_err)) {
        *err = ok ? prom_err : *err + "; " + prom_err;
        ok = false;
    }
    return ok;
}

std::vector<std::string> remove_half_written_reports(const std::string& database,
                                                     const std::string& textfile_folder) {
    std::vector<std::string> removed;
    for (auto [folder, name] :
         {std::pair{&database, kReportName}, {&textfile_folder, kTextfileName}}) {
        std::string ignored;
        int path_fd = open_closed_folder(*folder, &ignored);
        if (path_fd < 0)
            continue;
        int fd = openat(path_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(path_fd);
        DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
        if (!dir) {
            if (fd >= 0)
                close(fd);
            continue;
        }
        while (struct dirent* e = readdir(dir)) {
            if (is_temporary_of(e->d_name, name) && unlinkat(dirfd(dir), e->d_name, 0) == 0)
                removed.push_back(*folder + "/" + e->d_name);
        }
        closedir(dir);
    }
    return removed;
}

}  // namespace vynd
