// The settings-file reader of the POSIX backend, kept apart from the file access so that its rules
// are tested on every host. The rules are those of the Windows profile functions (ini_file.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin::platform::posix {

// The value of key in section, trimmed and unquoted; nothing when the section or key is missing.
std::optional<std::string> findIniValue(std::string_view content, std::string_view section,
                                        std::string_view key);

// A value read as a decimal integer: leading blanks, an optional sign, then digits up to the first
// other character; no digits read as 0.
std::int32_t parseIniInt(std::string_view value);

}  // namespace tavrin::platform::posix
