// Share setup on local folders named by file URLs, and host texts it must refuse.
#include <gtest/gtest.h>

#include <QImage>
#include <QMap>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "share_setup/share_setup.h"
#include "share_setup/share_setup_tool.h"
#include "transformers/value_transformers.h"

namespace fs = std::filesystem;
using vynd::ShareSetup;

namespace {

using Alert = std::pair<QString, QString>;

class ShareSetupTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QMap<QString, QVariant> settings;
    std::vector<Alert> alerts;
    std::vector<std::string> events;  // saves and alerts, in the order they happened

    std::string base() const { return dir.path().toStdString() + "/share"; }
    ShareSetup::Outcome run() {
        ShareSetup setup([this](const QString& key) { return settings.value(key); },
                         [this](const QString& title, const QString& message) {
                             alerts.emplace_back(title, message);
                             events.push_back("alert " + title.toStdString());
                         },
                         [this] { events.push_back("save"); });
        return setup.setupShare(QImage());
    }
    void expectOnlyAlert(const char* title, const char* message) {
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].first, title);
        EXPECT_EQ(alerts[0].second, message);
    }
    // Everything below the temporary folder, so a test can see nothing was made.
    std::vector<std::string> everything() const {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(dir.path().toStdString()))
            out.push_back(e.path().string());
        return out;
    }
};

TEST_F(ShareSetupTest, FileUrlGetsTheFourDefaultFoldersAndSuccess) {
    settings["vynd_host"] = QString::fromStdString("file://" + base());
    EXPECT_EQ(run(), ShareSetup::Outcome::Succeeded);
    for (const char* name : {"Applications", "Users", "Library", "Packages"})
        EXPECT_TRUE(fs::is_directory(base() + "/" + name)) << name;
    expectOnlyAlert("Setup successful",
                    "The network share has been successfully setup.  For security reasons it is "
                    "advised that the share is change to read only for the connecting user.");
    EXPECT_EQ(events.front(), "save");
    // A local folder gets no volume icon, whatever the hidden setting says.
    EXPECT_FALSE(fs::exists(base() + "/.VolumeIcon.icns"));
}

TEST_F(ShareSetupTest, NamedFoldersWithBlanksAndNesting) {
    settings["vynd_host"] = QString::fromStdString("file://" + base() + "/my share");
    settings["vynd_app_path"] = "Apps";
    settings["vynd_user_path"] = "Home Folders";
    settings["vynd_library_path"] = "deep/er/Library";
    settings["vynd_pkg_path"] = "";
    EXPECT_EQ(run(), ShareSetup::Outcome::Succeeded);
    for (const char* name : {"Apps", "Home Folders", "deep/er/Library", "Packages"})
        EXPECT_TRUE(fs::is_directory(base() + "/my share/" + name)) << name;
}

TEST_F(ShareSetupTest, RunningAgainChangesNothing) {
    settings["vynd_host"] = QString::fromStdString("file://" + base());
    EXPECT_EQ(run(), ShareSetup::Outcome::Succeeded);
    std::ofstream(base() + "/Applications/kept") << "x";
    alerts.clear();
    EXPECT_EQ(run(), ShareSetup::Outcome::Succeeded);
    expectOnlyAlert("Setup successful", vynd::kSetupDoneMessage);
    EXPECT_TRUE(fs::exists(base() + "/Applications/kept"));
}

TEST_F(ShareSetupTest, AFolderThatCannotBeMadeIsReportedAndTheRestGoOn) {
    fs::create_directories(base());
    std::ofstream(base() + "/Users") << "a file in the way";
    settings["vynd_host"] = QString::fromStdString("file://" + base());
    settings["vynd_library_path"] = "Users/Library";  // below the same file
    EXPECT_EQ(run(), ShareSetup::Outcome::Succeeded);
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[0],
              Alert("Problem Creating Directory", QString::fromStdString(base() + "/Users")));
    EXPECT_EQ(alerts[1], Alert("Problem Creating Directory",
                               QString::fromStdString(base() + "/Users/Library")));
    EXPECT_EQ(alerts[2].first, "Setup successful");
    EXPECT_TRUE(fs::is_directory(base() + "/Applications"));
    EXPECT_TRUE(fs::is_directory(base() + "/Packages"));
}

TEST_F(ShareSetupTest, FolderNamesNeverLeaveTheShare) {
    settings["vynd_host"] = QString::fromStdString("file://" + base());
    settings["vynd_app_path"] = "../outside";
    settings["vynd_user_path"] = "/absolute";
    settings["vynd_library_path"] = "a/../../outside2";
    EXPECT_EQ(run(), ShareSetup::Outcome::Succeeded);
    EXPECT_FALSE(fs::exists(dir.path().toStdString() + "/outside"));
    EXPECT_FALSE(fs::exists(dir.path().toStdString() + "/outside2"));
    // An absolute name is taken below the share, not at the root.
    EXPECT_TRUE(fs::is_directory(base() + "/absolute"));
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[0],
              Alert("Problem Creating Directory", QString::fromStdString(base() + "/../outside")));
    EXPECT_EQ(alerts[1].first, "Problem Creating Directory");
    EXPECT_EQ(alerts[2].first, "Setup successful");
}

TEST_F(ShareSetupTest, HostTextsWithoutASchemeOrThatDoNotParseAreRefused) {
    const std::string plain = base();
    for (const std::string& host :
         {plain, std::string("relative/folder"), std::string(""), std::string("file:relative"),
          std::string("file://localhost:12ab") + plain, std::string("smb://server:99999999/x"),
          std::string("file://") + plain + "/caf\xc3\xa9"}) {
        alerts.clear();
        events.clear();
        settings["vynd_host"] = QString::fromStdString(host);
        EXPECT_EQ(run(), ShareSetup::Outcome::InvalidHost) << host;
        expectOnlyAlert("Invalid host path", "Check and retype host path.");
        EXPECT_EQ(events, (std::vector<std::string>{"save", "alert Invalid host path"}));
    }
    EXPECT_TRUE(everything().empty());
}

TEST_F(ShareSetupTest, MarkupInTheFolderPathIsPassedAsText) {
    settings["vynd_host"] = QString::fromStdString("file://" + base() + "/<b>x</b>");
    EXPECT_EQ(run(), ShareSetup::Outcome::Succeeded);
    EXPECT_TRUE(fs::is_directory(base() + "/<b>x</b>/Packages"));
}

}  // namespace

TEST(SetupShareTool, AlertLinesCarryLineFeedsBarsAndBackslashes) {
    const QString message = "C:\\share|x\nError: 5\\n";
    QString title, back;
    ASSERT_TRUE(
        vynd::parseAlertLine(vynd::alertLine("Unable to mount share.", message), &title, &back));
    EXPECT_EQ(title, "Unable to mount share.");
    EXPECT_EQ(back, message);
    EXPECT_FALSE(vynd::parseAlertLine("no bar here", &title, &back));
}

TEST(SetupShareTool, RootPreparesNetworkSharesOnly) {
    QTemporaryDir dir;
    const std::string folder = dir.filePath("local").toStdString();
    const std::string request =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>vynd_host</key><string>file://" +
        folder + "</string></dict></plist>";
    EXPECT_EQ(vynd::setupshare_main(request), 2);
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(vynd::setupshare_main("not a property list"), 2);
    EXPECT_TRUE(vynd::ShareSetup::mountsAShare("smb://server/share"));
    EXPECT_FALSE(vynd::ShareSetup::mountsAShare("smb:///share"));
    EXPECT_FALSE(vynd::ShareSetup::mountsAShare("file:///srv/share"));
}
