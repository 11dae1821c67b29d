// vyndctl: loads, unloads and reschedules the daemon's job and puts its settings in place.
#include "daemon/vyndctl/ctl.h"

int main(int argc, char** argv) {
    return vynd::vyndctl_main(argc, argv);
}
