// The demo: the daemon run on the bundled example share, in a private sandbox.
#include <algorithm>
#include <filesystem>
#include <iostream>

#include "tests/support/debian_package.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"

namespace fs = std::filesystem;
using vynd::test::PrefsBuilder;
using vynd::test::Sandbox;

namespace {

void show(const std::string& title, const std::string& text) {
    std::cout << "\n=== " << title << " ===\n" << text;
    if (!text.empty() && text.back() != '\n')
        std::cout << '\n';
}

std::string tree(const Sandbox& box, const std::string& inside) {
    std::vector<std::string> entries;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(box.path(inside), ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        entries.push_back("  " + inside + "/" +
                          fs::relative(it->path(), box.path(inside)).string() +
                          (it->is_directory() ? "/" : "") + "\n");
    std::sort(entries.begin(), entries.end());
    std::string out;
    for (const auto& e : entries) out += e;
    return out.empty() ? "  (empty)\n" : out;
}

// The log lines a run added.
std::string new_log_lines(const Sandbox& box, size_t* seen) {
    auto lines = box.logLines();
    std::string out;
    for (size_t i = *seen; i < lines.size(); ++i) out += lines[i] + "\n";
    *seen = lines.size();
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: vynd_demo SHARE-FOLDER\n";
        return 2;
    }
    Sandbox box;
    // The share is a copy, so the demo can change it between runs.
    const std::string share = vynd::test::kShareFolder;
    fs::copy(argv[1], box.path(share), fs::copy_options::recursive);
    box.mkdirs(share + "/Packages");
    if (!vynd::test::build_debian_package(box.path(share + "/Packages/hello-vynd.deb"),
                                          "hello-vynd", "hello.txt", "Installed by vynd.\n"))
        std::cerr << "could not build the example package\n";
    // The package is installed for real, by dpkg, into the sandbox's own
    // package database and its private copy of /usr.
    for (const char* d : {"info", "updates", "triggers", "alternatives"})
        box.mkdirs(std::string("/var/lib/dpkg/") + d);
    box.writeFile("/var/lib/dpkg/status", "");

    PrefsBuilder prefs;
    prefs.share().flag("vynd_keep_app_synced", true);
    box.writePrefs(prefs.get());

    std::cout << "A private sandbox at " << box.root() << " stands for this computer.\n"
              << "The example share is the folder " << share << ", named by the file URL "
              << vynd::test::kShareURL << ";\nApplications are kept in step with it, "
              << "Library and Users are installed once.\n";

    show("vynd -s: the settings it reads", box.vynd({"-s"}).out);

    size_t seen = 0;
    auto first = box.vynd({"-ti"});
    show("vynd -ti: a first install run in test mode (status " + std::to_string(first.status) +
             "), its log",
         new_log_lines(box, &seen));
    show("what it installed under /var/db/vynd (test mode)", tree(box, "/var/db/vynd"));
    show(
        "the package, as dpkg now lists it",
        box.run({"/usr/bin/dpkg-query", "-W", "-f=${Package} ${Version} ${Status}\n", "hello-vynd"})
            .out);

    auto again = box.vynd({"-ti"});
    show("vynd -ti again: nothing changed on the share (status " + std::to_string(again.status) +
             ")",
         new_log_lines(box, &seen));

    fs::remove_all(box.path(share + "/Applications/Hello.app"));
    auto removed = box.vynd({"-ti"});
    show("Hello.app removed from the share, vynd -ti (status " + std::to_string(removed.status) +
             "): its files leave the computer too; folders stay",
         new_log_lines(box, &seen));
    show("/var/db/vynd/Applications now", tree(box, "/var/db/vynd/Applications"));

    std::string calls;
    for (const auto& line : box.callLines()) calls += "  " + line + "\n";
    show("programs that would have changed the machine", calls.empty() ? "  (none)\n" : calls);
    return first.status == 0 && again.status == 0 && removed.status == 0 ? 0 : 1;
}
