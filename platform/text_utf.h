// UTF-8 and UTF-16 converted into each other, strictly. Portable code without any OS call: the one
// converter of the POSIX backend (whose system texts are UTF-8) and of the tools, and the only
// piece below the public header that a tool may use.
//
// Well-formed UTF-8 has no overlong forms, no encoded surrogates (U+D800..U+DFFF), no code points
// above U+10FFFF and no truncated or stray continuation bytes. Well-formed UTF-16 has no unpaired
// surrogates.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrin::utf {

// Strict: nothing when the input is not well-formed.
std::optional<std::u16string> utf8ToUtf16(std::string_view text);
std::optional<std::string> utf16ToUtf8(std::u16string_view text);

bool isWellFormed(std::string_view utf8);
bool isWellFormed(std::u16string_view utf16);

// For texts shown to people or written to a log: what is well-formed converts as above; each byte
// that does not begin a well-formed sequence, and each unpaired surrogate, becomes U+FFFD.
std::u16string utf8ToUtf16Lossy(std::string_view text);
std::string utf16ToUtf8Lossy(std::u16string_view text);

// The value of one hexadecimal digit (0-9, a-f, A-F) of any text, or -1: the digit reader of every
// hexadecimal parser (each has its own rules for separators and odd digits).
constexpr int hexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    return -1;
}

}  // namespace tavrin::utf
