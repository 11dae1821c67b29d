// Fitting images into icon squares: aspect, centring, transparency, pixel sizes.
#include <gtest/gtest.h>

#include <QImage>

#include "icon/icns_family.h"

namespace vynd {
namespace {

QImage solid(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

int alphaAt(const QImage& image, int x, int y) {
    return qAlpha(image.pixel(x, y));
}

TEST(Resample, WideImageIsCentredVerticallyOnTransparency) {
    const auto icon =
        IcnsFamily::resampleImage(solid(800, 400, Qt::red), 512, ImageInterpolation::High);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->size(), QSize(512, 512));
    // The picture spans rows 128 to 383, full width.
    for (int x : {0, 255, 511}) {
        EXPECT_EQ(alphaAt(*icon, x, 127), 0);
        EXPECT_EQ(alphaAt(*icon, x, 128), 255);
        EXPECT_EQ(alphaAt(*icon, x, 383), 255);
        EXPECT_EQ(alphaAt(*icon, x, 384), 0);
    }
    EXPECT_EQ(alphaAt(*icon, 10, 0), 0);
    EXPECT_EQ(alphaAt(*icon, 10, 511), 0);
    EXPECT_EQ(QColor(icon->pixel(256, 256)), QColor(Qt::red));
}

TEST(Resample, TallImageIsCentredHorizontally) {
    const auto icon =
        IcnsFamily::resampleImage(solid(100, 400, Qt::blue), 128, ImageInterpolation::High);
    ASSERT_TRUE(icon);
    // New width floor(128 * 100 / 400 + 0.5) = 32, from x = 48 to 79.
    EXPECT_EQ(alphaAt(*icon, 47, 64), 0);
    EXPECT_EQ(alphaAt(*icon, 48, 64), 255);
    EXPECT_EQ(alphaAt(*icon, 79, 64), 255);
    EXPECT_EQ(alphaAt(*icon, 80, 64), 0);
    EXPECT_EQ(alphaAt(*icon, 64, 0), 255);
    EXPECT_EQ(alphaAt(*icon, 64, 127), 255);
}

TEST(Resample, ThreeByTwoToSixteenIsElevenHighAtHalfPixelOffset) {
    const auto icon =
        IcnsFamily::resampleImage(solid(3, 2, Qt::green), 16, ImageInterpolation::High);
    ASSERT_TRUE(icon);
    // 11 rows from y = 2.5: rows 2 and 13 are half covered, 3 to 12 fully.
    for (int x : {0, 8, 15}) {
        EXPECT_EQ(alphaAt(*icon, x, 1), 0) << x;
        EXPECT_NEAR(alphaAt(*icon, x, 2), 128, 2) << x;
        EXPECT_EQ(alphaAt(*icon, x, 3), 255) << x;
        EXPECT_EQ(alphaAt(*icon, x, 12), 255) << x;
        EXPECT_NEAR(alphaAt(*icon, x, 13), 128, 2) << x;
        EXPECT_EQ(alphaAt(*icon, x, 14), 0) << x;
    }
}

TEST(Resample, UsesPixelSizeOfHighResolutionImages) {
    QImage image = solid(200, 100, Qt::red);
    image.setDevicePixelRatio(2.0);
    const auto icon = IcnsFamily::resampleImage(image, 64, ImageInterpolation::High);
    ASSERT_TRUE(icon);
    EXPECT_EQ(alphaAt(*icon, 32, 15), 0);
    EXPECT_EQ(alphaAt(*icon, 32, 16), 255);
    EXPECT_EQ(alphaAt(*icon, 32, 47), 255);
    EXPECT_EQ(alphaAt(*icon, 32, 48), 0);
}

TEST(Resample, KeepsTransparencyOfTheSource) {
    QImage image = solid(64, 64, QColor(0, 0, 255, 0));
    for (int y = 16; y < 48; ++y)
        for (int x = 16; x < 48; ++x) image.setPixelColor(x, y, QColor(255, 255, 0, 255));
    const auto icon = IcnsFamily::resampleImage(image, 32, ImageInterpolation::High);
    ASSERT_TRUE(icon);
    EXPECT_EQ(alphaAt(*icon, 2, 2), 0);
    EXPECT_EQ(QColor(icon->pixel(16, 16)), QColor(255, 255, 0));
}

TEST(Resample, ThinSliverKeepsOneRow) {
    const auto icon =
        IcnsFamily::resampleImage(solid(1000, 1, Qt::black), 16, ImageInterpolation::High);
    ASSERT_TRUE(icon);
    int covered = 0;
    for (int y = 0; y < 16; ++y) covered += alphaAt(*icon, 8, y);
    EXPECT_GT(covered, 0);
}

TEST(Resample, RefusesNullImagesAndSizes) {
    EXPECT_FALSE(IcnsFamily::resampleImage(QImage(), 16, ImageInterpolation::High));
    EXPECT_FALSE(IcnsFamily::resampleImage(solid(4, 4, Qt::red), 0, ImageInterpolation::High));
}

TEST(Resample, HandlesPalettedAndGreyImages) {
    QImage grey(40, 20, QImage::Format_Grayscale8);
    grey.fill(100);
    QImage indexed = solid(20, 40, Qt::red).convertToFormat(QImage::Format_Indexed8);
    for (const QImage& image : {grey, indexed}) {
        const auto icon = IcnsFamily::resampleImage(image, 16, ImageInterpolation::High);
        ASSERT_TRUE(icon);
        EXPECT_EQ(alphaAt(*icon, 8, 8), 255);
    }
}

}  // namespace
}  // namespace vynd
