// What the firmware update needs of the system: the firmware file (an existing file opened for
// reading and writing without sharing), text from the ANSI code page, and the notification of the
// caller (Windows: a message posted to the caller's window; elsewhere: the caller's notification
// record, see _DFU_NOTIFY in tavrin.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/os_types.h"

namespace tavrin::platform {

// An open firmware file; closed by its destructor.
class FirmwareFile {
public:
    FirmwareFile() = default;
    FirmwareFile(const FirmwareFile&) = delete;
    FirmwareFile& operator=(const FirmwareFile&) = delete;
    ~FirmwareFile() { close(); }

    // Opens an existing file for reading and writing; fails while another holder has it open.
    bool open(const char16_t* path);
    void close();
    bool isOpen() const { return handle_ != kNoHandle; }
    // The file's size in bytes; false when it cannot be told (or exceeds 32 bits).
    bool size(std::uint32_t* bytes);
    bool seekToStart();
    // One read or write at the current position; false on failure, *count the bytes moved.
    bool read(void* buffer, std::uint32_t length, std::uint32_t* count);
    bool write(const void* data, std::uint32_t length, std::uint32_t* count);

private:
    OsHandle handle_ = kNoHandle;
};

// Text in the calling thread's ANSI code page (POSIX: UTF-8, not well-formed: U+FFFD) as UTF-16.
std::u16string fromAnsiCodePage(const std::uint8_t* bytes, std::size_t count);

// Tells the caller of a firmware update what happened: message WM_DFU_NOTIFY with wParam and
// lParam. window is what the caller gave dllFunc_OpenDfu (Windows: a window handle, posted to;
// elsewhere: a _DFU_NOTIFY record, whose callback is called on this thread). False with the
// system's error code when it could not be delivered.
bool notifyCaller(void* window, std::uint32_t wParam, std::intptr_t lParam, std::uint32_t* error);

}  // namespace tavrin::platform
