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

}  // namespace

void RsyncCommand::add(std::string argument) {
    places_.push_back({.argument = arguments_.size()});
    arguments_.push_back(std::move(argument));
}

void RsyncCommand::add_quoted(std::string_view option, const std::string& value) {
    places_.push_back({.argument = arguments_.size(), .quote_from = option.size()});
    arguments_.push_back(std::string(option) + value);
}

void RsyncCommand::add_empty_place() {
    places_.emplace_back();
}

void RsyncCommand::add_lent_folder(int descriptor, const std::string& folder) {
    places_.push_back({.argument = arguments_.size(), .quote_from = 0, .shown_folder = folder});
    arguments_.push_back("/proc/self/fd/" + std::to_string(descriptor) + "/");
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
    for (const Place& place : places_) {
        text += ' ';
        if (place.argument == Place::kNone)
            continue;
        std::string_view argument = arguments_[place.argument];
        if (place.shown_folder)
            argument = *place.shown_folder;
        if (place.quote_from == Place::kNone) {
            text += argument;
            continue;
        }
        text += argument.substr(0, place.quote_from);
        text += '"';
        text += argument.substr(place.quote_from);
        text += '"';
    }
    return text;
}

RsyncCommand rsync_options(const SyncJob& job, const Share& share, int bandwidth) {
    const std::string& id = job.job_id();
    RsyncCommand command;
    command.add_quoted("--out-format=", "%t %i %n");
    command.add("-ii");
    command.add("-rltD");
    const std::string temporary = std::string(kDatabasePath) + "/" + id;
    command.add("-T");
    command.add_quoted("", temporary);
    command.add("--bwlimit=" + std::to_string(bandwidth));

    const std::string site = site_exclude_file_path(id);
    std::string err;
    if (check_site_exclude_file(site, &err) == SiteExclude::usable)
        command.add_quoted("--exclude-from=", site);
    else
        command.add_empty_place();
    if (!job.keeps_synced()) {
        command.add_quoted("--exclude-from=", exclude_file_path(id));
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

bool add_share_access(const Share& share, RemoteAccess& access, RsyncCommand& command) {
    if (!open_share_access(share, access))
        return false;
    command.access_ = access.options;
    command.environment.insert(command.environment.end(), access.environment.begin(),
                               access.environment.end());
    return true;
}

}  // namespace vynd
