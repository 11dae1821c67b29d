// installer: installs a package on this computer.
#include "programs/installer/installer.h"

int main(int argc, char** argv) {
    return vynd::installer::installer_main(std::vector<std::string>(argv + 1, argv + argc));
}
