// POSIX backend of bridge_services.h: standard error for message boxes, uname for the system's
// name, dladdr for the library's own path, a thread-specific key for the thread-end hook.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "platform/bridge_services.h"
#include "platform/posix/posix_handles.h"
#include "platform/system_info.h"
#include "platform/text_utf.h"

namespace tavrin::platform::bridge {

void showMessageWide(const std::u16string& text, const std::u16string& caption) {
    showMessageNarrow(utf::utf16ToUtf8Lossy(text), utf::utf16ToUtf8Lossy(caption));
}

void showMessageNarrow(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
}

std::string toNarrowText(const std::u16string& text) { return utf::utf16ToUtf8Lossy(text); }
std::u16string fromAnsiCodePage(const std::string& text) { return utf::utf8ToUtf16Lossy(text); }

std::uint32_t processId() { return static_cast<std::uint32_t>(::getpid()); }
std::uint32_t threadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

LocalDateTime localDateTimeNow() {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    tm local{};
    time_t secs = tv.tv_sec;
    ::localtime_r(&secs, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
            local.tm_min,         local.tm_sec,     static_cast<int>(tv.tv_usec / 1000)};
}

std::string operatingSystemName() {
    utsname u{};
    if (::uname(&u) != 0) return "unknown OperatingSystem.";
    return std::string(u.sysname) + " " + u.release;
}

bool onSixtyFourBitSystem() {
    utsname u{};
    if (sizeof(void*) == 8) return true;
    return ::uname(&u) == 0 && std::string(u.machine).find("64") != std::string::npos;
}

std::string ownModulePath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ownModulePath), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    if (char* real = ::realpath(info.dli_fname, nullptr)) {
        path = real;
        std::free(real);
    }
    if (path.size() > 1024) path.resize(1024);
    return path;
}

std::string ownModuleFolder() {
    const std::string path = ownModulePath();
    const std::size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string libraryFileVersion(const char*) { return {}; }

std::u16string traceFolder() {
    const std::u16string appData = localAppDataFolder();
    if (appData.empty()) return {};
    std::u16string userFolder;
    if (!joinPath(appData, u"Tavrin", userFolder)) return {};
    createFolder(userFolder);
    std::u16string folder;
    if (!joinPath(userFolder, u"ORVANE Log/", folder)) return {};
    return folder;
}

void touchFile(const std::u16string& path) {
    const std::string p = utf::utf16ToUtf8Lossy(path);
    const posix::ScopedFd file(::open(p.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));  // made, not kept
}

namespace {

std::mutex hookMutex;
pthread_key_t hookKey;
bool hookKeyMade = false;
void (*hookCallback)() = nullptr;

void runHook(void*) {
    if (void (*onEnd)() = hookCallback) onEnd();
}

}  // namespace

void armThreadEndHook(void (*onEnd)()) {
    std::lock_guard<std::mutex> lock(hookMutex);
    if (!hookKeyMade) {
        if (::pthread_key_create(&hookKey, &runHook) != 0) return;
        hookKeyMade = true;
    }
    hookCallback = onEnd;
    ::pthread_setspecific(hookKey, reinterpret_cast<void*>(1));
}

void releaseThreadEndHooks() {
    std::lock_guard<std::mutex> lock(hookMutex);
    if (hookKeyMade) ::pthread_key_delete(hookKey);
    hookKeyMade = false;
}

}  // namespace tavrin::platform::bridge
