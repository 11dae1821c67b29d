// A private session bus with a recording notification service, for tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vynd::test {

class Sandbox;

// Starts a session bus whose socket is the sandbox's /run/user/<uid>/bus and
// a notification service on it that records every notification. Both stop
// when this object goes away.
class NotificationService {
  public:
    enum class Mode { Answer, Hang };
    NotificationService(Sandbox& box, uid_t uid, Mode mode = Mode::Answer);
    ~NotificationService();
    NotificationService(const NotificationService&) = delete;
    NotificationService& operator=(const NotificationService&) = delete;

    // Whether the bus and the service came up.
    [[nodiscard]] bool ready() const { return ready_; }
    // One entry per notification: "app<TAB>summary<TAB>body".
    [[nodiscard]] std::vector<std::string> notifications() const;
    // One entry per notification: what the posting process held open, each
    // "<fd>=<target>" separated by tabs.
    [[nodiscard]] std::vector<std::string> descriptors() const;

  private:
    std::string record_;
    pid_t bus_pid_ = -1;
    pid_t service_pid_ = -1;
    bool ready_ = false;
};

}  // namespace vynd::test
