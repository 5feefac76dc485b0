// The firmware file's pure rules: the check value over H bits, the header's refusals, the
// information record, the progress arithmetic.
#include <gtest/gtest.h>

#include <cstring>

#include "devicelib/dfu/fw_header.h"
#include "tests/dfu/firmware_file.h"

namespace tavrin::test {
namespace {

TEST(FwHeaderTest, CheckValueCoversTheFirstHBits) {
    // H = 32 covers the magic only: everything behind it may change without changing the value.
    FwBytes a = makeFirmware(32, 200, 1), b = makeFirmware(32, 200, 99);
    EXPECT_EQ(a[5], b[5]);
    EXPECT_EQ(a[6], b[6]);
    const FwBytes magicOnly = {'u', 'd', 'f', '1'};
    EXPECT_EQ(crc16Bits(magicOnly.data(), 32), referenceCrc(magicOnly, 32));
    // A bit count that is no multiple of 8 takes the high bits of the next byte.
    for (std::uint8_t h : {8, 13, 31, 33, 100, 128, 255}) {
        FwBytes f = makeFirmware(h, 300);
        f[5] = 0xE3;
        f[6] = 0xD8;
        EXPECT_EQ(crc16Bits(f.data(), h), referenceCrc(f, h)) << int(h);
    }
}

TEST(FwHeaderTest, HeaderOutcomes) {
    struct Case {
        const char* name;
        std::uint8_t h;
        std::size_t size;
        int corrupt;  // byte to change after sealing, -1 none
        FwCheck expected;
    };
    const Case cases[] = {
        {"valid", 128, 1000, -1, FwCheck::Ok},
        {"H just the file", 200, 200, -1, FwCheck::Ok},
        {"check value", 128, 1000, 9, FwCheck::BadCheck},
        {"stored value", 128, 1000, 6, FwCheck::BadCheck},
        {"magic", 128, 1000, 0, FwCheck::BadMagic},
        {"H below 8", 7, 1000, -1, FwCheck::BadLength},
        {"H beyond the file", 255, 254, -1, FwCheck::BadLength},
    };
    for (const Case& c : cases) {
        FwBytes f = makeFirmware(c.h, c.size < 128 ? 128 : c.size);
        if (c.corrupt >= 0) f[static_cast<std::size_t>(c.corrupt)] ^= 0x40;
        const FwCheckResult r = checkFwHeader(f.data(), static_cast<std::uint32_t>(c.size));
        EXPECT_EQ(r.outcome, c.expected) << c.name;
        EXPECT_EQ(f[5], 0xE3) << c.name;  // the copy keeps the stand-in
        EXPECT_EQ(f[6], 0xD8) << c.name;
        if (c.expected == FwCheck::BadCheck) {
            f[5] = 0xE3;
            f[6] = 0xD8;
            EXPECT_EQ(r.computed, referenceCrc(f, c.h)) << c.name;
        }
    }
}

TEST(FwHeaderTest, InformationRecord) {
    FwBytes f = makeFirmware(128, 128);
    std::uint8_t record[kFwInfoSize];
    fwInfoFromHeader(f.data(), record);
    EXPECT_EQ(std::memcmp(record, "udf1", 4), 0);
    EXPECT_EQ(record[4], 0);
    EXPECT_EQ(std::memcmp(record + 5, f.data() + 24, 4), 0);
    EXPECT_EQ(std::memcmp(record + 9, f.data() + 39, 32), 0);
    EXPECT_EQ(record[41], 0);

    EXPECT_EQ(fwInfoIntoHeader(record, f.data()), FwInfoSet::Unchanged);
    record[5 + 3] ^= 1;
    record[9 + 31] ^= 1;
    EXPECT_EQ(fwInfoIntoHeader(record, f.data()), FwInfoSet::Changed);
    EXPECT_EQ(f[27], record[8]);
    EXPECT_EQ(f[70], record[40]);
    ASSERT_TRUE(sealFwHeader(f.data()));
    EXPECT_EQ(checkFwHeader(f.data(), 128).outcome, FwCheck::Ok);
    record[0] = 'x';
    EXPECT_EQ(fwInfoIntoHeader(record, f.data()), FwInfoSet::WrongMagic);
}

TEST(FwHeaderTest, PiecesAndPercents) {
    // A 1,000-byte file with H = 128: pieces 255, 255, 255, 107; percents 25, 51, 76, 87.
    std::uint32_t remaining = 1000 - 128;
    std::uint64_t sent = 0;
    std::vector<std::uint32_t> pieces;
    std::vector<std::uint16_t> percents;
    while (remaining > 0) {
        const std::uint32_t n = fwPieceLength(remaining);
        pieces.push_back(n);
        remaining -= n;
        sent += n;
        percents.push_back(fwPercent(sent, 1000));
    }
    EXPECT_EQ(pieces, (std::vector<std::uint32_t>{255, 255, 255, 107}));
    EXPECT_EQ(percents, (std::vector<std::uint16_t>{25, 51, 76, 87}));
    // Large images: sent x 100 does not overflow 32 bits.
    EXPECT_EQ(fwPercent(0xFFFFFF00u, 0xFFFFFFFFu), 99);
    EXPECT_EQ(fwPercent(50000000u, 100000000u), 50);
    EXPECT_EQ(fwPercent(1, 0), 0);
}

}  // namespace
}  // namespace tavrin::test
