// Fuzz target: the value transformers' inputs, stored credentials above all.
#include <cstdlib>
#include <memory>

#include "transformers/value_transformers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const auto clear = vynd::PasswordValueTransformer::decode(text);
    if (clear && *clear == text && !text.empty())
        std::abort();  // never the stored text itself
    if (clear) {
        const auto stored = vynd::PasswordValueTransformer::encode(*clear);
        if (!stored || vynd::PasswordValueTransformer::decode(*stored) != clear)
            std::abort();
    }

    for (int index = 0; index < 3; ++index) {
        vynd::PermissionsValueTransformer permissions(index);
        (void)permissions.transformedValue(text);
        const std::string written = permissions.reverseTransformedValue(size % 4);
        if (written.size() < 3)
            std::abort();
    }

    auto names = std::make_shared<std::vector<std::string>>();
    for (std::size_t start = 0; start <= size;) {
        const std::size_t end = std::min(text.find('\n', start), size);
        names->push_back(text.substr(start, end - start));
        start = end + 1;
    }
    const vynd::ArrayStringIndexTransformer lists(names);
    const auto position = lists.transformedValue(names->back());
    if (!position || lists.reverseTransformedValue(*position) != names->back())
        std::abort();
    (void)lists.reverseTransformedValue(static_cast<int>(size) - 3);
    return 0;
}
