#include "tests/support/library_under_test.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/system_info.h"

#ifndef TAVRIN_LIBRARY_FILE
#error "TAVRIN_LIBRARY_FILE must name the device library to load"
#endif

namespace tavrin::test {

namespace fs = std::filesystem;

namespace {

// The bytes a 32-bit __stdcall caller pushes for these parameters: each one takes whole 4-byte
// stack slots.
template <typename Result, typename... Parameters>
constexpr unsigned stackBytes(Result(TAVRIN_API*)(Parameters...)) {
    return (0u + ... + static_cast<unsigned>((sizeof(Parameters) + 3) / 4 * 4));
}

#if defined(_WIN32) && !defined(_WIN64)
// The export list's stack bytes name the decorated 32-bit symbols in the module-definition file
// and the import library: they must be those of the declarations.
#define TAVRIN_FUNCTION(name, bytes, result, parameters)                                         \
    static_assert(stackBytes(&dllFunc_##name) == bytes, "stack bytes of dllFunc_" #name);
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION
#endif

}  // namespace

std::filesystem::path makeTempFolder(const std::string& tag) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path p = fs::temp_directory_path() /
                 ("tavrin-test-" + tag + "-" + std::to_string(stamp) + "-" + std::to_string(++counter));
    fs::create_directories(p);
    return p;
}

UserDataFolder::UserDataFolder() {
#ifdef _WIN32
    std::u16string appData = platform::localAppDataFolder();
    folder_ = fs::path(std::wstring(appData.begin(), appData.end())) / "Tavrin";
    fs::create_directories(folder_);
    for (const char* name : {"DevDllCfg.ini", "tavrin.log", "devCfg.xml", "devCfg.dat"}) {
        std::error_code ec;
        fs::remove(folder_ / name, ec);
    }
#else
    root_ = makeTempFolder("userdata");
    platform::setEnvironmentVariable("XDG_DATA_HOME", root_.string().c_str());
    folder_ = root_ / "Tavrin";
#endif
}

UserDataFolder::~UserDataFolder() {
    std::error_code ec;
    if (!root_.empty()) {
        fs::remove_all(root_, ec);
    } else {
        for (const char* name : {"DevDllCfg.ini", "tavrin.log", "devCfg.xml", "devCfg.dat"}) fs::remove(folder_ / name, ec);
    }
}

void UserDataFolder::writeSettings(const std::string& iniText) const {
    fs::create_directories(folder_);
    std::ofstream(folder_ / "DevDllCfg.ini", std::ios::binary) << iniText;
}

bool LibraryUnderTest::load() {
    unload();
    if (!library_.open(TAVRIN_LIBRARY_FILE)) return false;
    auto resolve = [this](auto& slot, const char* name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(library_.symbol(name));
        return slot != nullptr;
    };
    bool ok = true;
#define TAVRIN_FUNCTION(name, bytes, result, parameters) ok = ok && resolve(api_.name, "dllFunc_" #name);
#include "tavrin/tavrin_exports.h"
#undef TAVRIN_FUNCTION
    if (!ok) unload();
    return ok;
}

void LibraryUnderTest::unload() {
    library_.close();
    api_ = TavrinApi{};
}

std::u16string LibraryUnderTest::takeRecords(bool reset) const {
    std::uint32_t count = 0;
    const tavrin_wchar_t* text = api_.GetLogRecord(&count, reset ? 1 : 0);
    if (text == nullptr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(text), count);
}

std::basic_string<tavrin_wchar_t> exportText(const std::u16string& text) {
    return std::basic_string<tavrin_wchar_t>(text.begin(), text.end());
}

std::basic_string<tavrin_wchar_t> exportText(const std::filesystem::path& path) {
#ifdef _WIN32
    std::wstring w = path.wstring();
    return std::basic_string<tavrin_wchar_t>(w.begin(), w.end());
#else
    std::u16string u = path.u16string();
    return std::basic_string<tavrin_wchar_t>(u.begin(), u.end());
#endif
}

std::string readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string ansi(const std::u16string& text) { return platform::toAnsiCodePage(text); }

}  // namespace tavrin::test
