// vyndicon: builds an icon family file from an image, for administrators' scripts.
#include <cstdio>
#include <string>

#include "icon/icon_file_builder.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vyndicon IMAGE OUTPUT.icns\n");
        return 1;
    }
    std::string err;
    if (!vynd::buildIconFile(argv[1], argv[2], &err)) {
        std::fprintf(stderr, "vyndicon: %s\n", err.c_str());
        return 1;
    }
    return 0;
}
