// setupshare: share setup run as root for the pane, which cannot mount a share itself.
#pragma once

#include <QString>

#include <string>
#include <vector>

namespace vynd {

inline constexpr char kSetupSharePath[] = "/Library/Application Support/Quenderlyn/setupshare";
// The image the volume icon is made from, as PNG, beside the settings.
inline constexpr char kVolumeIconKey[] = "volume_icon";
// The last alert when a stop signal ends the setup; %s is the signal's name.
inline constexpr char kSetupStoppedTitle[] = "Share setup stopped";
inline constexpr char kSetupStoppedMessage[] =
    "The setup was stopped by %s before it ended. The share may be only partly prepared; run "
    "the setup again to finish it.";

// The settings share setup reads, and no others: whatever else the request
// holds is not passed on.
[[nodiscard]] const std::vector<const char*>& shareSetupKeys();

// One alert as a line of the tool's output, and back: "title|message", with
// line feeds and backslashes escaped.
[[nodiscard]] std::string alertLine(const QString& title, const QString& message);
[[nodiscard]] bool parseAlertLine(const std::string& line, QString* title, QString* message);

// Reads the request (a property list: the settings and the volume icon) and
// prepares the network share it names, writing each alert as a line on
// standard output. 0 when the setup ran, whatever its outcome; 2 for a
// request it refuses. From the start of the setup a stop signal ends the
// process with 0 once its children are stopped and its secrets and scratch
// folders removed, the stopped alert last.
[[nodiscard]] int setupshare_main(const std::string& request);

}  // namespace vynd
