// Private temporary files for handing a file to a privileged program.
#pragma once

#include <optional>
#include <string>

namespace vynd {

// Makes a new, empty file with a twelve-character random name in the folder
// and returns its path. The folder (and its missing parents) is created; the
// folder itself must end up owned by this process's user and writable by no
// one else (it is made with mode 0700), so no other local user can plant or
// swap the file. The file is created exclusively with mode 0600. No value
// when any of that fails.
[[nodiscard]] std::optional<std::string> tempFileInFolder(const std::string& folder);
// Where this user hands files to a privileged program: a folder named after
// the process in the user's own runtime folder /run/user/<uid>, or, without
// one, in "<home>/.cache". No other user can create either first.
[[nodiscard]] std::optional<std::string> handOverFolder();
// tempFileInFolder of handOverFolder().
[[nodiscard]] std::optional<std::string> tempFilePath();
// tempFileInFolder of "<system temporary folder>/<name>".
[[nodiscard]] std::optional<std::string> tempFileUnderSubfolder(const std::string& name);

// The system temporary folder, /tmp. The environment is not consulted: a
// caller's $TMPDIR must not choose where a privileged program's input lies.
[[nodiscard]] std::string systemTemporaryFolder();

}  // namespace vynd
