#include "platform/posix/text_posix.h"

#include "platform/text_utf.h"

namespace tavrin::platform::posix {

std::string toUtf8(const char16_t* text) {
    if (text == nullptr) return {};
    return utf::utf16ToUtf8(text).value_or(std::string());
}

std::u16string fromUtf8(const std::string& text) { return utf::utf8ToUtf16(text).value_or(std::u16string()); }

}  // namespace tavrin::platform::posix
