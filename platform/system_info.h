// Clock, folders, code pages, OS version.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin::platform {

struct LocalTime {
    std::uint32_t hour, minute, second, millisecond;
};
LocalTime localTimeNow();

// The user's local application data folder, created when missing (Windows: CSIDL_LOCAL_APPDATA;
// POSIX: $XDG_DATA_HOME, else ~/.local/share). Empty when the system cannot give it.
std::u16string localAppDataFolder();

// Creates one folder; true when it exists afterwards.
bool createFolder(const std::u16string& path);

// Joins a folder and a name with the system's separator. False when the result would not fit in
// a path of the system's maximum length (260 characters).
bool joinPath(const std::u16string& folder, const std::u16string& name, std::u16string& out);

// Converts UTF-16 text to the system's ANSI code page (Windows: CP_ACP; POSIX: UTF-8).
std::string toAnsiCodePage(std::u16string_view text);

// Whether the running system is at least the given Windows version (POSIX systems count as the
// newest level).
bool isOsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint16_t servicePack);

}  // namespace tavrin::platform

namespace tavrin::platform {

// Sets a variable of the process environment (the tests point the user data folder elsewhere).
bool setEnvironmentVariable(const char* name, const char* value);

}  // namespace tavrin::platform
