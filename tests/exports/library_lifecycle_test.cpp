// Loading and unloading the library: the user data folder, the settings file and the log file
// that start-up opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/device_fixture.h"
#include "tests/support/library_under_test.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kValidId = "[General]\r\nCfgID=1684418609\r\n";

// How long a read with the record's time-out 0 waits on a silent device: the setting ReadTimeout.
long long defaultReadWait(LibraryUnderTest& lib) {
    StandInDevice dev("settings");
    const _DEVOPEN_INFO info = openRecord(dev.path());
    const std::int32_t h = lib->OpenDev(&info);
    if (h < 0) return -1;
    char buf[4];
    std::uint32_t n = 0;
    const auto start = std::chrono::steady_clock::now();
    lib->Read(h, buf, sizeof buf, &n, nullptr);
    const auto took = std::chrono::steady_clock::now() - start;
    lib->CloseDev(h);
    return std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
}

TEST(LibraryLifecycle, WithoutSettingsTheLibraryRunsOnDefaultsAndOpensNoLog) {
    UserDataFolder folder;
    LibraryUnderTest lib;
    ASSERT_TRUE(lib.load());
    EXPECT_TRUE(fs::is_directory(folder.path()));  // the user data folder was made
    EXPECT_FALSE(fs::exists(folder.path() / "tavrin.log"));
    EXPECT_EQ(lib->OpenLog(nullptr), 0);  // no LogPath: an empty name cannot be created
    const long long wait = defaultReadWait(lib);
    EXPECT_GE(wait, 90);
    EXPECT_LT(wait, 400);
}

TEST(LibraryLifecycle, ValidSettingsOpenTheDefaultLogAndUnloadFlushesIt) {
    UserDataFolder folder;
    folder.writeSettings(std::string(kValidId) + "[Port]\r\nReadTimeout=350\r\n");
    LibraryUnderTest lib;
    ASSERT_TRUE(lib.load());
    const fs::path logFile = folder.path() / "tavrin.log";
    EXPECT_TRUE(fs::exists(logFile));
    EXPECT_EQ(lib->OpenLog(nullptr), 1);  // already open
    const long long wait = defaultReadWait(lib);
    EXPECT_GE(wait, 330);
    EXPECT_LT(wait, 700);
    lib.unload();

    const std::string log = readFileBytes(logFile);
    const std::size_t level = log.find(ansi(u"#CDevApp::initObj : IsWindows7OrGreater\r\n"));
    const std::size_t attach = log.find(ansi(u"#DllMain : DLL_PROCESS_ATTACH 0x"));
    const std::size_t detach = log.find(ansi(u"#DllMain : DLL_PROCESS_DETACH 0x"));
    ASSERT_NE(level, std::string::npos) << log;
    ASSERT_NE(attach, std::string::npos);
    ASSERT_NE(detach, std::string::npos);
    EXPECT_LT(level, attach);
    EXPECT_LT(attach, detach);
    EXPECT_EQ(log.find("Load DLL Config Fail"), std::string::npos);
    EXPECT_EQ(log.substr(0, 4), "TID(");
}

TEST(LibraryLifecycle, SettingsWithAnotherIdAreIgnored) {
    UserDataFolder folder;
    const fs::path custom = folder.path() / "custom.log";
    folder.writeSettings("[General]\r\nCfgID=1684418610\r\n[Port]\r\nReadTimeout=350\r\n[SysLog]\r\n"
                         "LogEnable=1\r\nLogPath=" + custom.string() + "\r\n");
    LibraryUnderTest lib;
    ASSERT_TRUE(lib.load());
    EXPECT_FALSE(fs::exists(custom));
    EXPECT_FALSE(fs::exists(folder.path() / "tavrin.log"));
    const long long wait = defaultReadWait(lib);
    EXPECT_LT(wait, 300);  // still the default 100 ms
}

TEST(LibraryLifecycle, LogPathFromTheSettingsAndLogEnableZero) {
    UserDataFolder folder;
    const fs::path custom = folder.path() / "custom.log";
    folder.writeSettings(std::string(kValidId) + "[SysLog]\r\nLogEnable=1\r\nLogPath=" + custom.string() + "\r\n");
    {
        LibraryUnderTest lib;
        ASSERT_TRUE(lib.load());
        EXPECT_TRUE(fs::exists(custom));
    }
    fs::remove(custom);
    folder.writeSettings(std::string(kValidId) + "[SysLog]\r\nLogEnable=0\r\nLogPath=" + custom.string() + "\r\n");
    LibraryUnderTest lib;
    ASSERT_TRUE(lib.load());
    EXPECT_FALSE(fs::exists(custom));
    EXPECT_EQ(lib->OpenLog(nullptr), 0);  // logging is off and no path was given
    const fs::path explicitPath = folder.path() / "explicit.log";
    EXPECT_EQ(lib->OpenLog(exportText(explicitPath).c_str()), 1);  // an explicit path is used anyway
    EXPECT_TRUE(fs::exists(explicitPath));
}

TEST(LibraryLifecycle, ALogFileThatCannotBeCreatedDoesNotStopTheLibrary) {
    UserDataFolder folder;
    folder.writeSettings(std::string(kValidId) + "[SysLog]\r\nLogPath=" +
                         (folder.path() / "no-such-folder" / "x.log").string() + "\r\n");
    LibraryUnderTest lib;
    ASSERT_TRUE(lib.load());
    EXPECT_EQ(lib->OpenLog(nullptr), 0);
    StandInDevice dev("nolog");
    const _DEVOPEN_INFO info = openRecord(dev.path());
    EXPECT_EQ(lib->OpenDev(&info), 0);
}

#ifndef _WIN32
// Settings texts are UTF-8 on POSIX. A LogPath that is not well-formed counts as missing: the log
// is the default file, never a file whose name the bytes would give if decoded leniently.
TEST(LibraryLifecycle, ALogPathThatIsNotUtf8GivesTheDefaultLogFile) {
    const struct {
        const char* what;
        const char* bytes;
    } cases[] = {
        {"overlong zero", "\xC0\x80"},
        {"encoded surrogate", "\xED\xA0\x80"},
        {"above U+10FFFF", "\xF4\x90\x80\x80"},
        {"cut short", "\xE6\x89"},
    };
    for (const auto& c : cases) {
        UserDataFolder folder;
        folder.writeSettings(std::string(kValidId) + "[SysLog]\r\nLogPath=" + (folder.path() / "lp").string() +
                             c.bytes + "X.log\r\n");
        LibraryUnderTest lib;
        ASSERT_TRUE(lib.load()) << c.what;
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder.path())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"DevDllCfg.ini", "tavrin.log"})) << c.what;
        EXPECT_EQ(lib->OpenLog(nullptr), 1) << c.what;
    }
}
#endif

}  // namespace
}  // namespace tavrin::test
