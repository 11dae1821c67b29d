// The rsync command of a job, built in one place from the job and the share:
// what rsync is started with and what the log shows of it, so that the two
// cannot tell different stories.
#pragma once

#include <string>
#include <vector>

#include "daemon/vynd/mount.h"
#include "daemon/vynd/sync_job.h"
#include "platform/share/remote_share.h"

namespace vynd {

class RsyncCommand {
  public:
    // An argument, shown in the log as `shown`.
    void add(std::string argument, std::string shown);
    void add(const std::string& argument) { add(argument, argument); }
    // Arguments that the log shows together as one piece.
    void add(const std::vector<std::string>& arguments, std::string shown);
    // A place of the command's designed text that is empty this time: the
    // log keeps the spaces around it.
    void add_empty_place();

    // The program and its arguments, as rsync is started.
    [[nodiscard]] std::vector<std::string> arguments() const;
    // The command as the log shows it, without what reaching the share takes.
    [[nodiscard]] std::string text() const;

    // Given to rsync's environment besides the program's own.
    std::vector<std::string> environment;

  private:
    friend bool add_share_access(const Share& share, RemoteAccess& access, RsyncCommand& command);
    // How the share is reached: right after the program, never shown.
    std::vector<std::string> access_;
    std::vector<std::string> arguments_;
    // One piece for each place of the shown text, in order.
    std::vector<std::string> shown_;
};

// The job's command with its options and without its operands.
[[nodiscard]] RsyncCommand rsync_options(const SyncJob& job, const Share& share, int bandwidth);
// Its text, as the log shows it.
[[nodiscard]] std::string rsyncWithOptions(const SyncJob& job, const Share& share, int bandwidth);

// An operand, shown in double quotes as `shown`.
void add_operand(RsyncCommand& command, std::string argument, const std::string& shown);

// Gives the command what it needs to reach a share that rsync reaches
// itself; `access` keeps the private files for as long as rsync runs.
// Nothing for other shares. False, logged, when the files cannot be made.
[[nodiscard]] bool add_share_access(const Share& share, RemoteAccess& access,
                                    RsyncCommand& command);

}  // namespace vynd
