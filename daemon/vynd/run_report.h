// The report of the last run, for fleet monitoring: a property list in the
// database folder and the same figures for the node exporter's textfile folder.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vynd {

inline constexpr const char* kReportName = "report.plist";
inline constexpr const char* kTextfileFolder = "/var/lib/prometheus/node-exporter";
inline constexpr const char* kTextfileName = "vynd.prom";

// What one mirrored area did in a run.
struct AreaCounts {
    int64_t copied = 0;   // change lines that report an update
    int64_t deleted = 0;  // paths deleted because they left the share
    int64_t failed = 0;   // paths that could not be put in place, deleted or given their mode
    // 1 when the run deleted nothing that left the share, for it could not
    // tell what had (rsync failed, or the area was empty on the share).
    int64_t deletions_held = 0;
};

// One run, as reported. Times are seconds since the Unix epoch.
struct RunReport {
    int64_t start = 0;
    int64_t end = 0;
    int exit_status = 0;
    std::optional<std::string> last_error;  // the last Fatal or Error text
    std::map<std::string, AreaCounts> areas;
    std::vector<std::string> packages_installed;
    std::vector<std::string> packages_failed;
    bool restart_requested = false;
    // The end of the latest run that logged no Error (this one or an earlier one).
    std::optional<int64_t> last_run_without_error;
};

// The report as an XML property list, and as Prometheus text.
[[nodiscard]] std::string report_property_list(const RunReport& report);
[[nodiscard]] std::string report_prometheus_text(const RunReport& report);
// No report comes near this size, even one naming thousands of packages.
inline constexpr uint64_t kMaxReportSize = uint64_t{16} << 20;

// The end of the last run without an Error that a stored report names. A
// report larger than kMaxReportSize is not read, which `too_large` tells.
[[nodiscard]] std::optional<int64_t> last_run_without_error_in(const std::string& report_path,
                                                               std::string* too_large = nullptr);

// Writes report.plist into `database` and, when `textfile_folder` exists,
// vynd.prom into it: each reached without following a link, refused when
// others may write the folder, and replaced atomically. False with the
// reason in `err` when either could not be written.
[[nodiscard]] bool write_report_files(const RunReport& report, const std::string& database,
                                      const std::string& textfile_folder, std::string* err);
// Removes the temporary files of report writes that never ended and gives their paths.
std::vector<std::string> remove_half_written_reports(const std::string& database,
                                                     const std::string& textfile_folder);

// The run's report as it goes (run_recorder.cpp). Safe from any thread.

// The run holds the lock: from now on its end writes a report. Carries the
// last run without an Error over from the stored report; `problem` says why
// it could not (for the log, which is not open yet).
void report_run_started(std::string* problem);
// A line logged at "Error" or "Fatal".
void report_error(const char* message);
void report_copied(const std::string& area);
void report_deleted(const std::string& area);
void report_failed(const std::string& area, int64_t count);
void report_deletions_held(const std::string& area);
void report_package(const std::string& name, bool installed);
// Writes the report once, with the exit status; nothing before report_run_started.
// False with the reason when it could not be written.
[[nodiscard]] bool write_run_report(int exit_status, bool restart_requested, std::string* err);

}  // namespace vynd
