// The standard 256-colour palette of 8-bit Mac icons and the nearest-colour search over it.
#include "icon/mac_palette.h"

#include <limits>

namespace vynd {

namespace {

std::array<PaletteColor, 256> makePalette() {
    std::array<PaletteColor, 256> palette{};
    int index = 0;
    // The colour cube runs from white down, red slowest; black is left for the last index.
    static constexpr std::uint8_t kCube[] = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
    for (std::uint8_t r : kCube) {
        for (std::uint8_t g : kCube) {
            for (std::uint8_t b : kCube) {
                if (r == 0 && g == 0 && b == 0)
                    continue;
                palette[index++] = {r, g, b};
            }
        }
    }
    // The ramps hold the levels the cube lacks.
    static constexpr std::uint8_t kRamp[] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88,
                                             0x77, 0x55, 0x44, 0x22, 0x11};
    for (std::uint8_t v : kRamp) palette[index++] = {v, 0, 0};
    for (std::uint8_t v : kRamp) palette[index++] = {0, v, 0};
    for (std::uint8_t v : kRamp) palette[index++] = {0, 0, v};
    for (std::uint8_t v : kRamp) palette[index++] = {v, v, v};
    palette[index] = {0, 0, 0};
    return palette;
}

}  // namespace

const std::array<PaletteColor, 256>& macIconPalette() {
    static const std::array<PaletteColor, 256> palette = makePalette();
    return palette;
}

std::uint8_t nearestMacIconPaletteIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    const auto& palette = macIconPalette();
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (int i = 0; i < 256; ++i) {
        const int dr = int(palette[i].red) - red;
        const int dg = int(palette[i].green) - green;
        const int db = int(palette[i].blue) - blue;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
            if (distance == 0)
                break;
        }
    }
    return std::uint8_t(best);
}

}  // namespace vynd
