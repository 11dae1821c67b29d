// What an unprivileged local user can reach of the root programs, tried as that user in the
// sandbox.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/property_list.h"
#include "tests/support/debian_package.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"
#include "transformers/value_transformers.h"

using vynd::test::log_message;
using vynd::test::Sandbox;

namespace {

constexpr uid_t kUser = 1000;
const std::string kPrefs = "/Library/Preferences/com.quenderlyn.vynd.plist";
const std::string kPasswordPrefs = "/Library/Preferences/com.quenderlyn.vynd.passwd.plist";
const std::string kOld = "<plist><dict><key>vynd_host</key><string>old</string></dict></plist>";
const char kSecret[] = "Pa55-w0rd";

// A mount helper that, while it runs, notes what it holds open and what the
// user can see of the secret anywhere (command lines, environments, files),
// then keeps what it was handed and mounts nothing.
const std::string kPryingHelper =
    "ls -l /proc/$$/fd > /tmp/helper-fds 2>&1\n"
    "/usr/bin/setpriv --reuid=1000 --regid=1000 --clear-groups /bin/sh -c "
    "'cat /proc/[0-9]*/cmdline /proc/[0-9]*/environ; "
    "grep -rl Pa55-w0r[d] /Library /var /run /tmp /Volumes /Users /root' > /tmp/seen 2>/dev/null\n"
    "umask 077; printf '%s\\n' \"$@\" > /tmp/helper-args\n"
    "for a; do case $a in *credentials=*) f=${a#*credentials=}; cat \"${f%%,*}\" > /tmp/cred;; "
    "conf=*) f=${a#conf=}; f=${f%%,*}; cat \"$(sed -n 's/^secrets //p' \"$f\")\" > /tmp/cred;; "
    "esac; done\n"
    "[ \"$PASSWD_FD\" = 0 ] && printf 'password=%s\\n' \"$(cat)\" >> /tmp/cred\n"
    "exit 32";

class LocalBoundary : public ::testing::Test {
  protected:
    Sandbox box;

    Sandbox::Result asUser(const std::vector<std::string>& argv) {
        return box.run_as_user(argv, kUser);
    }
    // vyndctl p as pkexec starts it on behalf of the user.
    void saveAsUser(const std::string& path) {
        auto r = box.run({"/usr/bin/env", "PKEXEC_UID=" + std::to_string(kUser),
                          Sandbox::program("vyndctl"), "p", path});
        EXPECT_EQ(r.out, "255\n") << r.err;
    }
    void userFile(const std::string& path, const std::string& content) {
        box.writeFile(path, content, 0600);
        ASSERT_EQ(chown(box.path(path).c_str(), kUser, kUser), 0);
    }
    std::string userSettings(const std::string& host, const std::string* password,
                             bool enciphered = false) {
        vynd::test::PrefsBuilder p;
        p.text("vynd_host", host)
            .text("vynd_username", "admin")
            .flag("vynd_encrypt_pass", enciphered);
        if (password)
            p.text("vynd_passwd", *password);
        return vynd::property_list_xml(p.get());
    }
    mode_t modeOf(const std::string& path) const {
        struct stat st;
        return stat(box.path(path).c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
    }
};

TEST_F(LocalBoundary, VyndctlPublishesOnlyWhatTheUserMayReadAndOnlySettings) {
    box.writeFile(kPrefs, kOld);
    box.writeFile("/root/shadow", "<plist><dict/></plist>", 0600);
    saveAsUser("/root/shadow");
    box.writeFile("/tmp/root-only.plist", "<plist><dict/></plist>", 0600);
    saveAsUser("/tmp/root-only.plist");
    userFile("/tmp/list.plist", "<plist><array><string>x</string></array></plist>");
    saveAsUser("/tmp/list.plist");
    userFile("/tmp/text.plist", "root:$6$salt$hash:19000:0:99999:7:::\n");
    saveAsUser("/tmp/text.plist");
    EXPECT_EQ(box.readFile(kPrefs), kOld);
    EXPECT_FALSE(box.exists(kPasswordPrefs));
}

TEST_F(LocalBoundary, ThePasswordIsInNoFileOrProcessAUserCanRead) {
    box.addStub("/usr/sbin/mount.cifs", kPryingHelper);
    const std::string secret = kSecret;
    userFile("/tmp/h.plist", userSettings("smb://server/Deploy", &secret));
    saveAsUser("/tmp/h.plist");
    std::filesystem::remove(box.path("/tmp/h.plist"));  // as the pane does
    EXPECT_EQ(modeOf(kPrefs), 0644u);
    EXPECT_EQ(modeOf(kPasswordPrefs), 0600u);
    EXPECT_EQ(box.readFile(kPrefs).find(kSecret), std::string::npos);
    auto peek = asUser({"/bin/cat", kPasswordPrefs});
    EXPECT_NE(peek.status, 0);

    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    EXPECT_TRUE(box.logged("Unable to mount share."));
    EXPECT_EQ(box.readFile("/tmp/cred"), "username=admin\npassword=Pa55-w0rd\n");
    EXPECT_EQ(box.readFile("/tmp/seen").find(kSecret), std::string::npos)
        << box.readFile("/tmp/seen");
    // Only root may read the share while it is mounted.
    EXPECT_NE(box.readFile("/tmp/helper-args").find(",uid=0,gid=0,file_mode=0600,dir_mode=0700\n"),
              std::string::npos)
        << box.readFile("/tmp/helper-args");
    // Nothing of the daemon's own reaches the helper: neither the log nor a lock.
    std::string fds = box.readFile("/tmp/helper-fds");
    EXPECT_EQ(fds.find("vynd.log"), std::string::npos) << fds;
    EXPECT_EQ(fds.find("vynd.lock"), std::string::npos) << fds;

    // Settings saved without the key keep the password; an empty one removes it.
    userFile("/tmp/h.plist", userSettings("smb://server/Deploy", nullptr));
    saveAsUser("/tmp/h.plist");
    EXPECT_TRUE(box.exists(kPasswordPrefs));
    const std::string empty;
    userFile("/tmp/h.plist", userSettings("smb://server/Deploy", &empty));
    saveAsUser("/tmp/h.plist");
    EXPECT_FALSE(box.exists(kPasswordPrefs));
    EXPECT_EQ(box.readFile(kPrefs).find("vynd_passwd"), std::string::npos);
}

TEST_F(LocalBoundary, AnEncipheredPasswordKeepsItsFormAndWebSharesWarnOverPlainHttp) {
    box.addStub("/usr/sbin/mount.davfs", kPryingHelper);
    // Stored enciphered; the settings have switched enciphering off since.
    const std::string stored = *vynd::PasswordValueTransformer::encode(kSecret);
    userFile("/tmp/h.plist", userSettings("dav://files/dav", &stored, true));
    saveAsUser("/tmp/h.plist");
    auto companion = vynd::read_property_list_dictionary(box.path(kPasswordPrefs));
    ASSERT_TRUE(companion);
    EXPECT_EQ(vynd::plist_dict_string(companion->get(), "vynd_passwd"), stored);
    userFile("/tmp/h.plist", userSettings("dav://files/dav", nullptr, false));
    saveAsUser("/tmp/h.plist");
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    EXPECT_TRUE(
        box.logged("Warning: the credentials for dav://files go over plain http, unencrypted"));
    EXPECT_EQ(box.readFile("/tmp/cred"), "/Volumes/dav admin Pa55-w0rd\n");
    std::string args = box.readFile("/tmp/helper-args");
    EXPECT_NE(args.find(",uid=0,gid=0,file_mode=0600,dir_mode=0700\n"), std::string::npos) << args;

    userFile("/tmp/h.plist", userSettings("davs://files/dav", nullptr));
    saveAsUser("/tmp/h.plist");
    EXPECT_EQ(box.vynd({"-i"}).status, 255);
    int warnings = 0;
    for (const auto& line : box.logLines())
        warnings += log_message(line).rfind("Warning: the credentials", 0) == 0;
    EXPECT_EQ(warnings, 1);
}

TEST_F(LocalBoundary, AForeignMountAtTheSharesPlaceIsLeftAlone) {
    box.addStub("/usr/sbin/mount.cifs", "exit 0");
    vynd::test::PrefsBuilder p;
    p.text("vynd_host", "smb://server/Deploy");
    box.writePrefs(p.get());
    box.writeFile("/tmp/other/file", "someone else's");
    auto r =
        box.run({"/bin/sh", "-c",
                 "mkdir -p /Volumes/Deploy && mount --bind /tmp/other /Volumes/Deploy && '" +
                     Sandbox::program("vynd") + "' -i; s=$?; cat /Volumes/Deploy/file; exit $s"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "someone else's");
    EXPECT_TRUE(box.logged("Unable to mount share."));
    EXPECT_TRUE(box.callLines().empty());
}

TEST_F(LocalBoundary, TheLogIsEmptiedByAProgramThatEmptiesNothingElse) {
    const std::string emptylog = Sandbox::program("emptylog");
    box.writeFile("/var/log/vynd.log", "old line\n");
    EXPECT_NE(asUser({emptylog}).status, 0);
    EXPECT_EQ(box.readFile("/var/log/vynd.log"), "old line\n");
    box.writeFile("/tmp/other", "keep");
    EXPECT_EQ(box.run({emptylog, "/tmp/other"}).status, 2);
    EXPECT_EQ(box.readFile("/tmp/other"), "keep");
    EXPECT_EQ(box.run({emptylog}).status, 0);
    EXPECT_EQ(box.readFile("/var/log/vynd.log"), "");
    // A link in the log's place is not followed.
    std::filesystem::remove(box.path("/var/log/vynd.log"));
    std::filesystem::create_symlink("/tmp/other", box.path("/var/log/vynd.log"));
    EXPECT_EQ(box.run({emptylog}).status, 1);
    EXPECT_EQ(box.readFile("/tmp/other"), "keep");
}

// Started the way a shell or pkexec with umask 000 starts a program.
std::vector<std::string> underUmask000(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"/bin/sh", "-c", "umask 000; exec \"$@\"", "sh"});
    return argv;
}

TEST_F(LocalBoundary, APermissiveUmaskOpensNothingOfVyndsToOthers) {
    constexpr uid_t kLocal = 1500;
    // While the package is installed, a user tries to put another in its place.
    box.addStub("/usr/bin/dpkg",
                "[ \"$1\" = --audit ] && exit 0\n"
                "/usr/bin/setpriv --reuid=1500 --regid=1500 --clear-groups /bin/sh -c "
                "'cp /tmp/evil.deb /var/db/vynd/Packages/tool.deb; echo replaced=$?; "
                "touch /var/db/vynd/Packages/planted; echo planted=$?' >> /tmp/swap 2>/dev/null\n"
                "exit 0");
    box.writeFile("/tmp/evil.deb", "evil", 0644);
    box.mkdirs("/Volumes/Share/Packages");
    ASSERT_TRUE(vynd::test::build_debian_package(box.path("/Volumes/Share/Packages/tool.deb"),
                                                 "vynd-test", "f", "v1"));
    box.writeFile("/Volumes/Share/Applications/App/file", "x");
    box.mkdirs("/var/lib/prometheus/node-exporter");
    // What an earlier run under umask 000 left.
    box.mkdirs("/var/db/vynd/Packages");
    chmod(box.path("/var/db/vynd").c_str(), 0755);
    chmod(box.path("/var/db/vynd/Packages").c_str(), 0777);
    std::filesystem::remove_all(box.path("/Library/Preferences"));

    const std::string secret = kSecret;
    vynd::test::PrefsBuilder p;
    p.share().text("vynd_passwd", secret);
    box.writeFile("/tmp/h.plist", vynd::property_list_xml(p.get()), 0600);
    ASSERT_EQ(chown(box.path("/tmp/h.plist").c_str(), kLocal, kLocal), 0);
    auto saved = box.run(underUmask000(
        {"/usr/bin/env", "PKEXEC_UID=1500", Sandbox::program("vyndctl"), "p", "/tmp/h.plist"}));
    EXPECT_EQ(saved.out, "255\n") << saved.err;
    auto r = box.run(underUmask000({Sandbox::program("vynd"), "-i"}));
    EXPECT_EQ(r.status, 0) << r.err;

    EXPECT_EQ(box.readFile("/tmp/swap"), "replaced=1\nplanted=1\n");
    EXPECT_NE(box.lastLoggedWith("/var/db/vynd/Packages could be written by others (mode 0777)"),
              "");
    EXPECT_EQ(box.run(underUmask000({Sandbox::program("emptylog")})).status, 0);
    EXPECT_EQ(modeOf(kPasswordPrefs), 0600u);
    EXPECT_EQ(modeOf("/run/vynd"), 0700u);
    EXPECT_EQ(modeOf("/run/vynd/vynd.lock"), 0600u);
    int seen = 0;
    for (const std::string top : {"/var/db/vynd", "/var/log/vynd.log", "/var/run/vynd.lock",
                                  "/Library/Preferences", "/var/lib/prometheus/node-exporter"}) {
        auto check = [&](const std::filesystem::path& host) {
            struct stat st;
            ASSERT_EQ(lstat(host.c_str(), &st), 0) << host;
            EXPECT_EQ(st.st_mode & 022, 0u) << host << " is open to others";
            ++seen;
        };
        check(box.path(top));
        if (std::filesystem::is_directory(box.path(top)))
            for (const auto& e : std::filesystem::recursive_directory_iterator(box.path(top)))
                check(e.path());
    }
    // The folders, manifests, exclude files, report, metrics, log, lock and settings.
    EXPECT_GE(seen, 20);
}

}  // namespace
