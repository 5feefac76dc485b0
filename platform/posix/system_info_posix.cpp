// POSIX backend of system_info.h, log_file_io.h and ini_file.h.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "platform/ini_file.h"
#include "platform/log_file_io.h"
#include "platform/posix/ini_reader.h"
#include "platform/posix/text_posix.h"
#include "platform/system_info.h"
#include "platform/text_utf.h"

namespace tavrin::platform {

namespace {
constexpr std::size_t kMaxPath = 260;

bool makeFolders(const std::string& path) {
    if (path.empty()) return false;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A bare file name is looked up in the system's configuration folder, as the Windows profile
// functions look one up in the Windows folder. Empty when the name cannot be a file's.
std::string settingsPath(const std::u16string& file) {
    std::string p = posix::toUtf8(file.c_str());
    if (!p.empty() && p.find('/') == std::string::npos) p = "/etc/" + p;
    return p;
}

// A folder named by the environment: an absolute path the library can name in UTF-16.
bool usableFolder(const char* value) { return value != nullptr && value[0] == '/' && utf::isWellFormed(value); }

std::optional<std::string> readValue(const std::u16string& file, const char16_t* section,
                                     const char16_t* key) {
    const std::string path = settingsPath(file);
    if (path.empty()) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return posix::findIniValue(content.str(), posix::toUtf8(section), posix::toUtf8(key));
}

// The local hour, minute and second of the last second converted, for the time stamps of the log
// lines that follow within it: the conversion to local time takes the time zone's lock and rules,
// and a zone's offset changes only on a whole second. One word, so that every thread reads and
// replaces it without a lock: seconds since the epoch << 17 | hour << 12 | minute << 6 | second;
// zero when nothing is kept.
std::atomic<std::uint64_t> lastLocalSecond{0};
constexpr std::uint64_t kKeptSecondsLimit = std::uint64_t{1} << 47;
}  // namespace

LocalTime localTimeNow() {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    const auto millisecond = static_cast<std::uint32_t>(tv.tv_usec / 1000);
    const auto seconds = static_cast<std::uint64_t>(tv.tv_sec);
    const std::uint64_t kept = lastLocalSecond.load(std::memory_order_relaxed);
    if (kept != 0 && kept >> 17 == seconds)
        return {static_cast<std::uint32_t>(kept >> 12 & 0x1F), static_cast<std::uint32_t>(kept >> 6 & 0x3F),
                static_cast<std::uint32_t>(kept & 0x3F), millisecond};
    tm local{};
    time_t secs = tv.tv_sec;
    ::localtime_r(&secs, &local);
    const LocalTime now{static_cast<std::uint32_t>(local.tm_hour), static_cast<std::uint32_t>(local.tm_min),
                        static_cast<std::uint32_t>(local.tm_sec), millisecond};
    if (tv.tv_sec > 0 && seconds < kKeptSecondsLimit && now.hour < 24 && now.minute < 60 && now.second <= 60)
        lastLocalSecond.store(seconds << 17 | now.hour << 12 | now.minute << 6 | now.second, std::memory_order_relaxed);
    return now;
}

std::u16string localAppDataFolder() {
    std::string folder;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); usableFolder(xdg)) {
        folder = xdg;
    } else if (const char* home = std::getenv("HOME"); usableFolder(home)) {
        folder = std::string(home) + "/.local/share";
    } else {
        return {};
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!makeFolders(folder)) return {};
    return posix::fromUtf8(folder);
}

bool createFolder(const std::u16string& path) {
    std::string p = posix::toUtf8(path.c_str());
    if (::mkdir(p.c_str(), 0700) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool joinPath(const std::u16string& folder, const std::u16string& name, std::u16string& out) {
    std::u16string joined = folder;
    if (!joined.empty() && joined.back() != u'/') joined += u'/';
    joined += name;
    if (joined.size() >= kMaxPath) return false;
    out = joined;
    return true;
}

// The log's text: a caller's unpaired surrogate becomes U+FFFD, as Windows writes its default
// character for what the code page cannot hold.
std::string toAnsiCodePage(std::u16string_view text) { return utf::utf16ToUtf8Lossy(text); }

bool isOsVersionAtLeast(std::uint32_t, std::uint32_t, std::uint16_t) { return true; }

OsHandle createLogFile(const char16_t* path) {
    std::string p = posix::toUtf8(path);
    if (p.empty()) return kNoHandle;
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? kNoHandle : fd;
}

bool writeFile(OsHandle file, const void* data, std::uint32_t length, std::uint32_t* written) {
    ssize_t n;
    do {
        n = ::write(static_cast<int>(file), data, length);
    } while (n < 0 && errno == EINTR);
    *written = n > 0 ? static_cast<std::uint32_t>(n) : 0;
    return n >= 0;
}

std::int32_t iniReadInt(const std::u16string& file, const char16_t* section, const char16_t* key,
                        std::int32_t defaultValue) {
    auto value = readValue(file, section, key);
    if (!value || value->empty()) return defaultValue;
    return posix::parseIniInt(*value);
}

std::u16string iniReadString(const std::u16string& file, const char16_t* section,
                             const char16_t* key, const char16_t* defaultValue,
                             std::size_t maxChars) {
    // A value that is not well-formed UTF-8 counts as missing: the default stands for it.
    const auto value = readValue(file, section, key);
    const auto converted = value ? utf::utf8ToUtf16(*value) : std::nullopt;
    std::u16string text = converted ? *converted : std::u16string(defaultValue ? defaultValue : u"");
    if (text.size() > maxChars) {
        // Cut between characters: a surrogate pair stays whole or goes whole.
        std::size_t cut = maxChars;
        if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
        text.resize(cut);
    }
    return text;
}

}  // namespace tavrin::platform

namespace tavrin::platform {

bool setEnvironmentVariable(const char* name, const char* value) {
    return ::setenv(name, value, 1) == 0;
}

}  // namespace tavrin::platform
