// The POSIX system's texts (file and device names, environment values) are UTF-8; the library's
// are UTF-16. Both directions go through the strict converter (platform/text_utf.h): a text that
// is not well-formed converts to an empty text, which names no file, device or folder.
#pragma once

#include <string>

namespace tavrin::platform::posix {

std::string toUtf8(const char16_t* text);  // null: empty
std::u16string fromUtf8(const std::string& text);

}  // namespace tavrin::platform::posix
