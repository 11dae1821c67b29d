// Mirroring end to end: the daemon with the real rsync against a share folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/property_list.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"

using vynd::test::log_message;
using vynd::test::Sandbox;

namespace {

// Settings for the share these tests mirror from.
class Settings : public vynd::test::PrefsBuilder {
  public:
    Settings() { text("vynd_host", "file:///Volumes/Deploy"); }
};

class Mirroring : public ::testing::Test {
  protected:
    Sandbox box;

    void share(const std::string& rel, const std::string& text = "x", mode_t mode = 0644) {
        box.writeFile("/Volumes/Deploy/" + rel, text, mode);
    }
    void unshare(const std::string& rel) {
        std::error_code ignored;
        std::filesystem::remove_all(box.path("/Volumes/Deploy/" + rel), ignored);
    }
    Sandbox::Result run(const std::vector<std::string>& args = {"-i"}) {
        auto r = box.vynd(args);
        EXPECT_EQ(r.status, 0) << r.err << "\n" << log_text();
        return r;
    }
    std::string log_text() const { return box.readFile("/var/log/vynd.log"); }
    // Log lines copied from rsync for the name (after the itemize field).
    int change_lines_for(const std::string& printed_name) const {
        int n = 0;
        for (const auto& l : box.logLines()) {
            if (l.size() > 32 && l.substr(32) == printed_name)
                ++n;
        }
        return n;
    }
    std::optional<vynd::Plist> manifest(const std::string& id) const {
        return vynd::read_property_list_dictionary(box.path("/var/db/vynd/" + id + ".plist"));
    }
    bool in_manifest(const std::string& id, const std::string& key) const {
        auto m = manifest(id);
        if (!m)
            return false;
        plist_t files = plist_dict_get_item(m->get(), "files");
        return files && plist_dict_get_item(files, key.c_str()) != nullptr;
    }
    mode_t mode_of(const std::string& inside) const {
        struct stat st {};
        lstat(box.path(inside).c_str(), &st);
        return st.st_mode & 07777;
    }
};

}  // namespace

TEST_F(Mirroring, FirstRunNoChangeRunAndDeletionsWhenKeptInStep) {
    Settings s;
    s.flag("vynd_keep_app_synced", true)
        .flag("vynd_set_app_perm", true)
        .text("vynd_app_group", "root");
    box.writePrefs(s.get());
    share("Applications/Foo.app/Contents/Info.plist");
    share("Applications/Foo.app/Contents/MacOS/foo", "#!/bin/sh\n", 0700);
    share("Applications/Old.app/Contents/Resources/a.txt");
    run();
    EXPECT_EQ(box.readFile("/Applications/Foo.app/Contents/Info.plist"), "x");
    EXPECT_EQ(mode_of("/Applications/Foo.app/Contents/MacOS/foo"), 0755u);
    EXPECT_EQ(mode_of("/Applications/Foo.app/Contents/Info.plist"), 0644u);
    EXPECT_EQ(change_lines_for("Foo.app/Contents/Info.plist"), 1);
    EXPECT_TRUE(in_manifest("Applications", "Foo.app/"));
    EXPECT_TRUE(in_manifest("Applications", "Foo.app/Contents/Info.plist"));
    EXPECT_FALSE(in_manifest("Applications", "./"));
    auto m = manifest("Applications");
    ASSERT_TRUE(m);
    EXPECT_EQ(vynd::plist_dict_bool(m->get(), "keepSynced"), true);
    EXPECT_EQ(vynd::plist_dict_string(m->get(), "dstPath"), "/Applications");
    plist_t entry = plist_dict_get_item(plist_dict_get_item(m->get(), "files"), "Foo.app/");
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(entry, "date")), PLIST_DATE);

    // Nothing changed: nothing copied, nothing logged from rsync.
    run();
    EXPECT_EQ(change_lines_for("Foo.app/Contents/Info.plist"), 1);

    // A file and a whole folder leave the share.
    unshare("Applications/Foo.app/Contents/Info.plist");
    unshare("Applications/Old.app");
    box.writeFile("/Applications/Local.app/mine", "local");  // never installed
    run();
    EXPECT_TRUE(box.logged("*deleted Foo.app/Contents/Info.plist"));
    EXPECT_TRUE(box.logged("*deleted Old.app/Contents/Resources/a.txt"));
    EXPECT_FALSE(box.exists("/Applications/Foo.app/Contents/Info.plist"));
    EXPECT_FALSE(box.exists("/Applications/Old.app/Contents/Resources/a.txt"));
    // The removed folder keeps its subfolders and their entries.
    EXPECT_TRUE(box.exists("/Applications/Old.app/Contents/Resources"));
    EXPECT_TRUE(in_manifest("Applications", "Old.app/Contents/Resources/"));
    EXPECT_FALSE(in_manifest("Applications", "Foo.app/Contents/Info.plist"));
    EXPECT_EQ(box.readFile("/Applications/Local.app/mine"), "local");
}

// A run that changes nothing in a manifest leaves its file as it was; one
// that lists new items, changes a setting or moves dates rewrites it.
TEST_F(Mirroring, ManifestsAreRewrittenOnlyWhenTheyChange) {
    Settings s;
    box.writePrefs(s.get());
    share("Applications/Foo.app/Contents/Info.plist");
    share("Library/Fonts/a.ttf");
    run();
    auto stamp = [&](const std::string& id) {
        struct stat st {};
        EXPECT_EQ(stat(box.path("/var/db/vynd/" + id + ".plist").c_str(), &st), 0) << id;
        return std::pair(st.st_ino, st.st_mtim.tv_nsec + st.st_mtim.tv_sec * 1000000000LL);
    };
    const auto apps = stamp("Applications");
    const auto lib = stamp("Library");
    const auto pkgs = stamp("Packages");
    run();  // nothing new on the share, nothing kept in step
    EXPECT_EQ(stamp("Applications"), apps);
    EXPECT_EQ(stamp("Library"), lib);
    EXPECT_EQ(stamp("Packages"), pkgs);

    share("Applications/New.app/x");
    Settings kept;
    kept.flag("vynd_keep_lib_synced", true);
    box.writePrefs(kept.get());
    run();
    EXPECT_NE(stamp("Applications"), apps);
    EXPECT_TRUE(in_manifest("Applications", "New.app/x"));
    EXPECT_NE(stamp("Library"), lib);
    EXPECT_EQ(vynd::plist_dict_bool(manifest("Library")->get(), "keepSynced"), true);
    EXPECT_EQ(stamp("Packages"), pkgs);
}

TEST_F(Mirroring, JobNotKeptInStepNeverOverwritesALocalChange) {
    Settings s;
    box.writePrefs(s.get());
    share("Applications/Foo.app/Contents/Info.plist", "v1");
    share("Applications/Contents/README", "top");
    run();
    EXPECT_EQ(box.readFile("/Applications/Foo.app/Contents/Info.plist"), "v1");
    box.writeFile("/Applications/Foo.app/Contents/Info.plist", "local");
    share("Applications/Foo.app/Contents/Info.plist", "v2");
    unshare("Applications/Contents");
    // A new bundle with the same inner names as installed paths is installed.
    share("Applications/New.app/Contents/README", "new");
    run();
    EXPECT_EQ(box.readFile("/Applications/Foo.app/Contents/Info.plist"), "local");
    EXPECT_EQ(box.readFile("/Applications/Contents/README"), "top");
    EXPECT_EQ(box.readFile("/Applications/New.app/Contents/README"), "new");
    EXPECT_TRUE(in_manifest("Applications", "Contents/README"));
    std::string exclude = box.readFile("/var/db/vynd/Applications.exclude");
    EXPECT_NE(exclude.find("/Foo.app/\n"), std::string::npos) << exclude;
    EXPECT_EQ(exclude.find("/Foo.app/Contents/"), std::string::npos) << exclude;

    // Switched on: the share's version comes back and deletion starts.
    Settings on;
    on.flag("vynd_keep_app_synced", true);
    box.writePrefs(on.get());
    run();
    EXPECT_EQ(box.readFile("/Applications/Foo.app/Contents/Info.plist"), "v2");
    EXPECT_FALSE(box.exists("/Applications/Contents/README"));
    // Switched off again: everything known is excluded from the next run.
    box.writePrefs(s.get());
    box.writeFile("/Applications/New.app/Contents/README", "edited");
    share("Applications/New.app/Contents/README", "newer");
    run();
    EXPECT_EQ(box.readFile("/Applications/New.app/Contents/README"), "edited");
}

TEST_F(Mirroring, SiteExcludeFileTestModeAndTheLoggedCommand) {
    Settings s;
    s.flag("vynd_keep_user_synced", true).number("vynd_bandwidth", 100);
    box.writePrefs(s.get());
    share("Users/Shared/a.txt");
    share("Users/Shared/skip.me");
    run({"-t", "-i"});
    EXPECT_TRUE(box.exists("/var/db/vynd/Users/Shared/skip.me"));
    EXPECT_FALSE(box.exists("/Users/Shared"));
    box.writeFile("/Library/Application Support/Quenderlyn/exclude-Users", "skip.me\n");
    run({"-ti"});
    // Excluded by the site file: no longer listed, so deleted.
    EXPECT_FALSE(box.exists("/var/db/vynd/Users/Shared/skip.me"));
    EXPECT_TRUE(box.logged("*deleted Shared/skip.me"));
    EXPECT_TRUE(box.exists("/var/db/vynd/Users/Shared/a.txt"));
    // The Users command logged last names the site's exclude file and the
    // bandwidth.
    std::string command = box.lastLoggedWith(" \"/Volumes/Deploy/Users/\" \"/var/db/vynd/Users/\"");
    EXPECT_EQ(command.rfind("rsync ", 0), 0u) << log_text();
    EXPECT_NE(command.find(" --bwlimit=100 "), std::string::npos) << log_text();
    EXPECT_NE(
        command.find(" --exclude-from=\"/Library/Application Support/Quenderlyn/exclude-Users\" "),
        std::string::npos)
        << log_text();
    EXPECT_TRUE(box.logged("/Volumes/Deploy/Library -> /var/db/vynd/Library starting..."));
}

TEST_F(Mirroring, FailedRsyncDeletesNothing) {
    Settings s;
    s.flag("vynd_keep_app_synced", true);
    box.writePrefs(s.get());
    share("Applications/Foo.app/Contents/Info.plist");
    run();
    // The share's folder disappears (share lost, folder renamed).
    unshare("Applications");
    run();
    EXPECT_TRUE(box.exists("/Applications/Foo.app/Contents/Info.plist"));
    EXPECT_TRUE(in_manifest("Applications", "Foo.app/Contents/Info.plist"));
    bool said_why = false;
    for (const auto& m : box.logMessages())
        said_why |= m.find("nothing deleted in /Applications") != std::string::npos;
    EXPECT_TRUE(said_why) << log_text();
}

TEST_F(Mirroring, UserLinkToAnotherPlaceIsNeverFollowed) {
    box.setEtcFile("passwd",
                   "root:x:0:0:root:/root:/bin/sh\njdoe:x:1500:1500::/Users/jdoe:/bin/sh\n");
    box.setEtcFile("group", "root:x:0:\njdoe:x:1500:\n");
    Settings s;
    s.flag("vynd_keep_user_synced", true);
    box.writePrefs(s.get());
    share("Users/jdoe/Documents/welcome.txt");
    share("Users/jdoe/Documents/old.txt");
    run();
    struct stat st {};
    lstat(box.path("/Users/jdoe/Documents/welcome.txt").c_str(), &st);
    EXPECT_EQ(st.st_uid, 1500u);
    // The user swaps their folder for a link to a folder of root's.
    box.writeFile("/var/secret/old.txt", "root's", 0600);
    box.writeFile("/var/secret/welcome.txt", "root's too", 0600);
    std::filesystem::remove_all(box.path("/Users/jdoe/Documents"));
    std::filesystem::create_symlink("/var/secret", box.path("/Users/jdoe/Documents"));
    unshare("Users/jdoe/Documents/old.txt");
    run();
    EXPECT_EQ(box.readFile("/var/secret/old.txt"), "root's");
    lstat(box.path("/var/secret/welcome.txt").c_str(), &st);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    lstat(box.path("/var/secret").c_str(), &st);
    EXPECT_EQ(st.st_uid, 0u);
}

TEST_F(Mirroring, HostileManifestCannotReachOutside) {
    box.writeFile("/var/victim/file", "keep");
    box.writeFile("/var/db/vynd/Applications.plist",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                  "<key>files</key><dict>"
                  "<key>../var/victim/file</key><dict/>"
                  "<key>/var/victim/file</key><dict/>"
                  "<key>Gone.app/</key><dict/>"
                  "</dict></dict></plist>");
    Settings s;
    s.flag("vynd_keep_app_synced", true);
    box.writePrefs(s.get());
    share("Applications/Foo.app/x");
    run();
    EXPECT_EQ(box.readFile("/var/victim/file"), "keep");
    EXPECT_TRUE(
        box.logged("Ignoring manifest entry ../var/victim/file: it leads outside its area"));
    EXPECT_TRUE(box.logged("*deleted Gone.app/"));
    EXPECT_FALSE(in_manifest("Applications", "../var/victim/file"));

    // A manifest that is not a property list at all gives an empty job.
    box.writeFile("/var/db/vynd/Applications.plist", "<plist><dict><key>files");
    run();
    EXPECT_TRUE(in_manifest("Applications", "Foo.app/x"));
}

TEST_F(Mirroring, OddNamesAreRecordedExcludedAndDeletedUnderTheirRealNames) {
    const std::vector<std::string> names = {
        "My App.app/", "quote\"s'", "$(touch pwned)", "`id`",      "star*",           "what?",
        "[br]",        "#hash",     ";semi",          "new\nline", "Caf\xc3\xa9.app/"};
    Settings s;
    s.flag("vynd_keep_lib_synced", true)
        .flag("vynd_set_lib_perm", true)
        .text("vynd_lib_group", "root");
    box.writePrefs(s.get());
    for (const auto& n : names) {
        if (n.back() == '/')
            share("Library/" + n + "f");
        else
            share("Library/" + n);
    }
    share("Library/" + std::string(200, 'd') + "/" + std::string(200, 'e') + "/" +
          std::string(200, 'f'));
    run();
    for (const auto& n : names) EXPECT_TRUE(in_manifest("Library", n)) << n;
    EXPECT_FALSE(box.exists("/pwned"));
    EXPECT_FALSE(box.exists("/Library/pwned"));
    EXPECT_EQ(mode_of("/Library/new\nline"), 0644u);
    unshare("Library/new\nline");
    unshare("Library/star*");
    run();
    EXPECT_FALSE(box.exists("/Library/new\nline"));
    EXPECT_TRUE(box.logged("*deleted new\\#012line"));
    EXPECT_FALSE(box.exists("/Library/star*"));
    EXPECT_TRUE(box.exists("/Library/what?"));
}

TEST_F(Mirroring, NetworkSharesUseTheHelperWithoutCredentialsOnTheCommandLine) {
    // The stand-in keeps what it was given; it mounts nothing, so the run
    // ends with the designed failure.
    box.addStub("/usr/sbin/mount.cifs",
                "f=${4#credentials=}; cat \"${f%%,*}\" > /tmp/cred; cat > /tmp/pw; "
                "echo \"$PASSWD_FD\" > /tmp/pwfd; exit 0");
    Settings s;
    s.text("vynd_host", "smb://server.example:445/Deploy Share")
        .text("vynd_username", "admin")
        .text("vynd_passwd", "s3cr$t pass");
    box.writePrefs(s.get());
    auto r = box.vynd({"-i"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(box.logged("Unable to mount share."));
    auto calls = box.calls();
    ASSERT_FALSE(calls.empty());
    const auto& argv = calls.back();
    ASSERT_EQ(argv.size(), 5u);
    EXPECT_EQ(argv[0], "/usr/sbin/mount.cifs");
    EXPECT_EQ(argv[1], "//server.example/Deploy Share");
    EXPECT_EQ(argv[2], "/Volumes/Deploy Share");
    EXPECT_EQ(argv[3], "-o");
    EXPECT_EQ(argv[4].rfind("credentials=/run/vynd-credentials-", 0), 0u) << argv[4];
    EXPECT_NE(argv[4].find(",port=445"), std::string::npos);
    // The password reaches mount.cifs only on the descriptor PASSWD_FD names.
    EXPECT_EQ(box.readFile("/tmp/cred"), "username=admin\n");
    EXPECT_EQ(box.readFile("/tmp/pw"), "s3cr$t pass\n");
    EXPECT_EQ(box.readFile("/tmp/pwfd"), "0\n");
    EXPECT_FALSE(box.exists(argv[4].substr(12, argv[4].find(',') - 12)));
    EXPECT_EQ(log_text().find("s3cr$t"), std::string::npos);
}

TEST_F(Mirroring, SshTakesCredentialsOnInputWebSharesFromASecretsFile) {
    box.addStub("/usr/bin/sshfs", "cat > /tmp/ssh-input; cat \"$6\" > /tmp/ssh-config; exit 0");
    box.addStub("/usr/sbin/mount.davfs",
                "conf=${4#conf=}; conf=${conf%%,*}; cat \"$conf\" > /tmp/dav-conf; stat -c %a "
                "\"$conf\" > /tmp/dav-modes\n"
                "secrets=$(sed -n 's/^secrets //p' \"$conf\")\n"
                "cat \"$secrets\" > /tmp/dav-secrets; stat -c %a \"$secrets\" >> /tmp/dav-modes\n"
                "cat > /tmp/dav-input; exit 0");
    Settings s;
    s.text("vynd_host", "sftp://files:2222/srv/deploy")
        .text("vynd_username", "admin")
        .text("vynd_passwd", "pw");
    box.writePrefs(s.get());
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    s.text("vynd_host", "davs://files/dav/Deploy Share").text("vynd_passwd", "p w#\\\"");
    box.writePrefs(s.get());
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    auto lines = box.callLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("/usr/bin/sshfs files:/srv/deploy /Volumes/deploy -p 2222 -F "
                             "/run/vynd-credentials-",
                             0),
              0u)
        << lines[0];
    EXPECT_NE(lines[0].find(" -o password_stdin"), std::string::npos);
    EXPECT_EQ(box.readFile("/tmp/ssh-input"), "pw\n");
    EXPECT_EQ(box.readFile("/tmp/ssh-config"), "User \"admin\"\nInclude /etc/ssh/ssh_config\n");
    auto dav = box.calls()[1];
    ASSERT_EQ(dav.size(), 5u);
    EXPECT_EQ(dav[1], "https://files/dav/Deploy%20Share");
    EXPECT_EQ(dav[2], "/Volumes/Deploy Share");
    EXPECT_EQ(dav[3], "-o");
    EXPECT_EQ(dav[4].rfind("conf=/run/vynd-credentials-", 0), 0u) << dav[4];
    EXPECT_EQ(dav[4].substr(dav[4].find(',')), ",uid=0,gid=0,file_mode=0600,dir_mode=0700");
    std::string conf = box.readFile("/tmp/dav-conf");
    EXPECT_EQ(conf.rfind("secrets /run/vynd-credentials-", 0), 0u) << conf;
    EXPECT_EQ(box.readFile("/tmp/dav-secrets"), "/Volumes/Deploy\\ Share admin p\\ w\\#\\\\\\\"\n");
    EXPECT_EQ(box.readFile("/tmp/dav-modes"), "600\n600\n");
    EXPECT_EQ(box.readFile("/tmp/dav-input"), "");
    // Neither file outlives the mount.
    EXPECT_FALSE(box.exists(dav[4].substr(5, dav[4].find(',') - 5)));
    EXPECT_FALSE(box.exists(conf.substr(8, conf.size() - 9)));
}

TEST_F(Mirroring, DesignedMountFailures) {
    Settings s;
    s.text("vynd_host", "afp:/share");
    box.writePrefs(s.get());
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    EXPECT_TRUE(box.logged("Invalid host path"));
    s.text("vynd_host", "smb://serv\xc3\xa9r/share");
    box.writePrefs(s.get());
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    EXPECT_TRUE(
        box.logged("host string is nil! Either string is nil or URL encoding failed "
                   "smb://serv\xc3\xa9r/share"));
    s.text("vynd_host", "afp://server/share");
    box.writePrefs(s.get());
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    EXPECT_TRUE(box.logged("Unable to mount share."));
}
