// Settings files read through the platform's profile reader, and CDevDllCfg's rules on top.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "devicelib/core/dev_dll_cfg.h"
#include "platform/ini_file.h"
#include "tests/support/library_under_test.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = test::makeTempFolder("ini"); }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    std::u16string write(const std::string& text, const char* name = "DevDllCfg.ini") {
        std::ofstream(folder_ / name, std::ios::binary) << text;
        return (folder_ / name).u16string();
    }
    fs::path folder_;
};

TEST_F(IniFileTest, IntegersAndTextsFollowTheProfileRules) {
    const std::u16string f = write(
        "[Port]\r\nnum=8080\r\nneg=-5\r\nbad=12abc\r\nword=abc\r\n"
        "name=  spaced value  \r\nquoted=\"in quotes\"\r\n[other]\r\nnum=1\r\n");
    EXPECT_EQ(platform::iniReadInt(f, u"Port", u"num", 7), 8080);
    EXPECT_EQ(platform::iniReadInt(f, u"port", u"NUM", 7), 8080);  // case does not matter
    EXPECT_EQ(platform::iniReadInt(f, u"Port", u"neg", 7), -5);
    EXPECT_EQ(platform::iniReadInt(f, u"Port", u"bad", 7), 12);
    EXPECT_EQ(platform::iniReadInt(f, u"Port", u"word", 7), 0);
    EXPECT_EQ(platform::iniReadInt(f, u"Port", u"missing", 7), 7);
    EXPECT_EQ(platform::iniReadInt(f, u"Nowhere", u"num", 7), 7);
    EXPECT_EQ(platform::iniReadString(f, u"Port", u"name", u"d", 259), u"spaced value");
    EXPECT_EQ(platform::iniReadString(f, u"Port", u"quoted", u"d", 259), u"in quotes");
    EXPECT_EQ(platform::iniReadString(f, u"Port", u"missing", u"dflt", 259), u"dflt");
    EXPECT_EQ(platform::iniReadString(f, u"Port", u"name", u"d", 6), u"spaced");
}

TEST_F(IniFileTest, MissingFileGivesTheDefaults) {
    const std::u16string f = (folder_ / "absent.ini").u16string();
    EXPECT_EQ(platform::iniReadInt(f, u"General", u"CfgID", 3), 3);
    EXPECT_EQ(platform::iniReadString(f, u"SysLog", u"LogPath", u"", 259), u"");
}

TEST_F(IniFileTest, SettingsWithTheRightIdAreRead) {
    write("[General]\r\nCfgID=1684418609\r\n[Port]\r\nReadTimeout=250\r\nWriteTimeout=3000\r\n"
          "UsbVID=70000\r\nUsbPID=4660\r\n[SysLog]\r\nLogEnable=1\r\nLogPath=custom.log\r\n");
    CDevDllCfg cfg;
    ASSERT_EQ(cfg.load(folder_.u16string()), 1);
    EXPECT_EQ(cfg.ReadTimeout, 250);
    EXPECT_EQ(cfg.WriteTimeout, 3000);
    EXPECT_EQ(cfg.UsbVID, 70000 & 0xFFFF);  // the low 16 bits
    EXPECT_EQ(cfg.UsbPID, 4660);
    EXPECT_EQ(cfg.LogPath, u"custom.log");
}

TEST_F(IniFileTest, SettingsWithAWrongIdAreIgnored) {
    write("[General]\r\nCfgID=1684418610\r\n[Port]\r\nReadTimeout=250\r\n[SysLog]\r\nLogEnable=0\r\n");
    CDevDllCfg cfg;
    EXPECT_EQ(cfg.load(folder_.u16string()), 0);
    EXPECT_EQ(cfg.ReadTimeout, 100);
    EXPECT_EQ(cfg.WriteTimeout, 2000);
    EXPECT_EQ(cfg.LogEnable, 1);
    EXPECT_TRUE(cfg.LogPath.empty());
}

TEST_F(IniFileTest, LogPathDefaultsToTheUserFolderAndIsEmptyWhenLoggingIsOff) {
    write("[General]\r\nCfgID=1684418609\r\n");
    CDevDllCfg on;
    ASSERT_EQ(on.load(folder_.u16string()), 1);
    EXPECT_EQ(on.LogPath, (folder_ / "tavrin.log").u16string());

    write("[General]\r\nCfgID=1684418609\r\n[SysLog]\r\nLogEnable=0\r\nLogPath=x.log\r\n");
    CDevDllCfg off;
    ASSERT_EQ(off.load(folder_.u16string()), 1);
    EXPECT_EQ(off.LogEnable, 0);
    EXPECT_TRUE(off.LogPath.empty());
}

}  // namespace
}  // namespace tavrin
