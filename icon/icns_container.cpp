// The icns container: a big-endian header and a sequence of typed, length-prefixed elements.
#include "icon/icns_container.h"

#include <cstdint>
#include <limits>

#include "icon/icns_element_codec.h"

namespace vynd {

namespace {

constexpr qsizetype kHeaderSize = 8;

std::uint32_t readBigEndian32(const QByteArray& bytes, qsizetype at) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData()) + at;
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

void appendBigEndian32(QByteArray& bytes, std::uint32_t value) {
    const char out[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    bytes.append(out, 4);
}

}  // namespace

std::optional<std::vector<IcnsElement>> parseIcnsContainer(const QByteArray& bytes) {
    std::vector<IcnsElement> elements;
    if (bytes.isEmpty())
        return elements;
    if (bytes.size() < kHeaderSize || readBigEndian32(bytes, 0) != kIconFamilyType) {
        return std::nullopt;
    }
    const qsizetype total = qsizetype(readBigEndian32(bytes, 4));
    if (total != bytes.size())
        return std::nullopt;
    qsizetype at = kHeaderSize;
    while (at < total) {
        if (total - at < kHeaderSize)
            return std::nullopt;
        const OSType type = readBigEndian32(bytes, at);
        const qsizetype length = qsizetype(readBigEndian32(bytes, at + 4));
        if (length < kHeaderSize || length > total - at)
            return std::nullopt;
        elements.push_back({type, bytes.mid(at + kHeaderSize, length - kHeaderSize)});
        at += length;
    }
    return elements;
}

std::optional<QByteArray> buildIcnsContainer(const std::vector<IcnsElement>& elements) {
    qsizetype total = kHeaderSize;
    for (const IcnsElement& element : elements) total += kHeaderSize + element.data.size();
    if (total > qsizetype(std::numeric_limits<std::uint32_t>::max()))
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(total);
    appendBigEndian32(bytes, kIconFamilyType);
    appendBigEndian32(bytes, std::uint32_t(total));
    for (const IcnsElement& element : elements) {
        appendBigEndian32(bytes, element.type);
        appendBigEndian32(bytes, std::uint32_t(kHeaderSize + element.data.size()));
        bytes.append(element.data);
    }
    return bytes;
}

int setIconFamilyData(QByteArray& family, OSType type, const QByteArray& data) {
    std::optional<std::vector<IcnsElement>> elements = parseIcnsContainer(family);
    if (!elements)
        return kParamErr;
    std::optional<QByteArray> stored = encodeIconElement(type, data);
    if (!stored)
        return kParamErr;
    bool replaced = false;
    for (IcnsElement& element : *elements) {
        if (element.type == type) {
            element.data = *stored;
            replaced = true;
            break;
        }
    }
    if (!replaced)
        elements->push_back({type, *stored});
    std::optional<QByteArray> rebuilt = buildIcnsContainer(*elements);
    if (!rebuilt)
        return kParamErr;
    family = *rebuilt;
    return kNoErr;
}

std::optional<QByteArray> getIconFamilyData(const QByteArray& family, OSType type) {
    std::optional<std::vector<IcnsElement>> elements = parseIcnsContainer(family);
    if (!elements)
        return std::nullopt;
    for (const IcnsElement& element : *elements) {
        if (element.type == type)
            return decodeIconElement(type, element.data);
    }
    return std::nullopt;
}

}  // namespace vynd
