// Building an icon family file from an image file in one step, for scripts.
#include "icon_file_builder.h"

#include <QFileInfo>
#include <QImageReader>

#include <cerrno>
#include <cstring>

#include "icns_container.h"
#include "icns_family.h"

namespace vynd {

namespace {

bool fail(std::string* err, const std::string& message) {
    if (err)
        *err = message;
    return false;
}

// The thumbnail builder carries on past a failed element; a file for scripts must be whole.
bool holdsEveryThumbnail(const IcnsFamily& family) {
    static constexpr OSType kExpected[] = {kIconServices512PixelDataARGB,
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
    std::optional<std::vector<IcnsElement>> elements = parseIcnsContainer(family.data());
    if (!elements)
        return false;
    for (OSType type : kExpected) {
        bool present = false;
        for (const IcnsElement& element : *elements) present = present || element.type == type;
        if (!present)
            return false;
    }
    return true;
}

}  // namespace

bool buildIconFile(const std::string& imagePath, const std::string& outputPath, std::string* err) {
    const QString input = QString::fromStdString(imagePath);
    QImageReader reader(input);
    reader.setAutoTransform(true);  // photographs carry their orientation separately
    const QImage image = reader.read();
    if (image.isNull()) {
        return fail(err,
                    "cannot read image " + imagePath + ": " + reader.errorString().toStdString());
    }
    std::optional<IcnsFamily> family = IcnsFamily::iconFamilyWithThumbnailsOfImage(image);
    if (!family || !holdsEveryThumbnail(*family)) {
        return fail(err, "cannot build the icon sizes from " + imagePath);
    }
    if (outputPath.empty())
        return fail(err, "no output file named");
    const QString output = QFileInfo(QString::fromStdString(outputPath)).absoluteFilePath();
    errno = 0;
    if (!family->writeToURL(QUrl::fromLocalFile(output))) {
        const int cause = errno;
        std::string message = "cannot write " + outputPath;
        if (cause != 0)
            message += std::string(": ") + std::strerror(cause);
        return fail(err, message);
    }
    return true;
}

}  // namespace vynd
