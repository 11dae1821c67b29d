// Modes and owners given to the installed paths of an area after a run.
#include "daemon/vynd/permissions.h"

#include <pwd.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <string_view>

#include "daemon/vynd/area_paths.h"
#include "daemon/vynd/log.h"
#include "daemon/vynd/run_report.h"
#include "daemon/vynd/sync_job.h"
#include "platform/accounts.h"

namespace vynd {

namespace {

constexpr mode_t kUser = S_IRWXU | S_ISUID;
constexpr mode_t kGroup = S_IRWXG | S_ISGID;
constexpr mode_t kOther = S_IRWXO;
constexpr mode_t kRead = S_IRUSR | S_IRGRP | S_IROTH;
constexpr mode_t kWrite = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kExec = S_IXUSR | S_IXGRP | S_IXOTH;

std::optional<uint32_t> decimal(const std::string& s) {
    if (s.empty() || s.size() > 10)
        return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v >= 0xffffffffu)
        return std::nullopt;
    return static_cast<uint32_t>(v);
}

}  // namespace

std::optional<ChmodMode> parse_chmod_mode(const std::string& text) {
    ChmodMode out;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string_view clause = std::string_view(text).substr(
            start, comma == std::string::npos ? comma : comma - start);
        ChmodMode::Clause c;
        size_t i = 0;
        for (; i < clause.size() &&
               std::string_view("ugoa").find(clause[i]) != std::string_view::npos;
             ++i) {
            switch (clause[i]) {
                case 'u':
                    c.who |= kUser;
                    break;
                case 'g':
                    c.who |= kGroup;
                    break;
                case 'o':
                    c.who |= kOther;
                    break;
                default:
                    c.who |= kUser | kGroup | kOther;
                    break;
            }
        }
        if (c.who == 0)
            c.who = kUser | kGroup | kOther;
        if (i >= clause.size() || std::string_view("=+-").find(clause[i]) == std::string_view::npos)
            return std::nullopt;
        c.op = clause[i++];
        for (; i < clause.size(); ++i) {
            switch (clause[i]) {
                case 'r':
                    c.bits |= kRead;
                    break;
                case 'w':
                    c.bits |= kWrite;
                    break;
                case 'x':
                    c.bits |= kExec;
                    break;
                case 'X':
                    c.x_if_any = true;
                    break;
                default:
                    return std::nullopt;
            }
        }
        out.clauses.push_back(c);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return out;
}

mode_t apply_chmod_mode(const ChmodMode& mode, mode_t before, bool is_directory) {
    mode_t now = before & 07777;
    bool had_exec = (before & kExec) != 0;
    for (const auto& c : mode.clauses) {
        mode_t bits = c.bits;
        if (c.x_if_any && (is_directory || had_exec))
            bits |= kExec;
        bits &= c.who;
        switch (c.op) {
            case '+':
                now |= bits;
                break;
            case '-':
                now &= ~bits;
                break;
            default: {
                mode_t cleared = c.who & (S_IRWXU | S_IRWXG | S_IRWXO);
                // A folder keeps its set-ID bits, as chmod leaves them.
                if (!is_directory)
                    cleared |= c.who & (S_ISUID | S_ISGID);
                now = (now & ~cleared) | bits;
                break;
            }
        }
    }
    return now;
}

std::optional<Ownership> lookup_ownership(const std::string& owner, const std::string& group,
                                          std::string* unknown) {
    Ownership out;
    gid_t owner_login_group = static_cast<gid_t>(-1);
    if (!owner.empty()) {
        if (const passwd* pw = getpwnam(owner.c_str())) {
            out.uid = pw->pw_uid;
            owner_login_group = pw->pw_gid;
        } else if (auto n = decimal(owner)) {
            out.uid = *n;
        } else {
            if (unknown)
                *unknown = owner;
            return std::nullopt;
        }
    }
    if (!group.empty()) {
        if (auto gid = group_id(group)) {
            out.gid = *gid;
        } else if (auto n = decimal(group)) {
            out.gid = *n;
        } else {
            if (unknown)
                *unknown = group;
            return std::nullopt;
        }
    } else if (!owner.empty()) {
        out.gid = owner_login_group;
    }
    return out;
}

namespace {

// rsync makes no hard links here, so a file with a second link was linked
// in by someone else, possibly to a file that is not theirs: it is left as
// it is, and the area's count is logged once.
bool hard_linked(const struct stat& st, std::atomic<size_t>& count) {
    if (!S_ISREG(st.st_mode) || st.st_nlink <= 1)
        return false;
    ++count;
    return true;
}

void log_hard_linked(size_t count, const std::string& area) {
    if (count > 0)
        vynd_log("Error",
                 "%zu files with more than one link in %s: their modes and owners left as they are",
                 count, area.c_str());
}

void log_unchanged(int64_t count, const std::string& area, const std::string& id) {
    if (count == 0)
        return;
    vynd_log("Error", "%lld items in %s could not be given their mode or owner",
             static_cast<long long>(count), area.c_str());
    report_failed(id, count);
}

}  // namespace

void SyncJob::setPermissionsAndOwnership() {
    if (sets_perm()) {
        std::string mode_text = perms.value_or("");
        std::optional<ChmodMode> mode = parse_chmod_mode(mode_text);
        if (!mode)
            vynd_log("Error", "Invalid permissions %s, modes not changed", mode_text.c_str());
        std::string unknown;
        std::optional<Ownership> own =
            lookup_ownership(owner.value_or(""), group.value_or(""), &unknown);
        if (!own)
            vynd_log("Error", "Unknown owner or group %s, ownership not changed", unknown.c_str());
        if (!mode && !own)
            return;
        std::vector<std::string_view> paths;
        paths.reserve(files().size());
        for (const auto& [path, entry] : files()) paths.push_back(path);
        std::atomic<size_t> linked = 0;
        std::atomic<int64_t> failed = 0;
        visit_in_area(dstPath.value_or(""), std::move(paths),
                      [&](int parent, const char* name, const struct stat& st) {
                          if (hard_linked(st, linked))
                              return;
                          std::optional<mode_t> new_mode;
                          if (mode && !S_ISLNK(st.st_mode)) {
                              mode_t m = apply_chmod_mode(*mode, st.st_mode, S_ISDIR(st.st_mode));
                              if (m != (st.st_mode & 07777))
                                  new_mode = m;
                          }
                          std::optional<uid_t> uid;
                          std::optional<gid_t> gid;
                          if (own && own->uid != static_cast<uid_t>(-1) && own->uid != st.st_uid)
                              uid = own->uid;
                          if (own && own->gid != static_cast<gid_t>(-1) && own->gid != st.st_gid)
                              gid = own->gid;
                          if (!new_mode && !uid && !gid)
                              return;
                          // chown clears set-ID bits, so a mode is set again after it.
                          if (uid || gid) {
                              if (mode && !S_ISLNK(st.st_mode))
                                  new_mode =
                                      apply_chmod_mode(*mode, st.st_mode, S_ISDIR(st.st_mode));
                          }
                          if (!change_item(parent, name, st, new_mode, uid, gid))
                              ++failed;
                      });
        log_hard_linked(linked, dstPath.value_or(""));
        log_unchanged(failed, dstPath.value_or(""), job_id());
    } else if (job_id() == "Users") {
        setUsersPermissions();
    }
}

void SyncJob::setUsersPermissions() {
    vynd_log("Debug", "Setting ownership of Users");
    // The owner is the first component of each path: one walk per user folder.
    std::map<std::string, std::vector<std::string_view>> by_user;
    for (const auto& [path, entry] : files()) {
        std::string_view p = path;
        by_user[std::string(p.substr(0, p.find('/')))].push_back(p);
    }
    std::atomic<size_t> linked = 0;
    std::atomic<int64_t> failed = 0;
    for (auto& [user, user_paths] : by_user) {
        const passwd* pw = getpwnam(user.c_str());
        if (!pw)
            continue;  // not a user's folder (Shared/, for instance)
        uid_t uid = pw->pw_uid;
        visit_in_area(dstPath.value_or(""), std::move(user_paths),
                      [&](int parent, const char* name, const struct stat& st) {
                          if (st.st_uid == uid || hard_linked(st, linked))
                              return;
                          if (!change_item(parent, name, st, std::nullopt, uid, std::nullopt))
                              ++failed;
                      });
    }
    log_hard_linked(linked, dstPath.value_or(""));
    log_unchanged(failed, dstPath.value_or(""), job_id());
    vynd_log("Debug", "Finishing setting Users ownership");
}

}  // namespace vynd
