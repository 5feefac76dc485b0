// CLogFile on its own: the text buffer, the record buffer and flushing to a file.
#include "devicelib/core/log_file.h"

#include "devicelib/core/dev_app.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/library_under_test.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using test::ansi;
using test::readFileBytes;

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = test::makeTempFolder("log");
        log_.createTextBuffer();
    }
    void TearDown() override {
        log_.closeLog();
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    fs::path file(const char* name) const { return folder_ / name; }
    std::int32_t open(const fs::path& p) { return log_.openLog(p.u16string().c_str()); }

    fs::path folder_;
    CLogFile log_;
};

TEST_F(LogFileTest, FlushWritesTheCollectedTextConvertedOnceWithoutByteOrderMark) {
    const fs::path p = file("a.log");
    ASSERT_EQ(open(p), 1);
    log_.logPrint(u"plain %d\r\n", 1);
    log_.funcLine(u"dllFunc_OpenDev", u"无 效 的 端 口 类 型(0x%x)\r\n", 0x303);
    log_.logFlush();
    EXPECT_EQ(log_.fillPosition(), 0u);
    const std::string bytes = readFileBytes(p);
    const std::string expected =
        ansi(u"plain 1\r\nTID(" + formatWide(u"%d", platform::currentThreadId()) +
             u")#dllFunc_OpenDev : 无 效 的 端 口 类 型(0x303)\r\n");
    EXPECT_EQ(bytes, expected);
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
}

TEST_F(LogFileTest, FileIsCreatedAnewAndReadableWhileOpen) {
    const fs::path p = file("b.log");
    { std::FILE* f = std::fopen(p.string().c_str(), "wb"); std::fputs("old contents", f); std::fclose(f); }
    ASSERT_EQ(open(p), 1);
    EXPECT_EQ(readFileBytes(p), "");  // replaced, and others may read it meanwhile
    log_.logPrint(u"new\r\n");
    log_.logFlush();
    EXPECT_EQ(readFileBytes(p), "new\r\n");
}

TEST_F(LogFileTest, OpenTwiceKeepsTheFirstFile) {
    ASSERT_EQ(open(file("first.log")), 1);
    EXPECT_EQ(open(file("second.log")), 1);
    EXPECT_FALSE(fs::exists(file("second.log")));
}

TEST_F(LogFileTest, OpenFailsWithoutATextBufferOrWithAnEmptyPath) {
    EXPECT_EQ(log_.openLog(u""), 0);
    CLogFile bare;  // no text buffer yet
    EXPECT_EQ(bare.openLog(file("c.log").u16string().c_str()), 0);
    EXPECT_FALSE(fs::exists(file("c.log")));
}

TEST_F(LogFileTest, FullBufferDropsTheLineThatWouldCrossTheEnd) {
    const std::u16string line(1000, u'x');
    for (int i = 0; i < 65; ++i) log_.logPrint(u"%s", line);
    EXPECT_EQ(log_.fillPosition(), 65000u);
    log_.logPrint(u"%s", line);  // 66,000 characters would not fit
    EXPECT_EQ(log_.fillPosition(), 65000u);
    log_.logPrint(u"%s", std::u16string(535, u'y'));  // fits together with its terminator
    EXPECT_EQ(log_.fillPosition(), 65535u);
    log_.logPrint(u"z");
    EXPECT_EQ(log_.fillPosition(), 65535u);
    log_.logFlush();  // no file: the text is discarded
    EXPECT_EQ(log_.fillPosition(), 0u);
    log_.logPrint(u"again");
    EXPECT_EQ(log_.collectedText(), u"again");
}

TEST_F(LogFileTest, StampedLineKeepsItsStampWhenTheTextDoesNotFit) {
    log_.logPrint(u"%s", std::u16string(65500, u'x'));
    log_.logPrintStamped(u"%s", std::u16string(100, u'y'));
    const std::u16string text = log_.collectedText();
    ASSERT_EQ(text.size(), 65500u + 16u);
    EXPECT_EQ(text.substr(65500 + 8, 8), u"+" + text.substr(65500 + 9, 4) + u" : ");
}

TEST_F(LogFileTest, TimeStampShape) {
    const std::u16string stamp = logTimeStamp();
    ASSERT_EQ(stamp.size(), 16u);
    EXPECT_EQ(stamp[2], u'-');
    EXPECT_EQ(stamp[5], u'-');
    EXPECT_EQ(stamp[8], u'+');
    EXPECT_EQ(stamp.substr(13), u" : ");
}

TEST_F(LogFileTest, RecordBufferHandsOutEachTextOnce) {
    log_.setLogRecord(u"abc", 1, 0, 0);
    std::uint32_t count = 99;
    const char16_t* text = log_.getLogRecord(&count, 0);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text, count), u"abc\r\n");
    EXPECT_EQ(text[count], 0);
    EXPECT_EQ(log_.getLogRecord(&count, 0), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST_F(LogFileTest, RecordTooLongForTheBufferIsNotStored) {
    const std::u16string text(4094, u'a');
    EXPECT_EQ(log_.appendRecord(text.c_str(), 4094, 2), 0u);  // 4,096 with its line end
    EXPECT_EQ(log_.appendRecord(text.c_str(), 4093, 2), 4093u);
}

TEST_F(LogFileTest, RecordThatWouldRunPastTheEndOverwritesTheTail) {
    const std::u16string a(4000, u'a');
    const std::u16string b(200, u'b');
    log_.appendRecord(a.c_str(), 4000, 0);
    std::uint32_t count = 0;
    log_.getLogRecord(&count, 0);          // R = W = 4000
    log_.appendRecord(b.c_str(), 200, 2);  // W goes back to 4095 - 202 = 3893, then on to 4095
    const char16_t* text = log_.getLogRecord(&count, 0);
    ASSERT_NE(text, nullptr);               // what stands from R to W: the new text's tail
    EXPECT_EQ(std::u16string(text, count), std::u16string(93, u'b') + u"\r\n");
    EXPECT_EQ(text[count], 0);
}

TEST_F(LogFileTest, SetLogRecordWithStampStoresStampThenText) {
    log_.setLogRecord(u"hello", 0, 1, 0);
    std::uint32_t count = 0;
    const char16_t* text = log_.getLogRecord(&count, 0);
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(count, 16u + 5u);
    EXPECT_EQ(std::u16string(text + 16, 5), u"hello");
    EXPECT_EQ(log_.collectedText(), std::u16string(text, count));
}

TEST_F(LogFileTest, SetLogRecordFlushesFirstWhenTheTextBufferWouldOverflow) {
    const fs::path p = file("d.log");
    ASSERT_EQ(open(p), 1);
    log_.logPrint(u"%s", std::u16string(65530, u'x'));
    log_.setLogRecord(u"0123456789", 1, 0, 0);
    EXPECT_EQ(readFileBytes(p).size(), 65530u);
    EXPECT_EQ(log_.collectedText(), u"0123456789\r\n");
}

// The text buffer takes a record's whole line; only the record buffer stops at 4,096 characters.
// A line that does not fit in the rest of the text buffer (with its terminator) goes in after a
// flush; one longer than the whole buffer cannot go in at all.
TEST_F(LogFileTest, SetLogRecordKeepsLongLinesWholeInTheTextBuffer) {
    const struct {
        const char* what;
        std::size_t before;  // characters collected before the record
        std::size_t length;  // the record's text, with a line end
        std::size_t flushed;  // characters the record's own flush wrote first
        bool kept;            // the line stands in the text buffer
    } cases[] = {
        {"longer than the record buffer", 0, 5000, 0, true},
        {"fills the rest exactly, leaving no room for the terminator", 100, 65434, 100, true},
        {"the longest line the buffer holds", 0, 65533, 0, true},
        {"longer than the buffer", 10, 65534, 10, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const fs::path p = file(("long" + std::to_string(n++) + ".log").c_str());
        ASSERT_EQ(open(p), 1) << c.what;
        if (c.before != 0) log_.logPrint(u"%s", std::u16string(c.before, u'x'));
        const std::u16string text(c.length, u'a');
        log_.setLogRecord(text.c_str(), 1, 0, 0);
        // Compared whole, reported by size: the texts run to 65,535 characters.
        const std::string flushed = readFileBytes(p);
        EXPECT_TRUE(flushed == std::string(c.flushed, 'x')) << c.what << ": " << flushed.size() << " bytes flushed";
        const std::u16string collected = log_.collectedText();
        EXPECT_TRUE(collected == (c.kept ? text + u"\r\n" : u""))
            << c.what << ": " << collected.size() << " characters collected";
        std::uint32_t count = 0;
        EXPECT_EQ(log_.getLogRecord(&count, 1), nullptr) << c.what;  // too long for the record buffer
        log_.closeLog();
        const std::string all = readFileBytes(p);
        EXPECT_TRUE(all == std::string(c.flushed, 'x') + (c.kept ? std::string(c.length, 'a') + "\r\n" : ""))
            << c.what << ": " << all.size() << " bytes in the file";
    }
}

TEST_F(LogFileTest, FlushResetsTheRecordReadPosition) {
    log_.setLogRecord(u"one", 0, 0, 0);
    std::uint32_t count = 0;
    log_.getLogRecord(&count, 0);
    log_.logFlush();
    const char16_t* text = log_.getLogRecord(&count, 0);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text, count), u"one");
}

TEST_F(LogFileTest, HexDumpWritesTwoDigitsPerByteAndALineBreak) {
    const std::uint8_t bytes[] = {0x0A, 0xFF};
    log_.logHexDump(bytes, 2);
    EXPECT_EQ(log_.collectedText(), u"0AFF\r\n");
    log_.logHexDump(nullptr, 2);
    log_.logHexDump(bytes, 0);
    EXPECT_EQ(log_.collectedText(), u"0AFF\r\n");
}

TEST_F(LogFileTest, HexDumpFlushesWhenTheBufferIsFull) {
    const fs::path p = file("e.log");
    ASSERT_EQ(open(p), 1);
    log_.logPrint(u"%s", std::u16string(65534, u'x'));
    const std::uint8_t bytes[] = {0x12, 0x34};
    log_.logHexDump(bytes, 2);
    EXPECT_EQ(readFileBytes(p), std::string(65534, 'x') + "12");
    EXPECT_EQ(log_.collectedText(), u"34\r\n");
}

TEST_F(LogFileTest, NothingIsLoggedOnceTheTextBufferIsFreed) {
    log_.freeTextBuffer();
    log_.logPrint(u"lost");
    log_.setLogRecord(u"kept", 0, 0, 0);  // the record buffer lives on
    EXPECT_EQ(log_.fillPosition(), 0u);
    std::uint32_t count = 0;
    EXPECT_NE(log_.getLogRecord(&count, 0), nullptr);
}

TEST_F(LogFileTest, DestroyingTheLogFlushesAHeldFile) {
    const fs::path p = file("f.log");
    {
        CLogFile log;
        log.createTextBuffer();
        ASSERT_EQ(log.openLog(p.u16string().c_str()), 1);
        log.logPrint(u"last words\r\n");
    }
    EXPECT_EQ(readFileBytes(p), "last words\r\n");
}

TEST(InvalidParameterHandler, LogsWhatTheRuntimeReported) {
    CLogFile& log = theLog();
    log.createTextBuffer();
    tavrInvalidParameterHandler(u"len < size", u"formatItem", u"cfg_xml.cpp", 42, 0);
    EXPECT_NE(log.collectedText().find(u"#tavrInvalidParameterHandler : InvalidParam: File = cfg_xml.cpp,"
                                       u"Function = formatItem,line = 42\r\n"),
              std::u16string::npos);
    log.logFlush();
}

}  // namespace
}  // namespace tavrin
