// Icon families: the thumbnail builder, our own reader, the container, files and the clipboard.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "icon/icns_container.h"
#include "icon/icns_element_codec.h"
#include "icon/icns_family.h"
#include "tests/icon/icon_test_helpers.h"

namespace vynd {
namespace {

using test::makeSolidBitmap;
using test::makeTestPattern;
using test::MessageCapture;

std::vector<OSType> elementTypes(const QByteArray& family) {
    std::vector<OSType> types;
    const auto elements = parseIcnsContainer(family);
    if (!elements)
        return types;
    for (const IcnsElement& e : *elements) types.push_back(e.type);
    return types;
}

// A picture with colour, soft transparency and a hard edge.
QImage samplePicture(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(30, 120, 220));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(w * 0.1, h * 0.1, w * 0.8, h * 0.8));
    painter.fillRect(QRectF(0, 0, w * 0.3, h * 0.3), QColor(250, 200, 0, 128));
    painter.end();
    return image;
}

// One 16x16 8-bit mask element, laid out by hand: "icns", total length, type, element length.
QByteArray handBuiltContainer() {
    return QByteArray("icns\x00\x00\x01\x10s8mk\x00\x00\x01\x08", 16) + QByteArray(256, 'm');
}

TEST(Thumbnails, HoldTheTwelveElementsAndNoHugeSize) {
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(samplePicture(300, 200));
    ASSERT_TRUE(family);
    const std::vector<OSType> expected = {kIconServices512PixelDataARGB,
                                          kIconServices256PixelDataARGB,
                                          kThumbnail32BitData,
                                          kThumbnail8BitMask,
                                          kLarge32BitData,
                                          kLarge8BitData,
                                          kLarge8BitMask,
                                          kLarge1BitMask,
                                          kSmall32BitData,
                                          kSmall8BitData,
                                          kSmall8BitMask,
                                          kSmall1BitMask};
    EXPECT_EQ(elementTypes(family->data()), expected);
    EXPECT_FALSE(family->bitmapImageRepWithAlphaForIconFamilyElement(kHuge32BitData));
    EXPECT_FALSE(getIconFamilyData(family->data(), kHuge8BitMask));
}

TEST(Thumbnails, WideImageIsCentredInEverySize) {
    QImage wide(1000, 500, QImage::Format_RGB32);
    wide.fill(QColor(10, 200, 30));
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(wide);
    ASSERT_TRUE(family);
    for (OSType type : {kIconServices512PixelDataARGB, kIconServices256PixelDataARGB,
                        kThumbnail32BitData, kLarge32BitData, kSmall32BitData}) {
        const auto bitmap = family->bitmapImageRepWithAlphaForIconFamilyElement(type);
        ASSERT_TRUE(bitmap) << fourCharString(type);
        const int n = bitmap->pixelsWide;
        const QImage image = bitmap->toImage();
        EXPECT_EQ(qAlpha(image.pixel(n / 2, 0)), 0) << fourCharString(type);
        EXPECT_EQ(qAlpha(image.pixel(n / 2, n / 4 - 1)), 0) << fourCharString(type);
        EXPECT_EQ(qAlpha(image.pixel(0, n / 4 + 1)), 255) << fourCharString(type);
        EXPECT_EQ(image.pixel(n / 2, n / 2), qRgb(10, 200, 30)) << fourCharString(type);
        EXPECT_EQ(qAlpha(image.pixel(n - 1, 3 * n / 4 - 2)), 255) << fourCharString(type);
        EXPECT_EQ(qAlpha(image.pixel(n / 2, 3 * n / 4)), 0) << fourCharString(type);
    }
}

TEST(Thumbnails, ElementsMatchTheSourceWithinPremultiplicationLoss) {
    QImage source(512, 512, QImage::Format_ARGB32);
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x) source.setPixel(x, y, qRgba(x / 2, y / 2, 77, 255 - y / 4));
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(source);
    ASSERT_TRUE(family);
    const auto bitmap =
        family->bitmapImageRepWithAlphaForIconFamilyElement(kIconServices512PixelDataARGB);
    ASSERT_TRUE(bitmap);
    const QImage image = bitmap->toImage();
    int worst = 0;
    for (int y = 0; y < 512; y += 7) {
        for (int x = 0; x < 512; x += 5) {
            const QRgb a = source.pixel(x, y);
            const QRgb b = image.pixel(x, y);
            ASSERT_EQ(qAlpha(a), qAlpha(b));
            // Premultiplying to 8 bits and back loses up to 255 / alpha.
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    }
    EXPECT_LE(worst, 2);
}

TEST(Thumbnails, NullImageGivesNoFamily) {
    EXPECT_FALSE(IcnsFamily::iconFamilyWithThumbnailsOfImage(QImage()));
    IcnsFamily family;
    EXPECT_FALSE(family.initWithThumbnailsOfImage(QImage(), ImageInterpolation::Low));
    EXPECT_TRUE(family.data().isEmpty());
}

TEST(ReadBack, ElementsComeBackAsSet) {
    IcnsFamily family;
    for (int n : {512, 256, 128, 32, 16}) {
        const BitmapImageRep pattern = makeTestPattern(n, std::uint32_t(n));
        const OSType colour = n == 512   ? kIconServices512PixelDataARGB
                              : n == 256 ? kIconServices256PixelDataARGB
                              : n == 128 ? kThumbnail32BitData
                              : n == 32  ? kLarge32BitData
                                         : kSmall32BitData;
        ASSERT_TRUE(family.setIconFamilyElement(colour, pattern));
        const OSType mask = n == 128  ? kThumbnail8BitMask
                            : n == 32 ? kLarge8BitMask
                            : n == 16 ? kSmall8BitMask
                                      : 0;
        if (mask) {
            ASSERT_TRUE(family.setIconFamilyElement(mask, pattern));
        }
        const auto expected = IcnsFamily::get32BitDataFromBitmapImageRep(pattern, n);
        const auto bitmap = family.bitmapImageRepWithAlphaForIconFamilyElement(colour);
        ASSERT_TRUE(bitmap) << n;
        EXPECT_EQ(bitmap->pixelsWide, n);
        EXPECT_TRUE(bitmap->alphaFirst);
        EXPECT_TRUE(bitmap->alphaNonpremultiplied);
        EXPECT_EQ(bitmap->bitmapData, *expected) << n;
        // The bitmap read back converts to the same element data again.
        EXPECT_EQ(IcnsFamily::get32BitDataFromBitmapImageRep(*bitmap, n), expected) << n;
    }
}

TEST(ReadBack, MissingMaskMakesEveryPixelOpaque) {
    IcnsFamily family;
    ASSERT_TRUE(family.setIconFamilyElement(kSmall32BitData, makeSolidBitmap(16, 0, 0, 0, 0)));
    const auto bitmap = family.bitmapImageRepWithAlphaForIconFamilyElement(kSmall32BitData);
    ASSERT_TRUE(bitmap);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(uchar(bitmap->bitmapData[i * 4]), 255);
}

TEST(ReadBack, MaskIsCombinedWithTheElementAlpha) {
    // Stored uncompressed ARGB keeps its own alpha; the mask is OR-ed onto it.
    QByteArray argb(16 * 16 * 4, '\0');
    argb[0] = char(0x0F);
    QByteArray mask(16 * 16, '\0');
    mask[0] = char(0xF0);
    mask[1] = char(0x33);
    const auto family = buildIcnsContainer({{kSmall32BitData, argb}, {kSmall8BitMask, mask}});
    ASSERT_TRUE(family);
    IcnsFamily icon;
    ASSERT_TRUE(icon.initWithData(*family));
    const auto bitmap = icon.bitmapImageRepWithAlphaForIconFamilyElement(kSmall32BitData);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(uchar(bitmap->bitmapData[0]), 0xFF);
    EXPECT_EQ(uchar(bitmap->bitmapData[4]), 0x33);
    EXPECT_EQ(uchar(bitmap->bitmapData[8]), 0x00);
}

TEST(ReadBack, UnreadableTypesAndDamagedElementsGiveNoValue) {
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(samplePicture(64, 64));
    ASSERT_TRUE(family);
    for (OSType type : {kLarge8BitData, kLarge1BitMask, kSmall8BitMask, fourCharCode("ic10")}) {
        EXPECT_FALSE(family->bitmapImageRepWithAlphaForIconFamilyElement(type))
            << fourCharString(type);
    }
    for (const QByteArray& bad :
         {QByteArray("\x05\x01\x02", 3), QByteArray("\x90", 1), QByteArray()}) {
        IcnsFamily damaged;
        ASSERT_TRUE(damaged.initWithData(*buildIcnsContainer({{kSmall32BitData, bad}})));
        EXPECT_FALSE(damaged.bitmapImageRepWithAlphaForIconFamilyElement(kSmall32BitData));
    }
    IcnsFamily notPng;
    ASSERT_TRUE(
        notPng.initWithData(*buildIcnsContainer({{kIconServices256PixelDataARGB, "junk"}})));
    EXPECT_FALSE(notPng.bitmapImageRepWithAlphaForIconFamilyElement(kIconServices256PixelDataARGB));
}

TEST(Container, HeaderAndLengthsAreBigEndian) {
    IcnsFamily family;
    ASSERT_TRUE(family.setIconFamilyElement(kSmall8BitMask, makeSolidBitmap(16, 0, 0, 0, 255)));
    const QByteArray bytes = family.data();
    ASSERT_EQ(bytes.size(), 8 + 8 + 256);
    EXPECT_EQ(bytes.left(4), "icns");
    EXPECT_EQ(bytes.mid(4, 4), QByteArray("\x00\x00\x01\x10", 4));
    EXPECT_EQ(bytes.mid(8, 4), "s8mk");
    EXPECT_EQ(bytes.mid(12, 4), QByteArray("\x00\x00\x01\x08", 4));
    // Setting a type again replaces it rather than adding a second one.
    ASSERT_TRUE(family.setIconFamilyElement(kSmall8BitMask, makeSolidBitmap(16, 0, 0, 0, 7)));
    EXPECT_EQ(family.data().size(), bytes.size());
    EXPECT_EQ(uchar(family.data()[16]), 7);
}

TEST(Container, Thumbnail32BitElementStartsWithFourZeroBytes) {
    IcnsFamily family;
    ASSERT_TRUE(
        family.setIconFamilyElement(kThumbnail32BitData, makeSolidBitmap(128, 5, 6, 7, 255)));
    const auto elements = parseIcnsContainer(family.data());
    ASSERT_TRUE(elements);
    ASSERT_EQ(elements->size(), 1u);
    EXPECT_EQ(elements->front().data.left(4), QByteArray(4, '\0'));
    // Three flat channels: runs of 130 bytes, a short tail each.
    EXPECT_LT(elements->front().data.size(), 4 + 3 * 260);
}

TEST(Container, MalformedContainersAreRejected) {
    const QByteArray good = handBuiltContainer();
    const auto elements = parseIcnsContainer(good);
    ASSERT_TRUE(elements);
    ASSERT_EQ(elements->size(), 1u);
    EXPECT_EQ(elements->front().type, kSmall8BitMask);
    EXPECT_EQ(elements->front().data, QByteArray(256, 'm'));
    EXPECT_EQ(buildIcnsContainer({{kSmall8BitMask, QByteArray(256, 'm')}}), good);
    QByteArray wrongMagic = good;
    wrongMagic[0] = 'x';
    QByteArray longer = good + "!";
    QByteArray shortElement = good;
    shortElement[15] = 4;  // element length below its header
    QByteArray overrun = good;
    overrun[14] = 2;  // element runs past the end
    for (const QByteArray& bad : {wrongMagic, longer, good.left(good.size() - 1), shortElement,
                                  overrun, QByteArray("icns")}) {
        EXPECT_FALSE(parseIcnsContainer(bad));
    }
}

TEST(ChannelPacking, RoundTripsOverManyInputs) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        const int n = 1 + int(random() % 40);
        QByteArray argb(qsizetype(n) * n * 4, '\0');
        const int levels = 1 + int(random() % 4);  // few levels: many runs
        for (qsizetype i = 0; i < argb.size(); ++i) {
            if (i % 4)
                argb[i] = char(random() % levels * 60);
        }
        const QByteArray packed = packARGBChannels(argb, n * n);
        const auto unpacked = unpackARGBChannels(packed, n * n);
        ASSERT_TRUE(unpacked) << round;
        ASSERT_EQ(*unpacked, argb) << round;
        // A truncated stream is refused, never read past.
        EXPECT_FALSE(unpackARGBChannels(packed.left(packed.size() - 1), n * n)) << round;
    }
}

TEST(ChannelPacking, NeverWritesTheLengthOfUncompressedColour) {
    // Red: 124 changing bytes, a run of 8, 124 changing bytes packs to 252; green and blue
    // change everywhere and pack to 258 each: 768 = 16 x 16 x 3 in all, which readers would
    // take for uncompressed interleaved colour.
    QByteArray argb(16 * 16 * 4, '\0');
    for (int i = 0; i < 256; ++i) {
        argb[i * 4 + 1] = char(i >= 124 && i < 132 ? 0xAA : i % 2);
        argb[i * 4 + 2] = char(i % 3);
        argb[i * 4 + 3] = char(i % 5);
    }
    const QByteArray packed = packARGBChannels(argb, 256);
    EXPECT_NE(packed.size(), 768);
    EXPECT_EQ(*unpackARGBChannels(packed, 256), argb);
    const auto stored = encodeIconElement(kSmall32BitData, argb);
    ASSERT_TRUE(stored);
    EXPECT_EQ(*decodeIconElement(kSmall32BitData, *stored), argb);
}

class FamilyFiles : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

TEST_F(FamilyFiles, RoundTripThroughOurReader) {
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(samplePicture(200, 300));
    ASSERT_TRUE(family);
    ASSERT_TRUE(family->writeToFile(path("a.icns")));
    const auto read = IcnsFamily::iconFamilyWithContentsOfFile(path("a.icns"));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->data(), family->data());
    for (OSType type : {kIconServices512PixelDataARGB, kThumbnail32BitData, kSmall32BitData}) {
        EXPECT_EQ(read->bitmapImageRepWithAlphaForIconFamilyElement(type)->bitmapData,
                  family->bitmapImageRepWithAlphaForIconFamilyElement(type)->bitmapData);
    }
}

TEST_F(FamilyFiles, ReaderRefusesMissingEmptyAndDamagedFiles) {
    EXPECT_FALSE(IcnsFamily::iconFamilyWithContentsOfFile(path("missing.icns")));
    IcnsFamily family;
    ASSERT_TRUE(family.writeToFile(path("empty.icns")));
    EXPECT_FALSE(IcnsFamily::iconFamilyWithContentsOfFile(path("empty.icns")));
    QFile png(path("picture.png"));
    ASSERT_TRUE(samplePicture(16, 16).save(&png, "PNG"));
    png.close();
    EXPECT_FALSE(IcnsFamily::iconFamilyWithContentsOfFile(path("picture.png")));
    EXPECT_FALSE(IcnsFamily::iconFamilyWithContentsOfFile(dir.path()));
    ASSERT_EQ(mkfifo(QFile::encodeName(path("pipe.icns")).constData(), 0600), 0);
    EXPECT_FALSE(IcnsFamily::iconFamilyWithContentsOfFile(path("pipe.icns")));
}

TEST_F(FamilyFiles, WriteToURLReplacesTheFileWhole) {
    const auto small = IcnsFamily::iconFamilyWithThumbnailsOfImage(samplePicture(16, 16));
    const auto large = IcnsFamily::iconFamilyWithThumbnailsOfImage(samplePicture(900, 900));
    ASSERT_TRUE(small && large);
    const QString target = path(".VolumeIcon.icns");
    ASSERT_TRUE(large->writeToURL(QUrl::fromLocalFile(target)));
    struct stat before {};
    ASSERT_EQ(stat(QFile::encodeName(target).constData(), &before), 0);
    ASSERT_TRUE(small->writeToURL(QUrl::fromLocalFile(target)));
    struct stat after {};
    ASSERT_EQ(stat(QFile::encodeName(target).constData(), &after), 0);
    // A new file took the old one's place: a reader never sees a mix of the two.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(IcnsFamily::iconFamilyWithContentsOfFile(target)->data(), small->data());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(FamilyFiles, FailedWritesLeaveTheOldFile) {
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(samplePicture(16, 16));
    ASSERT_TRUE(family);
    EXPECT_FALSE(family->writeToURL(QUrl::fromLocalFile(path("no/such/folder/x.icns"))));
    EXPECT_FALSE(family->writeToURL(QUrl("smb://server/share/.VolumeIcon.icns")));
    EXPECT_FALSE(family->writeToURL(QUrl()));
    EXPECT_FALSE(family->writeToFile(path("no/such/folder/x.icns")));
    // A folder in the way of the rename: the write fails and nothing else is left behind.
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken"));
    EXPECT_FALSE(family->writeToURL(QUrl::fromLocalFile(path("taken"))));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

TEST(Making, InitialisersAndClassOperations) {
    const auto empty = IcnsFamily::iconFamily();
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->data().isEmpty());
    const QByteArray bytes = handBuiltContainer();
    EXPECT_EQ(IcnsFamily::iconFamilyWithIconFamilyHandle(bytes)->data(), bytes);
    IcnsFamily family;
    ASSERT_TRUE(family.initWithData(bytes));
    EXPECT_EQ(family.data(), bytes);
    ASSERT_TRUE(family.init());
    EXPECT_TRUE(family.data().isEmpty());
    // No per-file or system icon store on this platform.
    EXPECT_FALSE(IcnsFamily::iconFamilyWithIconOfFile("/"));
    EXPECT_FALSE(IcnsFamily::iconFamilyWithSystemIcon(fourCharCode("trsh")));
}

TEST(CustomIcons, ReportFailureWithoutTouchingTheFile) {
    QTemporaryDir dir;
    const QString file = dir.filePath("document");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("content");
    out.close();
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(samplePicture(32, 32));
    ASSERT_TRUE(family);
    EXPECT_FALSE(family->setAsCustomIconForFile(file));
    EXPECT_FALSE(family->setAsCustomIconForFile(file, true));
    EXPECT_FALSE(family->setAsCustomIconForDirectory(dir.path()));
    EXPECT_FALSE(family->setAsCustomIconForDirectory(dir.path(), true));
    EXPECT_FALSE(IcnsFamily::removeCustomIconFromFile(file));
    EXPECT_FALSE(IcnsFamily::removeCustomIconFromDirectory(dir.path()));
    EXPECT_FALSE(family->addResourceType(kLarge8BitData, -16455));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_EQ(test::read_file(file.toStdString()), "content");
}

TEST(Clipboard, FamilyGoesThroughUnderBothTypes) {
    test::ensureGuiApplication();
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(samplePicture(40, 40));
    ASSERT_TRUE(family);
    ASSERT_TRUE(family->putOnScrap());
    ASSERT_TRUE(IcnsFamily::canInitWithScrap());
    const auto pasted = IcnsFamily::iconFamilyWithScrap();
    ASSERT_TRUE(pasted);
    EXPECT_EQ(pasted->data(), family->data());
    const QMimeData* offered = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(offered->data(kIcnsFlavorPasteboardType), family->data());
    QGuiApplication::clipboard()->setText("plain text");
    EXPECT_FALSE(IcnsFamily::canInitWithScrap());
    EXPECT_FALSE(IcnsFamily::iconFamilyWithScrap());
}

TEST(Clipboard, EveryReadableSizeMakesTheIcon) {
    test::ensureGuiApplication();
    const auto family = IcnsFamily::iconFamilyWithThumbnailsOfImage(samplePicture(40, 40));
    ASSERT_TRUE(family);
    const QIcon icon = family->imageWithAllReps();
    EXPECT_EQ(icon.availableSizes().size(), 5);
}

}  // namespace
}  // namespace vynd
