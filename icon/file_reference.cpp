// References to files by identity, made from path texts, for the custom-icon operations.
#include "icon/file_reference.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace vynd {

bool getFSRef(const QString& path, FileReference* ref, bool createFileIfNecessary) {
    if (path.isEmpty())
        return false;
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QByteArray native = QFile::encodeName(absolute);
    struct stat st {};
    if (stat(native.constData(), &st) != 0) {
        if (!createFileIfNecessary)
            return false;
        QSaveFile file(absolute);
        if (!file.open(QIODevice::WriteOnly) || !file.commit())
            return false;
        if (stat(native.constData(), &st) != 0)
            return false;
    }
    ref->path = absolute;
    ref->device = st.st_dev;
    ref->inode = st.st_ino;
    return true;
}

}  // namespace vynd
