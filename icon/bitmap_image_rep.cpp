// A described pixel buffer, the form in which icon elements are converted and read back.
#include "icon/bitmap_image_rep.h"

#include <cstring>

namespace vynd {

BitmapImageRep BitmapImageRep::fromImage(const QImage& image) {
    BitmapImageRep rep;
    if (image.isNull()) {
        rep.bitsPerSample = rep.samplesPerPixel = rep.bitsPerPixel = 0;
        return rep;
    }
    // On any host this format stores the bytes R, G, B, A in memory order.
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    rep.pixelsWide = rgba.width();
    rep.pixelsHigh = rgba.height();
    rep.bytesPerRow = rep.pixelsWide * 4;
    rep.bitmapData.resize(qsizetype(rep.bytesPerRow) * rep.pixelsHigh);
    for (int y = 0; y < rep.pixelsHigh; ++y) {
        std::memcpy(rep.bitmapData.data() + qsizetype(y) * rep.bytesPerRow, rgba.constScanLine(y),
                    size_t(rep.bytesPerRow));
    }
    return rep;
}

bool BitmapImageRep::holdsDescribedRows() const {
    if (pixelsWide <= 0 || pixelsHigh <= 0 || bitsPerPixel <= 0 || bytesPerRow <= 0)
        return false;
    const long long rowBits = (long long)pixelsWide * bitsPerPixel;
    const long long rowBytes = (rowBits + 7) / 8;
    if (bytesPerRow < rowBytes)
        return false;
    const long long needed = (long long)bytesPerRow * (pixelsHigh - 1) + rowBytes;
    return bitmapData.size() >= needed;
}

QImage BitmapImageRep::toImage() const {
    if (isPlanar || bitsPerSample != 8 || !holdsDescribedRows())
        return {};
    const bool rgb = samplesPerPixel == 3 && bitsPerPixel == 24;
    const bool rgba = samplesPerPixel == 4 && bitsPerPixel == 32;
    if (!rgb && !rgba)
        return {};
    QImage image(pixelsWide, pixelsHigh,
                 rgb ? QImage::Format_RGB32
                     : (alphaNonpremultiplied ? QImage::Format_ARGB32
                                              : QImage::Format_ARGB32_Premultiplied));
    if (image.isNull())
        return {};
    const auto* bytes = reinterpret_cast<const unsigned char*>(bitmapData.constData());
    for (int y = 0; y < pixelsHigh; ++y) {
        const unsigned char* p = bytes + qsizetype(y) * bytesPerRow;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < pixelsWide; ++x) {
            if (rgb) {
                out[x] = qRgb(p[0], p[1], p[2]);
                p += 3;
            } else if (alphaFirst) {
                out[x] = qRgba(p[1], p[2], p[3], p[0]);
                p += 4;
            } else {
                out[x] = qRgba(p[0], p[1], p[2], p[3]);
                p += 4;
            }
        }
    }
    return image;
}

}  // namespace vynd
