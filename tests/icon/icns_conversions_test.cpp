// Bitmap to element data: the checks, the messages and the pixel rules of each conversion.
#include <gtest/gtest.h>

#include "icon/icns_container.h"
#include "icon/icns_family.h"
#include "icon/mac_palette.h"
#include "tests/icon/icon_test_helpers.h"

namespace vynd {
namespace {

using test::makeBitmap;
using test::makeSolidBitmap;
using test::MessageCapture;

unsigned char at(const QByteArray& bytes, qsizetype i) {
    return static_cast<unsigned char>(bytes[i]);
}

TEST(Convert32Bit, TransparentPixelBecomesZeroAndMaskZero) {
    const BitmapImageRep bitmap = makeSolidBitmap(16, 0, 0, 0, 0);
    const auto argb = IcnsFamily::get32BitDataFromBitmapImageRep(bitmap, 16);
    ASSERT_TRUE(argb);
    ASSERT_EQ(argb->size(), 16 * 16 * 4);
    EXPECT_EQ(*argb, QByteArray(16 * 16 * 4, '\0'));
    const auto mask = IcnsFamily::get8BitMaskFromBitmapImageRep(bitmap, 16);
    ASSERT_TRUE(mask);
    EXPECT_EQ(*mask, QByteArray(16 * 16, '\0'));
}

TEST(Convert32Bit, UndoesPremultiplicationByTruncation) {
    const auto argb =
        IcnsFamily::get32BitDataFromBitmapImageRep(makeSolidBitmap(16, 64, 128, 0, 128), 16);
    ASSERT_TRUE(argb);
    EXPECT_EQ(at(*argb, 0), 128);
    EXPECT_EQ(at(*argb, 1), 127);  // 64 * 255 / 128 = 127.5
    EXPECT_EQ(at(*argb, 2), 255);
    EXPECT_EQ(at(*argb, 3), 0);
}

TEST(Convert32Bit, ClampsColourAboveAlpha) {
    const auto argb =
        IcnsFamily::get32BitDataFromBitmapImageRep(makeSolidBitmap(16, 200, 10, 10, 100), 16);
    ASSERT_TRUE(argb);
    EXPECT_EQ(at(*argb, 1), 255);
}

TEST(Convert32Bit, HonoursAlphaFirstUnpremultipliedBitmaps) {
    BitmapImageRep bitmap = makeSolidBitmap(16, 100, 10, 20, 30);  // read as A R G B
    bitmap.alphaFirst = true;
    bitmap.alphaNonpremultiplied = true;
    const auto argb = IcnsFamily::get32BitDataFromBitmapImageRep(bitmap, 16);
    ASSERT_TRUE(argb);
    EXPECT_EQ(argb->left(4), QByteArray("\x64\x0a\x14\x1e", 4));
}

TEST(Convert24Bit, OpaqueEverywhere) {
    std::mt19937 random(7);
    const BitmapImageRep bitmap = makeBitmap(32, 3, random, 5);  // padded rows
    const auto argb = IcnsFamily::get32BitDataFromBitmapImageRep(bitmap, 32);
    ASSERT_TRUE(argb);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const qsizetype o = (qsizetype(y) * 32 + x) * 4;
            const qsizetype s = qsizetype(y) * bitmap.bytesPerRow + x * 3;
            ASSERT_EQ(at(*argb, o), 255);
            ASSERT_EQ(argb->mid(o + 1, 3), bitmap.bitmapData.mid(s, 3));
        }
    }
    EXPECT_EQ(*IcnsFamily::get8BitMaskFromBitmapImageRep(bitmap, 32), QByteArray(1024, '\xff'));
    EXPECT_EQ(*IcnsFamily::get1BitMaskFromBitmapImageRep(bitmap, 32), QByteArray(256, '\xff'));
}

TEST(ConvertMasks, EightBitMaskTakesAlphaOrTheSample) {
    std::mt19937 random(3);
    const BitmapImageRep rgba = makeBitmap(16, 4, random);
    const auto mask = IcnsFamily::get8BitMaskFromBitmapImageRep(rgba, 16);
    ASSERT_TRUE(mask);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(mask->at(i), rgba.bitmapData.at(i * 4 + 3));
    const BitmapImageRep grey = makeBitmap(16, 1, random);
    EXPECT_EQ(*IcnsFamily::get8BitMaskFromBitmapImageRep(grey, 16), grey.bitmapData);
}

TEST(ConvertMasks, OneBitMaskFollowsAlphaInBothHalves) {
    // Opaque pure blue (red 0) must count as opaque; transparent pixels as transparent.
    BitmapImageRep bitmap = makeSolidBitmap(16, 0, 0, 255, 255);
    for (int x = 0; x < 8; ++x) {
        for (int i = 0; i < 4; ++i) bitmap.bitmapData[x * 4 + i] = 0;  // row 0, pixels 0-7
    }
    bitmap.bitmapData[9 * 4 + 3] = 1;  // row 0, pixel 9: barely visible still counts
    const auto bits = IcnsFamily::get1BitMaskFromBitmapImageRep(bitmap, 16);
    ASSERT_TRUE(bits);
    ASSERT_EQ(bits->size(), 64);
    EXPECT_EQ(at(*bits, 0), 0x00);
    EXPECT_EQ(at(*bits, 1), 0xFF);
    EXPECT_EQ(at(*bits, 2), 0xFF);
    EXPECT_EQ(bits->left(32), bits->mid(32));
}

TEST(ConvertMasks, OneBitMaskFromGreyAndFromBits) {
    BitmapImageRep grey = makeSolidBitmap(16, 0, 0, 0, 0);
    grey.samplesPerPixel = 1;
    grey.bitsPerPixel = 8;
    grey.bytesPerRow = 16;
    grey.bitmapData = QByteArray(256, '\0');
    grey.bitmapData[0] = 1;
    grey.bitmapData[15] = char(200);
    const auto fromGrey = IcnsFamily::get1BitMaskFromBitmapImageRep(grey, 16);
    ASSERT_TRUE(fromGrey);
    EXPECT_EQ(at(*fromGrey, 0), 0x80);
    EXPECT_EQ(at(*fromGrey, 1), 0x01);

    BitmapImageRep bits = grey;
    bits.bitsPerSample = bits.bitsPerPixel = 1;
    bits.bytesPerRow = 4;  // padded beyond the two bytes of a row
    bits.bitmapData = QByteArray(64, '\0');
    for (int y = 0; y < 16; ++y) bits.bitmapData[y * 4] = char(y), bits.bitmapData[y * 4 + 2] = 'x';
    const auto copied = IcnsFamily::get1BitMaskFromBitmapImageRep(bits, 16);
    ASSERT_TRUE(copied);
    for (int y = 0; y < 16; ++y) {
        EXPECT_EQ(at(*copied, y * 2), y);
        EXPECT_EQ(at(*copied, y * 2 + 1), 0);
    }
}

TEST(ConvertPalette, MapsToNearestPaletteColourIgnoringAlpha) {
    const auto& palette = macIconPalette();
    EXPECT_EQ(palette[0].red + palette[0].green + palette[0].blue, 3 * 255);
    EXPECT_EQ(palette[255].red + palette[255].green + palette[255].blue, 0);
    EXPECT_EQ(palette[215].red, 0xEE);
    EXPECT_EQ(palette[215].green, 0);
    EXPECT_EQ(palette[254].red, 0x11);
    EXPECT_EQ(palette[254].blue, 0x11);
    // Premultiplied colour is used as it is: half-transparent white maps to mid grey.
    const auto data =
        IcnsFamily::get8BitDataFromBitmapImageRep(makeSolidBitmap(16, 128, 128, 128, 128), 16);
    ASSERT_TRUE(data);
    const PaletteColor c = palette[at(*data, 0)];
    EXPECT_EQ(c.red, 0x88);
    EXPECT_EQ(c.green, 0x88);
    const auto red =
        IcnsFamily::get8BitDataFromBitmapImageRep(makeSolidBitmap(32, 250, 5, 3, 255), 32);
    ASSERT_TRUE(red);
    EXPECT_EQ(red->size(), 1024);
    EXPECT_EQ(at(*red, 1023), nearestMacIconPaletteIndex(0xFF, 0, 0));
    EXPECT_EQ(palette[at(*red, 0)].red, 0xFF);
    EXPECT_EQ(palette[at(*red, 0)].green, 0);
}

TEST(ConvertChecks, WrongSizeIsRefusedSilently) {
    MessageCapture capture;
    BitmapImageRep bitmap = makeSolidBitmap(32, 1, 2, 3, 255);
    bitmap.pixelsWide = 33;
    bitmap.bytesPerRow = 33 * 4;
    bitmap.bitmapData.resize(33 * 32 * 4);
    EXPECT_FALSE(IcnsFamily::get32BitDataFromBitmapImageRep(bitmap, 32));
    EXPECT_FALSE(IcnsFamily::get8BitDataFromBitmapImageRep(bitmap, 32));
    EXPECT_FALSE(IcnsFamily::get8BitMaskFromBitmapImageRep(bitmap, 32));
    EXPECT_FALSE(IcnsFamily::get1BitMaskFromBitmapImageRep(bitmap, 32));
    EXPECT_TRUE(capture.messages().empty());
}

TEST(ConvertChecks, PlanarBitmapsAreRefusedWithTheirMessages) {
    BitmapImageRep bitmap = makeSolidBitmap(16, 1, 2, 3, 255);
    bitmap.isPlanar = true;
    MessageCapture capture;
    EXPECT_FALSE(IcnsFamily::get32BitDataFromBitmapImageRep(bitmap, 16));
    EXPECT_FALSE(IcnsFamily::get8BitDataFromBitmapImageRep(bitmap, 16));
    EXPECT_FALSE(IcnsFamily::get8BitMaskFromBitmapImageRep(bitmap, 16));
    EXPECT_FALSE(IcnsFamily::get1BitMaskFromBitmapImageRep(bitmap, 16));
    const std::vector<std::string> expected = {
        "get32BitDataFromBitmapImageRep:requiredPixelSize: returning NULL due to isPlanar == YES",
        "get8BitDataFromBitmapImageRep:requiredPixelSize: returning NULL due to isPlanar == YES",
        "get8BitMaskFromBitmapImageRep:requiredPixelSize: returning NULL due to isPlanar == YES",
        "get1BitMaskFromBitmapImageRep:requiredPixelSize: returning NULL due to isPlanar == YES",
    };
    EXPECT_EQ(capture.messages(), expected);
}

TEST(ConvertChecks, OtherLayoutsAreRefused) {
    BitmapImageRep sixteenBit = makeSolidBitmap(16, 1, 2, 3, 255);
    sixteenBit.bitsPerSample = 16;
    sixteenBit.bitsPerPixel = 64;
    sixteenBit.bytesPerRow = 16 * 8;
    sixteenBit.bitmapData.resize(16 * 16 * 8);
    MessageCapture capture;
    EXPECT_FALSE(IcnsFamily::get8BitDataFromBitmapImageRep(sixteenBit, 16));
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0],
              "get8BitDataFromBitmapImageRep:requiredPixelSize: returning NULL due to "
              "bitsPerSample == 16");
    EXPECT_FALSE(IcnsFamily::get32BitDataFromBitmapImageRep(sixteenBit, 16));
    EXPECT_FALSE(IcnsFamily::get8BitMaskFromBitmapImageRep(sixteenBit, 16));
    BitmapImageRep twoSamples = makeSolidBitmap(16, 1, 2, 3, 255);
    twoSamples.samplesPerPixel = 2;
    twoSamples.bitsPerPixel = 16;
    EXPECT_FALSE(IcnsFamily::get32BitDataFromBitmapImageRep(twoSamples, 16));
    EXPECT_FALSE(IcnsFamily::get1BitMaskFromBitmapImageRep(twoSamples, 16));
    EXPECT_EQ(capture.messages().size(), 1u);
}

TEST(ConvertChecks, BitmapsShorterThanTheirLayoutAreRefused) {
    BitmapImageRep bitmap = makeSolidBitmap(16, 1, 2, 3, 255);
    bitmap.bitmapData.chop(1);
    EXPECT_FALSE(IcnsFamily::get32BitDataFromBitmapImageRep(bitmap, 16));
    EXPECT_FALSE(IcnsFamily::get8BitDataFromBitmapImageRep(bitmap, 16));
    EXPECT_FALSE(IcnsFamily::get8BitMaskFromBitmapImageRep(bitmap, 16));
    EXPECT_FALSE(IcnsFamily::get1BitMaskFromBitmapImageRep(bitmap, 16));
    bitmap = makeSolidBitmap(16, 1, 2, 3, 255);
    bitmap.bytesPerRow = 60;  // less than a row of pixels
    EXPECT_FALSE(IcnsFamily::get32BitDataFromBitmapImageRep(bitmap, 16));
}

TEST(SetElement, WrongSizeForTheTypeLogsNullData) {
    IcnsFamily family;
    BitmapImageRep bitmap = makeSolidBitmap(32, 1, 2, 3, 255);
    bitmap.pixelsWide = 33;
    bitmap.bytesPerRow = 33 * 4;
    bitmap.bitmapData.resize(33 * 32 * 4);
    MessageCapture capture;
    EXPECT_FALSE(family.setIconFamilyElement(kLarge32BitData, bitmap));
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0],
              "Null data returned to setIconFamilyElement:fromBitmapImageRep:");
    EXPECT_TRUE(family.data().isEmpty());
}

TEST(SetElement, UnknownTypesAreRefusedWithoutMessage) {
    IcnsFamily family;
    MessageCapture capture;
    EXPECT_FALSE(family.setIconFamilyElement(kHuge32BitData, makeSolidBitmap(48, 1, 2, 3, 255)));
    EXPECT_FALSE(family.setIconFamilyElement(kHuge8BitMask, makeSolidBitmap(48, 1, 2, 3, 255)));
    EXPECT_FALSE(
        family.setIconFamilyElement(fourCharCode("ic10"), makeSolidBitmap(16, 1, 2, 3, 255)));
    EXPECT_TRUE(capture.messages().empty());
    EXPECT_TRUE(family.data().isEmpty());
}

TEST(SetElement, DamagedFamilyReportsTheStoreError) {
    IcnsFamily family;
    ASSERT_TRUE(family.initWithData(QByteArray("not an icon family")));
    MessageCapture capture;
    EXPECT_FALSE(family.setIconFamilyElement(kSmall32BitData, makeSolidBitmap(16, 1, 2, 3, 255)));
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0], "SetIconFamilyData() returned error -50");
    EXPECT_EQ(family.data(), QByteArray("not an icon family"));
}

TEST(SetElement, DispatchesEachTypeToItsSizeAndForm) {
    struct Case {
        OSType type;
        int size;
        qsizetype bytes;  // handed-over data
    };
    const Case cases[] = {
        {kIconServices512PixelDataARGB, 512, 512 * 512 * 4},
        {kIconServices256PixelDataARGB, 256, 256 * 256 * 4},
        {kThumbnail32BitData, 128, 128 * 128 * 4},
        {kThumbnail8BitMask, 128, 128 * 128},
        {kLarge32BitData, 32, 32 * 32 * 4},
        {kLarge8BitMask, 32, 32 * 32},
        {kLarge8BitData, 32, 32 * 32},
        {kLarge1BitMask, 32, 32 * 32 / 4},
        {kSmall32BitData, 16, 16 * 16 * 4},
        {kSmall8BitMask, 16, 16 * 16},
        {kSmall8BitData, 16, 16 * 16},
        {kSmall1BitMask, 16, 16 * 16 / 4},
    };
    for (const Case& c : cases) {
        IcnsFamily family;
        // One pixel too small for the type's size: refused. The right size: stored.
        EXPECT_FALSE(family.setIconFamilyElement(c.type, makeSolidBitmap(c.size / 2, 1, 2, 3, 255)))
            << fourCharString(c.type);
        ASSERT_TRUE(family.setIconFamilyElement(c.type, makeSolidBitmap(c.size, 9, 8, 7, 255)))
            << fourCharString(c.type);
        const auto stored = getIconFamilyData(family.data(), c.type);
        ASSERT_TRUE(stored) << fourCharString(c.type);
        EXPECT_EQ(stored->size(), c.bytes) << fourCharString(c.type);
    }
}

}  // namespace
}  // namespace vynd
