// Fuzz target: settings and job files (XML and binary property lists) as the
// daemon, vyndctl and the pane read them.
#include <unistd.h>

#include <QVariant>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>

#include "daemon/vynd/prefs.h"
#include "daemon/vyndctl/global_prefs.h"
#include "daemon/vyndctl/reschedule.h"
#include "platform/job_control.h"
#include "platform/property_list.h"
#include "prefspane/settings_plist.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scratch_folder.h"

namespace {

bool is_chmod_mode(const std::string& mode) {
    static const std::regex kMode("u=(rw|r|),g=(rw|r|),o=(rw|r|),\\+X");
    return std::regex_match(mode, kMode);
}

void check_daemon_settings(plist_t dict) {
    const vynd::Settings s = vynd::apply_prefs(dict);
    for (const std::string* folder : {&s.app.path, &s.user.path, &s.lib.path, &s.pkg_path})
        FUZZ_CHECK(!folder->empty());
    for (const std::string* mode : {&s.app.perms, &s.user.perms, &s.lib.perms})
        FUZZ_CHECK(is_chmod_mode(*mode));
}

// Mode t rewrites the job file's schedule in the tree it read, as vyndctl
// does; what it writes reads back.
void check_job_file(plist_t job) {
    (void)vynd::timer_schedule(job);
    // The value given to mode t rides in the file, so the fuzzer picks it too.
    std::optional<std::string> value = vynd::plist_dict_string(job, "vynd_schedule");
    vynd::set_schedule(job, value.value_or("10:30"));
    FUZZ_CHECK(!plist_dict_get_item(job, "StartInterval") !=
               !plist_dict_get_item(job, "StartCalendarInterval"));
    auto back = vynd::parse_property_list(vynd::property_list_xml(job));
    FUZZ_CHECK(back && plist_get_node_type(back->get()) == PLIST_DICT);
    (void)vynd::timer_schedule(back->get());
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Mode p puts a settings dictionary in place and refuses anything else,
// keeping the old file; what everyone may read never holds the password.
void check_mode_p(const std::string& bytes, bool is_dictionary) {
    const std::string source = scratch_folder() + "/prepared.plist";
    vynd::PrefsTargets targets;
    targets.prefs = scratch_folder() + "/Preferences/com.quenderlyn.vynd.plist";
    targets.password = scratch_folder() + "/Preferences/com.quenderlyn.vynd.passwd.plist";
    std::ofstream(source, std::ios::binary | std::ios::trunc) << bytes;
    const std::string before = file_bytes(targets.prefs);
    std::string err;
    const bool replaced = vynd::replace_global_preferences(source, geteuid(), &err, targets);
    FUZZ_CHECK(replaced == is_dictionary);
    const std::string after = file_bytes(targets.prefs);
    if (!replaced) {
        FUZZ_CHECK(after == before);
        return;
    }
    auto written = vynd::parse_property_list(after);
    FUZZ_CHECK(written && plist_get_node_type(written->get()) == PLIST_DICT);
    FUZZ_CHECK(!plist_dict_get_item(written->get(), "vynd_passwd"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto root = vynd::parse_property_list(bytes);
    plist_t node = root ? root->get() : nullptr;
    plist_t dict = node && plist_get_node_type(node) == PLIST_DICT ? node : nullptr;

    check_daemon_settings(dict);
    // The pane loads the settings into its store and saves them back.
    const QVariant loaded = vynd::variantFromPlist(node);
    if (plist_t saved = vynd::plistFromVariant(loaded))
        plist_free(saved);
    check_mode_p(bytes, dict != nullptr);
    if (dict)
        check_job_file(dict);  // last: it changes the tree
    return 0;
}
