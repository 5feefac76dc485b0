// The byte-level rules of device configuration: check values, bit fields, byte reversal,
// hexadecimal texts, description numbers and the description document's header.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devicelib/config/cfg_codec.h"
#include "tests/support/hex_bytes.h"

namespace tavrin::config {
namespace {

using test::hexBytes;
using test::hexText;
using Bytes = std::vector<std::uint8_t>;

TEST(ConfigChecks, Crc8AndCrc16OverBits) {
    const std::string abc = "abc";
    EXPECT_EQ(crc8(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()), 0xA9);
    EXPECT_EQ(crc8(hexBytes("12 35 5A 00").data(), 4), 0x84);
    EXPECT_EQ(crc8(nullptr, 0), 0x00);

    const std::string digits = "123456789";
    const auto* d = reinterpret_cast<const std::uint8_t*>(digits.data());
    const struct {
        std::uint32_t bits;
        std::uint16_t crc;
    } cases[] = {
        {72, 0x29B1},  // all nine bytes: the CRC-16/CCITT-FALSE check value
        {9, 0x9F25},   // "1" and the top bit of "2"
        {13, 0x03BF},  // the high five bits of the second byte
        {0, 0xFFFF},
    };
    for (const auto& c : cases) EXPECT_EQ(crc16Bits(d, c.bits), c.crc) << c.bits << " bits";
}

TEST(ConfigBitFields, ReadAndWriteMostSignificantFirst) {
    // The worked example: A 8 bits = 18, B 4 bits = 3, C 4 bits = 5, D 16 bits of text "Z".
    Bytes data(4, 0);
    ASSERT_TRUE(writeBits(data.data(), 4, 0, 8, 18));
    ASSERT_TRUE(writeBits(data.data(), 4, 8, 4, 3));
    ASSERT_TRUE(writeBits(data.data(), 4, 12, 4, 5));
    const std::uint8_t z[] = {'Z', 0};
    ASSERT_TRUE(writeBytesAt(data.data(), 4, 16, z, 2));
    EXPECT_EQ(hexText(data), "12 35 5A 00");

    std::uint32_t v = 0;
    ASSERT_TRUE(readBits(data.data(), 4, 8, 4, v));
    EXPECT_EQ(v, 3u);

    // A 28-bit field at bit 5 reads back exactly, the bits around it untouched.
    Bytes wide(5, 0xFF);
    ASSERT_TRUE(writeBits(wide.data(), 5, 5, 28, 0x0ABCDEF1));
    ASSERT_TRUE(readBits(wide.data(), 5, 5, 28, v));
    EXPECT_EQ(v, 0x0ABCDEF1u);
    EXPECT_EQ(wide[0] & 0xF8, 0xF8);  // bits 0..4
    EXPECT_EQ(wide[4] & 0x07, 0x07);  // bits 33..39

    // Whole bytes at an odd bit offset.
    Bytes odd(3, 0);
    const std::uint8_t ab[] = {0xAB, 0xCD};
    ASSERT_TRUE(writeBytesAt(odd.data(), 3, 4, ab, 2));
    EXPECT_EQ(hexText(odd), "0A BC D0");
    std::uint8_t back[2] = {};
    ASSERT_TRUE(readBytesAt(odd.data(), 3, 4, back, 2));
    EXPECT_EQ(hexText(Bytes(back, back + 2)), "AB CD");
}

TEST(ConfigBitFields, FieldsOutsideTheDataFailUntouched) {
    Bytes data(4, 0x5A);
    std::uint32_t v = 7;
    const struct {
        std::uint32_t offset, width;
    } outside[] = {{25, 8}, {32, 1}, {0, 33}, {65535, 8}, {0xFFFFFFF8u, 16}, {0, 0}};
    for (const auto& c : outside) {
        EXPECT_FALSE(readBits(data.data(), 4, c.offset, c.width, v)) << c.offset << "+" << c.width;
        EXPECT_FALSE(writeBits(data.data(), 4, c.offset, c.width, 0)) << c.offset << "+" << c.width;
    }
    EXPECT_EQ(v, 7u);
    const std::uint8_t two[2] = {};
    EXPECT_FALSE(writeBytesAt(data.data(), 4, 24, two, 2));
    EXPECT_FALSE(readBytesAt(data.data(), 4, 17, Bytes(2).data(), 2));
    EXPECT_EQ(hexText(data), "5A 5A 5A 5A");
    EXPECT_TRUE(readBits(data.data(), 4, 24, 8, v));  // the last byte is still inside
}

TEST(ConfigNumbers, SignExtensionAndByteReversal) {
    EXPECT_EQ(signExtend(0xFF, 8), -1);
    EXPECT_EQ(signExtend(0x7F, 8), 127);
    EXPECT_EQ(signExtend(0x8000000, 28), -134217728);
    EXPECT_EQ(signExtend(0xFFFFFFFF, 32), -1);

    const struct {
        std::int32_t value;
        std::uint32_t width;
        std::int32_t minimum;
        std::int32_t reversed;
    } cases[] = {
        {0x3412, 16, 0, 0x1234},                  // data 34 12 reads as 4660
        {0x1234, 16, 0, 0x3412},                  // and 4660 is written as 34 12
        {static_cast<std::int32_t>(0xFFFF9234), 16, 0, 0x3492},  // zero-extended for minimum 0
        {0x0080, 16, -100, -32768},               // sign-extended from the new bit 15
        {0x0080, 9, 0, 0x8000},                   // 9 bits are 2 bytes
        {0x00123456, 24, 0, 0x56341200},          // 3 bytes: all four reversed
        {0x12345678, 32, 0, 0x78563412},
        {-1, 8, -128, -1},                        // 1 byte: nothing
        {0x55, 1, 0, 0x55},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reverseBytes(c.value, c.width, c.minimum), c.reversed) << std::hex << c.value << " w" << std::dec << c.width;
}

TEST(ConfigHexText, DigitsSeparatorsAndFailures) {
    const struct {
        std::u16string text;
        const char* bytes;  // nullptr: refused
    } cases[] = {
        {u"0A1B", "0A 1B"},  {u"0a 1b", "0A 1B"}, {u"A,1B", "0A 1B"}, {u"dead0001", "DE AD 00 01"},
        {u"1;2;3", "01 02 03"}, {u"  ab", "AB"},  {u"abc", "AB 0C"},  {u"", ""},
        {u"0x1B", nullptr},  {u"1B-", nullptr},  {u"g", nullptr},
    };
    for (const auto& c : cases) {
        std::uint8_t out[8] = {};
        const auto n = parseHexText(c.text.data(), c.text.size(), out, sizeof out);
        if (c.bytes == nullptr) {
            EXPECT_FALSE(n) << std::string(c.text.begin(), c.text.end());
        } else {
            ASSERT_TRUE(n) << std::string(c.text.begin(), c.text.end());
            EXPECT_EQ(hexText(Bytes(out, out + *n)), c.bytes);
        }
    }
    std::uint8_t two[2];
    EXPECT_FALSE(parseHexText(u"010203", 6, two, 2)) << "more bytes than the room";
    EXPECT_FALSE(parseHexText(u"0102 3", 6, two, 2)) << "a last nibble beyond the room";
}

TEST(ConfigNumbers, DecimalValuesOfDescriptions) {
    const struct {
        std::u16string text;
        std::int32_t value;
    } cases[] = {
        {u"100", 100},       {u"+100", 100},        {u"100abc", 100},   {u"0001", 1},
        {u"  -5", -5},       {u"\t\r\n42", 42},     {u"", 0},           {u"abc", 0},
        {u"- 5", 0},         {u"99999999999", 2147483647}, {u"-99999999999", -2147483647 - 1},
        {u"4294967296", 2147483647},
    };
    for (const auto& c : cases) EXPECT_EQ(decimalValue(c.text), c.value) << std::string(c.text.begin(), c.text.end());
}

TEST(ConfigDescriptionHeader, SignatureAndLittleEndianFields) {
    Bytes h = hexBytes("78 6D 6C 43 66 67 44 6F 63 30 31 EE 00 04 34 12");  // "xmlCfgDoc01", 0x0400, 0x1234
    auto parsed = parseDescriptionHeader(h.data(), h.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->length, 1024);
    EXPECT_EQ(parsed->check, 0x1234);

    Bytes longer = h;
    longer.push_back(0x99);
    EXPECT_TRUE(parseDescriptionHeader(longer.data(), longer.size()));
    EXPECT_FALSE(parseDescriptionHeader(h.data(), 15)) << "cut short";
    Bytes empty = h;
    empty[12] = empty[13] = 0;
    EXPECT_FALSE(parseDescriptionHeader(empty.data(), empty.size())) << "length 0";
    Bytes wrong = h;
    wrong[10] = '2';
    EXPECT_FALSE(parseDescriptionHeader(wrong.data(), wrong.size())) << "xmlCfgDoc02";
    EXPECT_FALSE(parseDescriptionHeader(nullptr, 16));
}

}  // namespace
}  // namespace tavrin::config
