// The settings host's window: shows one pane and drives its life cycle.
#pragma once

#include <QMainWindow>

#include <memory>

#include "prefspane/preference_pane.h"

namespace vynd {

// Selecting the pane when the window is shown and unselecting it when the
// window is closed or hidden, as the settings application does.
class SettingsWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit SettingsWindow(std::unique_ptr<PreferencePane> pane, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    [[nodiscard]] PreferencePane* pane() const { return pane_.get(); }
    [[nodiscard]] bool isPaneSelected() const { return selected_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void unselect();

    std::unique_ptr<PreferencePane> pane_;
    bool selected_ = false;
};

}  // namespace vynd
