// Win32 backend of firmware_io.h: the firmware file through CreateFileW without sharing, the ANSI
// code page through MultiByteToWideChar, notifications posted with PostMessageW.
#include "platform/firmware_io.h"

#include "platform/win32/windows_api.h"

namespace tavrin::platform {

using win32::fromHandle;
using win32::toHandle;
using win32::wide;

bool FirmwareFile::open(const char16_t* path) {
    if (path == nullptr || isOpen()) return false;
    handle_ = fromHandle(CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    return isOpen();
}

void FirmwareFile::close() {
    if (!isOpen()) return;
    CloseHandle(toHandle(handle_));
    handle_ = kNoHandle;
}

bool FirmwareFile::size(std::uint32_t* bytes) {
    LARGE_INTEGER n;
    if (!isOpen() || !GetFileSizeEx(toHandle(handle_), &n) || n.QuadPart < 0 || n.QuadPart > 0xFFFFFFFFLL) return false;
    *bytes = static_cast<std::uint32_t>(n.QuadPart);
    return true;
}

bool FirmwareFile::seekToStart() {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return isOpen() && SetFilePointerEx(toHandle(handle_), zero, nullptr, FILE_BEGIN) != FALSE;
}

bool FirmwareFile::read(void* buffer, std::uint32_t length, std::uint32_t* count) {
    DWORD n = 0;
    const bool ok = isOpen() && ReadFile(toHandle(handle_), buffer, length, &n, nullptr) != FALSE;
    *count = ok ? n : 0;
    return ok;
}

bool FirmwareFile::write(const void* data, std::uint32_t length, std::uint32_t* count) {
    DWORD n = 0;
    const bool ok = isOpen() && WriteFile(toHandle(handle_), data, length, &n, nullptr) != FALSE;
    *count = ok ? n : 0;
    return ok;
}

std::u16string fromAnsiCodePage(const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) return {};
    const char* text = reinterpret_cast<const char*>(bytes);
    const int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(count), nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(count), wide(out.data()), n);
    return out;
}

bool notifyCaller(void* window, std::uint32_t wParam, std::intptr_t lParam, std::uint32_t* error) {
    if (PostMessageW(static_cast<HWND>(window), 0x0500, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)))
        return true;
    if (error != nullptr) *error = GetLastError();
    return false;
}

}  // namespace tavrin::platform
