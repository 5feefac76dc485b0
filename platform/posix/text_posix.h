// UTF-16 <-> UTF-8 for the POSIX backend, whose system texts are UTF-8.
#pragma once

#include <string>

namespace tavrin::platform::posix {

std::string toUtf8(const char16_t* text, std::size_t length);
std::string toUtf8(const char16_t* text);
std::u16string fromUtf8(const std::string& text);

}  // namespace tavrin::platform::posix
