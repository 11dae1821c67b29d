// The demo: the daemon run on the bundled example share, in a private sandbox.
#include <algorithm>
#include <filesystem>
#include <iostream>

#include "property_list.h"
#include "sandbox.h"

namespace fs = std::filesystem;
using vynd::test::Sandbox;

namespace {

void show(const char* title, const std::string& text) {
    std::cout << "\n=== " << title << " ===\n" << text;
    if (!text.empty() && text.back() != '\n')
        std::cout << '\n';
}

std::string tree(const Sandbox& box, const std::string& inside) {
    std::string out;
    std::error_code ec;
    std::vector<std::string> entries;
    for (auto it = fs::recursive_directory_iterator(box.path(inside), ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        entries.push_back(inside + "/" + fs::relative(it->path(), box.path(inside)).string() +
                          (it->is_directory() ? "/" : ""));
    std::sort(entries.begin(), entries.end());
    for (const auto& e : entries) out += "  " + e + "\n";
    return out.empty() ? "  (empty)\n" : out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: vynd_demo SHARE-FOLDER\n";
        return 2;
    }
    Sandbox box;
    const std::string share = "/srv/vynd-share";
    box.bind(fs::absolute(argv[1]).string(), share);

    plist_t prefs = plist_new_dict();
    plist_dict_set_item(prefs, "vynd_host", plist_new_string(("file://" + share).c_str()));
    plist_dict_set_item(prefs, "vynd_keep_app_synced", plist_new_bool(1));
    box.writePrefs(prefs);
    plist_free(prefs);

    std::cout << "A private sandbox at " << box.root() << " stands for this computer;\n"
              << "the example share is the file URL file://" << share << ".\n";

    auto setup = box.vynd({"-s"});
    show("vynd -s (the settings it reads)", setup.out);

    auto run = box.vynd({"-ti"});
    show("vynd -ti (a test-mode install run): status", std::to_string(run.status));
    show("what it wrote to the system log (standard error)", run.err);
    show("/var/log/vynd.log", box.readFile("/var/log/vynd.log"));
    show("/var/db/vynd after the run", tree(box, "/var/db/vynd"));

    auto clean = box.vynd({"-c"});
    show("vynd -c (clean the database): status", std::to_string(clean.status));
    show("/var/db/vynd after cleaning", tree(box, "/var/db/vynd"));

    std::string calls;
    for (const auto& line : box.callLines()) calls += "  " + line + "\n";
    show("programs that would have changed the machine", calls.empty() ? "  (none)\n" : calls);
    return run.status == 0 && clean.status == 0 ? 0 : 1;
}
