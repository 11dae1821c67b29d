// Fuzz target: icon family files as the pane's volume icon well and the
// family reader take them.
#include <QByteArray>

#include <cstdlib>

#include "icon/icns_container.h"
#include "icon/icns_element_codec.h"
#include "icon/icns_family.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr vynd::OSType kTypes[] = {vynd::kIconServices512PixelDataARGB,
                                   vynd::kIconServices256PixelDataARGB,
                                   vynd::kThumbnail32BitData,
                                   vynd::kThumbnail8BitMask,
                                   vynd::kHuge32BitData,
                                   vynd::kHuge8BitMask,
                                   vynd::kLarge32BitData,
                                   vynd::kLarge8BitMask,
                                   vynd::kLarge8BitData,
                                   vynd::kLarge1BitMask,
                                   vynd::kSmall32BitData,
                                   vynd::kSmall8BitMask,
                                   vynd::kSmall8BitData,
                                   vynd::kSmall1BitMask};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    // A container that parses is rebuilt byte for byte.
    if (auto elements = vynd::parseIcnsContainer(bytes)) {
        auto rebuilt = vynd::buildIcnsContainer(*elements);
        FUZZ_CHECK(rebuilt && (*rebuilt == bytes || bytes.isEmpty()));
    }

    vynd::IcnsFamily family;
    FUZZ_CHECK(family.initWithData(bytes));
    for (vynd::OSType type : kTypes) {
        if (auto bitmap = family.bitmapImageRepWithAlphaForIconFamilyElement(type)) {
            FUZZ_CHECK(bitmap->pixelsWide > 0 && bitmap->pixelsWide == bitmap->pixelsHigh);
            (void)bitmap->toImage();
        }
        auto element = vynd::getIconFamilyData(bytes, type);
        if (!element)
            continue;
        // What one element hands over can be stored again and reads back.
        QByteArray copy = bytes;
        if (vynd::setIconFamilyData(copy, type, *element) == vynd::kNoErr)
            FUZZ_CHECK(vynd::getIconFamilyData(copy, type).has_value());
    }

    // The raw element data on its own, as each type decodes it.
    const vynd::OSType type = size >= 1 ? kTypes[data[0] % std::size(kTypes)] : kTypes[0];
    (void)vynd::decodeIconElement(type, bytes.mid(1));
    (void)vynd::unpackARGBChannels(bytes, 16 * 16);
    return 0;
}
