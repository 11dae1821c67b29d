// The report of the run under way: what it did, gathered as it goes, and
// written once when it ends (run_report.cpp gives the report its forms).
#include <ctime>
#include <mutex>

#include "daemon/vynd/database.h"
#include "daemon/vynd/rsync_output.h"
#include "daemon/vynd/run_report.h"

namespace vynd {

namespace {

// The run's report, shared by the main thread and the one that handles stop signals.
std::mutex& report_lock() {
    static auto* m = new std::mutex;
    return *m;
}
RunReport& run_report() {
    static auto* r = new RunReport;
    return *r;
}
bool report_armed = false;
bool report_written = false;
bool run_had_error = false;

}  // namespace

void report_run_started(std::string* problem) {
    auto carried =
        last_run_without_error_in(std::string(kDatabasePath) + "/" + kReportName, problem);
    std::lock_guard<std::mutex> hold(report_lock());
    RunReport& r = run_report();
    r.start = time(nullptr);
    r.last_run_without_error = carried;
    for (const char* id : {"Applications", "Library", "Users"}) r.areas[id];
    report_armed = true;
}

void report_error(const char* message) {
    std::string text = escape_name(message);
    std::lock_guard<std::mutex> hold(report_lock());
    run_report().last_error = std::move(text);
    run_had_error = true;
}

void report_copied(const std::string& area) {
    std::lock_guard<std::mutex> hold(report_lock());
    ++run_report().areas[area].copied;
}

void report_deleted(const std::string& area) {
    std::lock_guard<std::mutex> hold(report_lock());
    ++run_report().areas[area].deleted;
}

void report_failed(const std::string& area, int64_t count) {
    std::lock_guard<std::mutex> hold(report_lock());
    run_report().areas[area].failed += count;
}

void report_deletions_held(const std::string& area) {
    std::lock_guard<std::mutex> hold(report_lock());
    run_report().areas[area].deletions_held = 1;
}

void report_package(const std::string& name, bool installed) {
    std::string shown = escape_name(name);
    std::lock_guard<std::mutex> hold(report_lock());
    auto& list = installed ? run_report().packages_installed : run_report().packages_failed;
    list.push_back(std::move(shown));
}

bool write_run_report(int exit_status, bool restart_requested, std::string* err) {
    std::lock_guard<std::mutex> hold(report_lock());
    if (!report_armed || report_written)
        return true;
    report_written = true;
    RunReport& r = run_report();
    r.end = time(nullptr);
    r.exit_status = exit_status;
    r.restart_requested = restart_requested;
    if (!run_had_error)
        r.last_run_without_error = r.end;
    return write_report_files(r, kDatabasePath, kTextfileFolder, err);
}

}  // namespace vynd
