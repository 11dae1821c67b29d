// The pane's lock: obtaining polkit's authorization, saying why it was not
// given, and locking again when polkit no longer keeps it.
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "platform/privileged_exec.h"
#include "prefspane/vynd_pref.h"
#include "ui_vynd_pref.h"

namespace vynd {

namespace {

// How often the kept authorization is checked while the pane is unlocked.
constexpr int kAuthorizationCheckMs = 10'000;

// A padlock, shut or open, in the button's text colour; the icon theme's own
// is used where it has one.
QIcon padlock(bool open, const QColor& colour) {
    QIcon themed = QIcon::fromTheme(open ? "changes-allow" : "changes-prevent");
    if (!themed.isNull())
        return themed;
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour, 7, Qt::SolidLine, Qt::FlatCap));
    QPainterPath shackle;
    const qreal shift = open ? 16 : 0;  // an open shackle swings up and right
    shackle.moveTo(18 + shift, 30 - shift / 2);
    shackle.lineTo(18 + shift, 20 - shift / 2);
    shackle.arcTo(18 + shift, 4 - shift / 2, 28, 32, 180, -180);
    shackle.lineTo(46 + shift, 30 - shift / 2);
    p.drawPath(shackle);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(10, 30, 44, 30), 5, 5);
    return QIcon(pixmap);
}

}  // namespace

void vyndPref::lockClicked() {
    if (lockOpen_) {
        if (authorizationViewShouldDeauthorize()) {
            lockOpen_ = false;
            authorizationViewDidDeauthorize();
        }
        return;
    }
    std::string detail;
    const Authorization answer = obtain_authorization(kPolkitAction, &detail);
    const QString said = QString::fromStdString(detail).trimmed();
    switch (answer) {
        case Authorization::Granted:
            lockStatus_.clear();
            lockOpen_ = true;
            authorizationViewDidAuthorize();
            return;
        case Authorization::Refused:
            lockStatus_ =
                tr("The lock stays shut: the password was not accepted, or this account "
                   "may not administer vynd. Try again, or log in as an administrator.");
            break;
        case Authorization::Dismissed:
            lockStatus_ = tr("The lock stays shut: the password dialog was cancelled.");
            break;
        case Authorization::NoAgent:
            lockStatus_ =
                tr("The lock cannot be opened: no polkit authentication agent is "
                   "running to ask for a password. Start the desktop's agent, or run "
                   "vyndsettings in a desktop session that has one.");
            break;
        case Authorization::Unavailable:
            lockStatus_ = tr("The lock cannot be opened: polkit could not be asked (%1). Check "
                             "that the polkitd and pkexec packages are installed and polkit is "
                             "running.")
                              .arg(said.isEmpty() ? tr("no answer") : said);
            break;
    }
    showLock();
}

void vyndPref::authorizationViewDidAuthorize() {
    int r = executeLaunchCtl("?");
    setVyndOff(r);
    setAuthorized(true);
}

void vyndPref::authorizationViewDidDeauthorize() {
    setAuthorized(false);
}

bool vyndPref::authorizationViewShouldDeauthorize() {
    // A save that fails keeps the lock open, so the edits can be saved again.
    return !editingAllowed_ || saveGlobalPreferences();
}

void vyndPref::deauthorize() {
    bool was = lockOpen_;
    lockOpen_ = false;
    if (was || editingAllowed_ || canDownload_)
        authorizationViewDidDeauthorize();
}

void vyndPref::checkAuthorizationKept() {
    if (!lockOpen_ || holds_authorization(kPolkitAction))
        return;
    lockOpen_ = false;
    lockStatus_ = unsavedEdits_ ? tr("The authorization has lapsed, so the pane is locked. Your "
                                     "changes are kept: click the lock to save them.")
                                : tr("The authorization has lapsed, so the pane is locked.");
    authorizationViewDidDeauthorize();
}

QString vyndPref::lockStatus() const {
    return lockStatus_;
}

void vyndPref::setAuthorized(bool flag) {
    editingAllowed_ = managedPrefsExist() ? false : flag;
    setCanDownload(flag);
    if (flag)
        authorizationWatch_.start(kAuthorizationCheckMs);
    else
        authorizationWatch_.stop();
    showLock();
    if (ui_)
        updateEnabled();
    emit authorizedChanged(editingAllowed_);
}

void vyndPref::showLock() {
    if (!ui_)
        return;
    QPushButton* lock = ui_->lockButton;
    lock->setText(lockOpen_ ? tr("Click the &lock to prevent further changes.")
                            : tr("Click the &lock to make changes."));
    lock->setIcon(padlock(lockOpen_, lock->palette().color(QPalette::ButtonText)));
    lock->setIconSize(QSize(22, 22));
    lock->setAccessibleDescription(lockOpen_ ? tr("Unlocked") : tr("Locked"));
    ui_->lockStatusLabel->setText(lockStatus_);
    ui_->lockStatusLabel->setVisible(!lockStatus_.isEmpty());
}

}  // namespace vynd
