// Four-character codes of icon family element types and the pixel sizes they carry.
#pragma once

#include <cstdint>
#include <string>

namespace vynd {

// A four-character code packed big-endian into 32 bits, as the icns format stores it.
using OSType = std::uint32_t;

[[nodiscard]] constexpr OSType fourCharCode(const char (&text)[5]) {
    return (OSType(std::uint8_t(text[0])) << 24) | (OSType(std::uint8_t(text[1])) << 16) |
           (OSType(std::uint8_t(text[2])) << 8) | OSType(std::uint8_t(text[3]));
}

// The code as its four characters (for messages and listings).
[[nodiscard]] std::string fourCharString(OSType type);

inline constexpr OSType kIconFamilyType = fourCharCode("icns");

inline constexpr OSType kIconServices512PixelDataARGB = fourCharCode("ic09");
inline constexpr OSType kIconServices256PixelDataARGB = fourCharCode("ic08");
inline constexpr OSType kThumbnail32BitData = fourCharCode("it32");
inline constexpr OSType kThumbnail8BitMask = fourCharCode("t8mk");
inline constexpr OSType kHuge32BitData = fourCharCode("ih32");
inline constexpr OSType kHuge8BitMask = fourCharCode("h8mk");
inline constexpr OSType kLarge32BitData = fourCharCode("il32");
inline constexpr OSType kLarge8BitMask = fourCharCode("l8mk");
inline constexpr OSType kLarge8BitData = fourCharCode("icl8");
inline constexpr OSType kLarge1BitMask = fourCharCode("ICN#");
inline constexpr OSType kSmall32BitData = fourCharCode("is32");
inline constexpr OSType kSmall8BitMask = fourCharCode("s8mk");
inline constexpr OSType kSmall8BitData = fourCharCode("ics8");
inline constexpr OSType kSmall1BitMask = fourCharCode("ics#");

// How an element's data is handed over by the family (not how the container encodes it).
enum class ElementForm {
    ARGB32,      // N x N x 4 bytes: alpha, red, green, blue, not premultiplied
    Mask8,       // N x N alpha bytes
    Palette8,    // N x N indices into the 8-bit Mac icon palette
    ImageMask1,  // N x N / 8 image bits, then as many mask bits
    Unknown,
};

struct ElementKind {
    ElementForm form = ElementForm::Unknown;
    int pixelSize = 0;  // N; 0 for types this family does not know
};

// The form and size of a known element type; Unknown with size 0 otherwise.
[[nodiscard]] ElementKind elementKind(OSType type);

// Bytes of the handed-over data of an element of that kind (0 when unknown).
[[nodiscard]] std::size_t elementDataSize(ElementKind kind);

}  // namespace vynd
