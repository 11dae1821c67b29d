// setupshare: prepares a network share for the pane as root; the request comes on standard input.
#include <iostream>
#include <string>

#include "share_setup_tool.h"

int main() {
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
