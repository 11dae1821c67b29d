// The daemon under faults and awkward names, end to end with the real rsync:
// names that XML cannot carry, disk full, rsync killed, links and hard links
// planted, stop signals, leftovers, an interrupted dpkg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/property_list.h"
#include "tests/support/debian_package.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"

namespace fs = std::filesystem;
using vynd::test::build_debian_package;
using vynd::test::log_message;
using vynd::test::PrefsBuilder;
using vynd::test::Sandbox;

namespace {

const std::string kShare = "/Volumes/Share";

class DataSafety : public testing::Test {
  protected:
    Sandbox box;

    void share(const std::string& rel, const std::string& text = "x") {
        box.writeFile(kShare + "/" + rel, text);
    }
    void unshare(const std::string& rel) { fs::remove_all(box.path(kShare + "/" + rel)); }
    Sandbox::Result run() {
        auto r = box.vynd({"-i"});
        EXPECT_EQ(r.status, 0) << r.err << "\n" << log_text();
        return r;
    }
    std::string log_text() const { return box.readFile("/var/log/vynd.log"); }
    int logged_count(const std::string& part) const {
        int n = 0;
        for (const auto& l : box.logLines()) n += log_message(l).find(part) != std::string::npos;
        return n;
    }
    bool in_manifest(const std::string& id, const std::string& key) const {
        auto m = vynd::read_property_list_dictionary(box.path("/var/db/vynd/" + id + ".plist"));
        plist_t files = m ? plist_dict_get_item(m->get(), "files") : nullptr;
        return files && plist_dict_get_item(files, key.c_str());
    }
    int calls_of(const std::string& line_start) const {
        int n = 0;
        for (const auto& l : box.callLines()) n += l.rfind(line_start, 0) == 0;
        return n;
    }
    std::vector<std::string> leftovers() const {
        std::vector<std::string> out;
        for (const auto& dir : {"/run", "/var/db/vynd"}) {
            if (!box.exists(dir))
                continue;
            for (const auto& e : fs::directory_iterator(box.path(dir))) {
                std::string n = e.path().filename();
                if (n.rfind("vynd-credentials-", 0) == 0 || n.find(".plist.") != std::string::npos)
                    out.push_back(n);
            }
        }
        return out;
    }
    void users(const std::string& passwd_lines, const std::string& group_lines) {
        box.setEtcFile("passwd", "root:x:0:0:root:/root:/bin/sh\n" + passwd_lines);
        box.setEtcFile("group", "root:x:0:\n" + group_lines);
    }
};

uid_t owner_of(const std::string& host_path) {
    struct stat st {};
    lstat(host_path.c_str(), &st);
    return st.st_uid;
}

}  // namespace

// Names that are not UTF-8 in every area and in Packages: recorded (escaped
// in the manifest), so installed once, never copied again over a local
// change, deleted when they leave the share, and logged as they are.
TEST_F(DataSafety, NamesThatAreNotUtf8AreRecordedInEveryArea) {
    const std::string cafe = "Caf\xe9.app";
    const std::string utf8 = "Caf\xc3\xa9.app";
    box.addStub("/usr/bin/dpkg",
                "case $1 in --audit) exit 0 ;; esac; : >/run/reboot-required; exit 0");
    PrefsBuilder p;
    p.share()
        .flag("vynd_keep_lib_synced", true)
        .flag("vynd_keep_user_synced", true)
        .flag("vynd_auto_restart", true);
    box.writePrefs(p.get());
    share("Applications/" + cafe + "/Contents/Info.plist", "v1");
    share("Library/" + cafe + "/a");
    share("Library/" + utf8 + "/b");
    share("Library/Kept/c");  // an emptied area would hold its deletions
    share("Users/Shared/r\xe9sum\xe9.txt");
    box.mkdirs(kShare + "/Packages");
    ASSERT_TRUE(build_debian_package(box.path(kShare + "/Packages/update\xa0.deb"), "vynd-test",
                                     "f", "v1"));
    run();
    EXPECT_TRUE(in_manifest("Applications", "Caf\\#351.app/Contents/Info.plist"));
    EXPECT_TRUE(in_manifest("Library", "Caf\\#351.app/a"));
    EXPECT_TRUE(in_manifest("Library", utf8 + "/b"));
    EXPECT_TRUE(in_manifest("Users", "Shared/r\\#351sum\\#351.txt"));
    EXPECT_TRUE(in_manifest("Packages", "update\\#240.deb"));

    box.writeFile("/Applications/" + cafe + "/Contents/Info.plist", "local");
    share("Applications/" + cafe + "/Contents/Info.plist", "v2");
    unshare("Library/" + cafe);
    unshare("Library/" + utf8);
    run();
    run();
    EXPECT_EQ(box.readFile("/Applications/" + cafe + "/Contents/Info.plist"), "local");
    EXPECT_FALSE(box.exists("/Library/" + cafe + "/a"));
    EXPECT_EQ(logged_count("*deleted Caf\\#351.app/a"), 1);
    // Install and deletion lines name it alike, so one search finds both.
    EXPECT_EQ(logged_count(" " + utf8 + "/b"), 2) << log_text();
    EXPECT_EQ(logged_count("*deleted " + utf8 + "/b"), 1);
    EXPECT_EQ(logged_count(" Caf\\#351.app/a"), 2);
    EXPECT_EQ(calls_of("/usr/bin/dpkg --force-confdef --force-confold --install"), 1);
    EXPECT_EQ(calls_of("/bin/systemctl reboot"), 1);
}

// Disk full at the destination, then rsync killed mid-run: what rsync listed
// but never put in place is not recorded, so good runs install every file.
TEST_F(DataSafety, FilesListedButNeverPutInPlaceAreInstalledLater) {
    box.mountTmpfs("/Applications", 64 * 1024);
    PrefsBuilder p;
    p.share();
    box.writePrefs(p.get());
    const std::string kb40(40 * 1024, 'x');
    for (int i = 0; i < 6; ++i) share("Applications/Big.app/Contents/f" + std::to_string(i), kb40);
    run();
    EXPECT_EQ(logged_count("rsync for Applications ended with status"), 1) << log_text();
    EXPECT_FALSE(in_manifest("Applications", "Big.app/"));
    box.resizeTmpfs("/Applications", 4 << 20);
    run();
    run();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(box.readFile("/Applications/Big.app/Contents/f" + std::to_string(i)), kb40) << i;

    // rsync killed while it copies a bundle at 20 kB/s.
    for (int i = 0; i < 6; ++i) share("Applications/Slow.app/Contents/f" + std::to_string(i), kb40);
    p.number("vynd_bandwidth", 20);
    box.writePrefs(p.get());
    auto running = box.start({Sandbox::program("vynd"), "-i"});
    std::optional<pid_t> rsync;
    for (int i = 0; i < 100 && !rsync; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        rsync = box.findProcess(running, "rsync");
    }
    ASSERT_TRUE(rsync);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    kill(*rsync, SIGKILL);
    EXPECT_EQ(box.wait(running).status, 0);
    EXPECT_EQ(logged_count("rsync for Applications ended with status"), 2) << log_text();
    EXPECT_FALSE(in_manifest("Applications", "Slow.app/"));
    p.number("vynd_bandwidth", 0);
    box.writePrefs(p.get());
    run();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(box.readFile("/Applications/Slow.app/Contents/f" + std::to_string(i)), kb40) << i;
}

// A share whose area folder (or Packages) is a link to a folder of this
// computer: nothing of it is copied, nothing installed is deleted.
TEST_F(DataSafety, AreaFolderThatIsALinkIsRefused) {
    users("jdoe:x:1500:1500::/Users/jdoe:/bin/sh\n", "jdoe:x:1500:\n");
    PrefsBuilder p;
    p.share().flag("vynd_keep_user_synced", true);
    box.writePrefs(p.get());
    share("Users/jdoe/a.txt");
    run();
    box.writeFile("/var/secret/jdoe/shadow", "root only", 0600);
    box.writeFile("/var/secret/evil.deb", "not even a package");
    unshare("Users");
    fs::create_symlink("/var/secret", box.path(kShare + "/Users"));
    fs::create_symlink("/var/secret", box.path(kShare + "/Packages"));
    run();
    EXPECT_TRUE(box.exists("/Users/jdoe/a.txt"));
    EXPECT_FALSE(box.exists("/Users/jdoe/shadow"));
    EXPECT_TRUE(in_manifest("Users", "jdoe/a.txt"));
    EXPECT_EQ(logged_count("/Volumes/Share/Users is a symbolic link on the share"), 1);
    EXPECT_EQ(logged_count("/Volumes/Share/Packages is a symbolic link on the share"), 1);
    EXPECT_FALSE(box.exists("/var/db/vynd/Packages/evil.deb"));

    // Swapped for the link after the daemon looked, as rsync starts.
    fs::remove(box.path(kShare + "/Users"));
    share("Users/jdoe/a.txt");
    fs::copy_file("/usr/bin/rsync", box.path("/var/tmp/rsync"));
    box.addStub("/usr/bin/rsync",
                "case \"$*\" in *vynd/Users*) mv /Volumes/Share/Users /Volumes/Share/Users.old && "
                "ln -s /var/secret /Volumes/Share/Users ;; esac; exec /var/tmp/rsync \"$@\"");
    run();
    EXPECT_TRUE(box.exists("/Users/jdoe/a.txt"));
    EXPECT_FALSE(box.exists("/Users/jdoe/shadow"));
}

// A user swaps an installed file for a hard link to another user's file: the
// run does not give that file to them.
TEST_F(DataSafety, HardLinkedFilesKeepTheirOwner) {
    users("jdoe:x:1500:1500::/Users/jdoe:/bin/sh\nann:x:1501:1501::/Users/ann:/bin/sh\n",
          "jdoe:x:1500:\nann:x:1501:\n");
    PrefsBuilder p;
    p.share();
    box.writePrefs(p.get());
    share("Users/jdoe/doc.txt");
    share("Users/ann/shared.txt");
    run();
    EXPECT_EQ(owner_of(box.path("/Users/jdoe/doc.txt")), 1500u);
    // ann's file is writable by all, so the kernel lets jdoe link it.
    chmod(box.path("/Users/ann/shared.txt").c_str(), 0666);
    auto r = box.run({"/usr/bin/setpriv", "--reuid=1500", "--regid=1500", "--clear-groups",
                      "/bin/ln", "-f", "/Users/ann/shared.txt", "/Users/jdoe/doc.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    run();
    EXPECT_EQ(owner_of(box.path("/Users/ann/shared.txt")), 1501u);
    EXPECT_EQ(logged_count("1 files with more than one link in /Users"), 1) << log_text();
}

// SIGTERM while the mount helper runs ends the run as Fatal and removes the
// credentials file; after a SIGKILL, and after a save killed half-way, the
// next run removes what was left.
TEST_F(DataSafety, StopSignalsAndKillsLeaveNothingBehind) {
    box.addStub("/usr/sbin/mount.cifs", "sleep 30");
    PrefsBuilder smb;
    smb.text("vynd_host", "smb://server/Deploy")
        .text("vynd_username", "admin")
        .text("vynd_passwd", "secret");
    box.writePrefs(smb.get());
    for (int sig : {SIGTERM, SIGKILL}) {
        auto running = box.start({Sandbox::program("vynd"), "-i"});
        std::optional<pid_t> vynd;
        for (int i = 0; i < 100 && (!vynd || leftovers().empty()); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            vynd = box.findProcess(running, "vynd");
        }
        ASSERT_TRUE(vynd);
        ASSERT_EQ(leftovers().size(), 1u);
        kill(*vynd, sig);
        auto r = box.wait(running);
        if (sig == SIGTERM) {
            EXPECT_EQ(r.status, 255);
            EXPECT_EQ(logged_count("vynd stopped by SIGTERM"), 1) << log_text();
            EXPECT_TRUE(leftovers().empty());
        }
    }
    EXPECT_EQ(leftovers().size(), 1u);
    box.writeFile("/var/db/vynd/Users.plist.a1B2c3", "<?xml");
    // A credentials file still locked is a mount in progress (the settings
    // pane's share setup) and is left alone.
    int live = open(box.path("/run/vynd-credentials-live").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_EQ(flock(live, LOCK_EX), 0);
    PrefsBuilder local;
    local.share();
    box.writePrefs(local.get());
    run();
    close(live);
    EXPECT_EQ(leftovers(), std::vector<std::string>{"vynd-credentials-live"});
    EXPECT_EQ(logged_count("left behind by a run that was stopped"), 2) << log_text();
}

// Disk full when the manifests are saved: each one not saved is an Error
// line, and the old manifest stays as it was.
TEST_F(DataSafety, ManifestThatCannotBeSavedIsAnError) {
    box.mountTmpfs("/var/db/vynd", 256 * 1024);
    PrefsBuilder p;
    p.share();
    box.writePrefs(p.get());
    box.mkdirs(kShare + "/Packages");
    run();
    std::string before = box.readFile("/var/db/vynd/Packages.plist");
    ASSERT_TRUE(
        build_debian_package(box.path(kShare + "/Packages/tool.deb"), "vynd-test", "f", "v1"));
    // Installing it fills the disk; a second link keeps the download's room
    // taken after the daemon removes it.
    box.addStub("/usr/bin/dpkg",
                "case $1 in --audit) exit 0 ;; esac; ln -L \"$4\" /var/db/vynd/held; "
                "head -c 1M /dev/zero >/var/db/vynd/fill; exit 0");
    run();
    EXPECT_EQ(logged_count("Could not save the manifest Packages: "), 1) << log_text();
    EXPECT_EQ(box.readFile("/var/db/vynd/Packages.plist"), before);
    EXPECT_TRUE(leftovers().empty());
}

// Default settings name the group "wheel", which is group 0 here; a host
// text that is a relative path is a local folder.
TEST_F(DataSafety, WheelIsGroupZeroAndARelativeHostIsAFolder) {
    users("", "staff:x:50:\n");
    PrefsBuilder p;
    p.text("vynd_host", "Volumes/Share").flag("vynd_set_lib_perm", true);
    box.writePrefs(p.get());
    share("Library/Fonts/a.ttf");
    ASSERT_EQ(chown(box.path(kShare + "/Library/Fonts/a.ttf").c_str(), 0, 50), 0);
    run();
    struct stat st {};
    lstat(box.path("/Library/Fonts/a.ttf").c_str(), &st);
    EXPECT_EQ(st.st_gid, 0u);
    EXPECT_EQ(logged_count("Unknown owner or group"), 0) << log_text();
    EXPECT_EQ(logged_count("/Volumes/Share/Library -> /Library starting..."), 1) << log_text();
}

// A share's set-user-ID and set-group-ID programs, a device node open to
// all and a pipe, in an area that keeps the share's modes: none is
// installed as such.
TEST_F(DataSafety, SetIdProgramsAndDeviceNodesOfAShareAreNotInstalled) {
    PrefsBuilder p;
    p.share();
    box.writePrefs(p.get());
    share("Library/bin/setuid", "#!/bin/sh\n");
    share("Library/bin/setgid", "#!/bin/sh\n");
    ASSERT_EQ(chmod(box.path(kShare + "/Library/bin/setuid").c_str(), 04755), 0);
    ASSERT_EQ(chmod(box.path(kShare + "/Library/bin/setgid").c_str(), 02755), 0);
    ASSERT_EQ(mknod(box.path(kShare + "/Library/bin/disk").c_str(), S_IFCHR | 0666, makedev(1, 3)),
              0);
    ASSERT_EQ(mkfifo(box.path(kShare + "/Library/bin/pipe").c_str(), 0666), 0);
    run();
    struct stat st {};
    ASSERT_EQ(stat(box.path("/Library/bin/setuid").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(stat(box.path("/Library/bin/setgid").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_FALSE(box.exists("/Library/bin/disk"));
    EXPECT_FALSE(box.exists("/Library/bin/pipe"));
    EXPECT_FALSE(in_manifest("Library", "bin/disk"));
    EXPECT_NE(log_text().find("rsync: skipping non-regular file \"bin/disk\""), std::string::npos)
        << log_text();
}

// A user's home made 700, then a run killed while it copies into it and one
// that ends: at no point is anything of the user's the share owner's, and
// the home stays 700.
TEST_F(DataSafety, AUsersFilesAreNeverTheSharesOwners) {
    users("jdoe:x:1500:1500::/Users/jdoe:/bin/sh\nadmin:x:1600:1600::/home/admin:/bin/sh\n",
          "jdoe:x:1500:\nadmin:x:1600:\n");
    PrefsBuilder p;
    p.share().flag("vynd_keep_user_synced", true);
    box.writePrefs(p.get());
    share("Users/jdoe/Documents/doc.txt");
    share("Users/Shared/notes.txt");
    auto give_share_to_admin = [&] {
        for (const auto& e : fs::recursive_directory_iterator(box.path(kShare + "/Users")))
            ASSERT_EQ(lchown(e.path().c_str(), 1600, 1600), 0);
    };
    auto admins_items = [&] {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(box.path("/Users/jdoe")))
            if (owner_of(e.path()) == 1600)
                found.push_back(e.path());
        if (owner_of(box.path("/Users/jdoe")) != 1500)
            found.push_back("/Users/jdoe");
        return found;
    };
    auto home_mode = [&] {
        struct stat st {};
        lstat(box.path("/Users/jdoe").c_str(), &st);
        return st.st_mode & 07777;
    };
    give_share_to_admin();
    run();
    ASSERT_TRUE(admins_items().empty());
    ASSERT_EQ(box.run_as_user({"/bin/chmod", "700", "/Users/jdoe"}, 1500).status, 0);

    // Killed while the new file comes in at 20 kB/s.
    share("Users/jdoe/Documents/big.bin", std::string(400 * 1024, 'b'));
    give_share_to_admin();
    p.number("vynd_bandwidth", 20);
    box.writePrefs(p.get());
    auto running = box.start({Sandbox::program("vynd"), "-i"});
    std::optional<pid_t> rsync;
    bool receiving = false;
    for (int i = 0; i < 200 && !receiving; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        rsync = box.findProcess(running, "rsync");
        receiving = rsync && box.exists("/var/db/vynd/Users") &&
                    !fs::is_empty(box.path("/var/db/vynd/Users"));
    }
    ASSERT_TRUE(receiving);
    EXPECT_EQ(admins_items(), std::vector<std::string>{});
    EXPECT_EQ(home_mode(), 0700u);
    kill(*rsync, SIGKILL);
    EXPECT_EQ(box.wait(running).status, 0);
    EXPECT_EQ(admins_items(), std::vector<std::string>{});

    p.number("vynd_bandwidth", 0);
    box.writePrefs(p.get());
    run();
    EXPECT_EQ(box.readFile("/Users/jdoe/Documents/big.bin").size(), 400u * 1024);
    EXPECT_EQ(admins_items(), std::vector<std::string>{});
    EXPECT_EQ(home_mode(), 0700u);
}

// One path of the share longer than this computer allows fails every run's
// rsync: the path is named in an Error, and the log and the report say that
// the area's deletions are held.
TEST_F(DataSafety, APathTooLongForThisComputerIsNamedAndHoldsDeletions) {
    PrefsBuilder p;
    p.share().flag("vynd_keep_app_synced", true);
    box.writePrefs(p.get());
    share("Applications/kept.txt");
    share("Applications/gone.txt");
    run();
    ASSERT_TRUE(box.exists("/Applications/gone.txt"));
    // 21 names of 200 bytes: more than the 4096 of a path, made one below
    // the other since no call takes the whole.
    int dir = open(box.path(kShare + "/Applications").c_str(), O_RDONLY | O_DIRECTORY);
    const std::string name = "Deep" + std::string(196, 'c');
    for (int i = 0; i < 21 && dir >= 0; ++i) {
        ASSERT_EQ(mkdirat(dir, name.c_str(), 0755), 0);
        int next = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(dir);
        dir = next;
    }
    ASSERT_GE(dir, 0);
    int file = openat(dir, "file.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    close(file);
    close(dir);
    unshare("Applications/gone.txt");
    run();
    EXPECT_TRUE(box.exists("/Applications/gone.txt"));
    EXPECT_EQ(logged_count("Not installed in /Applications, the path is longer than this "
                           "computer allows: " +
                           name + "/" + name),
              1)
        << log_text();
    EXPECT_EQ(logged_count("Deletions in /Applications are held at every run while 1 paths of "
                           "the share are longer than this computer allows"),
              1);
    auto report = vynd::read_property_list_dictionary(box.path("/var/db/vynd/report.plist"));
    ASSERT_TRUE(report);
    plist_t apps = plist_dict_get_item(plist_dict_get_item(report->get(), "areas"), "Applications");
    uint8_t held = 0;
    plist_get_bool_val(plist_dict_get_item(apps, "deletionsHeld"), &held);
    EXPECT_TRUE(held);
}

// The share's Library area puts a FIFO (rsync would wait on it for ever) and
// a huge file where the site exclude files are read: the areas they stand
// for are not run, and say why; the others are.
TEST_F(DataSafety, SiteExcludeFilesThatCannotBeUsedHoldTheirArea) {
    PrefsBuilder p;
    p.share();
    box.writePrefs(p.get());
    share("Applications/app.txt");
    share("Users/Shared/u.txt");
    const std::string site = "/Library/Application Support/Quenderlyn/";
    box.mkdirs(site);
    ASSERT_EQ(mkfifo(box.path(site + "exclude-Applications").c_str(), 0644), 0);
    int big = open(box.path(site + "exclude-Packages").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(big, 0);
    ASSERT_EQ(ftruncate(big, off_t{3} << 30), 0);
    close(big);
    share("Packages/x.deb");
    run();
    EXPECT_FALSE(box.exists("/Applications/app.txt"));
    EXPECT_TRUE(box.exists("/Users/Shared/u.txt"));
    EXPECT_FALSE(box.exists("/var/db/vynd/Packages/x.deb"));
    EXPECT_EQ(logged_count("nothing copied or deleted for Applications"), 1) << log_text();
    EXPECT_EQ(logged_count("nothing copied or deleted for Packages"), 1);
}
