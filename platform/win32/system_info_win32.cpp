// Win32 backend of system_info.h, log_file_io.h and ini_file.h.
#include <vector>

#include "platform/ini_file.h"
#include "platform/log_file_io.h"
#include "platform/system_info.h"
#include "platform/win32/windows_api.h"

#include <shlobj.h>

namespace tavrin::platform {

using win32::wide;

LocalTime localTimeNow() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::u16string localAppDataFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, path)))
        return {};
    return std::u16string(reinterpret_cast<const char16_t*>(path));
}

bool createFolder(const std::u16string& path) {
    if (CreateDirectoryW(wide(path.c_str()), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool joinPath(const std::u16string& folder, const std::u16string& name, std::u16string& out) {
    std::u16string joined = folder;
    if (!joined.empty() && joined.back() != u'\\' && joined.back() != u'/') joined += u'\\';
    joined += name;
    if (joined.size() >= MAX_PATH) return false;
    out = joined;
    return true;
}

std::string toAnsiCodePage(std::u16string_view text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, wide(text.data()), static_cast<int>(text.size()),
                                nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide(text.data()), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

bool isOsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint16_t servicePack) {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.wServicePackMajor = servicePack;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                              mask) != FALSE;
}

OsHandle createLogFile(const char16_t* path) {
    HANDLE h = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return win32::fromHandle(h);
}

bool writeFile(OsHandle file, const void* data, std::uint32_t length, std::uint32_t* written) {
    DWORD n = 0;
    BOOL ok = WriteFile(win32::toHandle(file), data, length, &n, nullptr);
    *written = n;
    return ok != FALSE;
}

std::int32_t iniReadInt(const std::u16string& file, const char16_t* section, const char16_t* key,
                        std::int32_t defaultValue) {
    return static_cast<std::int32_t>(
        GetPrivateProfileIntW(wide(section), wide(key), defaultValue, wide(file.c_str())));
}

std::u16string iniReadString(const std::u16string& file, const char16_t* section,
                             const char16_t* key, const char16_t* defaultValue,
                             std::size_t maxChars) {
    std::vector<wchar_t> buf(maxChars + 1, L'\0');
    DWORD n = GetPrivateProfileStringW(wide(section), wide(key), wide(defaultValue), buf.data(),
                                       static_cast<DWORD>(buf.size()), wide(file.c_str()));
    return std::u16string(reinterpret_cast<const char16_t*>(buf.data()), n);
}

}  // namespace tavrin::platform

namespace tavrin::platform {

bool setEnvironmentVariable(const char* name, const char* value) {
    return SetEnvironmentVariableA(name, value) != FALSE;
}

}  // namespace tavrin::platform
