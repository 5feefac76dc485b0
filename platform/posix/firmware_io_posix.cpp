// POSIX backend of firmware_io.h: the firmware file opened read-write and locked exclusively (no
// sharing), UTF-8 as the ANSI code page, and the caller's notification record called directly.
#include "platform/firmware_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "platform/posix/posix_handles.h"
#include "platform/posix/text_posix.h"
#include "platform/text_utf.h"
#include "tavrin/tavrin.h"

namespace tavrin::platform {

bool FirmwareFile::open(const char16_t* path) {
    if (path == nullptr || isOpen()) return false;
    const std::string p = posix::toUtf8(path);
    if (p.empty()) return false;
    posix::ScopedFd fd = posix::openExclusive(p.c_str(), O_RDWR);
    if (!fd) return false;
    handle_ = fd.release();
    return true;
}

void FirmwareFile::close() {
    if (!isOpen()) return;
    ::close(static_cast<int>(handle_));
    handle_ = kNoHandle;
}

bool FirmwareFile::size(std::uint32_t* bytes) {
    struct stat st;
    if (!isOpen() || ::fstat(static_cast<int>(handle_), &st) != 0 || st.st_size < 0 || st.st_size > 0xFFFFFFFFLL)
        return false;
    *bytes = static_cast<std::uint32_t>(st.st_size);
    return true;
}

bool FirmwareFile::seekToStart() { return isOpen() && ::lseek(static_cast<int>(handle_), 0, SEEK_SET) == 0; }

bool FirmwareFile::read(void* buffer, std::uint32_t length, std::uint32_t* count) {
    *count = 0;
    if (!isOpen()) return false;
    const ssize_t n = ::read(static_cast<int>(handle_), buffer, length);
    if (n < 0) return false;
    *count = static_cast<std::uint32_t>(n);
    return true;
}

bool FirmwareFile::write(const void* data, std::uint32_t length, std::uint32_t* count) {
    *count = 0;
    if (!isOpen()) return false;
    const ssize_t n = ::write(static_cast<int>(handle_), data, length);
    if (n < 0) return false;
    *count = static_cast<std::uint32_t>(n);
    return true;
}

std::u16string fromAnsiCodePage(const std::uint8_t* bytes, std::size_t count) {
    return utf::utf8ToUtf16Lossy(std::string_view(reinterpret_cast<const char*>(bytes), count));
}

bool notifyCaller(void* window, std::uint32_t wParam, std::intptr_t lParam, std::uint32_t* error) {
    const auto* record = static_cast<const _DFU_NOTIFY*>(window);
    if (record == nullptr || record->notify == nullptr) {
        if (error != nullptr) *error = 0;
        return false;
    }
    record->notify(record->context, wParam, lParam);
    return true;
}

}  // namespace tavrin::platform
