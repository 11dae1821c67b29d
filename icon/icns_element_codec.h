// The container's own encodings of element data: run-length encoded colour channels and PNG.
#pragma once

#include <QByteArray>

#include <optional>

#include "icon/icns_types.h"

namespace vynd {

// The bytes stored in the container for an element of that type, from the data as the family
// hands it over (see ElementForm). The 32-bit elements of 128 pixels and below become three
// run-length encoded channels (it32 with four zero bytes in front), those of 256 and 512
// pixels a PNG image; all others are stored as they are. No value when the data does not have
// the size the type requires.
[[nodiscard]] std::optional<QByteArray> encodeIconElement(OSType type, const QByteArray& data);

// The reverse: the handed-over form of a stored element. Run-length encoded elements come back
// with alpha 0 in every pixel, as their alpha lives in a separate mask element. No value when
// the stored bytes are damaged or do not fit the type.
[[nodiscard]] std::optional<QByteArray> decodeIconElement(OSType type, const QByteArray& stored);

// The channel coding on its own: each channel (red, green, blue of ARGB pixels) packed in turn.
// A run of 3 to 130 equal bytes is a byte 0x80 + (length - 3) and the value; up to 128 other
// bytes are a byte (count - 1) and the bytes.
[[nodiscard]] QByteArray packARGBChannels(const QByteArray& argb, int pixelCount);

// Unpacks three channels into ARGB pixels with alpha 0; no value when the data runs short.
[[nodiscard]] std::optional<QByteArray> unpackARGBChannels(const QByteArray& packed,
                                                           int pixelCount);

}  // namespace vynd
