// Share setup: preparing a new share's four folders and its volume.
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
    pane->runAlert((*alerts)[next].first, (*alerts)[next].second);
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
    assert(authorized_);
    auto alerts = std::make_shared<Alerts>();
    ShareSetup setup([this](const QString& key) { return shareSetupSetting(key); },
                     [&alerts](const QString& title, const QString& message) {
                         alerts->emplace_back(title, message);
                     },
                     [this] { saveGlobalPreferences(); });
    (void)setup.setupShare(VolumeIconView::image(ui_->volumeIcon));
    showInTurn(this, mainView_ ? mainView_->window() : nullptr, alerts, 0);
}

}  // namespace vynd
