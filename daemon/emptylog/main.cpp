// emptylog: empties /var/log/vynd.log for the settings pane, and nothing else.
#include "daemon/emptylog/empty_log.h"

int main(int argc, char** argv) {
    return vynd::emptylog_main(argc, argv);
}
