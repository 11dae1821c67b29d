// The rsync command of a job, as started and as logged.
#include "daemon/vynd/rsync_command.h"

#include "daemon/vynd/database.h"
#include "daemon/vynd/exclude_file.h"

namespace vynd {

namespace {

// Whatever a share holds, no device node, socket or pipe of its is made
// here: root would make them as they are, and a device node open to all is
// the whole disk. Where the share's modes are kept, its set-user-ID and
// set-group-ID bits are not: any writer of the share could otherwise hand
// every computer a program that runs as root. (Without -p rsync gives new
// files none, and vynd's own modes clear them.)
constexpr const char* kNoSpecialFiles[] = {"--no-devices", "--no-specials"};
constexpr const char* kNoSetIdBits = "--chmod=Fug-s";
constexpr const char* kRsyncPath = "/usr/bin/rsync";

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

void RsyncCommand::add(std::string argument, std::string shown) {
    arguments_.push_back(std::move(argument));
    shown_.push_back(std::move(shown));
}

void RsyncCommand::add(const std::vector<std::string>& arguments, std::string shown) {
    arguments_.insert(arguments_.end(), arguments.begin(), arguments.end());
    shown_.push_back(std::move(shown));
}

void RsyncCommand::add_empty_place() {
    shown_.emplace_back();
}

std::vector<std::string> RsyncCommand::arguments() const {
    std::vector<std::string> argv;
    argv.reserve(1 + access_.size() + arguments_.size());
    argv.push_back(kRsyncPath);
    argv.insert(argv.end(), access_.begin(), access_.end());
    argv.insert(argv.end(), arguments_.begin(), arguments_.end());
    return argv;
}

std::string RsyncCommand::text() const {
    std::string text = "rsync";
    for (const std::string& piece : shown_) {
        text += ' ';
        text += piece;
    }
    return text;
}

RsyncCommand rsync_options(const SyncJob& job, const Share& share, int bandwidth) {
    const std::string& id = job.job_id();
    RsyncCommand command;
    command.add("--out-format=%t %i %n", "--out-format=\"%t %i %n\"");
    command.add("-ii");
    command.add("-rltD");
    const std::string temporary = std::string(kDatabasePath) + "/" + id;
    command.add({"-T", temporary}, "-T " + quoted(temporary));
    command.add("--bwlimit=" + std::to_string(bandwidth));

    const std::string site = site_exclude_file_path(id);
    std::string err;
    if (check_site_exclude_file(site, &err) == SiteExclude::usable)
        command.add("--exclude-from=" + site, "--exclude-from=" + quoted(site));
    else
        command.add_empty_place();
    if (!job.keeps_synced()) {
        const std::string excluded = exclude_file_path(id);
        command.add("--exclude-from=" + excluded, "--exclude-from=" + quoted(excluded));
    } else {
        command.add_empty_place();
    }
    std::optional<std::string> modes = job.sets_perm() ? std::nullopt : share_modes_option(share);
    if (!job.sets_perm() && job.keeps_share_modes())
        command.add("-pgo");
    if (modes)
        command.add(*modes);
    if (job.sets_perm() || (!job.keeps_share_modes() && !modes))
        command.add_empty_place();

    command.add("--delay-updates");
    for (const char* option : kNoSpecialFiles) command.add(option);
    if (job.keeps_share_modes())
        command.add(kNoSetIdBits);
    return command;
}

std::string rsyncWithOptions(const SyncJob& job, const Share& share, int bandwidth) {
    return rsync_options(job, share, bandwidth).text();
}

void add_operand(RsyncCommand& command, std::string argument, const std::string& shown) {
    command.add(std::move(argument), quoted(shown));
}

bool add_share_access(const Share& share, RemoteAccess& access, RsyncCommand& command) {
    if (!open_share_access(share, access))
        return false;
    command.access_ = access.options;
    command.environment.insert(command.environment.end(), access.environment.begin(),
                               access.environment.end());
    return true;
}

}  // namespace vynd
