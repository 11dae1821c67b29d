// Conversions of bitmaps into element data, and the resampling of images to icon squares.
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "icon/icns_family.h"
#include "icon/icon_log.h"
#include "icon/mac_palette.h"

namespace vynd {

namespace {

enum class Layout { Rgb24, Rgba32, Gray8, Bit1, Other };

Layout layoutOf(const BitmapImageRep& b) {
    if (b.bitsPerSample == 8) {
        if (b.samplesPerPixel == 3 && b.bitsPerPixel == 24)
            return Layout::Rgb24;
        if (b.samplesPerPixel == 4 && b.bitsPerPixel == 32)
            return Layout::Rgba32;
        if (b.samplesPerPixel == 1 && b.bitsPerPixel == 8)
            return Layout::Gray8;
    }
    if (b.bitsPerSample == 1 && b.samplesPerPixel == 1 && b.bitsPerPixel == 1)
        return Layout::Bit1;
    return Layout::Other;
}

// The size and planar checks every conversion starts with; logs the planar refusal.
bool passesCommonChecks(const BitmapImageRep& b, int n, const char* operation) {
    if (n <= 0 || b.pixelsWide != n || b.pixelsHigh != n)
        return false;
    if (b.isPlanar) {
        logIconMessage(std::string(operation) + " returning NULL due to isPlanar == YES");
        return false;
    }
    return true;
}

const unsigned char* row(const BitmapImageRep& b, int y) {
    return reinterpret_cast<const unsigned char*>(b.bitmapData.constData()) +
           qsizetype(y) * b.bytesPerRow;
}

// Offsets of the samples within a 32-bit pixel.
struct Rgba32Offsets {
    int red, green, blue, alpha;
};

Rgba32Offsets offsetsOf(const BitmapImageRep& b) {
    return b.alphaFirst ? Rgba32Offsets{1, 2, 3, 0} : Rgba32Offsets{0, 1, 2, 3};
}

// The picture moved right (or down) by half a pixel, one pixel larger: each pixel is the
// mean of the two it now straddles, with transparency beyond the edges.
QImage shiftedByHalfPixel(const QImage& image, bool horizontal) {
    const int w = image.width();
    const int h = image.height();
    QImage out(horizontal ? w + 1 : w, horizontal ? h : h + 1, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return out;
    auto pixel = [&](int x, int y) -> QRgb {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return 0;
        return reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
    };
    auto mean = [](QRgb a, QRgb b) {
        return qRgba((qRed(a) + qRed(b) + 1) / 2, (qGreen(a) + qGreen(b) + 1) / 2,
                     (qBlue(a) + qBlue(b) + 1) / 2, (qAlpha(a) + qAlpha(b) + 1) / 2);
    };
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            line[x] = horizontal ? mean(pixel(x - 1, y), pixel(x, y))
                                 : mean(pixel(x, y - 1), pixel(x, y));
        }
    }
    return out;
}

unsigned char unpremultiply(unsigned char sample, float factor) {
    // Damaged premultiplied data may hold colour above alpha.
    return static_cast<unsigned char>(std::min(255.0f, float(sample) * factor));
}

}  // namespace

std::optional<QByteArray> IcnsFamily::get32BitDataFromBitmapImageRep(const BitmapImageRep& bitmap,
                                                                     int requiredPixelSize) {
    const int n = requiredPixelSize;
    if (!passesCommonChecks(bitmap, n, "get32BitDataFromBitmapImageRep:requiredPixelSize:")) {
        return std::nullopt;
    }
    const Layout layout = layoutOf(bitmap);
    if (layout != Layout::Rgb24 && layout != Layout::Rgba32)
        return std::nullopt;
    if (!bitmap.holdsDescribedRows())
        return std::nullopt;
    QByteArray out(qsizetype(n) * n * 4, Qt::Uninitialized);
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    const Rgba32Offsets o = offsetsOf(bitmap);
    for (int y = 0; y < n; ++y) {
        const unsigned char* p = row(bitmap, y);
        for (int x = 0; x < n; ++x, dst += 4) {
            if (layout == Layout::Rgb24) {
                dst[0] = 255;
                dst[1] = p[0];
                dst[2] = p[1];
                dst[3] = p[2];
                p += 3;
                continue;
            }
            const unsigned char alpha = p[o.alpha];
            if (alpha == 0) {
                dst[0] = dst[1] = dst[2] = dst[3] = 0;
            } else if (bitmap.alphaNonpremultiplied) {
                dst[0] = alpha;
                dst[1] = p[o.red];
                dst[2] = p[o.green];
                dst[3] = p[o.blue];
            } else {
                const float factor = 255.0f / float(alpha);
                dst[0] = alpha;
                dst[1] = unpremultiply(p[o.red], factor);
                dst[2] = unpremultiply(p[o.green], factor);
                dst[3] = unpremultiply(p[o.blue], factor);
            }
            p += 4;
        }
    }
    return out;
}

std::optional<QByteArray> IcnsFamily::get8BitDataFromBitmapImageRep(const BitmapImageRep& bitmap,
                                                                    int requiredPixelSize) {
    const int n = requiredPixelSize;
    if (!passesCommonChecks(bitmap, n, "get8BitDataFromBitmapImageRep:requiredPixelSize:")) {
        return std::nullopt;
    }
    if (bitmap.bitsPerSample != 8) {
        logIconMessage(
            "get8BitDataFromBitmapImageRep:requiredPixelSize: returning NULL due to "
            "bitsPerSample == " +
            std::to_string(bitmap.bitsPerSample));
        return std::nullopt;
    }
    const Layout layout = layoutOf(bitmap);
    if (layout != Layout::Rgb24 && layout != Layout::Rgba32)
        return std::nullopt;
    if (!bitmap.holdsDescribedRows())
        return std::nullopt;
    const int step = layout == Layout::Rgb24 ? 3 : 4;
    const Rgba32Offsets o = layout == Layout::Rgb24 ? Rgba32Offsets{0, 1, 2, 0} : offsetsOf(bitmap);
    QByteArray out(qsizetype(n) * n, Qt::Uninitialized);
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    for (int y = 0; y < n; ++y) {
        const unsigned char* p = row(bitmap, y);
        for (int x = 0; x < n; ++x, p += step) {
            *dst++ = nearestMacIconPaletteIndex(p[o.red], p[o.green], p[o.blue]);
        }
    }
    return out;
}

std::optional<QByteArray> IcnsFamily::get8BitMaskFromBitmapImageRep(const BitmapImageRep& bitmap,
                                                                    int requiredPixelSize) {
    const int n = requiredPixelSize;
    if (!passesCommonChecks(bitmap, n, "get8BitMaskFromBitmapImageRep:requiredPixelSize:")) {
        return std::nullopt;
    }
    const Layout layout = layoutOf(bitmap);
    if (layout != Layout::Rgb24 && layout != Layout::Rgba32 && layout != Layout::Gray8) {
        return std::nullopt;
    }
    if (!bitmap.holdsDescribedRows())
        return std::nullopt;
    QByteArray out(qsizetype(n) * n, char(0xFF));
    if (layout == Layout::Rgb24)
        return out;
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    const int alpha = offsetsOf(bitmap).alpha;
    for (int y = 0; y < n; ++y) {
        const unsigned char* p = row(bitmap, y);
        for (int x = 0; x < n; ++x) {
            *dst++ = layout == Layout::Gray8 ? p[x] : p[x * 4 + alpha];
        }
    }
    return out;
}

std::optional<QByteArray> IcnsFamily::get1BitMaskFromBitmapImageRep(const BitmapImageRep& bitmap,
                                                                    int requiredPixelSize) {
    const int n = requiredPixelSize;
    if (!passesCommonChecks(bitmap, n, "get1BitMaskFromBitmapImageRep:requiredPixelSize:")) {
        return std::nullopt;
    }
    // Rows of whole bytes only: the element packs 8 pixels to a byte.
    if (n % 8 != 0)
        return std::nullopt;
    const Layout layout = layoutOf(bitmap);
    if (layout == Layout::Other)
        return std::nullopt;
    if (!bitmap.holdsDescribedRows())
        return std::nullopt;
    const qsizetype half = qsizetype(n) * n / 8;
    QByteArray out(half * 2, char(0xFF));
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    const int rowBytes = n / 8;
    if (layout != Layout::Rgb24) {
        // A 32-bit pixel counts as opaque by its alpha: testing a colour sample would drop
        // opaque pixels that lack that colour.
        const int step = layout == Layout::Rgba32 ? 4 : 1;
        const int tested = layout == Layout::Rgba32 ? offsetsOf(bitmap).alpha : 0;
        for (int y = 0; y < n; ++y) {
            const unsigned char* p = row(bitmap, y);
            unsigned char* line = dst + qsizetype(y) * rowBytes;
            if (layout == Layout::Bit1) {
                std::copy(p, p + rowBytes, line);
                continue;
            }
            for (int byte = 0; byte < rowBytes; ++byte) {
                unsigned char bits = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    if (p[(byte * 8 + bit) * step + tested] != 0)
                        bits |= 0x80 >> bit;
                }
                line[byte] = bits;
            }
        }
    }
    std::copy(dst, dst + half, dst + half);
    return out;
}

std::optional<QImage> IcnsFamily::resampleImage(const QImage& image, int toIconWidth,
                                                ImageInterpolation usingImageInterpolation) {
    const int w = image.width();
    const int h = image.height();
    const int size = toIconWidth;
    if (image.isNull() || w <= 0 || h <= 0 || size <= 0)
        return std::nullopt;
    // Pixels, not points: a high-resolution image is fitted by its pixel size.
    QImage source = image;
    source.setDevicePixelRatio(1.0);
    float newWidth;
    float newHeight;
    if (w >= h) {
        newWidth = float(size);
        newHeight = float(std::floor(double(size) * h / w + 0.5));
    } else {
        newHeight = float(size);
        newWidth = float(std::floor(double(size) * w / h + 0.5));
    }
    // A sliver of an image keeps one row or column rather than vanishing.
    newWidth = std::max(newWidth, 1.0f);
    newHeight = std::max(newHeight, 1.0f);
    const bool smooth = usingImageInterpolation != ImageInterpolation::None;
    // Scaling with the area-averaging scaler keeps detail that a single bilinear draw of a much
    // larger image would alias.
    QImage scaled = source
                        .scaled(int(newWidth), int(newHeight), Qt::IgnoreAspectRatio,
                                smooth ? Qt::SmoothTransformation : Qt::FastTransformation)
                        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (scaled.isNull())
        return std::nullopt;
    // The offsets are not rounded: an odd margin leaves a half pixel, which the raster painter
    // would snap to the grid, so the picture is shifted by it here.
    const float left = (float(size) - newWidth) * 0.5f;
    const float top = (float(size) - newHeight) * 0.5f;
    if (left != std::floor(left))
        scaled = shiftedByHalfPixel(scaled, true);
    if (top != std::floor(top))
        scaled = shiftedByHalfPixel(scaled, false);
    if (scaled.isNull())
        return std::nullopt;
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    if (icon.isNull())
        return std::nullopt;
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter.drawImage(QPointF(std::floor(left), std::floor(top)), scaled);
    painter.end();
    return icon;
}

}  // namespace vynd
