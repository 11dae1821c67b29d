// File references made from paths, with and without creating the file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "icon/file_reference.h"

using vynd::FileReference;
using vynd::getFSRef;

TEST(FileReference, ExistingFileAndFolder) {
    QTemporaryDir dir;
    QFile file(dir.filePath("a b"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("content");
    file.close();
    FileReference ref;
    ASSERT_TRUE(getFSRef(dir.filePath("a b"), &ref, false));
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(dir.filePath("a b")).constData(), &st), 0);
    EXPECT_EQ(ref.inode, st.st_ino);
    EXPECT_EQ(ref.path, dir.filePath("a b"));
    // Asking to create never empties a file that is there.
    ASSERT_TRUE(getFSRef(dir.filePath("a b"), &ref, true));
    EXPECT_EQ(QFileInfo(dir.filePath("a b")).size(), 7);
    EXPECT_TRUE(getFSRef(dir.path(), &ref, false));
}

TEST(FileReference, MissingFileIsCreatedEmptyOnlyWhenAsked) {
    QTemporaryDir dir;
    FileReference ref;
    EXPECT_FALSE(getFSRef(dir.filePath("Icon\r"), &ref, false));
    EXPECT_FALSE(QFile::exists(dir.filePath("Icon\r")));
    ASSERT_TRUE(getFSRef(dir.filePath("Icon\r"), &ref, true));
    EXPECT_TRUE(QFile::exists(dir.filePath("Icon\r")));
    EXPECT_EQ(QFileInfo(dir.filePath("Icon\r")).size(), 0);
    // Nothing else is left behind by the atomic write.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(FileReference, RelativePathsAreTakenFromTheCurrentFolder) {
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    FileReference ref;
    EXPECT_TRUE(getFSRef("made", &ref, true));
    EXPECT_EQ(ref.path, QDir(dir.path()).filePath("made"));
    ASSERT_TRUE(QDir::setCurrent(old));
}

TEST(FileReference, FailuresGiveFalse) {
    QTemporaryDir dir;
    FileReference ref;
    EXPECT_FALSE(getFSRef("", &ref, true));
    EXPECT_FALSE(getFSRef(dir.filePath("missing/folder/file"), &ref, true));
    if (geteuid() != 0) {
        QDir(dir.path()).mkdir("ro");
        chmod(QFile::encodeName(dir.filePath("ro")).constData(), 0555);
        EXPECT_FALSE(getFSRef(dir.filePath("ro/file"), &ref, true));
    }
}
