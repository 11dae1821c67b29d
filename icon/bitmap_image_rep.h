// A described pixel buffer, the form in which icon elements are converted and read back.
#pragma once

#include <QByteArray>
#include <QImage>

namespace vynd {

// The layout fields the conversions check, and the sample bytes. A 32-bit bitmap holds red,
// green, blue and alpha in that order, colour premultiplied by alpha, unless its format flags
// say otherwise; a 24-bit bitmap holds red, green, blue.
struct BitmapImageRep {
    int pixelsWide = 0;
    int pixelsHigh = 0;
    int bitsPerSample = 8;
    int samplesPerPixel = 4;
    int bitsPerPixel = 32;
    bool isPlanar = false;
    bool alphaFirst = false;             // alpha, red, green, blue
    bool alphaNonpremultiplied = false;  // colour not multiplied by alpha
    int bytesPerRow = 0;
    QByteArray bitmapData;

    // The pixels of an image as a 32-bit RGBA bitmap, colour premultiplied, as drawing reads
    // them back. A null image gives an empty bitmap (0 x 0).
    [[nodiscard]] static BitmapImageRep fromImage(const QImage& image);

    // Whether the bitmap data holds every row the layout fields describe.
    [[nodiscard]] bool holdsDescribedRows() const;

    // The bitmap as an image, for 24-bit and 32-bit chunky bitmaps of 8-bit samples; a null
    // image for other layouts.
    [[nodiscard]] QImage toImage() const;
};

}  // namespace vynd
