// The README's picture of the settings pane: the real daemon runs on the example share in the
// sandbox, then the real settings host shows the pane there, with that log, on an X display.
//   vynd_pane_screenshot SHARE-FOLDER HOST PLUGIN DISPLAY OUTPUT.png
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "tests/support/debian_package.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"

namespace fs = std::filesystem;
using vynd::test::PrefsBuilder;
using vynd::test::Sandbox;

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "usage: vynd_pane_screenshot SHARE-FOLDER HOST PLUGIN DISPLAY OUTPUT.png\n";
        return 2;
    }
    const std::string host = fs::absolute(argv[2]).string();
    const std::string plugin = fs::absolute(argv[3]).string();
    const std::string display = argv[4];
    const std::string output = fs::absolute(argv[5]).string();

    Sandbox box;
    const std::string share = vynd::test::kShareFolder;
    fs::copy(argv[1], box.path(share), fs::copy_options::recursive);
    box.mkdirs(share + "/Packages");
    (void)vynd::test::build_debian_package(box.path(share + "/Packages/hello-vynd.deb"),
                                           "hello-vynd", "hello.txt", "Installed by vynd.\n");
    for (const char* d : {"info", "updates", "triggers", "alternatives"})
        box.mkdirs(std::string("/var/lib/dpkg/") + d);
    box.writeFile("/var/lib/dpkg/status", "");
    PrefsBuilder prefs;
    prefs.share().flag("vynd_keep_app_synced", true);
    box.writePrefs(prefs.get());

    // A first run, one with nothing to do, and one after part of an application left the share.
    (void)box.vynd({"-ti"});
    (void)box.vynd({"-ti"});
    fs::remove_all(box.path(share + "/Applications/Hello.app/Contents/MacOS"));
    (void)box.vynd({"-ti"});

    box.bind("/tmp/.X11-unix", "/tmp/.X11-unix");
    for (const std::string& path : {host, plugin})
        box.bind(fs::path(path).parent_path().string(), fs::path(path).parent_path().string());
    Sandbox::Running pane = box.start({"/usr/bin/env", "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                                       "HOME=/root", host, plugin, "-geometry", "1280x720+0+0"});
    sleep(6);
    const std::string shot = "DISPLAY=" + display + " import -window root '" + output + "'";
    const int status = std::system(shot.c_str());
    kill(pane.pid, SIGTERM);
    Sandbox::Result result = box.wait(pane);
    if (status != 0) {
        std::cerr << "could not take the picture\n" << result.err;
        return 1;
    }
    return 0;
}
