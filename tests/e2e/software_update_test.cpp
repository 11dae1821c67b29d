// Software update and permission repair after an install run, with a recording apt.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/property_list.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"

using vynd::test::log_message;
using vynd::test::PrefsBuilder;
using vynd::test::Sandbox;

namespace {

// apt-get stands in: the simulated upgrade lists /run/apt-upgradable, the
// real one exits with the status in /run/apt-status (0 when absent).
const char kAptGet[] = R"sh(case $1 in
    -s) cat /run/apt-upgradable 2>/dev/null; exit 0 ;;
    -q) exit 0 ;;
    -y) exit "$(cat /run/apt-status 2>/dev/null || echo 0)" ;;
esac
exit 2)sh";

const char kCheck[] =
    "Checking for software updates...\nThis doesn't work when run from preferences pane "
    "apparently";
const std::string kUpdateFile = "/Library/Preferences/com.apple.SoftwareUpdate.plist";

class SoftwareUpdateTest : public testing::Test {
  protected:
    void SetUp() override {
        box.mkdirs(vynd::test::kShareFolder);
        box.addStub("/usr/bin/apt-get", kAptGet);
        box.addStub("/usr/sbin/diskutil");
        // apt's downloader stands in for a site's web server.
        box.addStub("/usr/lib/apt/apt-helper", "cp /run/served-catalog \"$3\"");
        box.writeFile("/run/served-catalog", "deb http://deb.debian.org/debian bookworm main\n");
    }

    void updatesAvailable() {
        box.writeFile("/run/apt-upgradable", "Inst vynd-demo [1.0] (1.1 Debian:12/stable [all])\n");
    }

    std::vector<std::string> aptCalls() const {
        std::vector<std::string> out;
        for (const auto& argv : box.calls())
            if (argv[0] == "/usr/bin/apt-get")
                out.push_back(argv[1]);
        return out;
    }

    std::vector<std::string> calls() const { return box.callLines(); }
    bool called(const std::string& line) const {
        auto c = calls();
        return std::find(c.begin(), c.end(), line) != c.end();
    }

    std::string log() const { return box.readFile("/var/log/vynd.log"); }

    Sandbox box;
};

}  // namespace

TEST_F(SoftwareUpdateTest, ModeZeroRunsNothing) {
    PrefsBuilder p;
    box.writePrefs(p.share().get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_TRUE(aptCalls().empty());
    EXPECT_FALSE(called("/usr/sbin/diskutil repairPermissions /"));
}

TEST_F(SoftwareUpdateTest, NoNewSoftware) {
    PrefsBuilder p;
    box.writePrefs(p.share().number("vynd_sus_mode", 1).flag("vynd_sus_restart", true).get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    // The check message takes two lines, the second without a time.
    EXPECT_NE(log().find(" Checking for software updates...\nThis doesn't work when run from "
                         "preferences pane apparently\n"),
              std::string::npos);
    EXPECT_TRUE(box.logged("No software updates available"));
    EXPECT_FALSE(box.logged("Starting software update"));
    EXPECT_EQ(aptCalls(), (std::vector<std::string>{"-q", "-s"}));
    EXPECT_FALSE(called("/bin/systemctl reboot"));
}

TEST_F(SoftwareUpdateTest, UpdatesInstalledThenRestart) {
    updatesAvailable();
    PrefsBuilder p;
    box.writePrefs(p.share().number("vynd_sus_mode", 1).flag("vynd_sus_restart", true).get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_TRUE(box.logged("Starting software update"));
    EXPECT_TRUE(box.logged("Software update finished"));
    EXPECT_TRUE(
        called("/usr/bin/apt-get -y -q -o Dpkg::Options::=--force-confdef -o "
               "Dpkg::Options::=--force-confold dist-upgrade"));
    EXPECT_TRUE(called("/bin/systemctl reboot"));
    EXPECT_FALSE(box.exists(kUpdateFile));
}

TEST_F(SoftwareUpdateTest, FailedInstallOrNoRestartSettingMeansNoRestart) {
    updatesAvailable();
    box.writeFile("/run/apt-status", "100");
    PrefsBuilder p;
    box.writePrefs(p.share().number("vynd_sus_mode", 1).flag("vynd_sus_restart", true).get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_TRUE(box.logged("Software update finished"));
    EXPECT_FALSE(called("/bin/systemctl reboot"));

    box.writeFile("/run/apt-status", "0");
    PrefsBuilder q;
    box.writePrefs(q.share().number("vynd_sus_mode", 1).get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_FALSE(called("/bin/systemctl reboot"));
}

TEST_F(SoftwareUpdateTest, PrivateCatalogIsWrittenIntoExistingFilesOnly) {
    updatesAvailable();
    PrefsBuilder existing;
    existing.text("CatalogURL", "http://old/catalog").text("OtherKey", "kept").number("N", 7);
    box.writeFile(kUpdateFile, vynd::property_list_xml(existing.get()));
    box.writeFile("/root/Library/Preferences/com.apple.SoftwareUpdate.plist",
                  vynd::property_list_xml(existing.get()));
    PrefsBuilder p;
    box.writePrefs(p.share()
                       .number("vynd_sus_mode", 2)
                       .text("vynd_sus_server", "http://sus.example/index.sucatalog")
                       .get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    for (const std::string& file :
         {kUpdateFile, std::string("/root/Library/Preferences/com.apple.SoftwareUpdate.plist")}) {
        auto dict = vynd::read_property_list_dictionary(box.path(file));
        ASSERT_TRUE(dict.has_value()) << file;
        EXPECT_EQ(vynd::plist_dict_string(dict->get(), "CatalogURL"),
                  "http://sus.example/index.sucatalog");
        EXPECT_EQ(vynd::plist_dict_string(dict->get(), "OtherKey"), "kept");
        EXPECT_EQ(vynd::plist_dict_int(dict->get(), "N"), 7);
    }
    EXPECT_FALSE(box.exists("/Library/Managed Preferences/com.apple.SoftwareUpdate.plist"));
    EXPECT_FALSE(box.exists("/Network/Library"));
}

TEST_F(SoftwareUpdateTest, CatalogUntouchedWithoutUpdatesOrWithoutServer) {
    PrefsBuilder existing;
    existing.text("CatalogURL", "http://old/catalog");
    const std::string original = vynd::property_list_xml(existing.get());
    box.writeFile(kUpdateFile, original);

    PrefsBuilder p;
    box.writePrefs(
        p.share().number("vynd_sus_mode", 2).text("vynd_sus_server", "http://new/c").get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);  // no updates: nothing is touched
    EXPECT_EQ(box.readFile(kUpdateFile), original);

    updatesAvailable();
    PrefsBuilder q;
    box.writePrefs(q.share().number("vynd_sus_mode", 2).text("vynd_sus_server", "").get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_EQ(box.readFile(kUpdateFile), original);
    EXPECT_TRUE(box.logged("Starting software update"));
}

TEST_F(SoftwareUpdateTest, RepairRunsAloneAndCleanRunsNeither) {
    updatesAvailable();
    PrefsBuilder p;
    box.writePrefs(p.share().number("vynd_sus_mode", 1).flag("vynd_sus_repair", true).get());
    ASSERT_EQ(box.vynd({"-c"}).status, 0);
    EXPECT_TRUE(aptCalls().empty());
    EXPECT_FALSE(called("/usr/sbin/diskutil repairPermissions /"));

    PrefsBuilder q;
    box.writePrefs(q.share().flag("vynd_sus_repair", true).get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_TRUE(aptCalls().empty());
    EXPECT_TRUE(box.logged("Repairing disk permissions"));
    EXPECT_TRUE(called("/usr/sbin/diskutil repairPermissions /"));
}

TEST_F(SoftwareUpdateTest, RepairWithoutARepairToolIsHarmless) {
    // This platform has no diskutil: the command fails and the run goes on.
    PrefsBuilder p;
    p.share().flag("vynd_sus_repair", true);
    Sandbox plain;
    plain.mkdirs(vynd::test::kShareFolder);
    plain.writePrefs(p.get());
    auto r = plain.vynd({"-i"});
    EXPECT_EQ(r.status, 0) << r.err;
}

// The private catalog names the site's apt sources: once set, apt reads only
// them (and lists of its own); a catalog that would loosen apt's checks
// stops the update instead of falling back to the computer's sources.
TEST_F(SoftwareUpdateTest, PrivateCatalogReplacesTheComputersSources) {
    updatesAvailable();
    const std::string site =
        "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
        "https://deb.example/debian bookworm main\n";
    box.writeFile("/Volumes/Share/site.list", site);
    PrefsBuilder empty;
    box.writeFile(kUpdateFile, vynd::property_list_xml(empty.get()));
    PrefsBuilder p;
    box.writePrefs(p.share()
                       .number("vynd_sus_mode", 2)
                       .text("vynd_sus_server", "file:///Volumes/Share/site.list")
                       .get());
    const std::string state = "/var/lib/vynd/softwareupdate";
    const std::vector<std::string> own = {
        "-o", "Dir::Etc::SourceList=" + state + "/catalog.list",
        "-o", "Dir::Etc::SourceParts=" + state + "/sources.list.d",
        "-o", "Dir::State::Lists=" + state + "/lists",
        "-o", "Dir::Cache::pkgcache=" + state + "/pkgcache.bin",
        "-o", "Dir::Cache::srcpkgcache=" + state + "/srcpkgcache.bin"};
    auto apt_runs = [&](size_t from) {
        std::vector<std::vector<std::string>> out;
        auto all = box.calls();
        for (size_t i = from; i < all.size(); ++i)
            if (all[i][0] == "/usr/bin/apt-get")
                out.push_back(all[i]);
        return out;
    };
    auto uses_catalog = [&](const std::vector<std::string>& argv) {
        return std::search(argv.begin(), argv.end(), own.begin(), own.end()) != argv.end();
    };

    // The check of the run that sets the catalog still uses the computer's sources.
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    auto first = apt_runs(0);
    ASSERT_EQ(first.size(), 4u);
    EXPECT_FALSE(uses_catalog(first[0]));
    EXPECT_FALSE(uses_catalog(first[1]));
    EXPECT_TRUE(uses_catalog(first[2]));  // update of the catalog's own lists
    EXPECT_EQ(first[2].back(), "update");
    EXPECT_TRUE(uses_catalog(first[3]));
    EXPECT_EQ(first[3][1], "-y");
    EXPECT_EQ(box.readFile(state + "/catalog.list"), site);

    size_t seen = box.calls().size();
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    for (const auto& argv : apt_runs(seen)) EXPECT_TRUE(uses_catalog(argv)) << argv.back();

    // Refused: nothing is upgraded, from the catalog or from elsewhere.
    box.writeFile("/Volumes/Share/site.list",
                  "deb [trusted=yes] http://evil.example/debian bookworm main\n");
    seen = box.calls().size();
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_TRUE(apt_runs(seen).empty());
    EXPECT_EQ(box.readFile(state + "/catalog.list"), site);
}

// A catalog that names a keyring a local user can change (owns it, owns its
// folder, or owns the folder of a link to a root's keyring) would let that
// user's archive decide what is installed as root: it is refused, and
// nothing is updated from it or from the computer's own sources.
TEST_F(SoftwareUpdateTest, CatalogKeyringsAreOnesOnlyRootCanChange) {
    updatesAvailable();
    box.writeFile("/var/lib/keyrings/own.gpg", "key");
    ASSERT_EQ(chown(box.path("/var/lib/keyrings/own.gpg").c_str(), 1500, 1500), 0);
    box.writeFile("/var/lib/site-keys/site.gpg", "key");
    ASSERT_EQ(chown(box.path("/var/lib/site-keys").c_str(), 1500, 1500), 0);
    box.mkdirs("/home/jdoe");
    ASSERT_EQ(chown(box.path("/home/jdoe").c_str(), 1500, 1500), 0);
    std::filesystem::create_symlink("/usr/share/keyrings/debian-archive-keyring.gpg",
                                    box.path("/home/jdoe/link.gpg"));
    PrefsBuilder set;
    set.text("CatalogURL", "file:///Volumes/Share/site.list");
    box.writeFile(kUpdateFile, vynd::property_list_xml(set.get()));
    PrefsBuilder p;
    box.writePrefs(p.share().number("vynd_sus_mode", 1).get());
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"/var/lib/keyrings/own.gpg",
         "/var/lib/keyrings/own.gpg is owned by uid 1500, not by root"},
        {"/var/lib/site-keys/site.gpg", "/var/lib/site-keys is owned by uid 1500, not by root"},
        {"/home/jdoe/link.gpg", "/home/jdoe is owned by uid 1500, not by root"}};
    for (const auto& [keyring, why] : refused) {
        box.writeFile("/Volumes/Share/site.list",
                      "deb [signed-by=" + keyring + "] https://deb.example/debian bookworm main\n");
        auto r = box.vynd({"-i"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(aptCalls().empty()) << keyring;
        // The refusal is the run's Error, in the log and in the report.
        const std::string error =
            "softwareupdate: Error: the catalog file:///Volumes/Share/site.list is refused: the "
            "keyring " +
            keyring + " is not one only root can change: " + why + "; nothing is updated";
        EXPECT_TRUE(box.logged(error)) << log();
        auto report = vynd::read_property_list_dictionary(box.path("/var/db/vynd/report.plist"));
        ASSERT_TRUE(report);
        EXPECT_EQ(vynd::plist_dict_string(report->get(), "lastError"), error);
    }
    EXPECT_FALSE(box.exists("/var/lib/vynd/softwareupdate/catalog.list"));
}
