// Building an icon family file from an image file in one step, for scripts.
#include "icon/icon_file_builder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <cerrno>
#include <cstring>

#include "icon/icns_container.h"
#include "icon/icns_family.h"

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

// Opens the image without waiting on a FIFO or a device, and only when it
// is a regular file; the descriptor is then the one read, so what was checked
// is what is decoded.
int openImageFile(const std::string& path, struct stat* st, std::string* why) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        *why = "not a regular file";
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Qt refuses to decode an image whose pixels would take more memory than
// its allocation limit and says only that it could not read the data.
// The size and pixel format come from the header, read before decoding.
// The bits a pixel takes once decoded, as the reader announces it from the
// header. Some image plugins announce a value that is no format at all, and
// Qt's format table must not be read with it.
int announcedDepth(const QImageReader& reader) {
    const int format = static_cast<int>(reader.imageFormat());
    if (format <= QImage::Format_Invalid || format >= QImage::NImageFormats)
        return 32;
    const int depth = QImage::toPixelFormat(static_cast<QImage::Format>(format)).bitsPerPixel();
    return depth > 0 ? depth : 32;
}

std::string decodeFailure(const QImageReader& reader, QSize size, int depth) {
    const qint64 limit = qint64(QImageReader::allocationLimit()) << 20;
    if (size.isValid() && limit > 0) {
        const qint64 bytes = qint64(size.width()) * size.height() * depth / 8;
        if (bytes > limit) {
            return std::to_string(size.width()) + "x" + std::to_string(size.height()) +
                   " pixels take " + std::to_string(bytes >> 20) +
                   " MB when decoded, more than the " +
                   std::to_string(QImageReader::allocationLimit()) +
                   " MB allowed; scale the image down first";
        }
    }
    return reader.errorString().toStdString();
}

}  // namespace

bool buildIconFile(const std::string& imagePath, const std::string& outputPath, std::string* err) {
    struct stat in;
    std::string why;
    const int fd = openImageFile(imagePath, &in, &why);
    if (fd < 0)
        return fail(err, "cannot read image " + imagePath + ": " + why);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return fail(err,
                    "cannot read image " + imagePath + ": " + file.errorString().toStdString());
    }
    if (outputPath.empty())
        return fail(err, "no output file named");
    // The picture is worth more than the icon: never replace it by its own
    // icon, whatever name (or link) the output is given.
    struct stat out;
    if (stat(outputPath.c_str(), &out) == 0 && out.st_dev == in.st_dev && out.st_ino == in.st_ino)
        return fail(err, "will not write " + outputPath + " over the image it is made from");
    QImageReader reader(&file, QFileInfo(QString::fromStdString(imagePath)).suffix().toLatin1());
    reader.setAutoTransform(true);  // photographs carry their orientation separately
    const QSize size = reader.size();
    const int depth = announcedDepth(reader);
    const QImage image = reader.read();
    if (image.isNull())
        return fail(err,
                    "cannot read image " + imagePath + ": " + decodeFailure(reader, size, depth));
    std::optional<IcnsFamily> family = IcnsFamily::iconFamilyWithThumbnailsOfImage(image);
    if (!family || !holdsEveryThumbnail(*family)) {
        return fail(err, "cannot build the icon sizes from " + imagePath);
    }
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
