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

}  // namespace tavrin::utf
