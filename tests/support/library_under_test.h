// The device library as a caller sees it: loaded at run time from the build tree, its exports
// looked up by name. Each test that needs a fresh start (settings, log file, user data folder)
// loads it anew, so that process attach and detach run again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/dynamic_library.h"
#include "tavrin/tavrin.h"

namespace tavrin::test {

// One pointer per export of the list, named as the export without its "dllFunc_" prefix
// (api.OpenDev is dllFunc_OpenDev).
struct TavrinApi {
#define TAVRIN_FUNCTION(name, bytes, result, parameters) decltype(&dllFunc_##name) name = nullptr;
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION
};

// The user data folder the library will use ("Tavrin" in the local application data folder).
// On POSIX the tests point that folder at a private temporary directory; on Windows (a private
// Wine prefix) it is the prefix's own folder, emptied of the library's files first.
class UserDataFolder {
public:
    UserDataFolder();
    ~UserDataFolder();
    const std::filesystem::path& path() const { return folder_; }
    void writeSettings(const std::string& iniText) const;

private:
    std::filesystem::path root_;
    std::filesystem::path folder_;
};

class LibraryUnderTest {
public:
    LibraryUnderTest() = default;
    ~LibraryUnderTest() { unload(); }

    // Loads the library (process attach runs) and resolves every export; false on failure.
    bool load();
    // Unloads it (process detach runs).
    void unload();

    const TavrinApi& api() const { return api_; }
    const TavrinApi* operator->() const { return &api_; }

    // The records handed in with SetLogRecord and not fetched yet, as UTF-16.
    std::u16string takeRecords(bool reset = false) const;

private:
    platform::DynamicLibrary library_;
    TavrinApi api_;
};

// Helpers for texts and files.
std::basic_string<tavrin_wchar_t> exportText(const std::u16string& text);
std::basic_string<tavrin_wchar_t> exportText(const std::filesystem::path& path);
std::string readFileBytes(const std::filesystem::path& path);
// The bytes the library writes to its log for this text (the system's ANSI code page).
std::string ansi(const std::u16string& text);
std::filesystem::path makeTempFolder(const std::string& tag);

}  // namespace tavrin::test
