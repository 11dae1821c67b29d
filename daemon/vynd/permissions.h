// Modes and owners given to the installed paths of an area after a run.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace vynd {

// A symbolic chmod mode such as "u=rw,g=r,o=r,+X", taken apart.
struct ChmodMode {
    struct Clause {
        mode_t who = 0;         // the permission bits of the named classes (all for none)
        char op = '=';          // '=', '+' or '-'
        mode_t bits = 0;        // r, w, x of all classes, masked by who when applied
        bool x_if_any = false;  // X
    };
    std::vector<Clause> clauses;
};

// No value when the text is not a symbolic mode of clauses [ugoa]*[=+-][rwxX]*.
[[nodiscard]] std::optional<ChmodMode> parse_chmod_mode(const std::string& text);

// The permission bits a path ends with, by POSIX chmod's rules: "X" gives
// execute/search when the path is a folder or its mode before the change had
// an execute bit for any class. Set-user-ID and set-group-ID bits of files
// are cleared by "=" for their class; the sticky bit stays.
[[nodiscard]] mode_t apply_chmod_mode(const ChmodMode& mode, mode_t before, bool is_directory);

// User and group IDs for "owner:group" as chown reads them: names first,
// then decimal numbers; an empty owner leaves the user, an empty group
// leaves the group (or, after an owner, takes the owner's login group).
// (uid_t)-1 / (gid_t)-1 mean unchanged. No value when a name is unknown.
struct Ownership {
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};
[[nodiscard]] std::optional<Ownership> lookup_ownership(const std::string& owner,
                                                        const std::string& group,
                                                        std::string* unknown);

}  // namespace vynd
