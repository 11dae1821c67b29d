// References to files by identity, made from path texts, for the custom-icon operations.
#pragma once

#include <sys/types.h>

#include <QString>

namespace vynd {

// What a file-system reference holds on Linux: the file's identity and the
// absolute path it was found at.
struct FileReference {
    QString path;
    dev_t device = 0;
    ino_t inode = 0;
};

// getFSRef:createFileIfNecessary: fills the reference for the path. When
// nothing is there, creates an empty file first if asked (written whole under
// a temporary name and renamed into place), else fails. True on success.
[[nodiscard]] bool getFSRef(const QString& path, FileReference* ref, bool createFileIfNecessary);

}  // namespace vynd
