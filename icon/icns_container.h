// The icns container: a big-endian header and a sequence of typed, length-prefixed elements.
#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

#include "icon/icns_types.h"

namespace vynd {

// One element as the container stores it (its own encoding, without the 8-byte header).
struct IcnsElement {
    OSType type = 0;
    QByteArray data;
};

// Error codes of the family store, in the platform's numbering.
inline constexpr int kNoErr = 0;
inline constexpr int kParamErr = -50;  // damaged family, or data of the wrong size for its type

// The elements of a container in their order. Zero bytes are an empty family. No value when
// the header is not "icns", its length disagrees with the bytes, or an element overruns.
[[nodiscard]] std::optional<std::vector<IcnsElement>> parseIcnsContainer(const QByteArray& bytes);

// The container holding those elements; no value if it would outgrow the 32-bit length.
[[nodiscard]] std::optional<QByteArray> buildIcnsContainer(
    const std::vector<IcnsElement>& elements);

// Stores handed-over element data in the family, encoded as the type requires, replacing an
// element of that type in place or appending it. Returns kNoErr or an error code.
[[nodiscard]] int setIconFamilyData(QByteArray& family, OSType type, const QByteArray& data);

// The handed-over form of one element; no value if the family lacks it or it is damaged.
[[nodiscard]] std::optional<QByteArray> getIconFamilyData(const QByteArray& family, OSType type);

}  // namespace vynd
