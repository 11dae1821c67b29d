// The vyndicon command: its exit status, its messages and the file it leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "icon/icns_container.h"
#include "icon/icon_file_builder.h"
#include "tests/icon/icon_test_helpers.h"

namespace vynd {
namespace {

class Vyndicon : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::string path(const char* name) const {
        return dir.filePath(QString::fromLatin1(name)).toStdString();
    }
    int run(const std::vector<std::string>& args, std::string* output) {
        std::vector<std::string> argv = {VYND_TEST_VYNDICON};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::runProgram(argv, output);
    }
    void writeImage(const char* name, const char* format) {
        QImage image(300, 120, QImage::Format_RGB32);
        image.fill(QColor(90, 60, 200));
        ASSERT_TRUE(image.save(QString::fromStdString(path(name)), format));
    }
    static size_t elementCount(const std::string& file) {
        const auto elements = parseIcnsContainer(QByteArray::fromStdString(test::read_file(file)));
        return elements ? elements->size() : 0;
    }
};

TEST_F(Vyndicon, BuildsTheFamilyFromAnyReadableImage) {
    writeImage("picture.png", "PNG");
    writeImage("photo.jpg", "JPEG");
    writeImage("drawing.bmp", "BMP");
    for (const char* name : {"picture.png", "photo.jpg", "drawing.bmp"}) {
        std::string output;
        EXPECT_EQ(run({path(name), path("out.icns")}, &output), 0) << name << ": " << output;
        EXPECT_EQ(output, "");
        EXPECT_EQ(elementCount(path("out.icns")), 12u) << name;
    }
}

TEST_F(Vyndicon, UnreadableImageFailsAndLeavesTheOutputAlone) {
    writeImage("picture.png", "PNG");
    std::string output;
    ASSERT_EQ(run({path("picture.png"), path("out.icns")}, &output), 0) << output;
    const std::string before = test::read_file(path("out.icns"));
    QFile text(QString::fromStdString(path("notes.png")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("this is not an image\n");
    text.close();
    for (const char* name : {"notes.png", "missing.png"}) {
        EXPECT_EQ(run({path(name), path("out.icns")}, &output), 1) << name;
        EXPECT_NE(output.find("vyndicon: cannot read image " + path(name)), std::string::npos)
            << output;
    }
    EXPECT_EQ(test::read_file(path("out.icns")), before);
}

TEST_F(Vyndicon, UnwritableOutputFails) {
    writeImage("picture.png", "PNG");
    std::string output;
    EXPECT_EQ(run({path("picture.png"), path("no/such/folder/out.icns")}, &output), 1);
    EXPECT_NE(output.find("vyndicon: cannot write " + path("no/such/folder/out.icns") +
                          ": No such file or directory"),
              std::string::npos)
        << output;
    EXPECT_EQ(run({path("picture.png"), ""}, &output), 1);
    EXPECT_NE(output.find("vyndicon: "), std::string::npos) << output;
}

TEST_F(Vyndicon, RefusesWhatIsNotAPictureFileAndNeverWritesOverTheInput) {
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    std::string output;
    EXPECT_EQ(run({path("pipe"), path("out.icns")}, &output), 1);
    EXPECT_NE(output.find("cannot read image " + path("pipe") + ": not a regular file"),
              std::string::npos)
        << output;
    EXPECT_EQ(run({dir.path().toStdString(), path("out.icns")}, &output), 1);
    EXPECT_NE(output.find("not a regular file"), std::string::npos) << output;

    writeImage("picture.png", "PNG");
    const std::string picture = test::read_file(path("picture.png"));
    ASSERT_EQ(symlink(path("picture.png").c_str(), path("link.icns").c_str()), 0);
    ASSERT_EQ(link(path("picture.png").c_str(), path("hard.icns").c_str()), 0);
    for (const char* out : {"picture.png", "link.icns", "hard.icns"}) {
        EXPECT_EQ(run({path("picture.png"), path(out)}, &output), 1) << out;
        EXPECT_NE(output.find("will not write " + path(out) + " over the image"), std::string::npos)
            << output;
    }
    EXPECT_EQ(test::read_file(path("picture.png")), picture);
}

TEST_F(Vyndicon, ImageTooLargeToDecodeSaysSo) {
    // Only the header of a grey map far beyond what Qt will allocate.
    QFile huge(QString::fromStdString(path("huge.pgm")));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    huge.write("P5\n30000 30000\n255\n0000");
    huge.close();
    std::string output;
    EXPECT_EQ(run({path("huge.pgm"), path("out.icns")}, &output), 1);
    EXPECT_NE(output.find("30000x30000 pixels take 858 MB when decoded, more than the"),
              std::string::npos)
        << output;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("out.icns"))));
}

TEST_F(Vyndicon, WrongArgumentsPrintUsage) {
    std::string output;
    EXPECT_EQ(run({}, &output), 1);
    EXPECT_EQ(output, "usage: vyndicon IMAGE OUTPUT.icns\n");
    EXPECT_EQ(run({"a", "b", "c"}, &output), 1);
    EXPECT_EQ(output, "usage: vyndicon IMAGE OUTPUT.icns\n");
}

TEST_F(Vyndicon, LibraryCallReportsTheCause) {
    std::string err;
    EXPECT_FALSE(buildIconFile(path("missing.png"), path("out.icns"), &err));
    EXPECT_EQ(err.rfind("cannot read image " + path("missing.png") + ": ", 0), 0u) << err;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("out.icns"))));
}

}  // namespace
}  // namespace vynd
