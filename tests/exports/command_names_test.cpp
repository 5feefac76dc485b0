// The command names through the loaded library: the table dllFunc_EnumProtoCode lists, and the
// names dllFunc_DevIoCtrl refuses before it looks at a device.
#include <gtest/gtest.h>

#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

using CommandNamesTest = DeviceFixture;

std::basic_string<tavrin_wchar_t> name(const char16_t* text) { return exportText(std::u16string(text)); }

std::u16string fromLibrary(const tavrin_wchar_t* text) {
    std::u16string out;
    for (; text != nullptr && *text != 0; ++text) out += static_cast<char16_t>(*text);
    return out;
}

TEST_F(CommandNamesTest, EnumProtoCodeListsTheTable) {
    struct Row {
        std::uint16_t index;
        const char16_t* name;
        std::uint16_t code;
    };
    const Row rows[] = {
        {0, u"CTRL_CMD_NOUSE", 0x00},          {1, u"CTRL_CMDGET_MODEL", 0x01},
        {4, u"CTRL_CMD_CONNT", 0x04},          {6, u"CTRL_CMDSET_PSW", 0x06},
        {10, u"CTRL_CMDGET_PWSSTAT", 0x0A},    {16, u"CTRL_CMDGET_MAINTAININFO", 0x10},
        {21, u"CTRL_CMDGET_VERINFO", 0x15},    {22, u"CTRL_CMDGET_FEAT", 0x21},
        {23, u"CTRL_CMDSET_FEAT", 0x22},       {24, u"CTRL_DEVCMD_ST", 0x80},
    };
    for (const Row& row : rows) {
        std::uint16_t code = 0xFFFF;
        EXPECT_EQ(fromLibrary(lib_->EnumProtoCode(row.index, &code)), row.name) << row.index;
        EXPECT_EQ(code, row.code) << row.index;
    }
    std::uint16_t all = 0;
    for (std::uint16_t i = 0; i < 25; ++i) all += lib_->EnumProtoCode(i, nullptr) != nullptr ? 1 : 0;
    EXPECT_EQ(all, 25);
    for (std::uint16_t past : {25, 26, 0xFFFF}) {
        std::uint16_t code = 0x1234;
        EXPECT_EQ(lib_->EnumProtoCode(past, &code), nullptr);
        EXPECT_EQ(code, 0x1234);
    }
}

TEST_F(CommandNamesTest, NamesNotInTheTableAndBadDeviceCommandsAreRefused) {
    struct Case {
        const char16_t* name;  // null: no name at all
        std::vector<std::uint8_t> data;
        const char16_t* line;
    };
    const char16_t* unknown = u"#dllFunc_DevIoCtrl : 无 效 的 命 令 码\r\n";
    const char16_t* badDevCmd = u"#dllFunc_DevIoCtrl : 设 备 命 令 码 格 式 错 误\r\n";
    // Names that pass reach the device lookup, which finds no device 7.
    const char16_t* noDevice = u"#DevIoCtrl : 获 取 设 备 端 口(7) 失 败 \r\n";
    const Case cases[] = {
        {u"ctrl_cmdget_model", {}, unknown},    {u"CTRL_CMDGET_MODEL ", {}, unknown},
        {u"CTRL_CMDGET", {}, unknown},          {u"tavr_dump", {}, unknown},
        {u"", {}, unknown},                     {nullptr, {}, unknown},
        {u"CTRL_DEVCMD_ST", {0x7F}, badDevCmd}, {u"CTRL_DEVCMD_ST", {0xA0, 0x01}, badDevCmd},
        {u"CTRL_DEVCMD_ST", {}, badDevCmd},     {u"CTRL_DEVCMD_ST", {0x80}, noDevice},
        {u"CTRL_DEVCMD_ST", {0x9F, 0x01}, noDevice}, {u"CTRL_CMDGET_MODEL", {}, noDevice},
        {u"TAVR_DUMP", {0x01}, noDevice},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(lib_.load());  // a fresh log for each case
        ASSERT_EQ(lib_->OpenLog(exportText(logFile_).c_str()), 1);
        std::uint8_t buf[8];
        _DEVACK_INFO ack{buf, sizeof buf, 0xBEEF, 0xCC};
        const auto text = c.name != nullptr ? name(c.name) : std::basic_string<tavrin_wchar_t>();
        EXPECT_EQ(lib_->DevIoCtrl(7, c.name != nullptr ? text.c_str() : nullptr, c.data.empty() ? nullptr : c.data.data(),
                                  static_cast<std::uint32_t>(c.data.size()), &ack), 0);
        EXPECT_EQ(ack.datLen, 0xBEEF);
        const std::string log = flushLog();
        EXPECT_EQ(logCount(log, c.line), 1u) << (c.name ? ansi(c.name) : "(null)") << " " << c.data.size();
        EXPECT_EQ(logCount(log, u"DevIoCtrl : "), 1u) << "one line only";
    }
}

TEST_F(CommandNamesTest, ExchangeNeedsADeviceWithAControlPortAndAnAnswerRecord) {
    auto dev = device("noctrl");
    const _DEVOPEN_INFO info = openRecord(dev->path());  // the data port only
    const std::int32_t h = lib_->OpenDev(&info);
    ASSERT_EQ(h, 0);
    _DEVACK_INFO ack{nullptr, 0, 0xBEEF, 0xCC};
    const std::uint8_t data[] = {0x1B};
    EXPECT_EQ(lib_->DevIoCtrl(h, name(u"CTRL_CMDGET_MODEL").c_str(), nullptr, 0, &ack), 0);
    EXPECT_EQ(lib_->DevIoCtrl(h, name(u"TAVR_DUMP").c_str(), data, 1, &ack), 0);
    EXPECT_EQ(ack.ackCode, 0xCC);  // nothing was touched
    EXPECT_EQ(lib_->DevIoCtrl(h, name(u"CTRL_CMDGET_MODEL").c_str(), nullptr, 0, nullptr), 0);
    const std::string log = flushLog();
    EXPECT_EQ(logCount(log, u"DevIoCtrl : "), 1u);  // only the missing answer record is logged
    EXPECT_TRUE(logHas(log, u"#DevIoCtrl : 获 取 设 备 端 口(0) 失 败 \r\n"));
}

}  // namespace
}  // namespace tavrin::test
