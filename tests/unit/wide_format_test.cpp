#include "platform/wide_format.h"

#include <gtest/gtest.h>

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

TEST(WideFormat, WideLengthStopsAtTheLimit) {
    EXPECT_EQ(wideLength(u"abc", 10), 3u);
    EXPECT_EQ(wideLength(u"abcdef", 4), 4u);
    EXPECT_EQ(wideLength(nullptr, 4), 0u);
}

}  // namespace
}  // namespace tavrin
