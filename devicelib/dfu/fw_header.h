// The firmware file "udf1" as pure functions, without I/O: the header check value, the header's
// rules, the information record and the progress arithmetic of an update.
//
//   offset 0   magic "udf1"
//          4   header length H; the image data begins at offset H
//          5   check value, big-endian (CRC-16 over the first H bits with 0xE3 0xD8 in its place)
//          7   not interpreted
//          8   header body, bytes 8 .. H-1, handed to the device unchanged
//         24   information field A (4 bytes), 39: information field B (32 bytes)
//
// The first 128 bytes are always read as the header, whatever H is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrin {

inline constexpr std::size_t kFwHeaderSize = 128;
inline constexpr std::size_t kFwInfoSize = 42;
inline constexpr std::uint8_t kFwMagic[4] = {0x75, 0x64, 0x66, 0x31};  // "udf1"
inline constexpr std::size_t kFwMinHeaderLength = 8;

// CRC-16, polynomial 0x1021, initial value 0xFFFF, most significant bit first, no final XOR,
// stepped once per bit over the first bitCount bits of data (whole bytes, then the high bits of
// the next). data must hold (bitCount + 7) / 8 bytes.
std::uint16_t crc16Bits(const std::uint8_t* data, std::uint32_t bitCount);

enum class FwCheck {
    Ok,
    BadMagic,     // not "udf1": refused without a word
    BadCheck,     // the check value differs (computed holds the value the header should carry)
    BadLength,    // H below 8 or beyond the file: it cannot be sent as the header says
};

struct FwCheckResult {
    FwCheck outcome = FwCheck::BadMagic;
    std::uint16_t computed = 0;
};

// Checks a header of at least 128 bytes (header) in a file of fileSize bytes; bytes 5 and 6 of
// header are left holding 0xE3 0xD8 whatever the outcome (as the in-memory copy keeps them).
FwCheckResult checkFwHeader(std::uint8_t* header, std::uint32_t fileSize);

// Computes the check value of a header whose first bytes are "udf1" into its bytes 5 and 6;
// false (nothing changed) for another magic.
bool sealFwHeader(std::uint8_t* header);

// The information record of a header: magic, 0, field A, field B, 0.
void fwInfoFromHeader(const std::uint8_t* header, std::uint8_t* record);
enum class FwInfoSet { Unchanged, Changed, WrongMagic };
// Copies a record's fields into the header (bytes 0..3 must be the header's magic).
FwInfoSet fwInfoIntoHeader(const std::uint8_t* record, std::uint8_t* header);

// The percent of an update after sent of total bytes (total includes the header; 64-bit, so no
// image size overflows it). 0 for an empty total.
std::uint16_t fwPercent(std::uint64_t sent, std::uint64_t total);

// How many of remaining bytes the next 0x61 piece carries.
inline std::uint32_t fwPieceLength(std::uint32_t remaining) { return remaining < 255 ? remaining : 255; }

}  // namespace tavrin
