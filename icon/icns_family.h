// One Mac icon family (the icns container) and the builder that makes one from any image.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QString>
#include <QUrl>

#include <optional>

#include "icon/bitmap_image_rep.h"
#include "icon/icns_types.h"

namespace vynd {

// The drawing layer's interpolation codes; thumbnails are drawn with High.
enum class ImageInterpolation { Default = 0, None = 1, Low = 2, High = 3, Medium = 4 };

// Messages go to Qt's warning channel (standard error unless the program installs a handler).
class IcnsFamily {
  public:
    // An empty family, as after init.
    IcnsFamily() = default;

    // Making a family. Each gives no value where its initialiser fails.
    [[nodiscard]] static std::optional<IcnsFamily> iconFamily();
    [[nodiscard]] static std::optional<IcnsFamily> iconFamilyWithContentsOfFile(
        const QString& path);
    [[nodiscard]] static std::optional<IcnsFamily> iconFamilyWithIconOfFile(const QString& path);
    [[nodiscard]] static std::optional<IcnsFamily> iconFamilyWithIconFamilyHandle(
        QByteArray handle);
    [[nodiscard]] static std::optional<IcnsFamily> iconFamilyWithSystemIcon(OSType type);
    [[nodiscard]] static std::optional<IcnsFamily> iconFamilyWithThumbnailsOfImage(
        const QImage& image);
    [[nodiscard]] static std::optional<IcnsFamily> iconFamilyWithThumbnailsOfImage(
        const QImage& image, ImageInterpolation usingImageInterpolation);

    // Initialisers: each makes this object anew and returns false where the object would be
    // given up; the object is then an empty family.
    [[nodiscard]] bool init();
    [[nodiscard]] bool initWithData(const QByteArray& data);
    [[nodiscard]] bool initWithIconFamilyHandle(QByteArray handle);
    [[nodiscard]] bool initWithContentsOfFile(const QString& path);
    // Linux keeps no per-file icons or system icons in this format: these always fail.
    [[nodiscard]] bool initWithIconOfFile(const QString& path);
    [[nodiscard]] bool initWithSystemIcon(OSType type);
    [[nodiscard]] bool initWithThumbnailsOfImage(const QImage& image);
    [[nodiscard]] bool initWithThumbnailsOfImage(const QImage& image,
                                                 ImageInterpolation usingImageInterpolation);

    // Converts the bitmap into the element's data and stores it, replacing an element of that
    // type. False for a type this family cannot set (silently) or a bitmap that does not fit.
    [[nodiscard]] bool setIconFamilyElement(OSType type, const BitmapImageRep& fromBitmapImageRep);

    // One 32-bit element as an N x N ARGB bitmap (not premultiplied) with its mask applied.
    [[nodiscard]] std::optional<BitmapImageRep> bitmapImageRepWithAlphaForIconFamilyElement(
        OSType type) const;

    // The container bytes.
    [[nodiscard]] QByteArray data() const { return hIconFamily; }

    // Writes the bytes to the path in place.
    [[nodiscard]] bool writeToFile(const QString& path) const;
    // Writes the bytes to a file URL through a temporary file renamed into place, so the old
    // file stays whole until the new one is.
    [[nodiscard]] bool writeToURL(const QUrl& url) const;

    // Every readable size as one icon. Needs a QGuiApplication.
    [[nodiscard]] QIcon imageWithAllReps() const;

    // Conversions of a bitmap of exactly N x N pixels into element data.
    [[nodiscard]] static std::optional<QByteArray> get32BitDataFromBitmapImageRep(
        const BitmapImageRep& bitmap, int requiredPixelSize);
    [[nodiscard]] static std::optional<QByteArray> get8BitDataFromBitmapImageRep(
        const BitmapImageRep& bitmap, int requiredPixelSize);
    [[nodiscard]] static std::optional<QByteArray> get8BitMaskFromBitmapImageRep(
        const BitmapImageRep& bitmap, int requiredPixelSize);
    [[nodiscard]] static std::optional<QByteArray> get1BitMaskFromBitmapImageRep(
        const BitmapImageRep& bitmap, int requiredPixelSize);
    // The image fitted into a transparent W x W square, aspect kept, centred.
    [[nodiscard]] static std::optional<QImage> resampleImage(
        const QImage& image, int toIconWidth, ImageInterpolation usingImageInterpolation);

    // Custom icons need resource forks and Finder information, which Linux file systems do
    // not have: these report failure.
    [[nodiscard]] bool setAsCustomIconForFile(const QString& path) const;
    [[nodiscard]] bool setAsCustomIconForFile(const QString& path, bool withCompatibility) const;
    [[nodiscard]] bool setAsCustomIconForDirectory(const QString& path) const;
    [[nodiscard]] bool setAsCustomIconForDirectory(const QString& path,
                                                   bool withCompatibility) const;
    [[nodiscard]] static bool removeCustomIconFromFile(const QString& path);
    [[nodiscard]] static bool removeCustomIconFromDirectory(const QString& path);
    [[nodiscard]] bool addResourceType(OSType type, int asResID) const;

    // The clipboard, under the two icns types. Need a QGuiApplication; without one they fail.
    [[nodiscard]] static bool canInitWithScrap();
    [[nodiscard]] static std::optional<IcnsFamily> iconFamilyWithScrap();
    [[nodiscard]] bool initWithScrap();
    [[nodiscard]] bool putOnScrap() const;

  private:
    QByteArray hIconFamily;  // the container; zero bytes for an empty family
};

// The clipboard types, in the order they are offered.
inline constexpr const char* kIcnsPasteboardType = "com.apple.icns";
inline constexpr const char* kIcnsFlavorPasteboardType =
    "'icns' (CorePasteboardFlavorType 0x69636E73)";

}  // namespace vynd
