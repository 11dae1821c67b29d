// softwareupdate: lists and installs updates of this computer's software.
#include "programs/softwareupdate/software_update_tool.h"

int main(int argc, char** argv) {
    return vynd::softwareupdate::softwareupdate_main(
        std::vector<std::string>(argv + 1, argv + argc));
}
