// vynd: keeps this computer in step with the central share.
#include "daemon/vynd/run.h"

int main(int argc, char** argv) {
    return vynd::vynd_main(argc, argv);
}
