// Element type names and the table of their sizes and data forms.
#include "icon/icns_types.h"

namespace vynd {

std::string fourCharString(OSType type) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) text[i] = char((type >> (24 - 8 * i)) & 0xFF);
    return text;
}

ElementKind elementKind(OSType type) {
    struct Row {
        OSType type;
        ElementKind kind;
    };
    static constexpr Row kTable[] = {
        {kIconServices512PixelDataARGB, {ElementForm::ARGB32, 512}},
        {kIconServices256PixelDataARGB, {ElementForm::ARGB32, 256}},
        {kThumbnail32BitData, {ElementForm::ARGB32, 128}},
        {kThumbnail8BitMask, {ElementForm::Mask8, 128}},
        {kHuge32BitData, {ElementForm::ARGB32, 48}},
        {kHuge8BitMask, {ElementForm::Mask8, 48}},
        {kLarge32BitData, {ElementForm::ARGB32, 32}},
        {kLarge8BitMask, {ElementForm::Mask8, 32}},
        {kLarge8BitData, {ElementForm::Palette8, 32}},
        {kLarge1BitMask, {ElementForm::ImageMask1, 32}},
        {kSmall32BitData, {ElementForm::ARGB32, 16}},
        {kSmall8BitMask, {ElementForm::Mask8, 16}},
        {kSmall8BitData, {ElementForm::Palette8, 16}},
        {kSmall1BitMask, {ElementForm::ImageMask1, 16}},
    };
    for (const Row& row : kTable) {
        if (row.type == type)
            return row.kind;
    }
    return {};
}

std::size_t elementDataSize(ElementKind kind) {
    const std::size_t pixels = std::size_t(kind.pixelSize) * std::size_t(kind.pixelSize);
    switch (kind.form) {
        case ElementForm::ARGB32:
            return pixels * 4;
        case ElementForm::Mask8:
        case ElementForm::Palette8:
            return pixels;
        case ElementForm::ImageMask1:
            return pixels / 4;
        case ElementForm::Unknown:
            break;
    }
    return 0;
}

}  // namespace vynd
