// Reading settings files with the rules of the Windows profile functions: sections and keys are
// matched without regard to case, values are trimmed of blanks and surrounding quotes, integers
// are read as decimal numbers (a value with no leading digits reads as 0), a missing file,
// section or key gives the default.
#pragma once

#include <cstdint>
#include <string>

namespace tavrin::platform {

std::int32_t iniReadInt(const std::u16string& file, const char16_t* section, const char16_t* key,
                        std::int32_t defaultValue);

// At most maxChars characters of the value are returned.
std::u16string iniReadString(const std::u16string& file, const char16_t* section,
                             const char16_t* key, const char16_t* defaultValue,
                             std::size_t maxChars);

}  // namespace tavrin::platform
