// The container's own encodings of element data: run-length encoded colour channels and PNG.
#include "icon/icns_element_codec.h"

#include <QBuffer>
#include <QImage>

namespace vynd {

namespace {

constexpr int kMaxLiteral = 128;
constexpr int kMinRepeat = 3;
constexpr int kMaxRepeat = 130;

// Packs one channel of ARGB pixels. With expandFirstRepeat the first repeat run is written as
// a literal run of its own, which makes the result longer by at least two bytes.
void packChannel(const unsigned char* argb, int pixelCount, int channel, bool expandFirstRepeat,
                 QByteArray& out) {
    auto at = [&](int i) { return argb[std::size_t(i) * 4 + std::size_t(channel)]; };
    QByteArray literal;
    auto flush = [&] {
        if (literal.isEmpty())
            return;
        out.append(char(literal.size() - 1));
        out.append(literal);
        literal.clear();
    };
    bool expanded = !expandFirstRepeat;
    int i = 0;
    while (i < pixelCount) {
        int run = 1;
        while (i + run < pixelCount && run < kMaxRepeat && at(i + run) == at(i)) ++run;
        if (run >= kMinRepeat) {
            flush();
            if (!expanded) {
                for (int k = 0; k < run; ++k) literal.append(char(at(i)));
                flush();
                expanded = true;
            } else {
                out.append(char(0x80 + run - kMinRepeat));
                out.append(char(at(i)));
            }
            i += run;
        } else {
            literal.append(char(at(i)));
            if (literal.size() == kMaxLiteral)
                flush();
            ++i;
        }
    }
    flush();
}

QByteArray encodePNG(const QByteArray& argb, int n) {
    QImage image(n, n, QImage::Format_ARGB32);
    const auto* p = reinterpret_cast<const unsigned char*>(argb.constData());
    for (int y = 0; y < n; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < n; ++x, p += 4) line[x] = qRgba(p[1], p[2], p[3], p[0]);
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // A middle zlib level: the default one takes several times as long for a tenth less size,
    // and a 512 image is encoded on every build.
    constexpr int kPngQuality = 50;
    if (!image.save(&buffer, "PNG", kPngQuality))
        return {};
    return png;
}

std::optional<QByteArray> decodeCompressedImage(const QByteArray& stored, int n) {
    QImage image = QImage::fromData(stored);
    if (image.isNull() || image.width() != n || image.height() != n)
        return std::nullopt;
    image = image.convertToFormat(QImage::Format_ARGB32);
    QByteArray argb(qsizetype(n) * n * 4, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(argb.data());
    for (int y = 0; y < n; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < n; ++x, out += 4) {
            out[0] = uchar(qAlpha(line[x]));
            out[1] = uchar(qRed(line[x]));
            out[2] = uchar(qGreen(line[x]));
            out[3] = uchar(qBlue(line[x]));
        }
    }
    return argb;
}

}  // namespace

QByteArray packARGBChannels(const QByteArray& argb, int pixelCount) {
    const auto* pixels = reinterpret_cast<const unsigned char*>(argb.constData());
    QByteArray channels[3];
    qsizetype total = 0;
    for (int c = 0; c < 3; ++c) {
        packChannel(pixels, pixelCount, c + 1, false, channels[c]);
        total += channels[c].size();
    }
    // Readers take an element exactly as long as the unpacked channels for uncompressed
    // interleaved colour, so never write one of that length.
    if (total == qsizetype(pixelCount) * 3) {
        for (int c = 0; c < 3; ++c) {
            QByteArray longer;
            packChannel(pixels, pixelCount, c + 1, true, longer);
            if (longer.size() != channels[c].size()) {
                channels[c] = longer;
                break;
            }
        }
    }
    return channels[0] + channels[1] + channels[2];
}

std::optional<QByteArray> unpackARGBChannels(const QByteArray& packed, int pixelCount) {
    const std::size_t total = std::size_t(pixelCount) * 3;
    QByteArray argb(qsizetype(pixelCount) * 4, '\0');
    auto* out = reinterpret_cast<unsigned char*>(argb.data());
    auto put = [&](std::size_t k, unsigned char value) {
        // k counts bytes over the three channels; each channel fills one sample of every pixel.
        out[(k % std::size_t(pixelCount)) * 4 + 1 + k / std::size_t(pixelCount)] = value;
    };
    const auto* in = reinterpret_cast<const unsigned char*>(packed.constData());
    const std::size_t size = std::size_t(packed.size());
    std::size_t pos = 0;
    std::size_t done = 0;
    while (done < total) {
        if (pos >= size)
            return std::nullopt;
        const unsigned char control = in[pos++];
        if (control & 0x80) {
            const std::size_t run = std::size_t(control) - 0x80 + kMinRepeat;
            if (pos >= size || done + run > total)
                return std::nullopt;
            const unsigned char value = in[pos++];
            for (std::size_t k = 0; k < run; ++k) put(done++, value);
        } else {
            const std::size_t run = std::size_t(control) + 1;
            if (pos + run > size || done + run > total)
                return std::nullopt;
            for (std::size_t k = 0; k < run; ++k) put(done++, in[pos++]);
        }
    }
    return argb;
}

std::optional<QByteArray> encodeIconElement(OSType type, const QByteArray& data) {
    const ElementKind kind = elementKind(type);
    if (kind.form == ElementForm::Unknown)
        return data;
    if (std::size_t(data.size()) != elementDataSize(kind))
        return std::nullopt;
    if (kind.form != ElementForm::ARGB32)
        return data;
    const int n = kind.pixelSize;
    if (n >= 256) {
        QByteArray png = encodePNG(data, n);
        if (png.isEmpty())
            return std::nullopt;
        return png;
    }
    QByteArray stored;
    if (type == kThumbnail32BitData)
        stored = QByteArray(4, '\0');
    stored += packARGBChannels(data, n * n);
    return stored;
}

std::optional<QByteArray> decodeIconElement(OSType type, const QByteArray& stored) {
    const ElementKind kind = elementKind(type);
    if (kind.form == ElementForm::Unknown)
        return stored;
    if (kind.form != ElementForm::ARGB32) {
        if (std::size_t(stored.size()) != elementDataSize(kind))
            return std::nullopt;
        return stored;
    }
    const int n = kind.pixelSize;
    if (n >= 256)
        return decodeCompressedImage(stored, n);
    QByteArray body = stored;
    if (type == kThumbnail32BitData) {
        if (body.size() < 4)
            return std::nullopt;
        body.remove(0, 4);
    }
    const qsizetype pixels = qsizetype(n) * n;
    // Some writers store these uncompressed, interleaved, with or without alpha.
    if (body.size() == pixels * 4)
        return body;
    if (body.size() == pixels * 3) {
        QByteArray argb(pixels * 4, '\0');
        for (qsizetype i = 0; i < pixels; ++i) {
            argb[i * 4 + 1] = body[i * 3];
            argb[i * 4 + 2] = body[i * 3 + 1];
            argb[i * 4 + 3] = body[i * 3 + 2];
        }
        return argb;
    }
    return unpackARGBChannels(body, int(pixels));
}

}  // namespace vynd
