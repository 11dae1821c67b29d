// Share setup: preparing a new share's four folders and its volume.
#include <QBuffer>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>

#include <cassert>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/property_list.h"
#include "prefspane/settings_plist.h"
#include "prefspane/volume_icon_view.h"
#include "prefspane/vynd_pref.h"
#include "share_setup/share_setup.h"
#include "share_setup/share_setup_tool.h"
#include "ui_vynd_pref.h"

namespace vynd {

namespace {

using Alerts = std::vector<std::pair<QString, QString>>;

// Shows the alerts one after another: the next opens when the one before is
// dismissed, so they are read in the order they arose.
void showInTurn(vyndPref* pane, QWidget* window, std::shared_ptr<Alerts> alerts, size_t next) {
    if (next >= alerts->size())
        return;
    const auto& [title, message] = (*alerts)[next];
    pane->runAlert(title, message,
                   title == kSetupDoneTitle ? vyndPref::AlertStyle::Information
                                            : vyndPref::AlertStyle::Warning);
    if (!window)
        return showInTurn(pane, window, std::move(alerts), next + 1);
    const auto boxes = window->findChildren<QMessageBox*>("alert", Qt::FindDirectChildrenOnly);
    if (boxes.isEmpty())
        return showInTurn(pane, window, std::move(alerts), next + 1);
    QPointer<QWidget> guard(window);
    QObject::connect(boxes.last(), &QMessageBox::finished, pane,
                     [=] { showInTurn(pane, guard, alerts, next + 1); });
}

}  // namespace

bool vyndPref::shareSetupAvailable() const {
    return true;
}

void vyndPref::setupShare() {
    assert(editingAllowed_);
    auto alerts = std::make_shared<Alerts>();
    const QImage icon = VolumeIconView::image(ui_->volumeIcon);
    if (ShareSetup::mountsAShare(store_.text("vynd_host"))) {
        saveGlobalPreferences();
        setupShareAsRoot(icon, alerts.get());
    } else {
        ShareSetup setup([this](const QString& key) { return shareSetupSetting(key); },
                         [&alerts](const QString& title, const QString& message) {
                             alerts->emplace_back(title, message);
                         },
                         [this] { saveGlobalPreferences(); });
        (void)setup.setupShare(icon);
    }
    showInTurn(this, mainView_ ? mainView_->window() : nullptr, alerts, 0);
}

// Mounting needs root: setupshare does it, given the settings and the icon
// on its standard input, and answers with the alerts.
void vyndPref::setupShareAsRoot(const QImage& icon,
                                std::vector<std::pair<QString, QString>>* alerts) {
    Plist request(plist_new_dict());
    for (const char* key : shareSetupKeys())
        if (plist_t node = plistFromVariant(shareSetupSetting(key)))
            plist_dict_set_item(request.get(), key, node);
    QByteArray png;
    QBuffer buffer(&png);
    if (!icon.isNull() && buffer.open(QIODevice::WriteOnly) && icon.save(&buffer, "PNG"))
        plist_dict_set_item(request.get(), kVolumeIconKey,
                            plist_new_data(png.constData(), static_cast<uint64_t>(png.size())));
    const PrivilegedRun run =
        run_privileged({kSetupSharePath}, 4096, property_list_xml(request.get()));
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        QString title, message;
        if (parseAlertLine(line, &title, &message))
            alerts->emplace_back(title, message);
    }
    if (run.status != 0) {
        QString reason = failureOf(run, kSetupSharePath);
        alerts->emplace_back(
            tr("Unable to set up the share"),
            reason.isEmpty() ? tr("setupshare ended with status %1.").arg(run.status) : reason);
    }
}

void vyndPref::chooseVolumeIcon() {
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        patterns << "*." + QString::fromLatin1(format);
    const QString path =
        QFileDialog::getOpenFileName(mainView_, tr("Choose the Volume Icon"), QString(),
                                     tr("Images (%1)").arg(patterns.join(' ')));
    if (path.isEmpty())
        return;
    // Reading a FIFO or a device would hold the window up for good.
    if (!QFileInfo(path).isFile()) {
        runAlert(tr("Unable to use the image"), tr("%1 is not a regular file.").arg(path));
        return;
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    auto* well = ui_->volumeIcon->findChild<VolumeIconView*>(QString(), Qt::FindDirectChildrenOnly);
    if (!well || !well->setImage(image))
        runAlert(tr("Unable to use the image"), reader.errorString());
}

}  // namespace vynd
