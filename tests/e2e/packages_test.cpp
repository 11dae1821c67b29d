// The Packages job end to end: the real rsync and installer, a recording dpkg.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/property_list.h"
#include "tests/support/debian_package.h"
#include "tests/support/notification_service.h"
#include "tests/support/plist_keys.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/share_servers.h"

namespace fs = std::filesystem;
using vynd::test::build_debian_package;
using vynd::test::log_message;
using vynd::test::NotificationService;
using vynd::test::PrefsBuilder;
using vynd::test::RsyncDaemon;
using vynd::test::Sandbox;

namespace {

const std::string kPackages = "/Volumes/Share/Packages";
const std::string kDownloads = "/var/db/vynd/Packages";
const std::string kInstaller = "/Library/Application Support/Quenderlyn/installer";

// dpkg stands in recording; a package whose name holds "bad" fails, one
// whose name holds "restart" asks for a restart as Debian packages do. It
// is given the package as a descriptor and notes the file that is.
const char kDpkg[] = R"([ "$1" = --audit ] && exit 0
pkg=$(readlink -f "$4")
printf '%s\036' "$pkg" >>/run/dpkg-installs
case $pkg in
    *bad*) echo "dpkg: error processing archive $pkg"; exit 1 ;;
    *restart*) : >/run/reboot-required ;;
esac
echo "Unpacking ${pkg##*/} ..."
exit 0)";

class PackagesTest : public testing::Test {
  protected:
    void SetUp() override {
        box.mkdirs(kPackages);
        box.addStub("/usr/bin/dpkg", kDpkg);
        settings();
    }

    void settings(bool auto_restart = false) {
        PrefsBuilder p;
        p.share().flag("vynd_auto_restart", auto_restart);
        box.writePrefs(p.get());
    }

    void addPackage(const std::string& name, const std::string& content = "v1") {
        ASSERT_TRUE(
            build_debian_package(box.path(kPackages + "/" + name), "vynd-test", "f", content));
    }

    std::vector<std::string> recorded() const {
        auto manifest =
            vynd::read_property_list_dictionary(box.path("/var/db/vynd/Packages.plist"));
        if (!manifest)
            return {};
        std::vector<std::string> names =
            vynd::test::plist_keys(plist_dict_get_item(manifest->get(), "files"));
        std::sort(names.begin(), names.end());
        return names;
    }

    // The files dpkg was given to install, in order.
    std::vector<std::string> dpkgInstalls() const {
        std::vector<std::string> out;
        if (!box.exists("/run/dpkg-installs"))
            return out;
        std::string all = box.readFile("/run/dpkg-installs");
        for (size_t start = 0, end; (end = all.find('\036', start)) != std::string::npos;
             start = end + 1)
            out.push_back(all.substr(start, end - start));
        return out;
    }

    std::vector<std::string> reportedFailed() const {
        std::vector<std::string> out;
        auto report = vynd::read_property_list_dictionary(box.path("/var/db/vynd/report.plist"));
        plist_t a = report ? plist_dict_get_item(report->get(), "packagesFailed") : nullptr;
        for (uint32_t i = 0; a && i < plist_array_get_size(a); ++i) {
            char* name = nullptr;
            plist_get_string_val(plist_array_get_item(a, i), &name);
            out.emplace_back(name ? name : "");
            free(name);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    // A package a local user wrote, where a link on the share can name it.
    void plantUsersPackage() {
        ASSERT_TRUE(build_debian_package(box.path("/tmp/x.deb"), "vynd-evil", "f", "evil"));
        ASSERT_EQ(chown(box.path("/tmp/x.deb").c_str(), 1500, 1500), 0);
    }

    bool restarted() const {
        auto calls = box.callLines();
        return std::find(calls.begin(), calls.end(), "/bin/systemctl reboot") != calls.end();
    }

    Sandbox box;
};

}  // namespace

TEST_F(PackagesTest, NewPackageIsInstalledOnceRecordedAndItsDownloadRemoved) {
    addPackage("tool.deb");
    auto r = box.vynd({"-i"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dpkgInstalls(), std::vector<std::string>{kDownloads + "/tool.deb"});
    EXPECT_EQ(recorded(), std::vector<std::string>{"tool.deb"});
    EXPECT_FALSE(box.exists(kDownloads + "/tool.deb"));

    EXPECT_TRUE(box.logged("Installing Packages..."));
    EXPECT_TRUE(box.logged(kInstaller + " -pkg \"" + kDownloads + "/tool.deb\"  -target /"));
    EXPECT_TRUE(box.logged("Package installs finished"));
    // The installer's output is copied without a time in front.
    auto lines = box.logLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "installer: Package name is tool.deb"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Unpacking tool.deb ..."), lines.end());

    // Recorded packages are skipped, even when their content changes.
    addPackage("tool.deb", "v2");
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_EQ(dpkgInstalls().size(), 1u);
    // Removed from the share, it stays recorded and is not uninstalled.
    fs::remove(box.path(kPackages + "/tool.deb"));
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_EQ(recorded(), std::vector<std::string>{"tool.deb"});
    EXPECT_EQ(dpkgInstalls().size(), 1u);
}

TEST_F(PackagesTest, FailedInstallIsRetriedAndItsDownloadKept) {
    addPackage("bad.deb");
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_TRUE(recorded().empty());
    EXPECT_TRUE(box.exists(kDownloads + "/bad.deb"));
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_EQ(dpkgInstalls().size(), 2u);
    EXPECT_TRUE(recorded().empty());
}

TEST_F(PackagesTest, HiddenFilesAreTriedAsPackagesAndRefused) {
    box.writeFile(kPackages + "/.DS_Store", "finder junk");
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_TRUE(dpkgInstalls().empty());
    EXPECT_TRUE(recorded().empty());
    EXPECT_TRUE(box.exists(kDownloads + "/.DS_Store"));
    EXPECT_TRUE(box.logged(kInstaller + " -pkg \"" + kDownloads + "/.DS_Store\"  -target /"));
    // The refusal is in the log, for the administrator.
    auto lines = box.logLines();
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) {
                               return l.find("is not a Debian package") != std::string::npos;
                           }),
              lines.end());
}

TEST_F(PackagesTest, FailedDownloadIsNotInstalled) {
    addPackage("tool.deb");
    // A stale folder of an earlier attempt that rsync cannot replace by the file.
    box.writeFile(kDownloads + "/tool.deb/stale/leftover", "x");
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_TRUE(dpkgInstalls().empty());
    EXPECT_TRUE(recorded().empty());
    EXPECT_TRUE(box.logged("Download of package tool.deb failed"));

    // Once the download works it is installed.
    fs::remove_all(box.path(kDownloads + "/tool.deb"));
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_EQ(recorded(), std::vector<std::string>{"tool.deb"});
}

TEST_F(PackagesTest, PackageNamesAreNeverShellText) {
    // A name cannot hold "/"; the daemon's working folder is /, so these
    // would leave /tmp/pwned behind if a shell ever saw them.
    const std::vector<std::string> names = {
        "a\"; cd tmp; touch pwned; \".deb", "$(cd tmp && touch pwned).deb",
        "`cd tmp; touch pwned` 'q' \\ x.deb", "line\nbreak.deb"};
    for (const auto& n : names) addPackage(n);
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_FALSE(box.exists("/tmp/pwned"));
    auto installs = dpkgInstalls();
    std::sort(installs.begin(), installs.end());
    std::vector<std::string> expected;
    for (const auto& n : names) expected.push_back(kDownloads + "/" + n);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(installs, expected);
    auto sorted_names = names;
    std::sort(sorted_names.begin(), sorted_names.end());
    EXPECT_EQ(recorded(), sorted_names);
}

TEST_F(PackagesTest, RestartOnlyWhenAutoRestartIsOnAndAPackageAsks) {
    addPackage("restart.deb");
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_FALSE(restarted());

    fs::remove(box.path("/run/reboot-required"));
    ASSERT_EQ(box.vynd({"-c"}).status, 0);
    settings(true);
    addPackage("plain.deb");
    ASSERT_EQ(box.vynd({"-ti"}).status, 0);  // test mode changes nothing here
    EXPECT_EQ(recorded(), (std::vector<std::string>{"plain.deb", "restart.deb"}));
    auto calls = box.callLines();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "/bin/systemctl reboot"), 1);
    // The restart comes after the run has finished.
    EXPECT_EQ(box.logMessages().back(), "vynd finished");
}

TEST_F(PackagesTest, RestartFallsBackToReboot) {
    settings(true);
    addPackage("restart.deb");
    box.addStub("/usr/bin/systemctl", "exit 1");
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    auto calls = box.callLines();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "/sbin/reboot"), calls.end());
}

TEST_F(PackagesTest, InstallNotificationsGoToLoggedInUsers) {
    NotificationService service(box, 0);
    ASSERT_TRUE(service.ready());
    box.setLoggedInUsers({{"root", "console"}});
    addPackage("tool.deb");
    addPackage("bad.deb");
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    auto n = service.notifications();
    std::sort(n.begin(), n.end());
    EXPECT_EQ(n, (std::vector<std::string>{"vynd\tvynd: vynd-test\tPackage bad.deb not installed",
                                           "vynd\tvynd: vynd-test\tPackage tool.deb installed"}));
    // They are notifications only, not log lines.
    EXPECT_FALSE(box.logged("Package tool.deb installed"));
}

TEST_F(PackagesTest, CleanAloneInstallsNothing) {
    addPackage("tool.deb");
    ASSERT_EQ(box.vynd({"-c"}).status, 0);
    EXPECT_TRUE(dpkgInstalls().empty());
    EXPECT_FALSE(box.logged("Installing Packages..."));
}

// An administrator's "latest" link, and a link to a file a local user wrote:
// neither is followed, only the regular file is installed, as itself; a
// package folder holding a link out of it is not handed on either.
TEST_F(PackagesTest, LinksOnTheShareAreNeverInstalled) {
    plantUsersPackage();
    addPackage("tool-1.4.deb");
    fs::create_symlink("tool-1.4.deb", box.path(kPackages + "/tool-latest.deb"));
    fs::create_symlink("../../../../tmp/x.deb", box.path(kPackages + "/evil.deb"));
    box.mkdirs(kPackages + "/Tool.pkg/Contents");
    fs::create_symlink("../../../../../tmp/x.deb", box.path(kPackages + "/Tool.pkg/Contents/x"));
    ASSERT_EQ(box.vynd({"-i"}).status, 0);

    EXPECT_EQ(dpkgInstalls(), std::vector<std::string>{kDownloads + "/tool-1.4.deb"});
    EXPECT_EQ(recorded(), std::vector<std::string>{"tool-1.4.deb"});
    EXPECT_EQ(reportedFailed(),
              (std::vector<std::string>{"Tool.pkg", "evil.deb", "tool-latest.deb"}));
    for (const char* name : {"evil.deb", "tool-latest.deb"}) {
        EXPECT_TRUE(box.logged(std::string("Package ") + name +
                               " not installed: the share lists it as a symbolic link, not a "
                               "regular file"));
        EXPECT_FALSE(box.exists(kDownloads + "/" + name));
    }
    EXPECT_TRUE(
        box.logged("Package Tool.pkg not installed: the package folder holds Contents/x, "
                   "a symbolic link that leads out of it"));
    EXPECT_FALSE(box.exists(kDownloads + "/Tool.pkg"));
}

// A hostile rsync daemon (a chrooted module) lists links, a device node and a
// FIFO as packages: none is downloaded or installed.
TEST_F(PackagesTest, AnRsyncDaemonsLinksAndDevicesAreNeverInstalled) {
    plantUsersPackage();
    const std::string module = "/home/deploy/Packages";
    box.mkdirs(module);
    ASSERT_TRUE(build_debian_package(box.path(module + "/tool-1.4.deb"), "vynd-test", "f", "v1"));
    fs::create_symlink("tool-1.4.deb", box.path(module + "/tool-latest.deb"));
    fs::create_symlink("../../../../tmp/x.deb", box.path(module + "/evil.deb"));
    ASSERT_EQ(mkfifo(box.path(module + "/pipe.deb").c_str(), 0644), 0);
    ASSERT_EQ(mknod(box.path(module + "/disk.deb").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    RsyncDaemon server(box);
    std::string why;
    ASSERT_TRUE(server.start("pw", &why, true, "", "use chroot = yes\n")) << why;
    PrefsBuilder p;
    p.text("vynd_host", "rsync://127.0.0.1:" + std::to_string(server.port()) + "/deploy")
        .text("vynd_username", "fleet")
        .text("vynd_passwd", "pw");
    box.writePrefs(p.get());
    auto r = box.vynd({"-i"});
    ASSERT_EQ(r.status, 0) << r.err;

    EXPECT_EQ(dpkgInstalls(), std::vector<std::string>{kDownloads + "/tool-1.4.deb"});
    EXPECT_EQ(recorded(), std::vector<std::string>{"tool-1.4.deb"});
    EXPECT_EQ(reportedFailed(),
              (std::vector<std::string>{"disk.deb", "evil.deb", "pipe.deb", "tool-latest.deb"}));
    EXPECT_TRUE(
        box.logged("Package disk.deb not installed: the share lists it as a device, not a "
                   "regular file"));
    EXPECT_TRUE(
        box.logged("Package pipe.deb not installed: the share lists it as a FIFO, not a "
                   "regular file"));
    for (const char* name : {"disk.deb", "pipe.deb", "evil.deb", "tool-latest.deb"})
        EXPECT_FALSE(box.exists(kDownloads + "/" + name)) << name;
}

// The share holds a package under a local user's number, open to all: its
// download is root's alone, or that user could rewrite it before it is
// installed.
TEST_F(PackagesTest, ADownloadIsRootsAloneWhoeverOwnsItOnTheShare) {
    addPackage("bad.deb");
    ASSERT_EQ(chown(box.path(kPackages + "/bad.deb").c_str(), 1500, 1500), 0);
    ASSERT_EQ(chmod(box.path(kPackages + "/bad.deb").c_str(), 0666), 0);
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    ASSERT_EQ(dpkgInstalls().size(), 1u);
    struct stat st {};
    ASSERT_EQ(lstat(box.path(kDownloads + "/bad.deb").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}
