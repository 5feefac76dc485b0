#include "platform/wide_format.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavrin {
namespace {

TEST(WideFormat, ConversionsUsedByTheLog) {
    struct Case {
        std::u16string got, want;
    };
    const Case cases[] = {
        {formatWide(u"TID(%d)#%s : ", 1234, u"dllFunc_OpenDev"), u"TID(1234)#dllFunc_OpenDev : "},
        {formatWide(u"%02u-%02u-%02u+%04u : ", 7u, 5u, 9u, 42u), u"07-05-09+0042 : "},
        {formatWide(u"(0x%x)", 0x301), u"(0x301)"},
        {formatWide(u"%X", 0xABCDu), u"ABCD"},
        {formatWide(u"%d", -5), u"-5"},
        {formatWide(u"%x", -1), u"ffffffff"},  // an int prints as 32 bits
        {formatWide(u"%d", std::int64_t{-9000000000}), u"-9000000000"},
        {formatWide(u"%u", std::uint16_t{65535}), u"65535"},
        {formatWide(u"%4d|%d", 7, 3), u"   7|3"},
        {formatWide(u"100%%"), u"100%"},
        {formatWide(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)"},
        {formatWide(u"打 开 设 备(%x) 失 败\r\n", 0x302), u"打 开 设 备(302) 失 败\r\n"},
        {formatWide(u"%d %d", 1), u"1 "},  // a conversion without its argument prints nothing
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

// Into a fixed buffer: the text and its zero when both fit, else nothing usable and never a
// character written past the room given, whichever piece (literal text, %s, padding, digits) is the
// one that does not fit.
TEST(WideFormat, IntoABufferFitsWithItsZeroOrNotAtAllAndNeverWritesPastTheRoom) {
    const std::u16string name = u"dllFunc_Write";
    const struct {
        const char16_t* format;
        std::vector<FormatArg> args;
        std::u16string want;
    } cases[] = {
        {u"TID(%d)#%s : ", {FormatArg(4711), FormatArg(name)}, u"TID(4711)#dllFunc_Write : "},
        {u"获 取 设 备 端 口(%d) 失 败 \r\n", {FormatArg(9)}, u"获 取 设 备 端 口(9) 失 败 \r\n"},
        {u"%02u-%02u-%02u+%04u : ", {FormatArg(7u), FormatArg(5u), FormatArg(9u), FormatArg(42u)}, u"07-05-09+0042 : "},
        {u"[%6d][%3x]%c", {FormatArg(-42), FormatArg(0xBEEF), FormatArg(u'Z')}, u"[   -42][beef]Z"},
        {u"%08X%%%s", {FormatArg(0x1F), FormatArg(static_cast<const char16_t*>(nullptr))}, u"0000001F%(null)"},
        {u"", {}, u""},
    };
    constexpr char16_t kUntouched = u'\xA5A5';
    for (const auto& c : cases) {
        EXPECT_EQ(formatWideArgs(c.format, c.args.data(), c.args.size()), c.want) << c.want.size();
        for (std::size_t room = 0; room <= c.want.size() + 3; ++room) {
            std::u16string buffer(c.want.size() + 8, kUntouched);
            const std::size_t got = formatWideInto(buffer.data(), room, c.format, c.args.data(), c.args.size());
            if (room > c.want.size()) {
                ASSERT_EQ(got, c.want.size()) << "room " << room;
                EXPECT_EQ(buffer.substr(0, got), c.want) << "room " << room;
                EXPECT_EQ(buffer[got], u'\0') << "room " << room;
            } else {
                EXPECT_EQ(got, kNoFit) << "room " << room;
            }
            for (std::size_t i = room; i < buffer.size(); ++i)
                ASSERT_EQ(buffer[i], kUntouched) << "room " << room << ", written past the room at " << i;
        }
    }
}

TEST(WideFormat, WideLengthStopsAtTheLimit) {
    EXPECT_EQ(wideLength(u"abc", 10), 3u);
    EXPECT_EQ(wideLength(u"abcdef", 4), 4u);
    EXPECT_EQ(wideLength(nullptr, 4), 0u);
}

}  // namespace
}  // namespace tavrin
