// Win32 backend of code_page.h: WideCharToMultiByte / MultiByteToWideChar with CP_THREAD_ACP.
#include "platform/code_page.h"

#include "platform/win32/windows_api.h"

namespace tavrin::platform {

std::string toThreadCodePage(const std::u16string& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, win32::wide(text.c_str()), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, win32::wide(text.c_str()), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr) != n)
        return {};
    return out;
}

std::u16string fromThreadCodePage(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), win32::wide(out.data()),
                            n) != n)
        return {};
    return out;
}

}  // namespace tavrin::platform
