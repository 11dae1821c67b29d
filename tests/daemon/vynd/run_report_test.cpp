// The run report's two forms and how they are put in place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "daemon/vynd/run_report.h"
#include "platform/property_list.h"
#include "tests/support/temp_dir.h"

using vynd::RunReport;
using vynd::test::TempDir;

namespace {

RunReport sample() {
    RunReport r;
    r.start = 1765370000;
    r.end = 1765370042;
    r.exit_status = 255;
    r.last_error = "Can't mount \"Deploy\" \\ at /Volumes\nsecond line";
    r.areas["Applications"] = {3, 1, 2};
    r.areas["Users"] = {};
    r.packages_installed = {"tool.deb"};
    r.packages_failed = {"bad.deb", "worse.deb"};
    r.restart_requested = true;
    r.last_run_without_error = 1765360000;
    return r;
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode;
}

}  // namespace

TEST(RunReport, PropertyListHoldsEveryFigure) {
    TempDir dir;
    dir.write("report.plist", vynd::report_property_list(sample()));
    auto d = vynd::read_property_list_dictionary(dir / "report.plist");
    ASSERT_TRUE(d);
    plist_t root = d->get();
    EXPECT_EQ(vynd::plist_dict_int(root, "exitStatus"), 255);
    EXPECT_EQ(vynd::plist_dict_string(root, "lastError"), sample().last_error);
    EXPECT_EQ(vynd::plist_dict_bool(root, "restartRequested"), true);
    plist_t apps = plist_dict_get_item(plist_dict_get_item(root, "areas"), "Applications");
    EXPECT_EQ(vynd::plist_dict_int(apps, "copied"), 3);
    EXPECT_EQ(vynd::plist_dict_int(apps, "deleted"), 1);
    EXPECT_EQ(vynd::plist_dict_int(apps, "failed"), 2);
    EXPECT_EQ(plist_array_get_size(plist_dict_get_item(root, "packagesFailed")), 2u);
    for (const char* key : {"startDate", "endDate"})
        EXPECT_EQ(plist_get_node_type(plist_dict_get_item(root, key)), PLIST_DATE) << key;
    EXPECT_EQ(vynd::last_run_without_error_in(dir / "report.plist"), 1765360000);

    // A run that never went without an Error leaves the key out.
    RunReport never = sample();
    never.last_error.reset();
    never.last_run_without_error.reset();
    dir.write("never.plist", vynd::report_property_list(never));
    EXPECT_FALSE(vynd::last_run_without_error_in(dir / "never.plist"));
    EXPECT_EQ(vynd::report_property_list(never).find("lastError"), std::string::npos);
    dir.write("junk.plist", "not a property list");
    EXPECT_FALSE(vynd::last_run_without_error_in(dir / "junk.plist"));
    EXPECT_FALSE(vynd::last_run_without_error_in(dir / "missing.plist"));
}

TEST(RunReport, PrometheusTextWithEscapedLabels) {
    std::string text = vynd::report_prometheus_text(sample());
    for (const char* line : {
             "vynd_last_run_start_time_seconds 1765370000\n",
             "vynd_last_run_end_time_seconds 1765370042\n",
             "vynd_last_run_exit_status 255\n",
             "vynd_last_run_error 1\n",
             "vynd_last_run_error_info{message=\"Can't mount \\\"Deploy\\\" \\\\ at "
             "/Volumes\\nsecond line\"} 1\n",
             "vynd_last_run_without_error_time_seconds 1765360000\n",
             "vynd_items_copied{area=\"Applications\"} 3\n",
             "vynd_items_deleted{area=\"Applications\"} 1\n",
             "vynd_items_failed{area=\"Applications\"} 2\n",
             "vynd_items_copied{area=\"Users\"} 0\n",
             "vynd_packages_installed 1\n",
             "vynd_packages_failed 2\n",
             "vynd_restart_requested 1\n",
             "# TYPE vynd_items_copied gauge\n",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
    // Each metric's HELP and TYPE come once, before its samples.
    EXPECT_EQ(text.find("# HELP vynd_items_copied"), text.rfind("# HELP vynd_items_copied"));
    EXPECT_LT(text.find("# TYPE vynd_items_copied"), text.find("vynd_items_copied{"));

    RunReport good = sample();
    good.last_error.reset();
    good.last_run_without_error.reset();
    text = vynd::report_prometheus_text(good);
    EXPECT_NE(text.find("vynd_last_run_error 0\n"), std::string::npos);
    EXPECT_EQ(text.find("vynd_last_run_error_info"), std::string::npos);
    EXPECT_EQ(text.find("vynd_last_run_without_error_time_seconds"), std::string::npos);
}

TEST(RunReport, WrittenInPlaceWithoutFollowingLinks) {
    TempDir dir;
    const std::string db = dir / "db/vynd";  // made when missing
    const std::string prom = dir / "node-exporter";
    std::string err;
    // No textfile folder: the property list alone.
    ASSERT_TRUE(vynd::write_report_files(sample(), db, prom, &err)) << err;
    EXPECT_EQ(mode_of(db + "/report.plist") & 07777, 0644u);
    EXPECT_FALSE(dir.exists("node-exporter"));

    // A link planted where the file goes is replaced, not written through.
    std::filesystem::create_directory(prom);
    chmod(prom.c_str(), 0755);
    dir.write("elsewhere", "kept");
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (prom + "/vynd.prom").c_str()), 0);
    ASSERT_TRUE(vynd::write_report_files(sample(), db, prom, &err)) << err;
    EXPECT_TRUE(S_ISREG(mode_of(prom + "/vynd.prom")));
    EXPECT_EQ(mode_of(prom + "/vynd.prom") & 07777, 0644u);
    std::string kept;
    std::ifstream(dir / "elsewhere") >> kept;
    EXPECT_EQ(kept, "kept");

    // A textfile folder that is a link, or that others may write, is refused.
    std::filesystem::rename(prom, dir / "real");
    ASSERT_EQ(symlink((dir / "real").c_str(), prom.c_str()), 0);
    EXPECT_FALSE(vynd::write_report_files(sample(), db, prom, &err));
    EXPECT_NE(err.find("through a link"), std::string::npos) << err;
    unlink(prom.c_str());
    std::filesystem::rename(dir / "real", prom);
    chmod(prom.c_str(), 0777);
    EXPECT_FALSE(vynd::write_report_files(sample(), db, prom, &err));
    EXPECT_NE(err.find("may be written by others"), std::string::npos) << err;
    chmod(prom.c_str(), 0755);

    // Temporary files of writes that never ended are swept; nothing else.
    for (const auto& name : {db + "/report.plist.a1B2c3", prom + "/vynd.prom.Zz9yX8"})
        dir.write(name.substr(dir.path().size() + 1));
    dir.write("db/vynd/report.plist.toolong", "kept");
    auto removed = vynd::remove_half_written_reports(db, prom);
    EXPECT_EQ(removed.size(), 2u);
    EXPECT_TRUE(dir.exists("db/vynd/report.plist.toolong"));
    EXPECT_TRUE(dir.exists("db/vynd/report.plist"));
    EXPECT_TRUE(dir.exists("node-exporter/vynd.prom"));
}
