// Fuzz target: any image file handed to the icon builder (vyndicon, the
// pane's volume icon), read, turned into every icon size and written.
#include <cstdlib>
#include <fstream>

#include "icon/icns_family.h"
#include "icon/icon_file_builder.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/scratch_folder.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string image = scratch_folder() + "/image";
    const std::string icon = scratch_folder() + "/icon.icns";
    std::ofstream(image, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    std::remove(icon.c_str());

    std::string err;
    if (!vynd::buildIconFile(image, icon, &err)) {
        FUZZ_CHECK(!err.empty());
        return 0;
    }
    // What it wrote is a whole family whose large icon reads back.
    auto family = vynd::IcnsFamily::iconFamilyWithContentsOfFile(QString::fromStdString(icon));
    FUZZ_CHECK(family.has_value());
    FUZZ_CHECK(
        family->bitmapImageRepWithAlphaForIconFamilyElement(vynd::kLarge32BitData).has_value());
    return 0;
}
