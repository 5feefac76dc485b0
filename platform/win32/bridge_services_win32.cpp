// Win32 backend of bridge_services.h: message boxes, version and system facts, the module's own
// path, the version resource of a library file, the trace folder.
#include <vector>

#include "platform/bridge_services.h"
#include "platform/win32/win32_handles.h"

namespace tavrin::platform::bridge {

using win32::wide;

void showMessageWide(const std::u16string& text, const std::u16string& caption) {
    MessageBoxW(nullptr, wide(text.c_str()), caption.empty() ? nullptr : wide(caption.c_str()), MB_OK);
}

void showMessageNarrow(const std::string& text, const std::string& caption) {
    MessageBoxA(nullptr, text.c_str(), caption.empty() ? nullptr : caption.c_str(), MB_OK);
}

std::string toNarrowText(const std::u16string& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(936, 0, wide(text.c_str()), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(936, 0, wide(text.c_str()), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::u16string fromAnsiCodePage(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide(out.data()), n);
    return out;
}

std::uint32_t processId() { return GetCurrentProcessId(); }
std::uint32_t threadId() { return GetCurrentThreadId(); }

LocalDateTime localDateTimeNow() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

namespace {

// The true version (GetVersionEx answers what the program's manifest allows).
bool readVersion(OSVERSIONINFOEXW& info) {
    info = {};
    info.dwOSVersionInfoSize = sizeof info;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
        auto fn = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
        if (fn != nullptr && fn(&info) == 0) return true;
    }
    return false;
}

}  // namespace

std::string operatingSystemName() {
    OSVERSIONINFOEXW v;
    if (!readVersion(v)) return "unknown OperatingSystem.";
    const bool workstation = v.wProductType == VER_NT_WORKSTATION;
    SYSTEM_INFO si{};
    GetNativeSystemInfo(&si);
    const DWORD major = v.dwMajorVersion, minor = v.dwMinorVersion;
    if (major == 4 && minor == 0)
        return v.dwPlatformId == VER_PLATFORM_WIN32_NT ? "Microsoft Windows NT 4.0" : "Microsoft Windows 95";
    if (major == 4 && minor == 10) return "Microsoft Windows 98";
    if (major == 4 && minor == 90) return "Microsoft Windows Me";
    if (major == 5 && minor == 0) return "Microsoft Windows 2000";
    if (major == 5 && minor == 1) return "Microsoft Windows XP";
    if (major == 5 && minor == 2) {
        if (workstation && si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
            return "Microsoft Windows XP Professional x64 Edition";
        return GetSystemMetrics(SM_SERVERR2) == 0 ? "Microsoft Windows Server 2003" : "Microsoft Windows Server 2003 R2";
    }
    if (major == 6 && minor == 0) return workstation ? "Microsoft Windows Vista" : "Microsoft Windows Server 2008";
    if (major == 6 && minor == 1) return workstation ? "Microsoft Windows 7" : "Microsoft Windows Server 2008 R2";
    if (major == 6 && minor == 2) return workstation ? "Microsoft Windows 8" : "Microsoft Windows Server 2012";
    if (major == 6 && minor == 3) return workstation ? "Microsoft Windows 8.1" : "Microsoft Windows Server 2012 R2";
    if (major == 10 && minor == 0)
        return workstation ? "Microsoft Windows 10" : "Microsoft Windows Server 2016 Technical Preview";
    return "unknown OperatingSystem.";
}

bool onSixtyFourBitSystem() {
    if (sizeof(void*) == 8) return true;
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (kernel == nullptr) return false;
    auto fn = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow = FALSE;
    return fn != nullptr && fn(GetCurrentProcess(), &wow) && wow;
}

std::string ownModulePath() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&ownModulePath)), &self))
        return {};
    char path[1025] = {};
    const DWORD n = GetModuleFileNameA(self, path, 1024);
    return std::string(path, n);
}

std::string ownModuleFolder() {
    const std::string path = ownModulePath();
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string libraryFileVersion(const char* fileName) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(fileName, &ignored);
    if (size == 0) return {};
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(fileName, 0, size, data.data())) return {};
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\StringFileInfo\\080404b0\\FileVersion", &value, &length) || value == nullptr)
        return {};
    std::string text(static_cast<const char*>(value), length);
    if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    if (text.size() > 1023) text.resize(1023);
    return text;
}

std::u16string traceFolder() { return u"D:\\ORVANE Log\\"; }

void touchFile(const std::u16string& path) {
    // Made when missing, not kept.
    const win32::ScopedFileHandle file(CreateFileW(wide(path.c_str()), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void armThreadEndHook(void (*)()) {}
void releaseThreadEndHooks() {}

}  // namespace tavrin::platform::bridge
