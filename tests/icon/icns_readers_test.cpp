// Families we write, decoded by independent icns readers: libicns's icns2png and Pillow.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>
#include <map>

#include "icon/icns_container.h"
#include "icon/icns_family.h"
#include "icon/mac_palette.h"
#include "tests/icon/icon_test_helpers.h"

namespace vynd {
namespace {

using test::makeTestPattern;

constexpr const char* kPython = "/usr/bin/python3";

struct SizeTypes {
    int size;
    OSType colour, mask, palette, bits;
};

constexpr SizeTypes kSizes[] = {
    {512, kIconServices512PixelDataARGB, 0, 0, 0},
    {256, kIconServices256PixelDataARGB, 0, 0, 0},
    {128, kThumbnail32BitData, kThumbnail8BitMask, 0, 0},
    {32, kLarge32BitData, kLarge8BitMask, kLarge8BitData, kLarge1BitMask},
    {16, kSmall32BitData, kSmall8BitMask, kSmall8BitData, kSmall1BitMask},
};

// Every element of every size set from its own pattern, and what each should decode to.
struct KnownFamily {
    IcnsFamily family;
    std::map<int, QByteArray> rgba;     // 32-bit elements with their masks, as RGBA
    std::map<int, QByteArray> palette;  // palette indices
    std::map<int, QByteArray> bits;     // image and mask bits
};

KnownFamily makeKnownFamily() {
    KnownFamily known;
    for (const SizeTypes& s : kSizes) {
        const BitmapImageRep pattern = makeTestPattern(s.size, std::uint32_t(s.size * 7));
        EXPECT_TRUE(known.family.setIconFamilyElement(s.colour, pattern));
        if (s.mask) {
            EXPECT_TRUE(known.family.setIconFamilyElement(s.mask, pattern));
        }
        if (s.palette) {
            EXPECT_TRUE(known.family.setIconFamilyElement(s.palette, pattern));
        }
        if (s.bits) {
            EXPECT_TRUE(known.family.setIconFamilyElement(s.bits, pattern));
        }
        const QByteArray argb = *IcnsFamily::get32BitDataFromBitmapImageRep(pattern, s.size);
        QByteArray rgba(argb.size(), '\0');
        for (qsizetype i = 0; i < argb.size(); i += 4) {
            rgba[i] = argb[i + 1], rgba[i + 1] = argb[i + 2], rgba[i + 2] = argb[i + 3];
            rgba[i + 3] = argb[i];
        }
        known.rgba[s.size] = rgba;
        if (s.palette) {
            known.palette[s.size] = *IcnsFamily::get8BitDataFromBitmapImageRep(pattern, s.size);
            known.bits[s.size] = *IcnsFamily::get1BitMaskFromBitmapImageRep(pattern, s.size);
        }
    }
    return known;
}

QByteArray rgbaBytes(const QImage& image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    QByteArray bytes;
    for (int y = 0; y < rgba.height(); ++y) {
        bytes.append(reinterpret_cast<const char*>(rgba.constScanLine(y)), rgba.width() * 4);
    }
    return bytes;
}

// Counts the pixels whose RGBA differ, printing the first few.
int countDifferences(const QByteArray& got, const QByteArray& want, int n,
                     const std::string& what) {
    if (got.size() != want.size()) {
        ADD_FAILURE() << what << ": " << got.size() << " bytes, expected " << want.size();
        return n * n;
    }
    int differences = 0;
    for (int i = 0; i < n * n; ++i) {
        if (got.mid(i * 4, 4) == want.mid(i * 4, 4))
            continue;
        if (++differences <= 3) {
            ADD_FAILURE() << what << " pixel (" << i % n << ", " << i / n << "): got "
                          << got.mid(i * 4, 4).toHex().toStdString() << ", expected "
                          << want.mid(i * 4, 4).toHex().toStdString();
        }
    }
    return differences;
}

class IndependentReaders : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::string path(const std::string& name) const {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }
    static bool bitAt(const QByteArray& bits, int n, int x, int y) {
        return (uchar(bits[(y * n + x) / 8]) >> (7 - (x % 8))) & 1;
    }

    // GTEST_SKIP only leaves the function it is written in, so the tests skip themselves.
    static bool haveIcns2png() {
        return !std::string(VYND_TEST_ICNS2PNG).empty() && test::isExecutable(VYND_TEST_ICNS2PNG);
    }
    // Runs icns2png extracting the elements of one bit depth into the folder.
    void extract(const std::string& file, const char* depth) {
        std::string output;
        const int status = test::runProgram(
            {VYND_TEST_ICNS2PNG, "-x", "-d", depth, "-o", dir.path().toStdString(), file}, &output);
        ASSERT_EQ(status, 0) << output;
    }
    QImage extracted(const std::string& file, int n, int depth) {
        const std::string stem =
            QFileInfo(QString::fromStdString(file)).completeBaseName().toStdString();
        return QImage(
            QString::fromStdString(path(stem + "_" + std::to_string(n) + "x" + std::to_string(n) +
                                        "x" + std::to_string(depth) + ".png")));
    }

    // Runs the Pillow reader; false (with a skip) when Python or Pillow is missing.
    bool readWithPillow(const std::string& file, std::string* output) {
        if (!test::isExecutable(kPython))
            return false;
        const int status = test::runProgram(
            {kPython, VYND_TEST_PILLOW_READER, file, dir.path().toStdString()}, output);
        if (status == 77)
            return false;
        EXPECT_EQ(status, 0) << *output;
        return status == 0;
    }
};

TEST_F(IndependentReaders, Icns2pngDecodesEveryElementToThePixelsWePutIn) {
    if (!haveIcns2png())
        GTEST_SKIP() << "icns2png (Debian package icnsutils) is not installed";
    KnownFamily known = makeKnownFamily();
    const std::string file = path("known.icns");
    ASSERT_TRUE(known.family.writeToFile(QString::fromStdString(file)));
    extract(file, "32");
    extract(file, "8");
    extract(file, "1");
    for (const SizeTypes& s : kSizes) {
        const QImage colour = extracted(file, s.size, 32);
        ASSERT_FALSE(colour.isNull()) << s.size;
        EXPECT_EQ(countDifferences(rgbaBytes(colour), known.rgba[s.size], s.size,
                                   "icns2png " + fourCharString(s.colour)),
                  0);
        if (!s.palette)
            continue;
        // The 8-bit and 1-bit elements are shown through the 1-bit mask.
        const QImage eight = extracted(file, s.size, 8);
        const QImage one = extracted(file, s.size, 1);
        ASSERT_FALSE(eight.isNull()) << s.size;
        ASSERT_FALSE(one.isNull()) << s.size;
        const auto& palette = macIconPalette();
        const QByteArray& bits = known.bits[s.size];
        const int half = s.size * s.size / 8;
        int wrong = 0;
        for (int y = 0; y < s.size; ++y) {
            for (int x = 0; x < s.size; ++x) {
                const bool opaque = bitAt(bits.mid(half), s.size, x, y);
                const PaletteColor c = palette[uchar(known.palette[s.size][y * s.size + x])];
                const QRgb e = eight.pixel(x, y);
                const QRgb o = one.pixel(x, y);
                if (qAlpha(e) != (opaque ? 255 : 0))
                    ++wrong;
                if (opaque && e != qRgba(c.red, c.green, c.blue, 255))
                    ++wrong;
                if (qAlpha(o) != (opaque ? 255 : 0))
                    ++wrong;
                const bool black = bitAt(bits, s.size, x, y);
                if (opaque && o != (black ? qRgb(0, 0, 0) : qRgb(255, 255, 255)))
                    ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0) << s.size;
    }
}

TEST_F(IndependentReaders, PillowDecodesEveryColourElementToThePixelsWePutIn) {
    KnownFamily known = makeKnownFamily();
    const std::string file = path("known.icns");
    ASSERT_TRUE(known.family.writeToFile(QString::fromStdString(file)));
    std::string output;
    if (!readWithPillow(file, &output))
        GTEST_SKIP() << "/usr/bin/python3 with Pillow (python3-pil) is not installed";
    for (const SizeTypes& s : kSizes) {
        const QByteArray got = QByteArray::fromStdString(
            test::read_file(path("pillow_" + std::to_string(s.size) + ".rgba")));
        EXPECT_EQ(
            countDifferences(got, known.rgba[s.size], s.size, "Pillow " + fourCharString(s.colour)),
            0);
    }
}

TEST_F(IndependentReaders, ThumbnailFamilyReadsTheSameEverywhere) {
    QImage source(700, 460, QImage::Format_ARGB32);
    source.fill(Qt::transparent);
    QPainter painter(&source);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(200, 40, 90, 220));
    painter.drawEllipse(QRectF(20, 20, 660, 420));
    painter.end();
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(source);
    ASSERT_TRUE(family);
    const std::string file = path("thumbs.icns");
    ASSERT_TRUE(family->writeToURL(QUrl::fromLocalFile(QString::fromStdString(file))));
    std::map<int, QByteArray> ours;
    for (const SizeTypes& s : kSizes) {
        const auto bitmap = family->bitmapImageRepWithAlphaForIconFamilyElement(s.colour);
        ASSERT_TRUE(bitmap);
        ours[s.size] = rgbaBytes(bitmap->toImage());
    }
    std::string output;
    if (readWithPillow(file, &output)) {
        for (const SizeTypes& s : kSizes) {
            const QByteArray got = QByteArray::fromStdString(
                test::read_file(path("pillow_" + std::to_string(s.size) + ".rgba")));
            EXPECT_EQ(countDifferences(got, ours[s.size], s.size, "Pillow"), 0);
        }
    } else {
        std::printf("Pillow (python3-pil) is not installed: its reading is not checked\n");
    }
    if (!haveIcns2png())
        GTEST_SKIP() << "icns2png (Debian package icnsutils) is not installed";
    extract(file, "32");
    for (const SizeTypes& s : kSizes) {
        EXPECT_EQ(countDifferences(rgbaBytes(extracted(file, s.size, 32)), ours[s.size], s.size,
                                   "icns2png"),
                  0);
    }
}

TEST_F(IndependentReaders, ReadersAgreeOnPackingOfUncompressedLength) {
    // 16 x 16 colour whose natural packing is exactly as long as uncompressed colour.
    BitmapImageRep bitmap = test::makeSolidBitmap(16, 0, 0, 0, 255);
    bitmap.alphaNonpremultiplied = true;
    for (int i = 0; i < 256; ++i) {
        bitmap.bitmapData[i * 4] = char(i >= 124 && i < 132 ? 0xAA : i % 2);
        bitmap.bitmapData[i * 4 + 1] = char(i % 3);
        bitmap.bitmapData[i * 4 + 2] = char(i % 5);
    }
    IcnsFamily family;
    ASSERT_TRUE(family.setIconFamilyElement(kSmall32BitData, bitmap));
    ASSERT_TRUE(family.setIconFamilyElement(kSmall8BitMask, bitmap));
    const std::string file = path("runs.icns");
    ASSERT_TRUE(family.writeToFile(QString::fromStdString(file)));
    QByteArray want;
    for (int i = 0; i < 256; ++i) want.append(bitmap.bitmapData.mid(i * 4, 4));
    std::string output;
    if (readWithPillow(file, &output)) {
        EXPECT_EQ(
            countDifferences(QByteArray::fromStdString(test::read_file(path("pillow_16.rgba"))),
                             want, 16, "Pillow"),
            0);
    } else {
        std::printf("Pillow (python3-pil) is not installed: its reading is not checked\n");
    }
    if (!haveIcns2png())
        GTEST_SKIP() << "icns2png (Debian package icnsutils) is not installed";
    extract(file, "32");
    EXPECT_EQ(countDifferences(rgbaBytes(extracted(file, 16, 32)), want, 16, "icns2png"), 0);
}

}  // namespace
}  // namespace vynd
