// The standard 256-colour palette of 8-bit Mac icons and the nearest-colour search over it.
#pragma once

#include <array>
#include <cstdint>

namespace vynd {

struct PaletteColor {
    std::uint8_t red, green, blue;
};

// Index 0 is white, 0-214 the 6x6x6 colour cube without black, then ten shades each of red,
// green, blue and grey, and black at 255.
[[nodiscard]] const std::array<PaletteColor, 256>& macIconPalette();

// The index of the palette colour closest to (red, green, blue) in RGB distance; the lowest
// index wins a tie.
[[nodiscard]] std::uint8_t nearestMacIconPaletteIndex(std::uint8_t red, std::uint8_t green,
                                                      std::uint8_t blue);

}  // namespace vynd
