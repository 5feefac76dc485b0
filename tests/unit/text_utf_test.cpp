// The strict UTF-8 <-> UTF-16 converter: well-formed texts both ways, and every kind of ill-formed
// input refused by the strict functions and replaced piece by piece by the lossy ones.
#include "platform/text_utf.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrin::utf {
namespace {

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

TEST(TextUtf, WellFormedTextsConvertBothWays) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"COM3", u"COM3"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},  // a zero is a character like any other
        {"\xC2\x80", u"\u0080"},                        // the shortest two-byte form
        {"\xDF\xBF", u"\u07FF"},
        {"\xE0\xA0\x80", u"\u0800"},                    // the shortest three-byte form
        {"\xED\x9F\xBF", u"\uD7FF"},                    // just below the surrogates
        {"\xEE\x80\x80", u"\uE000"},                    // just above them
        {"\xEF\xBF\xBF", u"\uFFFF"},
        {"\xF0\x90\x80\x80", u"\U00010000"},            // the shortest four-byte form
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},            // the last code point
        {"\xE6\x89\x93 \xE5\xBC\x80", u"\u6253 \u5F00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16) << hex(c.utf8);
        EXPECT_EQ(utf16ToUtf8(c.utf16), c.utf8) << hex(c.utf8);
        EXPECT_EQ(utf8ToUtf16Lossy(c.utf8), c.utf16) << hex(c.utf8);
        EXPECT_EQ(utf16ToUtf8Lossy(c.utf16), c.utf8) << hex(c.utf8);
        EXPECT_TRUE(isWellFormed(c.utf8)) << hex(c.utf8);
        EXPECT_TRUE(isWellFormed(c.utf16)) << hex(c.utf8);
    }
}

// The lossy form puts one U+FFFD for each byte that does not begin a well-formed sequence.
TEST(TextUtf, IllFormedUtf8IsRefusedOrReplacedByteByByte) {
    const std::u16string r = u"\uFFFD";
    const struct {
        const char* what;
        std::string utf8;
        std::u16string lossy;
    } cases[] = {
        {"overlong zero in a path", "lp\xC0\x80X.log", u"lp" + r + r + u"X.log"},
        {"overlong two-byte form", "\xC1\xBF", r + r},
        {"overlong three-byte form", "\xE0\x80\xAF", r + r + r},
        {"overlong four-byte form", "\xF0\x8F\xBF\xBF", r + r + r + r},
        {"encoded high surrogate", "\xED\xA0\x80", r + r + r},
        {"encoded low surrogate", "\xED\xBF\xBF", r + r + r},
        {"surrogate pair encoded one by one", "\xED\xA0\xBD\xED\xB2\xA9", r + r + r + r + r + r},
        {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
        {"lead byte beyond U+10FFFF", "\xF5\x80\x80\x80", r + r + r + r},
        {"byte never used", "a\xFF" "b", u"a" + r + u"b"},
        {"stray continuation byte", "\x80x", r + u"x"},
        {"three-byte form cut short", "\xE6\x89", r + r},
        {"four-byte form cut short", "\xF0\x9F\x96", r + r + r},
        {"lead byte at the end", "ok\xC3", u"ok" + r},
        {"lead byte before another character", "\xC3(", r + u"("},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8ToUtf16(c.utf8), std::nullopt) << c.what;
        EXPECT_FALSE(isWellFormed(c.utf8)) << c.what;
        EXPECT_EQ(utf8ToUtf16Lossy(c.utf8), c.lossy) << c.what;
    }
}

TEST(TextUtf, UnpairedSurrogatesAreRefusedOrReplaced) {
    const std::string r = "\xEF\xBF\xBD";
    const std::u16string high(1, u'\xD83D'), low(1, u'\xDDA8');
    const struct {
        const char* what;
        std::u16string utf16;
        std::string lossy;
    } cases[] = {
        {"high surrogate at the end", u"x" + high, "x" + r},
        {"low surrogate alone", low + u"x", r + "x"},
        {"two high surrogates, then the low one", high + high + low, r + "\xF0\x9F\x96\xA8"},
        {"pair in the wrong order", low + high, r + r},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf16ToUtf8(c.utf16), std::nullopt) << c.what;
        EXPECT_FALSE(isWellFormed(c.utf16)) << c.what;
        EXPECT_EQ(utf16ToUtf8Lossy(c.utf16), c.lossy) << c.what;
    }
}

// The converter to UTF-8 takes runs of ASCII several units at a time: every other kind of unit,
// at every place before and after such a run, converts as it does alone.
TEST(TextUtf, EveryKindOfUnitConvertsAtEveryPlaceInARunOfAscii) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        const char* what;
        std::u16string utf16;
        std::string utf8;
        bool wellFormed;
    } cases[] = {
        {"ASCII", u"a", "a", true},
        {"two-byte form", u"\u00E9", "\xC3\xA9", true},
        {"three-byte form", u"\u6253", "\xE6\x89\x93", true},
        {"surrogate pair", u"\U0001F5A8", "\xF0\x9F\x96\xA8", true},
        {"high surrogate alone", std::u16string(1, u'\xD83D'), r, false},
        {"low surrogate alone", std::u16string(1, u'\xDDA8'), r, false},
        {"zero", std::u16string(1, u'\0'), std::string(1, '\0'), true},
    };
    for (const auto& c : cases) {
        for (std::size_t before = 0; before <= 9; ++before) {
            for (std::size_t after = 0; after <= 9; ++after) {
                const std::u16string text = std::u16string(before, u'x') + c.utf16 + std::u16string(after, u'y');
                const std::string expected = std::string(before, 'x') + c.utf8 + std::string(after, 'y');
                EXPECT_EQ(utf16ToUtf8Lossy(text), expected) << c.what << " after " << before << ", before " << after;
                if (c.wellFormed)
                    EXPECT_EQ(utf16ToUtf8(text), expected) << c.what << " after " << before << ", before " << after;
                else
                    EXPECT_EQ(utf16ToUtf8(text), std::nullopt) << c.what << " after " << before;
            }
        }
    }
}

}  // namespace
}  // namespace tavrin::utf
