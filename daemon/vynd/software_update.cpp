// System software updates and the disk permission repair after an install run.
#include "daemon/vynd/software_update.h"

#include <pwd.h>
#include <sys/stat.h>

#include <cstdio>
#include <regex>

#include "daemon/vynd/log.h"
#include "daemon/vynd/prefs.h"
#include "daemon/vynd/rsync_output.h"
#include "platform/process.h"
#include "platform/property_list.h"
#include "platform/system_tools.h"

namespace vynd {

namespace {

// The Library folders of every domain: the user's (root's), local, network, system.
std::vector<std::string> library_folders() {
    struct passwd* pw = getpwuid(0);
    std::string home = pw && pw->pw_dir ? pw->pw_dir : "/root";
    return {home + "/Library", "/Library", "/Network/Library", "/System/Library"};
}

// The tool says why it could not update (a catalog it refused, say) on a
// line of its own. That is a failure of the run, so the line is logged (as
// the tool's text, escaped) at "Error" and the run report counts it; the
// tool's other output stays out of the log.
void log_tool_error(std::string_view line) {
    static constexpr std::string_view kToolError = "softwareupdate: Error: ";
    if (line.substr(0, kToolError.size()) == kToolError)
        vynd_log("Error", "%s", escape_name(line).c_str());
}

}  // namespace

bool sw_updates_available() {
    vynd_log("Info",
             "Checking for software updates...\nThis doesn't work when run from preferences pane "
             "apparently");
    // softwareupdate -l 2>&1 | grep 'No new software available.', without a shell:
    // the matching lines are echoed as grep would, and a match means no updates.
    // The tool's Error lines are logged besides.
    static const std::regex phrase("No new software available.");
    bool matched = false;
    (void)run_process_lines(
        {kSoftwareUpdatePath, "-l"},
        [&](std::string_view line) {
            if (std::regex_search(line.begin(), line.end(), phrase)) {
                matched = true;
                fwrite(line.data(), 1, line.size(), stdout);
                fputc('\n', stdout);
            }
            log_tool_error(line);
        },
        true);
    fflush(stdout);
    return !matched;
}

bool software_update(const Settings& settings) {
    const std::optional<std::string>& sus_server = settings.sus_server;
    if (!sw_updates_available()) {
        vynd_log("Info", "No software updates available");
        return false;
    }
    if (settings.sus_mode == 2 && sus_server && !sus_server->empty()) {
        for (const auto& library : library_folders()) {
            set_sw_catalog(library, "Preferences", sus_server);
            set_sw_catalog(library, "Managed Preferences", sus_server);
        }
    }
    vynd_log("Info", "Starting software update");
    // Both of the tool's streams still reach the daemon's standard output,
    // in the order written; only its Error lines also reach the log.
    int status = run_process_lines(
        {kSoftwareUpdatePath, "-d", "-i", "-a"},
        [](std::string_view line) {
            fwrite(line.data(), 1, line.size(), stdout);
            fputc('\n', stdout);
            log_tool_error(line);
        },
        true, [] { fflush(stdout); });
    fflush(stdout);
    vynd_log("Info", "Software update finished");
    return status == 0;
}

void set_sw_catalog(const std::string& library, const std::string& subfolder,
                    const std::optional<std::string>& sus_server) {
    if (!sus_server)
        return;
    std::string path = library + "/" + subfolder + "/com.apple.SoftwareUpdate.plist";
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return;
    auto dict = read_property_list_dictionary(path);
    if (!dict)
        return;
    plist_dict_set_item(dict->get(), "CatalogURL", plist_new_string(sus_server->c_str()));
    (void)write_property_list_atomically(path, dict->get(), nullptr, st.st_mode & 07777);
}

int repair_permissions() {
    vynd_log("Info", "Repairing disk permissions");
    return run_process({kDiskutilPath, "repairPermissions", "/"});
}

}  // namespace vynd
