// setupshare: prepares a network share for the pane as root; the request comes on standard input.
#include <sys/stat.h>

#include <iostream>
#include <string>

#include "share_setup/share_setup_tool.h"

int main() {
    // An umask inherited through pkexec must not open what root makes here:
    // the mount folder, the area folders and the scratch tree. Secrets are
    // made 0600 whatever it is.
    umask(022);
    // The settings and an icon picture: far less than this.
    constexpr std::size_t kMostBytes = 32 << 20;
    std::string request;
    char buf[65536];
    while (std::cin.read(buf, sizeof buf) || std::cin.gcount() > 0) {
        request.append(buf, static_cast<std::size_t>(std::cin.gcount()));
        if (request.size() > kMostBytes) {
            std::cerr << "setupshare: the request is too large\n";
            return 2;
        }
    }
    return vynd::setupshare_main(request);
}
