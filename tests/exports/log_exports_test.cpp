// The log exports: records, flushing, opening and closing the file, the log's bytes on disk.
#include <gtest/gtest.h>

#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

using LogExports = DeviceFixture;

// "0042 " for 42: five characters.
std::u16string formatDigits(int n) {
    std::u16string out = u"0000 ";
    for (int i = 3; i >= 0; --i, n /= 10) out[static_cast<std::size_t>(i)] = static_cast<char16_t>(u'0' + n % 10);
    return out;
}

TEST_F(LogExports, RecordGoesToTheFileAndIsFetchedOnce) {
    const auto abc = exportText(std::u16string(u"abc"));
    lib_->SetLogRecord(abc.c_str(), 1, 0, 1);
    const std::string file = readFileBytes(logFile_);  // flushed, while still open
    ASSERT_GE(file.size(), 5u);
    EXPECT_EQ(file.substr(file.size() - 5), "abc\r\n");
    EXPECT_EQ(lib_.takeRecords(), u"abc\r\n");
    std::uint32_t count = 99;
    EXPECT_EQ(lib_->GetLogRecord(&count, 0), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST_F(LogExports, FlushWithoutAFileDiscardsTheCollectedText) {
    lib_->CloseLog();
    const auto lost = exportText(std::u16string(u"lost text"));
    lib_->SetLogRecord(lost.c_str(), 1, 0, 1);
    ASSERT_EQ(lib_->OpenLog(exportText(logFile_).c_str()), 1);  // replaces the old file
    const auto kept = exportText(std::u16string(u"kept"));
    lib_->SetLogRecord(kept.c_str(), 1, 0, 0);
    EXPECT_EQ(flushLog(), "kept\r\n");
}

TEST_F(LogExports, ARecordLongerThanTheRecordBufferReachesTheFileWhole) {
    std::u16string text;
    for (int i = 0; i < 1000; ++i) text += formatDigits(i);  // 5,000 characters, each run different
    lib_->SetLogRecord(exportText(text).c_str(), 1, 0, 1);
    const std::string file = readFileBytes(logFile_);
    const std::string expected = ansi(text) + "\r\n";
    ASSERT_GE(file.size(), expected.size());
    const std::size_t at = file.rfind(ansi(text.substr(0, 5)));
    EXPECT_TRUE(file.substr(file.size() - expected.size()) == expected)
        << "the record's line in the file has " << (at == std::string::npos ? 0 : file.size() - at) << " of "
        << expected.size() << " bytes";
    EXPECT_EQ(lib_.takeRecords(), u"");  // too long for the record buffer
}

TEST_F(LogExports, SecondOpenKeepsTheFirstFile) {
    const auto other = makeTempFolder("other") / "other.log";
    EXPECT_EQ(lib_->OpenLog(exportText(other).c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(other));
    std::filesystem::remove_all(other.parent_path());
}

TEST_F(LogExports, TimeStampedRecordComesBackWithItsStamp) {
    const auto text = exportText(std::u16string(u"stamped"));
    lib_->SetLogRecord(text.c_str(), 0, 1, 0);
    const std::u16string got = lib_.takeRecords(true);
    ASSERT_EQ(got.size(), 16u + 7u);
    EXPECT_EQ(got.substr(13, 3), u" : ");
    EXPECT_EQ(got.substr(16), u"stamped");
}

TEST_F(LogExports, ChineseMessagesReachTheFileInTheAnsiCodePage) {
    const _DEVOPEN_INFO info = {nullptr, 0, 0, 0x0303, MODE_DATA};
    EXPECT_EQ(lib_->OpenDev(&info), -1);
    const std::string log = flushLog();
#ifdef _WIN32
    // The tests run with the Chinese code page 936 (GBK).
    const std::string message = "\xCE\xDE \xD0\xA7 \xB5\xC4 \xB6\xCB \xBF\xDA \xC0\xE0 \xD0\xCD(0x303)\r\n";
#else
    const std::string message = "无 效 的 端 口 类 型(0x303)\r\n";
#endif
    EXPECT_NE(log.find("#dllFunc_OpenDev : " + message), std::string::npos) << log;
}

TEST_F(LogExports, NothingIsLoggedAfterUnload) {
    const auto before = exportText(std::u16string(u"before unload"));
    lib_->SetLogRecord(before.c_str(), 1, 0, 0);
    lib_.unload();
    const std::string log = readFileBytes(logFile_);
    EXPECT_NE(log.find("before unload\r\n"), std::string::npos);
    EXPECT_NE(log.find("DLL_PROCESS_DETACH"), std::string::npos);
}

}  // namespace
}  // namespace tavrin::test
