// Share setup: preparing a new share's four folders and its volume.
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>

#include <cassert>
#include <memory>
#include <utility>
#include <vector>

#include "share_setup.h"
#include "ui_vynd_pref.h"
#include "volume_icon_view.h"
#include "vynd_pref.h"

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
    ShareSetup setup([this](const QString& key) { return shareSetupSetting(key); },
                     [&alerts](const QString& title, const QString& message) {
                         alerts->emplace_back(title, message);
                     },
                     [this] { saveGlobalPreferences(); });
    (void)setup.setupShare(VolumeIconView::image(ui_->volumeIcon));
    showInTurn(this, mainView_ ? mainView_->window() : nullptr, alerts, 0);
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
