// Opening and closing devices through the exports, on stand-in USB printer interfaces.
#include <gtest/gtest.h>

#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

using OpenDevTest = DeviceFixture;

TEST_F(OpenDevTest, OpensAndClosesAPrinterInterface) {
    auto dev = device("open");
    const _DEVOPEN_INFO info = openRecord(dev->path(), PORT_USBPRN, MODE_DATA, 0, -5);
    const std::int32_t h = lib_->OpenDev(&info);
    ASSERT_EQ(h, 0);
    EXPECT_EQ(info.readTimeout, 0);  // the caller's record is left alone
    EXPECT_EQ(info.writeTimeout, -5);
    EXPECT_NE(lib_->GetDevHandle(h, TAVRIN_SELECT_DATA), -1);
    EXPECT_EQ(lib_->GetDevHandle(h, TAVRIN_SELECT_CTRL), -1);  // no control port
    EXPECT_EQ(lib_->CloseDev(h), 1);
    EXPECT_EQ(lib_->CloseDev(h), 0);
    EXPECT_EQ(lib_->GetDevHandle(h, TAVRIN_SELECT_DATA), -1);

    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u" : 打 开 设 备(handle = 0,type = 0x301,mode = 0x1) 成 功\r\n"));
    EXPECT_EQ(logCount(log, u" : 关 闭 设 备(0)\r\n"), 2u);
}

TEST_F(OpenDevTest, TenSlotsLowestFreeFirstAndTheEleventhFails) {
    std::vector<std::unique_ptr<StandInDevice>> devs;
    for (int i = 0; i < 11; ++i) devs.push_back(device("slot" + std::to_string(i)));
    for (int i = 0; i < 10; ++i) {
        const _DEVOPEN_INFO info = openRecord(devs[static_cast<std::size_t>(i)]->path());
        EXPECT_EQ(lib_->OpenDev(&info), i);
    }
    const _DEVOPEN_INFO eleventh = openRecord(devs[10]->path());
    EXPECT_EQ(lib_->OpenDev(&eleventh), -1);

    // The eleventh device's port was closed again; once slot 3 is free it opens there.
    EXPECT_TRUE(devs[10]->peer().released(1000));
    ASSERT_EQ(lib_->CloseDev(3), 1);
    EXPECT_TRUE(devs[3]->peer().released(1000));
    EXPECT_EQ(lib_->OpenDev(&eleventh), 3);
    const _DEVOPEN_INFO third = openRecord(devs[3]->path());
    EXPECT_EQ(lib_->OpenDev(&third), -1);  // no slot left

    EXPECT_TRUE(logHas(flushLog(), u"#dllFunc_OpenDev : 打 开 设 备(301) 失 败\r\n"));
}

TEST_F(OpenDevTest, OnlyTheLow16BitsOfAHandleCount) {
    std::vector<std::unique_ptr<StandInDevice>> devs;
    for (int i = 0; i < 3; ++i) {
        devs.push_back(device("bits" + std::to_string(i)));
        const _DEVOPEN_INFO info = openRecord(devs.back()->path());
        ASSERT_EQ(lib_->OpenDev(&info), i);
    }
    const tavrin_os_handle_t h2 = lib_->GetDevHandle(2, 1);
    EXPECT_NE(h2, -1);
    EXPECT_EQ(lib_->GetDevHandle(0x7FFF0002, 1), h2);
    EXPECT_EQ(lib_->GetDevHandle(2, 0x100), -1);  // low byte 0: the control port, which is absent
    EXPECT_EQ(lib_->CloseDev(0x00010002), 1);
    EXPECT_EQ(lib_->GetDevHandle(2, 1), -1);
}

TEST_F(OpenDevTest, CloseOfNoDeviceReturnsZeroButIsLogged) {
    auto dev = device("close");
    const _DEVOPEN_INFO info = openRecord(dev->path());
    ASSERT_EQ(lib_->OpenDev(&info), 0);
    EXPECT_EQ(lib_->CloseDev(10), 0);
    EXPECT_EQ(lib_->CloseDev(-1), 0);
    EXPECT_EQ(lib_->CloseDev(4), 0);  // an empty slot
    EXPECT_EQ(lib_->GetDevHandle(10, 1), -1);
    EXPECT_EQ(lib_->GetDevHandle(-1, 1), -1);
    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u" : 关 闭 设 备(10)\r\n"));
    EXPECT_TRUE(logHas(log, u" : 关 闭 设 备(-1)\r\n"));
}

TEST_F(OpenDevTest, RefusesBadArgumentsBeforeTouchingAPort) {
    auto dev = device("args");
    EXPECT_EQ(lib_->OpenDev(nullptr), -1);

    struct Case {
        std::uint16_t type, mode;
        const char16_t* line;
    };
    const Case cases[] = {
        {PORT_USBPRN, 0, u"#dllFunc_OpenDev : 没 有 指 定 需 打 开 的 端 口 (portMode = 0x0)\r\n"},
        {PORT_USBPRN, 0x10, u"#dllFunc_OpenDev : 没 有 指 定 需 打 开 的 端 口 (portMode = 0x10)\r\n"},
        {0x0303, MODE_DATA, u"#dllFunc_OpenDev : 无 效 的 端 口 类 型(0x303)\r\n"},
    };
    for (const auto& c : cases) {
        const _DEVOPEN_INFO info = openRecord(dev->path(), c.type, c.mode);
        EXPECT_EQ(lib_->OpenDev(&info), -1);
    }
    const std::string log = flushLog();
    for (const auto& c : cases) EXPECT_TRUE(logHas(log, c.line)) << ansi(c.line);
    EXPECT_FALSE(logHas(log, u"失 败\r\n"));  // neither an open nor its failure was logged
    EXPECT_FALSE(logHas(log, u"CBPort::openPort"));
}

TEST_F(OpenDevTest, PrinterPathWithControlModeNeedsTheHidSibling) {
    auto dev = device("sibling");
    for (std::uint16_t mode : {std::uint16_t{MODE_CTRL}, std::uint16_t{MODE_DATA | MODE_CTRL}}) {
        const _DEVOPEN_INFO info = openRecord(dev->path(), PORT_USBPRN, mode);
        EXPECT_EQ(lib_->OpenDev(&info), -1);
    }
    // The printer port opened for mode 3 was closed again.
    EXPECT_TRUE(dev->peer().released(1000));
    const _DEVOPEN_INFO data = openRecord(dev->path());
    EXPECT_EQ(lib_->OpenDev(&data), 0);
    const std::string log = flushLog();
    EXPECT_EQ(logCount(log, u"#dllFunc_OpenDev : 打 开 控 制 口 失 败2(0x301)\r\n"), 2u);
    EXPECT_EQ(logCount(log, u"#dllFunc_OpenDev : 打 开 设 备(302) 失 败\r\n"), 2u);
}

TEST_F(OpenDevTest, MissingDeviceFailsWithTheDataPortLine) {
    const std::u16string missing = u"/nonexistent/tavrin/lp9";
    const auto path = exportText(missing);
    const _DEVOPEN_INFO info = openRecord(path.c_str());
    EXPECT_EQ(lib_->OpenDev(&info), -1);
    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u"#CBPort::openPort : path = " + missing + u"\r\n"));
    EXPECT_TRUE(logHas(log, u"#CUSBPrn::openPort : Fail(1)\r\n"));
    EXPECT_TRUE(logHas(log, u"#dllFunc_OpenDev : 打 开 数 据 口 失 败(0x301)\r\n"));
    EXPECT_TRUE(logHas(log, u"#dllFunc_OpenDev : 打 开 设 备(301) 失 败\r\n"));
}

TEST_F(OpenDevTest, ADeviceOpensOnlyOnce) {
    auto dev = device("twice");
    const _DEVOPEN_INFO info = openRecord(dev->path());
    ASSERT_EQ(lib_->OpenDev(&info), 0);
    EXPECT_EQ(lib_->OpenDev(&info), -1);
    ASSERT_EQ(lib_->CloseDev(0), 1);
    EXPECT_TRUE(dev->peer().released(1000));  // closing released the device
    EXPECT_EQ(lib_->OpenDev(&info), 0);
}

}  // namespace
}  // namespace tavrin::test
