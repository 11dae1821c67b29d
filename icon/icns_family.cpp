// An icon family: making one, setting and reading its elements, writing it out.
#include "icon/icns_family.h"

#include <QFile>
#include <QFileInfo>
#include <QPixmap>

#include "icon/icns_container.h"
#include "icon/icon_log.h"
#include "platform/property_list.h"

namespace vynd {

namespace {

// Icon files are small; this bounds what a damaged or hostile path can make us read.
constexpr qint64 kMaxIconFileSize = qint64(256) << 20;

using Conversion = std::optional<QByteArray> (*)(const BitmapImageRep&, int);

struct SetterRow {
    OSType type;
    Conversion conversion;
    int pixelSize;
};

constexpr SetterRow kSetterTable[] = {
    {kIconServices512PixelDataARGB, &IcnsFamily::get32BitDataFromBitmapImageRep, 512},
    {kIconServices256PixelDataARGB, &IcnsFamily::get32BitDataFromBitmapImageRep, 256},
    {kThumbnail32BitData, &IcnsFamily::get32BitDataFromBitmapImageRep, 128},
    {kLarge32BitData, &IcnsFamily::get32BitDataFromBitmapImageRep, 32},
    {kSmall32BitData, &IcnsFamily::get32BitDataFromBitmapImageRep, 16},
    {kThumbnail8BitMask, &IcnsFamily::get8BitMaskFromBitmapImageRep, 128},
    {kLarge8BitMask, &IcnsFamily::get8BitMaskFromBitmapImageRep, 32},
    {kSmall8BitMask, &IcnsFamily::get8BitMaskFromBitmapImageRep, 16},
    {kLarge8BitData, &IcnsFamily::get8BitDataFromBitmapImageRep, 32},
    {kSmall8BitData, &IcnsFamily::get8BitDataFromBitmapImageRep, 16},
    {kLarge1BitMask, &IcnsFamily::get1BitMaskFromBitmapImageRep, 32},
    {kSmall1BitMask, &IcnsFamily::get1BitMaskFromBitmapImageRep, 16},
};

struct ReadableRow {
    OSType type;
    OSType maskType;  // 0: the element carries its own alpha
    int pixelSize;
};

constexpr ReadableRow kReadableTable[] = {
    {kIconServices512PixelDataARGB, 0, 512},        {kIconServices256PixelDataARGB, 0, 256},
    {kThumbnail32BitData, kThumbnail8BitMask, 128}, {kHuge32BitData, kHuge8BitMask, 48},
    {kLarge32BitData, kLarge8BitMask, 32},          {kSmall32BitData, kSmall8BitMask, 16},
};

// The elements set from each size after the first, in order.
struct ThumbnailStep {
    int size;
    OSType types[4];
};

constexpr ThumbnailStep kThumbnailSteps[] = {
    {256, {kIconServices256PixelDataARGB, 0, 0, 0}},
    {128, {kThumbnail32BitData, kThumbnail8BitMask, 0, 0}},
    {32, {kLarge32BitData, kLarge8BitData, kLarge8BitMask, kLarge1BitMask}},
    {16, {kSmall32BitData, kSmall8BitData, kSmall8BitMask, kSmall1BitMask}},
};

// Draws the image and reads back its pixels as a 32-bit RGBA bitmap; no value if the read-back
// does not cover the full size x size square.
std::optional<BitmapImageRep> captureBitmap(const QImage& image, int size) {
    BitmapImageRep bitmap = BitmapImageRep::fromImage(image);
    if (bitmap.pixelsWide != size || bitmap.pixelsHigh != size)
        return std::nullopt;
    return bitmap;
}

template <typename Init>
std::optional<IcnsFamily> make(Init init) {
    IcnsFamily family;
    if (!init(family))
        return std::nullopt;
    return family;
}

}  // namespace

std::optional<IcnsFamily> IcnsFamily::iconFamily() {
    return make([](IcnsFamily& f) { return f.init(); });
}

std::optional<IcnsFamily> IcnsFamily::iconFamilyWithContentsOfFile(const QString& path) {
    return make([&](IcnsFamily& f) { return f.initWithContentsOfFile(path); });
}

std::optional<IcnsFamily> IcnsFamily::iconFamilyWithIconOfFile(const QString& path) {
    return make([&](IcnsFamily& f) { return f.initWithIconOfFile(path); });
}

std::optional<IcnsFamily> IcnsFamily::iconFamilyWithIconFamilyHandle(QByteArray handle) {
    return make([&](IcnsFamily& f) { return f.initWithIconFamilyHandle(std::move(handle)); });
}

std::optional<IcnsFamily> IcnsFamily::iconFamilyWithSystemIcon(OSType type) {
    return make([&](IcnsFamily& f) { return f.initWithSystemIcon(type); });
}

std::optional<IcnsFamily> IcnsFamily::iconFamilyWithThumbnailsOfImage(const QImage& image) {
    return make([&](IcnsFamily& f) { return f.initWithThumbnailsOfImage(image); });
}

std::optional<IcnsFamily> IcnsFamily::iconFamilyWithThumbnailsOfImage(
    const QImage& image, ImageInterpolation usingImageInterpolation) {
    return make(
        [&](IcnsFamily& f) { return f.initWithThumbnailsOfImage(image, usingImageInterpolation); });
}

bool IcnsFamily::init() {
    hIconFamily = QByteArray();
    return true;
}

bool IcnsFamily::initWithData(const QByteArray& data) {
    hIconFamily = data;
    return true;
}

bool IcnsFamily::initWithIconFamilyHandle(QByteArray handle) {
    hIconFamily = std::move(handle);
    return true;
}

bool IcnsFamily::initWithContentsOfFile(const QString& path) {
    hIconFamily = QByteArray();
    // Only regular files: opening a pipe or a device could block or never end.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() > kMaxIconFileSize)
        return false;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    // Only a whole, well-formed container (an empty file is none).
    if (bytes.isEmpty() || !parseIcnsContainer(bytes))
        return false;
    hIconFamily = std::move(bytes);
    return true;
}

bool IcnsFamily::initWithIconOfFile(const QString&) {
    hIconFamily = QByteArray();
    return false;
}

bool IcnsFamily::initWithSystemIcon(OSType) {
    hIconFamily = QByteArray();
    return false;
}

bool IcnsFamily::initWithThumbnailsOfImage(const QImage& image) {
    return initWithThumbnailsOfImage(image, ImageInterpolation::High);
}

bool IcnsFamily::initWithThumbnailsOfImage(const QImage& image,
                                           ImageInterpolation usingImageInterpolation) {
    if (!init())
        return false;
    std::optional<QImage> image512 = resampleImage(image, 512, usingImageInterpolation);
    if (!image512)
        return false;
    std::optional<BitmapImageRep> bitmap512 = captureBitmap(*image512, 512);
    if (!bitmap512) {
        hIconFamily = QByteArray();
        return false;
    }
    // Each failure below is logged by the setter and costs only that element.
    (void)setIconFamilyElement(kIconServices512PixelDataARGB, *bitmap512);
    // Every smaller size comes from the 512 image, so the source is scaled once.
    for (const ThumbnailStep& step : kThumbnailSteps) {
        std::optional<QImage> scaled = resampleImage(*image512, step.size, usingImageInterpolation);
        if (!scaled)
            continue;
        std::optional<BitmapImageRep> bitmap = captureBitmap(*scaled, step.size);
        if (!bitmap)
            continue;
        for (OSType type : step.types) {
            if (type != 0)
                (void)setIconFamilyElement(type, *bitmap);
        }
    }
    return true;
}

bool IcnsFamily::setIconFamilyElement(OSType type, const BitmapImageRep& fromBitmapImageRep) {
    const SetterRow* found = nullptr;
    for (const SetterRow& row : kSetterTable) {
        if (row.type == type)
            found = &row;
    }
    if (!found)
        return false;
    std::optional<QByteArray> data = found->conversion(fromBitmapImageRep, found->pixelSize);
    if (!data) {
        logIconMessage("Null data returned to setIconFamilyElement:fromBitmapImageRep:");
        return false;
    }
    const int result = setIconFamilyData(hIconFamily, type, *data);
    if (result != kNoErr) {
        logIconMessage("SetIconFamilyData() returned error " + std::to_string(result));
        return false;
    }
    return true;
}

std::optional<BitmapImageRep> IcnsFamily::bitmapImageRepWithAlphaForIconFamilyElement(
    OSType type) const {
    const ReadableRow* found = nullptr;
    for (const ReadableRow& row : kReadableTable) {
        if (row.type == type)
            found = &row;
    }
    if (!found)
        return std::nullopt;
    std::optional<QByteArray> argb = getIconFamilyData(hIconFamily, type);
    if (!argb)
        return std::nullopt;
    const qsizetype pixels = qsizetype(found->pixelSize) * found->pixelSize;
    if (argb->size() != pixels * 4)
        return std::nullopt;
    if (found->maskType != 0) {
        std::optional<QByteArray> mask = getIconFamilyData(hIconFamily, found->maskType);
        char* p = argb->data();
        for (qsizetype i = 0; i < pixels; ++i) {
            p[i * 4] = mask && mask->size() == pixels ? char(p[i * 4] | (*mask)[i]) : char(0xFF);
        }
    }
    BitmapImageRep bitmap;
    bitmap.pixelsWide = bitmap.pixelsHigh = found->pixelSize;
    bitmap.bitsPerSample = 8;
    bitmap.samplesPerPixel = 4;
    bitmap.bitsPerPixel = 32;
    bitmap.alphaFirst = true;
    bitmap.alphaNonpremultiplied = true;
    bitmap.bytesPerRow = found->pixelSize * 4;
    bitmap.bitmapData = std::move(*argb);
    return bitmap;
}

bool IcnsFamily::writeToFile(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(hIconFamily) == hIconFamily.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

bool IcnsFamily::writeToURL(const QUrl& url) const {
    if (!url.isValid() || !url.isLocalFile())
        return false;
    const QString path = url.toLocalFile();
    if (path.isEmpty())
        return false;
    const std::string bytes(hIconFamily.constData(), std::size_t(hIconFamily.size()));
    return write_file_atomically(path.toStdString(), bytes);
}

QIcon IcnsFamily::imageWithAllReps() const {
    QIcon icon;
    for (const ReadableRow& row : kReadableTable) {
        std::optional<BitmapImageRep> bitmap =
            bitmapImageRepWithAlphaForIconFamilyElement(row.type);
        if (!bitmap)
            continue;
        const QPixmap pixmap = QPixmap::fromImage(bitmap->toImage());
        if (!pixmap.isNull())
            icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace vynd
