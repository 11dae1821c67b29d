// The installer and software update programs of this platform.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "programs/installer/installer.h"
#include "programs/softwareupdate/catalog_sources.h"
#include "programs/softwareupdate/software_update_tool.h"
#include "tests/support/debian_package.h"
#include "tests/support/sandbox.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using vynd::test::Sandbox;

TEST(SoftwareUpdateTool, ReadsAptsSimulatedInstallLines) {
    vynd::softwareupdate::Upgrade u;
    ASSERT_TRUE(vynd::softwareupdate::parse_apt_install_line(
        "Inst libssl3 [3.0.17-1~deb12u2] (3.0.19-1~deb12u2 Debian-Security:12/stable-security "
        "[amd64])",
        &u));
    EXPECT_EQ(u.name, "libssl3");
    EXPECT_EQ(u.version, "3.0.19-1~deb12u2");
    ASSERT_TRUE(
        vynd::softwareupdate::parse_apt_install_line("Inst newpkg (1.0 Debian:12 [all])", &u));
    EXPECT_EQ(u.name, "newpkg");
    EXPECT_EQ(u.version, "1.0");
    ASSERT_TRUE(vynd::softwareupdate::parse_apt_install_line("Inst odd", &u));
    EXPECT_EQ(u.version, "");
    for (const char* other : {"Conf libssl3 (3.0.19 Debian:12 [amd64])", "Reading package lists...",
                              "", "Inst ", "Inst"})
        EXPECT_FALSE(vynd::softwareupdate::parse_apt_install_line(other, &u)) << other;
}

TEST(SoftwareUpdateTool, CatalogSourcesThatLoosenNoCheck) {
    using vynd::softwareupdate::check_sources;
    bool deb822 = true;
    std::string err;
    EXPECT_TRUE(
        check_sources("# the site's archive\n"
                      "deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
                      "https://deb.example/debian bookworm main contrib\n"
                      "deb http://deb.debian.org/debian-security bookworm-security main\n"
                      "deb file:/srv/flat ./\n",
                      &deb822, &err))
        << err;
    EXPECT_FALSE(deb822);
    EXPECT_TRUE(check_sources(
        "Types: deb\nURIs: https://deb.example/debian\nSuites: bookworm\n"
        "Components: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n"
        "Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm\n"
        "Components: main\n",
        &deb822, &err))
        << err;
    EXPECT_TRUE(deb822);
    for (const char* bad : {
             "",
             "# nothing\n",
             "deb [trusted=yes] http://evil.example/debian bookworm main\n",
             "deb [ allow-insecure=yes ] http://evil.example/debian bookworm main\n",
             "deb [check-valid-until=no] http://snapshot.debian.org/archive bookworm main\n",
             "deb [signed-by=site.gpg] https://deb.example/debian bookworm main\n",
             "deb [signed-by=/usr/share/keyrings/missing.gpg] https://deb.example/debian "
             "bookworm main\n",
             "deb [signed-by=/usr/share/keyrings] https://deb.example/debian bookworm main\n",
             "deb https://deb.example/debian bookworm\n",
             "deb ftp://deb.example/debian bookworm main\n",
             "rm -rf /\n",
             "Types: deb\nURIs: https://deb.example/debian\nSuites: bookworm\nTrusted: yes\n",
             "Types: deb\nURIs: https://deb.example/debian\nSuites: bookworm\nSigned-By:\n"
             " -----BEGIN PGP PUBLIC KEY BLOCK-----\n",
             "Types: deb\nSuites: bookworm\n",
         })
        EXPECT_FALSE(check_sources(bad, &deb822, &err)) << bad;
}

TEST(Installer, RecognisesDebianPackagesByTheirContent) {
    vynd::test::TempDir folder;
    const std::string& dir = folder.path();
    ASSERT_TRUE(vynd::test::build_debian_package(dir + "/p.deb", "vynd-test", "f", "x"));
    EXPECT_TRUE(vynd::installer::is_debian_package(dir + "/p.deb"));
    std::ofstream(dir + "/fake.deb") << "!<arch>\nnot-debian-binary";
    std::ofstream(dir + "/empty.pkg");
    EXPECT_FALSE(vynd::installer::is_debian_package(dir + "/fake.deb"));
    EXPECT_FALSE(vynd::installer::is_debian_package(dir + "/empty.pkg"));
    EXPECT_FALSE(vynd::installer::is_debian_package(dir + "/missing.deb"));
    EXPECT_FALSE(vynd::installer::is_debian_package(dir));
}

TEST(Installer, RefusesOtherCommandLines) {
    using vynd::installer::installer_main;
    EXPECT_NE(installer_main({}), 0);
    EXPECT_NE(installer_main({"-pkg", "/x.deb"}), 0);
    EXPECT_NE(installer_main({"-pkg", "/x.deb", "-target", "/mnt"}), 0);
    EXPECT_NE(installer_main({"-query", "Other", "-pkg", "/x.deb"}), 0);
    EXPECT_NE(installer_main({"-pkg", "/nonexistent.deb", "-target", "/"}), 0);
    EXPECT_NE(vynd::softwareupdate::softwareupdate_main({"-x"}), 0);
    EXPECT_NE(vynd::softwareupdate::softwareupdate_main({"-i", "-a"}), 0);
}

// The installer with the real dpkg on a scratch package database: the
// sandbox's /var is private and /usr an overlay, so nothing reaches this
// machine's own packages.
class InstallerOnScratchDatabase : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"info", "updates", "triggers", "alternatives"})
            box.mkdirs(std::string("/var/lib/dpkg/") + d);
        box.writeFile("/var/lib/dpkg/status", "");
        box.writeFile("/var/lib/dpkg/available", "");
    }
    Sandbox::Result installer(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {Sandbox::program("installer")};
        argv.insert(argv.end(), args.begin(), args.end());
        return box.run(argv);
    }
    Sandbox box;
};

TEST_F(InstallerOnScratchDatabase, InstallsADebianPackageAndAnswersTheRestartQuery) {
    ASSERT_TRUE(vynd::test::build_debian_package(box.path("/tmp/hello.deb"), "vynd-hello",
                                                 "hello.txt", "hello"));
    auto q = installer({"-query", "RestartAction", "-pkg", "/tmp/hello.deb"});
    EXPECT_EQ(q.out, "None\n");

    auto r = installer({"-pkg", "/tmp/hello.deb", "-target", "/"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("installer: The install was successful."), std::string::npos) << r.out;
    auto listed = box.run({"/usr/bin/dpkg-query", "-W", "-f=${Package} ${Version}", "vynd-hello"});
    EXPECT_EQ(listed.out, "vynd-hello 1.0");
    EXPECT_EQ(box.run({"/bin/cat", "/usr/share/vynd-hello/hello.txt"}).out, "hello");

    // A package that asks for a restart the Debian way.
    ASSERT_TRUE(vynd::test::build_debian_package(box.path("/tmp/kernel.deb"), "vynd-kernel", "k",
                                                 "k", "touch /run/reboot-required"));
    ASSERT_EQ(installer({"-pkg", "/tmp/kernel.deb", "-target", "/"}).status, 0);
    EXPECT_EQ(installer({"-query", "RestartAction", "-pkg", "/tmp/kernel.deb"}).out,
              "RequireRestart\n");
}

TEST_F(InstallerOnScratchDatabase, FailingAndForeignPackages) {
    ASSERT_TRUE(vynd::test::build_debian_package(box.path("/tmp/broken.deb"), "vynd-broken", "b",
                                                 "b", "exit 3"));
    auto r = installer({"-pkg", "/tmp/broken.deb", "-target", "/"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("installer: The install failed"), std::string::npos) << r.out;

    box.mkdirs("/tmp/App.pkg/Contents");
    r = installer({"-pkg", "/tmp/App.pkg", "-target", "/"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("is not a Debian package"), std::string::npos) << r.out;
}

// A link handed to the installer, to a package a local user wrote, is
// neither installed nor asked about; a FIFO is refused without waiting.
TEST_F(InstallerOnScratchDatabase, RefusesALinkAndAnythingButARegularFile) {
    ASSERT_TRUE(vynd::test::build_debian_package(box.path("/tmp/x.deb"), "vynd-evil", "e", "e"));
    ASSERT_EQ(chown(box.path("/tmp/x.deb").c_str(), 1500, 1500), 0);
    fs::create_symlink("/tmp/x.deb", box.path("/tmp/link.deb"));
    ASSERT_EQ(mkfifo(box.path("/tmp/pipe.deb").c_str(), 0644), 0);
    auto r = installer({"-pkg", "/tmp/link.deb", "-target", "/"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("installer: /tmp/link.deb is a symbolic link"), std::string::npos)
        << r.out;
    auto q = installer({"-query", "RestartAction", "-pkg", "/tmp/link.deb"});
    EXPECT_NE(q.status, 0);
    EXPECT_EQ(q.out, "");
    r = installer({"-pkg", "/tmp/pipe.deb", "-target", "/"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("is not a regular file"), std::string::npos) << r.out;
    EXPECT_NE(box.run({"/usr/bin/dpkg-query", "-W", "vynd-evil"}).status, 0);
}

// A package whose configuration was stopped half-way blocks dpkg until it is
// configured: the next install finishes it first and says so.
TEST_F(InstallerOnScratchDatabase, FinishesAnInterruptedConfigurationFirst) {
    ASSERT_TRUE(vynd::test::build_debian_package(
        box.path("/tmp/half.deb"), "vynd-half", "h", "h",
        "[ -e /var/tmp/may-configure ] || exit 1\n: >/var/tmp/configured"));
    ASSERT_TRUE(vynd::test::build_debian_package(box.path("/tmp/next.deb"), "vynd-next", "n", "n"));
    EXPECT_NE(installer({"-pkg", "/tmp/half.deb", "-target", "/"}).status, 0);
    box.writeFile("/var/tmp/may-configure", "");
    auto r = installer({"-pkg", "/tmp/next.deb", "-target", "/"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("installer: Finishing an interrupted package installation (dpkg "
                         "--configure -a)"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(box.exists("/var/tmp/configured"));
    r = installer({"-pkg", "/tmp/next.deb", "-target", "/"});
    EXPECT_EQ(r.out.find("interrupted"), std::string::npos) << r.out;
}
