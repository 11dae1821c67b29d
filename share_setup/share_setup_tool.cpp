// setupshare: share setup run as root for the pane, which cannot mount a share itself.
#include "share_setup/share_setup_tool.h"

#include <QImage>
#include <QMap>
#include <QVariant>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/process_stop.h"
#include "platform/property_list.h"
#include "share_setup/share_setup.h"

namespace vynd {

namespace {

// A stop takes this for good, so that no alert follows the stopped one.
std::mutex answer_lock;
bool answered = false;

void answer(const QString& title, const QString& message) {
    std::printf("%s\n", alertLine(title, message).c_str());
    std::fflush(stdout);
}

void answer_stopped(int signal) {
    answer_lock.lock();
    if (!answered) {
        const char* name = sigabbrev_np(signal);
        answer(kSetupStoppedTitle, QString::fromUtf8(kSetupStoppedMessage)
                                       .replace("%s", QString("SIG") + (name ? name : "?")));
    }
    // From the stopper's thread exit() would tear down what the others use.
    _exit(0);
}

}  // namespace

const std::vector<const char*>& shareSetupKeys() {
    static const std::vector<const char*> keys = {
        "vynd_host",          "vynd_username",    "vynd_passwd",    "vynd_encrypt_pass",
        "vynd_volume_hidden", "vynd_app_path",    "vynd_user_path", "vynd_library_path",
        "vynd_pkg_path",      "vynd_ssh_key_file"};
    return keys;
}

std::string alertLine(const QString& title, const QString& message) {
    QString line = title + "|" + message;
    line.replace("\\", "\\\\").replace("\n", "\\n");
    return line.toStdString();
}

bool parseAlertLine(const std::string& line, QString* title, QString* message) {
    const QString text = QString::fromStdString(line);
    const qsizetype bar = text.indexOf('|');
    if (bar < 0)
        return false;
    *title = text.left(bar);
    message->clear();
    for (qsizetype i = bar + 1; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            message->append(text[i] == 'n' ? QChar('\n') : text[i]);
        } else {
            message->append(text[i]);
        }
    }
    return true;
}

int setupshare_main(const std::string& request) {
    std::optional<Plist> dict = parse_property_list(request);
    if (!dict || plist_get_node_type(dict->get()) != PLIST_DICT) {
        std::fputs("setupshare: the request is not a property list dictionary\n", stderr);
        return 2;
    }
    QMap<QString, QVariant> settings;
    for (const char* key : shareSetupKeys()) {
        if (auto text = plist_dict_string(dict->get(), key))
            settings[key] = QString::fromStdString(*text);
        else if (auto flag = plist_dict_bool(dict->get(), key))
            settings[key] = *flag;
    }
    // Root mounts shares and nothing else: a local folder is the user's to
    // prepare with their own rights.
    if (!ShareSetup::mountsAShare(settings.value("vynd_host").toString())) {
        std::fputs("setupshare: the host path names no network share\n", stderr);
        return 2;
    }
    QImage icon;
    if (plist_t data = plist_dict_get_item(dict->get(), kVolumeIconKey);
        data && plist_get_node_type(data) == PLIST_DATA) {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(data, &length);
        if (bytes)
            (void)icon.loadFromData(reinterpret_cast<const uchar*>(bytes), static_cast<int>(length),
                                    "PNG");
    }
    end_on_stop_signals(answer_stopped);
    ShareSetup setup([&](const QString& key) { return settings.value(key); },
                     [](const QString& title, const QString& message) {
                         std::lock_guard<std::mutex> hold(answer_lock);
                         answer(title, message);
                     },
                     {});
    (void)setup.setupShare(icon);
    std::lock_guard<std::mutex> hold(answer_lock);
    answered = true;
    return 0;
}

}  // namespace vynd
