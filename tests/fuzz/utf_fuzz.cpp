// UTF-8 <-> UTF-16: the strict functions accept exactly what converts back to the same input, and
// the lossy ones always give well-formed text.
//
// Input: bytes, read once as UTF-8 and once as UTF-16 (little-endian pairs; an odd last byte is
// left out).
#include <string>
#include <string_view>

#include "platform/text_utf.h"
#include "tests/fuzz/fuzz_check.h"

namespace tavrin::fuzz {

int utfConversion(const std::uint8_t* data, std::size_t size) {
    const std::string_view utf8(reinterpret_cast<const char*>(data), size);
    const auto wide = utf::utf8ToUtf16(utf8);
    const std::u16string lossyWide = utf::utf8ToUtf16Lossy(utf8);
    FUZZ_CHECK(wide.has_value() == utf::isWellFormed(utf8));
    FUZZ_CHECK(utf::isWellFormed(lossyWide));
    if (wide) {
        FUZZ_CHECK(utf::utf16ToUtf8(*wide) == std::string(utf8));  // nothing overlong, nothing lost
        FUZZ_CHECK(lossyWide == *wide);
        FUZZ_CHECK(wide->size() <= utf8.size());
    } else {
        FUZZ_CHECK(lossyWide.find(u'\uFFFD') != std::u16string::npos);
    }

    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    const auto narrow = utf::utf16ToUtf8(units);
    const std::string lossyNarrow = utf::utf16ToUtf8Lossy(units);
    FUZZ_CHECK(narrow.has_value() == utf::isWellFormed(std::u16string_view(units)));
    FUZZ_CHECK(utf::isWellFormed(std::string_view(lossyNarrow)));
    if (narrow) {
        FUZZ_CHECK(utf::utf8ToUtf16(*narrow) == units);
        FUZZ_CHECK(lossyNarrow == *narrow);
    }
    return 0;
}

}  // namespace tavrin::fuzz
