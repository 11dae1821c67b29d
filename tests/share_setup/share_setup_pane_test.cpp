// The pane's share setup action under the offscreen platform, run inside the test sandbox.
#include <signal.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/property_list.h"
#include "prefspane/volume_icon_view.h"
#include "prefspane/vynd_pref.h"
#include "share_setup/share_setup.h"
#include "tests/support/pane_fixture.h"

using namespace vynd;
namespace fs = std::filesystem;

namespace {

const char kCalls[] = "/run/vyndctl.calls";
const char kPCopy[] = "/run/vyndctl.p-copy";
const char kShare[] = "/tmp/prepared share";

QList<QMessageBox*> openAlerts(QWidget* view) {
    QList<QMessageBox*> open;
    for (QMessageBox* box : view->window()->findChildren<QMessageBox*>("alert")) {
        if (box->isVisible())
            open.append(box);
    }
    return open;
}

std::string slurpCalls() {
    std::ifstream in("/run/.sandbox-calls", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

class ShareSetupPaneTest : public QObject, protected test::PaneFixture {
    Q_OBJECT

  private:
    QPushButton* button() { return view_->findChild<QPushButton*>("setupShareButton"); }

  private slots:
    void initTestCase() { requireSandbox("share_setup_pane_test"); }

    void init() {
        std::error_code ec;
        fs::remove_all(kShare, ec);
        fs::remove(kCalls, ec);
        fs::remove(kPCopy, ec);
        openPane();
    }

    void cleanup() { closePane(); }

    void buttonIsOfferedOnlyWhileUnlocked() {
        QVERIFY(button());
        QVERIFY(!button()->isEnabled());
        pane_->lockClicked();
        QVERIFY(pane_->getAuthorized());
        QVERIFY(button()->isEnabled());
    }

    void fileUrlIsSavedThenPreparedWithItsAlertsInTurn() {
        pane_->lockClicked();
        QVERIFY(pane_->getAuthorized());
        fs::create_directories(kShare);
        std::ofstream(std::string(kShare) + "/Users") << "in the way";
        pane_->store().setValue("vynd_host", "file:///tmp/prepared share");
        pane_->store().setValue("vynd_app_path", "Apps");
        fs::remove(kCalls);
        QTest::mouseClick(button(), Qt::LeftButton);

        // Saved through vyndctl first, with the host just entered.
        std::ifstream calls(kCalls);
        std::string first;
        QVERIFY(std::getline(calls, first));
        QVERIFY(first.rfind("p ", 0) == 0);
        auto saved = read_property_list_dictionary(kPCopy);
        QVERIFY(saved.has_value());
        QCOMPARE(plist_dict_string(saved->get(), "vynd_host").value_or(""),
                 std::string("file:///tmp/prepared share"));

        QVERIFY(fs::is_directory(std::string(kShare) + "/Apps"));
        QVERIFY(fs::is_directory(std::string(kShare) + "/Library"));
        QVERIFY(fs::is_directory(std::string(kShare) + "/Packages"));

        // One alert at a time: the folder problem, then, once that is
        // dismissed, the outcome.
        auto open = openAlerts(view_);
        QCOMPARE(open.size(), 1);
        QCOMPARE(open[0]->text(), QString(kCreateFailedTitle));
        QCOMPARE(open[0]->informativeText(), QString("/tmp/prepared share/Users"));
        QVERIFY(open[0]->windowModality() == Qt::WindowModal);
        open[0]->done(QMessageBox::Ok);
        QCoreApplication::processEvents();
        open = openAlerts(view_);
        QCOMPARE(open.size(), 1);
        QCOMPARE(open[0]->text(), QString(kSetupDoneTitle));
        QCOMPARE(open[0]->informativeText(), QString(kSetupDoneMessage));
        open[0]->done(QMessageBox::Ok);
        QCoreApplication::processEvents();
        QVERIFY(openAlerts(view_).isEmpty());
    }

    void droppedImageIsKeptWhole() {
        auto* well = view_->findChild<QLabel*>("volumeIcon");
        QVERIFY(well);
        QVERIFY(!VolumeIconView::image(well).isNull());
        QImage picture(300, 200, QImage::Format_ARGB32);
        picture.fill(Qt::blue);
        QMimeData mime;
        mime.setImageData(picture);
        auto dragIn = [&](const QMimeData* data) {
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(well, &enter);
            return enter.isAccepted();
        };

        // Locked, the well takes nothing.
        if (!well->isEnabled())
            QVERIFY(!dragIn(&mime));
        pane_->lockClicked();
        QVERIFY(well->isEnabled());
        QVERIFY(dragIn(&mime));
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(well, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(VolumeIconView::image(well).size(), QSize(300, 200));
        // What the well shows fits it.
        QVERIFY(well->pixmap().width() <= 48 && well->pixmap().height() <= 48);

        // Something that is no image is refused.
        QMimeData text;
        text.setText("not a picture");
        QVERIFY(!dragIn(&text));
        QCOMPARE(VolumeIconView::image(well).size(), QSize(300, 200));
    }

    void hostWithoutASchemeCreatesNothing() {
        pane_->lockClicked();
        pane_->store().setValue("vynd_host", kShare);
        QTest::mouseClick(button(), Qt::LeftButton);
        QVERIFY(!fs::exists(kShare));
        auto open = openAlerts(view_);
        QCOMPARE(open.size(), 1);
        QCOMPARE(open[0]->text(), QString("Invalid host path"));
        QCOMPARE(open[0]->informativeText(), QString("Check and retype host path."));
    }

    // Mounting is root's: the pane hands the share to setupshare, the
    // password on its standard input, and shows the alerts it answers with.
    void networkShareIsPreparedByRoot() {
        pane_->lockClicked();
        pane_->store().setValue("vynd_host", "smb://server/Deploy");
        pane_->store().setValue("vynd_username", "deploy");
        QLineEdit* password = view_->findChild<QLineEdit*>("passwordEdit");
        QTest::keyClicks(password, "s3cret pw");
        struct sigaction before {};
        sigaction(SIGPIPE, nullptr, &before);
        QTest::mouseClick(button(), Qt::LeftButton);
        auto open = openAlerts(view_);
        QCOMPARE(open.size(), 1);
        QCOMPARE(open[0]->text(), QString("Unable to mount share."));
        // No mount helper here, as on a computer without cifs-utils: said so.
        const QString said = open[0]->informativeText();
        QVERIFY2(said.startsWith("Check host path, user name, and password.\nError: -1\n\n") &&
                     said.contains("mount.cifs"),
                 qPrintable(said));
        const std::string recorded = slurpCalls();
        if (geteuid() != 0)
            QVERIFY(
                recorded.find("pkexec\037/Library/Application Support/Quenderlyn/setupshare\036") !=
                std::string::npos);
        QVERIFY(recorded.find("s3cret") == std::string::npos);
        // Feeding the helper left the host program's SIGPIPE as it was.
        struct sigaction after {};
        sigaction(SIGPIPE, nullptr, &after);
        QVERIFY(after.sa_handler == before.sa_handler);
    }
};

QTEST_MAIN(ShareSetupPaneTest)
#include "share_setup_pane_test.moc"
