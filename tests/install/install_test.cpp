// Installing the system into a staging root: what goes where, and nothing more.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "platform/process.h"
#include "platform/property_list.h"
#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using vynd::test::read_file;

namespace {

struct Output {
    int status;
    std::string text;  // standard output and error together
};
Output capture(const std::vector<std::string>& argv) {
    vynd::test::ProgramResult r = vynd::test::run_program(argv, {}, true);
    return {r.status, r.out};
}

// Installs once into a staging root shared by the tests of this file.
class Installed : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        staging_ = std::make_unique<vynd::test::TempDir>();
        root_ = staging_->path();
        // DESTDIR reaches cmake through the environment of the child only.
        std::string destdir = "DESTDIR=" + root_.string();
        status_ = vynd::run_process(
            {"/usr/bin/env", destdir, VYND_CMAKE, "--install", VYND_BUILD_DIR, "--prefix", "/usr"});
    }
    static void TearDownTestSuite() { staging_.reset(); }
    void SetUp() override { ASSERT_EQ(status_, 0) << "cmake --install failed"; }

    static fs::path at(const std::string& inside) { return root_ / inside.substr(1); }

    static inline std::unique_ptr<vynd::test::TempDir> staging_;
    static inline fs::path root_;
    static inline int status_ = -1;
};

TEST_F(Installed, ProgramsInTheSupportFolder) {
    for (const char* name : {"vynd", "vyndctl", "emptylog", "setupshare"}) {
        fs::path program = at(std::string("/Library/Application Support/Quenderlyn/") + name);
        struct stat st;
        ASSERT_EQ(stat(program.c_str(), &st), 0) << program;
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0111, 0111u) << program;
        // Nobody but root may change what root runs.
        EXPECT_EQ(st.st_mode & 022, 0u) << program;
    }
}

// The job file is the administrator's once it is in place: a staged tree
// carries only the template it is made from.
TEST_F(Installed, JobFileStartsTheDaemonAboutHourly) {
    EXPECT_FALSE(fs::exists(at("/Library/LaunchDaemons")));
    auto job = vynd::read_property_list_dictionary(at("/usr/share/vynd/com.quenderlyn.vynd.plist"));
    ASSERT_TRUE(job);
    EXPECT_EQ(vynd::plist_dict_string(job->get(), "Label"), "com.quenderlyn.vynd");
    plist_t args = plist_dict_get_item(job->get(), "ProgramArguments");
    ASSERT_TRUE(args);
    ASSERT_EQ(plist_array_get_size(args), 2u);
    char* text = nullptr;
    plist_get_string_val(plist_array_get_item(args, 0), &text);
    EXPECT_STREQ(text, "/Library/Application Support/Quenderlyn/vynd");
    free(text);
    plist_get_string_val(plist_array_get_item(args, 1), &text);
    EXPECT_STREQ(text, "-i");
    free(text);
    auto interval = vynd::plist_dict_int(job->get(), "StartInterval");
    ASSERT_TRUE(interval);
    EXPECT_GE(*interval, 3401);
    EXPECT_LE(*interval, 3799);
    EXPECT_FALSE(plist_dict_get_item(job->get(), "StartCalendarInterval"));
}

TEST_F(Installed, SystemdUnitsRunTheDaemonOnATimer) {
    std::string service = read_file(at("/usr/lib/systemd/system/vynd.service"));
    EXPECT_NE(service.find("Type=oneshot\n"), std::string::npos);
    EXPECT_NE(service.find("ExecStart=\"/Library/Application Support/Quenderlyn/vynd\" -i\n"),
              std::string::npos);
    std::string timer = read_file(at("/usr/lib/systemd/system/vynd.timer"));
    EXPECT_NE(timer.find("OnUnitActiveSec=3600s\n"), std::string::npos);
    EXPECT_NE(timer.find("WantedBy=timers.target\n"), std::string::npos);
}

TEST_F(Installed, PolkitPolicyCoversThePrivilegedPrograms) {
    std::string policy = read_file(at("/usr/share/polkit-1/actions/com.quenderlyn.vynd.policy"));
    for (const char* path : {"/Library/Application Support/Quenderlyn/vyndctl",
                             "/Library/Application Support/Quenderlyn/vynd",
                             "/Library/Application Support/Quenderlyn/emptylog",
                             "/Library/Application Support/Quenderlyn/setupshare"})
        EXPECT_NE(policy.find(std::string("exec.path\">") + path + "<"), std::string::npos) << path;
    // The lock's one authorization stands for each of them.
    EXPECT_NE(policy.find("policykit.imply\">com.quenderlyn.vynd.vyndctl com.quenderlyn.vynd.run "
                          "com.quenderlyn.vynd.empty-log com.quenderlyn.vynd.setup-share<"),
              std::string::npos);
    // No action may grant a shell, or any program with arguments of the caller's choosing.
    EXPECT_EQ(policy.find("/bin/sh"), std::string::npos);
    EXPECT_EQ(policy.find("exec.argv1"), std::string::npos);
    EXPECT_NE(policy.find("<allow_active>auth_admin_keep</allow_active>"), std::string::npos);
    EXPECT_EQ(policy.find(">yes<"), std::string::npos) << "no action may go unauthenticated";
}

TEST_F(Installed, ManualPagesAndPackageDocuments) {
    for (const char* page :
         {"man8/vynd.8.gz", "man8/vyndctl.8.gz", "man1/vyndsettings.1.gz", "man1/vyndicon.1.gz"})
        EXPECT_TRUE(fs::is_regular_file(at(std::string("/usr/share/man/") + page))) << page;
    for (const char* doc : {"/usr/share/doc/vynd/copyright", "/usr/share/doc/vynd/changelog.gz",
                            "/usr/share/lintian/overrides/vynd"})
        EXPECT_TRUE(fs::is_regular_file(at(doc))) << doc;
    std::string rotate = read_file(at("/etc/logrotate.d/vynd"));
    EXPECT_NE(rotate.find("/var/log/vynd.log {"), std::string::npos) << rotate;
    EXPECT_NE(rotate.find("\tcopytruncate\n"), std::string::npos) << rotate;
}

// The settings host finds the pane from where it is installed, with no argument.
TEST_F(Installed, SettingsHostFindsItsPane) {
    // It runs until closed: still running after a few seconds means it found its pane.
    Output r = capture({"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "/usr/bin/timeout", "3",
                        at("/usr/bin/vyndsettings").string()});
    EXPECT_EQ(r.status, 124) << "vyndsettings ended by itself:\n" << r.text;
    EXPECT_EQ(r.text.find("vyndsettings:"), std::string::npos) << r.text;
}

TEST_F(Installed, NothingElseUnderTheMirroredAreas) {
    EXPECT_FALSE(fs::exists(at("/Applications")));
    EXPECT_FALSE(fs::exists(at("/Users")));
    std::set<std::string> library;
    for (const auto& entry : fs::recursive_directory_iterator(at("/Library")))
        library.insert("/" + fs::relative(entry.path(), root_).string());
    for (const auto& path : library) {
        bool ours = path == "/Library/Application Support" ||
                    path.rfind("/Library/Application Support/Quenderlyn", 0) == 0;
        EXPECT_TRUE(ours) << path;
    }
    // The settings are made by the administrator, not by installing.
    EXPECT_FALSE(fs::exists(at("/Library/Preferences")));
}

// The Debian package carries the same files and says what it needs.
TEST(DebianPackage, DeclaresItsDependenciesAndLeavesTheJobFileToItsScripts) {
    vynd::test::TempDir packaged;
    fs::path out = packaged.path();
    ASSERT_EQ(
        vynd::run_process({VYND_CPACK, "--config",
                           std::string(VYND_BUILD_DIR) + "/CPackConfig.cmake", "-B", out.string()}),
        0);
    fs::path deb;
    for (const auto& entry : fs::directory_iterator(out))
        if (entry.path().extension() == ".deb")
            deb = entry.path();
    ASSERT_FALSE(deb.empty());
    fs::path control = out / "control";
    ASSERT_EQ(vynd::run_process({"/usr/bin/dpkg-deb", "--control", deb.string(), control.string()}),
              0);
    std::string fields = read_file(control / "control");
    for (const char* needed : {"rsync, ", "libplist3", "systemd, ", "pkexec"})
        EXPECT_NE(fields.find(needed), std::string::npos) << needed << " in\n" << fields;
    EXPECT_EQ(fields.find("policykit-1"), std::string::npos) << fields;
    // vyndctl rewrites the job file, so it is no conffile (an upgrade would
    // stop at a prompt): postinst makes it from the template when absent.
    EXPECT_EQ(read_file(control / "conffiles"), "/etc/logrotate.d/vynd\n");
    std::string postinst = read_file(control / "postinst");
    EXPECT_NE(postinst.find("[ ! -e \"$job\" ]"), std::string::npos) << postinst;
    EXPECT_NE(read_file(control / "postrm").find("rm -f /var/log/vynd.log"), std::string::npos);
    fs::path tree = out / "tree";
    ASSERT_EQ(vynd::run_process({"/usr/bin/dpkg-deb", "--extract", deb.string(), tree.string()}),
              0);
    for (const char* path :
         {"Library/Application Support/Quenderlyn/vynd",
          "Library/Application Support/Quenderlyn/vyndctl",
          "usr/share/vynd/com.quenderlyn.vynd.plist", "usr/lib/systemd/system/vynd.timer",
          "usr/lib/vynd/vyndPref.so", "usr/share/polkit-1/actions/com.quenderlyn.vynd.policy"})
        EXPECT_TRUE(fs::exists(tree / path)) << path;
    EXPECT_FALSE(fs::exists(tree / "Library/LaunchDaemons"));
    // Stripped: no symbol table left in what root runs.
    Output r =
        capture({"/usr/bin/file", (tree / "Library/Application Support/Quenderlyn/vynd").string()});
    EXPECT_NE(r.text.find(", stripped"), std::string::npos) << r.text;
    std::error_code ignored;
    fs::remove_all(out, ignored);
}

}  // namespace
