// The byte-level rules of device configuration, as pure functions: the check values, the bit
// fields of the configuration data, the byte-order reversal of numbers, hexadecimal texts, the
// decimal numbers of descriptions and the header of the description document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tavrin::config {

// CRC-8, polynomial 0x31, initial value 0, most significant bit first, no reflection, no final
// XOR. "abc" gives 0xA9.
std::uint8_t crc8(const std::uint8_t* bytes, std::size_t count);

// CRC-16, polynomial 0x1021, initial value 0xFFFF, most significant bit first, no final XOR,
// stepped once per bit over the first bitCount bits of bytes (the high bits of a last, partial
// byte). The caller guarantees (bitCount + 7) / 8 readable bytes.
std::uint16_t crc16Bits(const std::uint8_t* bytes, std::uint32_t bitCount);

// Bit fields of the configuration data: data bit n is bit 7 - (n mod 8) of byte n / 8, and a
// field's first bit holds its most significant bit. A field must lie wholly within the dataBytes
// given; false (nothing read or written) otherwise.
bool fieldFits(std::uint32_t dataBytes, std::uint32_t bitOffset, std::uint32_t width);
// width 1..32.
bool readBits(const std::uint8_t* data, std::uint32_t dataBytes, std::uint32_t bitOffset, std::uint32_t width,
              std::uint32_t& value);
// The low width bits of value (width 1..32); the bits around the field stay as they were.
bool writeBits(std::uint8_t* data, std::uint32_t dataBytes, std::uint32_t bitOffset, std::uint32_t width,
               std::uint32_t value);
// count whole bytes from a bit offset (not necessarily on a byte boundary).
bool readBytesAt(const std::uint8_t* data, std::uint32_t dataBytes, std::uint32_t bitOffset, std::uint8_t* out,
                 std::uint32_t count);
bool writeBytesAt(std::uint8_t* data, std::uint32_t dataBytes, std::uint32_t bitOffset, const std::uint8_t* bytes,
                  std::uint32_t count);

// Sign-extends the low width bits (1..32).
std::int32_t signExtend(std::uint32_t value, std::uint32_t width);

// The byte-order reversal of number items (tag bit 0), the same after reading and before writing.
// (width + 7) / 8 bytes: 2 swaps the two low bytes, the result sign-extended from its bit 15 when
// the minimum is negative, else zero-extended; 3 and 4 reverse all four bytes of the value; any
// other count leaves it as it is.
std::int32_t reverseBytes(std::int32_t value, std::uint32_t width, std::int32_t minimum);

// Hexadecimal text: digits add nibbles, two nibbles make a byte; a blank, "," or ";" ends a byte
// early (a single pending nibble becomes a byte of that value) and is otherwise skipped; a single
// nibble at the end becomes a last byte; any other character fails. Writes at most capacity bytes
// (more fails); the count of bytes, or nothing.
std::optional<std::size_t> parseHexText(const char16_t* text, std::size_t length, std::uint8_t* out,
                                        std::size_t capacity);

// The decimal numbers of a description: leading blanks and a sign, then digits up to the first
// other character; no digits gives 0; a value beyond 32 bits is held at the nearest limit.
std::int32_t decimalValue(const std::u16string& text);

// The 16-byte header of the description document: "xmlCfgDoc01", one byte not looked at, the
// document length little-endian, the check value little-endian.
struct DescriptionHeader {
    std::uint16_t length = 0;
    std::uint16_t check = 0;
};
inline constexpr std::size_t kDescriptionHeaderSize = 16;
// Nothing unless the bytes hold a whole header with the signature and a non-zero length.
std::optional<DescriptionHeader> parseDescriptionHeader(const std::uint8_t* bytes, std::size_t count);

}  // namespace tavrin::config
