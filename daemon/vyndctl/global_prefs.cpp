// Mode p: a prepared settings file put in place of the global preference file.
#include "daemon/vyndctl/global_prefs.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/bounded_read.h"
#include "platform/failure.h"
#include "platform/property_list.h"
#include "platform/unique_fd.h"

namespace vynd {

namespace {

// Opens the file with the user's rights: their user, group and supplementary
// groups for the open alone, then root's again. The real and saved ids stay
// root's, which is what lets the effective ones come back.
int open_as(uid_t user, const std::string& path, int flags) {
    if (user == 0)
        return open(path.c_str(), flags);
    struct passwd* pw = getpwuid(user);
    gid_t gid = pw ? pw->pw_gid : static_cast<gid_t>(user);
    std::vector<gid_t> groups(1, gid);
    if (pw) {
        int n = 64;
        groups.resize(static_cast<size_t>(n));
        if (getgrouplist(pw->pw_name, gid, groups.data(), &n) < 0) {
            groups.resize(static_cast<size_t>(n));
            (void)getgrouplist(pw->pw_name, gid, groups.data(), &n);
        }
        groups.resize(static_cast<size_t>(n));
    }
    int saved_count = getgroups(0, nullptr);
    std::vector<gid_t> saved(static_cast<size_t>(saved_count > 0 ? saved_count : 0));
    if (saved_count < 0 || getgroups(saved_count, saved.data()) < 0)
        return -1;
    int fd = -1;
    int error = EPERM;
    if (setgroups(groups.size(), groups.data()) == 0 && setegid(gid) == 0 && seteuid(user) == 0) {
        fd = open(path.c_str(), flags);
        error = errno;
    }
    // Without root's rights back nothing more may be done.
    if (seteuid(0) != 0 || setegid(0) != 0 || setgroups(saved.size(), saved.data()) != 0)
        _exit(1);
    errno = error;
    return fd;
}

// Reads the whole of a regular file. A link is not followed and anything
// but a regular file is refused, so no device or FIFO is read; nor is a
// file larger than any settings file, whose size is seen before reading.
bool read_regular_file(const std::string& path, uid_t user, std::string* bytes, std::string* err) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it is refused.
    UniqueFd fd(open_as(user, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return fail_errno(err, "cannot open " + path);
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail(err, path + " is not a regular file");
    BoundedRead read = read_bounded(fd.get(), kMaxSettingsFileSize, bytes);
    int error = errno;
    if (read == BoundedRead::too_large)
        return fail(err, too_large_message(path, kMaxSettingsFileSize, "a settings file"));
    if (read == BoundedRead::failed)
        return fail_errno(err, "cannot read " + path, error);
    return true;
}

// Moves vynd_passwd out of the settings into the companion (or removes the
// companion when the password is empty). A value that is no text at all,
// which no settings file holds, leaves the companion as it is.
bool store_password(plist_t dict, const std::string& target, std::string* err) {
    plist_t node = plist_dict_get_item(dict, "vynd_passwd");
    std::optional<std::string> password = plist_dict_string(dict, "vynd_passwd");
    bool ok = true;
    if (password && !password->empty()) {
        Plist secret(plist_new_dict());
        plist_dict_set_item(secret.get(), "vynd_passwd", plist_copy(node));
        bool enciphered = plist_dict_bool(dict, "vynd_encrypt_pass").value_or(false);
        plist_dict_set_item(secret.get(), "vynd_encrypt_pass", plist_new_bool(enciphered));
        mode_t old_mask = umask(077);
        ok = write_property_list_atomically(target, secret.get(), err, 0600);
        umask(old_mask);
    } else if (password && unlink(target.c_str()) != 0 && errno != ENOENT) {
        ok = fail_errno(err, "cannot remove " + target);
    }
    // A binary list may name the key more than once; no copy of it stays
    // in the file everyone reads.
    for (uint32_t n = plist_dict_get_size(dict);
         ok && n > 0 && plist_dict_get_item(dict, "vynd_passwd"); --n)
        plist_dict_remove_item(dict, "vynd_passwd");
    return ok;
}

}  // namespace

bool replace_global_preferences(const std::string& source, uid_t requester, std::string* err,
                                const PrefsTargets& targets) {
    std::string bytes;
    if (!read_regular_file(source, requester, &bytes, err))
        return false;
    std::optional<Plist> dict = parse_property_list(bytes);
    if (!dict || plist_get_node_type(dict->get()) != PLIST_DICT)
        return fail(err, source + " is not a property-list dictionary");
    // A fresh system has no /Library/Preferences until settings are first
    // saved; made here, it must be searchable by the users who read the file.
    std::string folder = std::filesystem::path(targets.prefs).parent_path().string();
    if (mkdir(folder.c_str(), 0755) == 0)
        chmod(folder.c_str(), 0755);
    else if (errno != EEXIST)
        return fail_errno(err, "cannot create " + folder);
    if (plist_dict_get_item(dict->get(), "vynd_passwd")) {
        if (!store_password(dict->get(), targets.password, err))
            return false;
        bytes = property_list_xml(dict->get());
    }
    return write_file_atomically(targets.prefs, bytes, err, 0644);
}

}  // namespace vynd
