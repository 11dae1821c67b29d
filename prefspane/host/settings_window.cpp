// The settings host's window: shows one pane and drives its life cycle.
#include "prefspane/host/settings_window.h"

#include <QCloseEvent>
#include <QHideEvent>
#include <QShowEvent>

namespace vynd {

SettingsWindow::SettingsWindow(std::unique_ptr<PreferencePane> pane, QWidget* parent)
    : QMainWindow(parent), pane_(std::move(pane)) {
    setWindowTitle(pane_->paneTitle());
    setCentralWidget(pane_->loadMainView());
}

SettingsWindow::~SettingsWindow() {
    unselect();
    // The view belongs to the pane's code; drop it before the pane goes.
    delete takeCentralWidget();
    pane_.reset();
}

void SettingsWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!selected_ && !event->spontaneous()) {
        selected_ = true;
        pane_->didSelect();
    }
}

void SettingsWindow::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    if (!event->spontaneous())
        unselect();
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    // The pane may keep the window open, for edits it could not save.
    if (selected_ && !pane_->shouldUnselect()) {
        event->ignore();
        return;
    }
    unselect();
    event->accept();
}

void SettingsWindow::unselect() {
    if (!selected_)
        return;
    selected_ = false;
    pane_->didUnselect();
}

}  // namespace vynd
