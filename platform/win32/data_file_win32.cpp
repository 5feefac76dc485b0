// Win32 backend of data_file.h: CreateFileW with share mode 0; the handle is closed on every path.
#include "platform/data_file.h"

#include "platform/win32/win32_handles.h"

namespace tavrin::platform {

using FileHandle = win32::ScopedFileHandle;

bool readDataFile(const std::u16string& path, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
    out.clear();
    FileHandle file(CreateFileW(win32::wide(path.c_str()), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > maxBytes)
        return false;
    out.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t got = 0;
    while (got < out.size()) {
        DWORD n = 0;
        if (!ReadFile(file.get(), out.data() + got, static_cast<DWORD>(out.size() - got), &n, nullptr) || n == 0)
            break;
        got += n;
    }
    out.resize(got);
    return true;
}

bool writeDataFile(const std::u16string& path, const std::uint8_t* bytes, std::size_t count,
                   std::size_t* written) {
    if (written != nullptr) *written = 0;
    FileHandle file(CreateFileW(win32::wide(path.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    std::size_t done = 0;
    while (done < count) {
        DWORD n = 0;
        if (!WriteFile(file.get(), bytes + done, static_cast<DWORD>(count - done), &n, nullptr) || n == 0) break;
        done += n;
    }
    if (written != nullptr) *written = done;
    return true;
}

}  // namespace tavrin::platform
