// The rsync command of a job, built in one place from the job and the share:
// the log's text of it is made from the arguments rsync is started with, so
// that the two cannot tell different stories.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/vynd/mount.h"
#include "daemon/vynd/sync_job.h"
#include "platform/share/remote_share.h"

namespace vynd {

class RsyncCommand {
  public:
    // An argument, shown as it is.
    void add(std::string argument);
    // The argument `option` + `value`, shown with the value in double quotes.
    void add_quoted(std::string_view option, const std::string& value);
    // A place of the command's designed text that is empty this time: the
    // log keeps the spaces around it.
    void add_empty_place();
    // A folder operand that rsync reaches through the descriptor it is lent
    // (`descriptor` in rsync's numbering); the log names the folder.
    void add_lent_folder(int descriptor, const std::string& folder);

    // The program and its arguments, as rsync is started.
    [[nodiscard]] std::vector<std::string> arguments() const;
    // The command as the log shows it, without what reaching the share takes.
    [[nodiscard]] std::string text() const;

    // Given to rsync's environment besides the program's own.
    std::vector<std::string> environment;

  private:
    friend bool add_share_access(const Share& share, RemoteAccess& access, RsyncCommand& command);

    // How the log shows one place of the text.
    struct Place {
        static constexpr size_t kNone = static_cast<size_t>(-1);
        size_t argument = kNone;    // index in arguments_; kNone: an empty place
        size_t quote_from = kNone;  // where the quoted value starts; kNone: shown as it is
        // For a lent folder, what the log names.
        std::optional<std::string> shown_folder = std::nullopt;
    };

    // How the share is reached: right after the program, never shown.
    std::vector<std::string> access_;
    std::vector<std::string> arguments_;
    std::vector<Place> places_;
};

// The job's command with its options and without its operands.
[[nodiscard]] RsyncCommand rsync_options(const SyncJob& job, const Share& share, int bandwidth);
// Its text, as the log shows it.
[[nodiscard]] std::string rsyncWithOptions(const SyncJob& job, const Share& share, int bandwidth);

// Gives the command what it needs to reach a share that rsync reaches
// itself; `access` keeps the private files for as long as rsync runs.
// Nothing for other shares. False, logged, when the files cannot be made.
[[nodiscard]] bool add_share_access(const Share& share, RemoteAccess& access,
                                    RsyncCommand& command);

}  // namespace vynd
