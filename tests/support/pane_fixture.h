// The settings pane as the QtTest cases drive it: over a fresh store, shown and selected as the
// host does it, inside the test sandbox only.
#pragma once

#include <unistd.h>

#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <string>

#include "prefspane/vynd_pref.h"

namespace vynd::test {

class PaneFixture {
  protected:
    // The cases write the fixed system paths: only ever inside the sandbox,
    // whose host name and call record give it away.
    static void requireSandbox(const char* program) {
        char host[64] = {};
        gethostname(host, sizeof host - 1);
        if (std::string(host) != "vynd-test" || !std::filesystem::exists("/run/.sandbox-calls"))
            qFatal("%s runs only inside the test sandbox (pane_sandbox)", program);
    }

    void openPane() {
        pane_.reset();
        if (!dir_)
            dir_ = std::make_unique<QTemporaryDir>();
        settings_ = std::make_unique<QSettings>(dir_->filePath("store.conf"), QSettings::IniFormat);
        pane_ = std::make_unique<vyndPref>(settings_.get());
        view_ = pane_->loadMainView();
        view_->show();
        pane_->didSelect();
    }

    void closePane() {
        pane_.reset();
        settings_.reset();
        dir_.reset();
        view_ = nullptr;
    }

    template <typename T>
    T* find(const char* name) {
        T* w = view_->findChild<T*>(name);
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<vyndPref> pane_;
    QWidget* view_ = nullptr;
};

}  // namespace vynd::test
