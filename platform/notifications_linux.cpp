// Desktop notifications over each user's session bus, through libdbus looked up at run time.
#include "platform/notifications.h"

#include <dlfcn.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "platform/utf8.h"

namespace vynd {

namespace {

// libdbus keeps these opaque to callers; its public structs are smaller than
// these buffers, which it only ever initialises and fills in.
struct alignas(16) DBusErrorBuf {
    unsigned char bytes[128];
};
struct alignas(16) DBusIterBuf {
    unsigned char bytes[256];
};

using dbus_bool = uint32_t;
constexpr int kString = 's', kUint32 = 'u', kInt32 = 'i', kArray = 'a';

struct Dbus {
    void (*error_init)(void*);
    void* (*open_private)(const char*, void*);
    dbus_bool (*bus_register)(void*, void*);
    void* (*new_method_call)(const char*, const char*, const char*, const char*);
    void (*iter_init_append)(void*, void*);
    dbus_bool (*append_basic)(void*, int, const void*);
    dbus_bool (*open_container)(void*, int, const char*, void*);
    dbus_bool (*close_container)(void*, void*);
    void* (*send_blocking)(void*, void*, int, void*);
    void (*message_unref)(void*);
    void (*connection_close)(void*);

    bool load() {
        void* lib = dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return false;
        auto sym = [lib](const char* name) { return dlsym(lib, name); };
        error_init = reinterpret_cast<decltype(error_init)>(sym("dbus_error_init"));
        open_private =
            reinterpret_cast<decltype(open_private)>(sym("dbus_connection_open_private"));
        bus_register = reinterpret_cast<decltype(bus_register)>(sym("dbus_bus_register"));
        new_method_call =
            reinterpret_cast<decltype(new_method_call)>(sym("dbus_message_new_method_call"));
        iter_init_append =
            reinterpret_cast<decltype(iter_init_append)>(sym("dbus_message_iter_init_append"));
        append_basic =
            reinterpret_cast<decltype(append_basic)>(sym("dbus_message_iter_append_basic"));
        open_container =
            reinterpret_cast<decltype(open_container)>(sym("dbus_message_iter_open_container"));
        close_container =
            reinterpret_cast<decltype(close_container)>(sym("dbus_message_iter_close_container"));
        send_blocking = reinterpret_cast<decltype(send_blocking)>(
            sym("dbus_connection_send_with_reply_and_block"));
        message_unref = reinterpret_cast<decltype(message_unref)>(sym("dbus_message_unref"));
        connection_close =
            reinterpret_cast<decltype(connection_close)>(sym("dbus_connection_close"));
        return error_init && open_private && bus_register && new_method_call && iter_init_append &&
               append_basic && open_container && close_container && send_blocking &&
               message_unref && connection_close;
    }
};

// What D-Bus takes as a string: UTF-8 without a zero byte.
bool valid_utf8(const std::string& s) {
    return utf8_all_of(s, [](char32_t c) { return c != 0; });
}

// Runs in a child process that has become the user.
[[noreturn]] void notify_as_user(const std::string& address, const std::string& title,
                                 const std::string& body) {
    Dbus d{};
    if (!d.load())
        _exit(1);
    DBusErrorBuf err;
    d.error_init(&err);
    void* conn = d.open_private(address.c_str(), &err);
    if (!conn || !d.bus_register(conn, &err))
        _exit(1);
    void* msg = d.new_method_call("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", "Notify");
    if (!msg)
        _exit(1);
    DBusIterBuf args, actions, hints;
    const char* app = "vynd";
    const char* icon = "";
    const char* summary = title.c_str();
    const char* text = body.c_str();
    uint32_t replaces = 0;
    int32_t expire = -1;
    d.iter_init_append(msg, &args);
    bool ok =
        d.append_basic(&args, kString, &app) && d.append_basic(&args, kUint32, &replaces) &&
        d.append_basic(&args, kString, &icon) && d.append_basic(&args, kString, &summary) &&
        d.append_basic(&args, kString, &text) && d.open_container(&args, kArray, "s", &actions) &&
        d.close_container(&args, &actions) && d.open_container(&args, kArray, "{sv}", &hints) &&
        d.close_container(&args, &hints) && d.append_basic(&args, kInt32, &expire);
    if (!ok)
        _exit(1);
    void* reply = d.send_blocking(conn, msg, 900, &err);
    if (reply)
        d.message_unref(reply);
    d.message_unref(msg);
    d.connection_close(conn);
    _exit(reply ? 0 : 1);
}

void close_all_but_standard_descriptors() {
    if (close_range(STDERR_FILENO + 1, ~0U, 0) == 0)
        return;
    for (int fd = STDERR_FILENO + 1, last = static_cast<int>(sysconf(_SC_OPEN_MAX)); fd < last;
         ++fd)
        close(fd);
}

pid_t start_for_user(uid_t uid, const std::string& title, const std::string& body) {
    std::string socket = "/run/user/" + std::to_string(uid) + "/bus";
    struct stat st;
    if (lstat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != uid)
        return -1;
    struct passwd* pw = getpwuid(uid);
    gid_t gid = pw ? pw->pw_gid : static_cast<gid_t>(uid);
    std::string name = pw ? pw->pw_name : "";
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    // Child: nothing of root's (the log, the locks) may reach a bus the user
    // controls; then drop to the user before touching it.
    close_all_but_standard_descriptors();
    if (uid != 0) {
        if ((name.empty() ? setgroups(0, nullptr) : initgroups(name.c_str(), gid)) != 0 ||
            setgid(gid) != 0 || setuid(uid) != 0)
            _exit(1);
    }
    notify_as_user("unix:path=" + socket, title, body);
}

}  // namespace

void post_desktop_notification(const std::vector<uid_t>& users, const std::string& title,
                               const std::string& body) {
    if (users.empty())
        return;
    const std::string safe_title = valid_utf8(title) ? title : "vynd";
    const std::string safe_body = valid_utf8(body) ? body : "";
    std::vector<pid_t> children;
    for (uid_t uid : users) {
        pid_t pid = start_for_user(uid, safe_title, safe_body);
        if (pid > 0)
            children.push_back(pid);
    }
    // Never hold the run up for more than about a second.
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (!children.empty()) {
        for (size_t i = 0; i < children.size();) {
            if (waitpid(children[i], nullptr, WNOHANG) != 0) {
                children.erase(children.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        if (children.empty())
            break;
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        double elapsed = (now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
        if (elapsed > 1.0) {
            for (pid_t pid : children) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
            break;
        }
        struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace vynd
