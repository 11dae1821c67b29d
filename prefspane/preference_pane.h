// The plug-in interface between a preference pane and the settings host.
#pragma once

#include <QSettings>
#include <QString>
#include <QWidget>
#include <QtPlugin>

#include <memory>

namespace vynd {

// The life cycle the host drives: construction, loadMainView (which ends in
// mainViewDidLoad), then didSelect and didUnselect each time the pane is
// shown and left, and destruction.
class PreferencePane {
  public:
    virtual ~PreferencePane() = default;
    // Builds the pane's view once; the host takes it into its window.
    virtual QWidget* loadMainView() = 0;
    virtual QWidget* mainView() const = 0;
    virtual void didSelect() = 0;
    // Asked before the pane is left; false keeps it shown.
    [[nodiscard]] virtual bool shouldUnselect() { return true; }
    virtual void didUnselect() = 0;
    [[nodiscard]] virtual QString paneTitle() const = 0;
};

// What a pane plug-in's root object offers.
class PreferencePaneFactory {
  public:
    virtual ~PreferencePaneFactory() = default;
    // The pane keeps its settings in the host's store; settings outlives it.
    [[nodiscard]] virtual std::unique_ptr<PreferencePane> createPane(QSettings* settings) = 0;
};

}  // namespace vynd

#define VyndPreferencePaneFactory_iid "com.quenderlyn.vynd.PreferencePaneFactory/1.0"
Q_DECLARE_INTERFACE(vynd::PreferencePaneFactory, VyndPreferencePaneFactory_iid)
