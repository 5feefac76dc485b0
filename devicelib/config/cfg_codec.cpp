#include "devicelib/config/cfg_codec.h"

#include <cstring>
#include <limits>

#include "platform/text_utf.h"

namespace tavrin::config {

std::uint8_t crc8(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x31 : crc << 1);
    }
    return crc;
}

std::uint16_t crc16Bits(const std::uint8_t* bytes, std::uint32_t bitCount) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint32_t n = 0; n < bitCount; ++n) {
        const unsigned bit = (bytes[n / 8] >> (7 - n % 8)) & 1u;
        const bool top = (crc & 0x8000) != 0;
        crc = static_cast<std::uint16_t>(crc << 1);
        if (top != (bit != 0)) crc ^= 0x1021;
    }
    return crc;
}

bool fieldFits(std::uint32_t dataBytes, std::uint32_t bitOffset, std::uint32_t width) {
    return std::uint64_t{bitOffset} + width <= std::uint64_t{dataBytes} * 8;
}

namespace {

unsigned bitAt(const std::uint8_t* data, std::uint32_t n) { return (data[n / 8] >> (7 - n % 8)) & 1u; }

void setBitAt(std::uint8_t* data, std::uint32_t n, unsigned bit) {
    const auto mask = static_cast<std::uint8_t>(1u << (7 - n % 8));
    data[n / 8] = static_cast<std::uint8_t>(bit != 0 ? data[n / 8] | mask : data[n / 8] & ~mask);
}

}  // namespace

bool readBits(const std::uint8_t* data, std::uint32_t dataBytes, std::uint32_t bitOffset, std::uint32_t width,
              std::uint32_t& value) {
    if (width == 0 || width > 32 || !fieldFits(dataBytes, bitOffset, width)) return false;
    std::uint32_t v = 0;
    for (std::uint32_t i = 0; i < width; ++i) v = (v << 1) | bitAt(data, bitOffset + i);
    value = v;
    return true;
}

bool writeBits(std::uint8_t* data, std::uint32_t dataBytes, std::uint32_t bitOffset, std::uint32_t width,
               std::uint32_t value) {
    if (width == 0 || width > 32 || !fieldFits(dataBytes, bitOffset, width)) return false;
    for (std::uint32_t i = 0; i < width; ++i) setBitAt(data, bitOffset + i, (value >> (width - 1 - i)) & 1u);
    return true;
}

bool readBytesAt(const std::uint8_t* data, std::uint32_t dataBytes, std::uint32_t bitOffset, std::uint8_t* out,
                 std::uint32_t count) {
    if (!fieldFits(dataBytes, bitOffset, count * 8)) return false;
    if (bitOffset % 8 == 0) {
        if (count != 0) std::memcpy(out, data + bitOffset / 8, count);
        return true;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t byte = 0;
        readBits(data, dataBytes, bitOffset + i * 8, 8, byte);
        out[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

bool writeBytesAt(std::uint8_t* data, std::uint32_t dataBytes, std::uint32_t bitOffset, const std::uint8_t* bytes,
                  std::uint32_t count) {
    if (!fieldFits(dataBytes, bitOffset, count * 8)) return false;
    if (bitOffset % 8 == 0) {
        if (count != 0) std::memcpy(data + bitOffset / 8, bytes, count);
        return true;
    }
    for (std::uint32_t i = 0; i < count; ++i) writeBits(data, dataBytes, bitOffset + i * 8, 8, bytes[i]);
    return true;
}

std::int32_t signExtend(std::uint32_t value, std::uint32_t width) {
    if (width >= 32) return static_cast<std::int32_t>(value);
    const std::uint32_t sign = 1u << (width - 1);
    value &= (1u << width) - 1;
    return static_cast<std::int32_t>((value ^ sign) - sign);
}

std::int32_t reverseBytes(std::int32_t value, std::uint32_t width, std::int32_t minimum) {
    const auto v = static_cast<std::uint32_t>(value);
    switch ((width + 7) / 8) {
    case 2: {
        const std::uint32_t swapped = ((v & 0xFF) << 8) | ((v >> 8) & 0xFF);
        return minimum < 0 ? static_cast<std::int16_t>(swapped) : static_cast<std::int32_t>(swapped);
    }
    case 3:
    case 4:
        return static_cast<std::int32_t>(((v & 0xFF) << 24) | ((v & 0xFF00) << 8) | ((v >> 8) & 0xFF00) | (v >> 24));
    default: return value;
    }
}

std::optional<std::size_t> parseHexText(const char16_t* text, std::size_t length, std::uint8_t* out,
                                        std::size_t capacity) {
    std::size_t count = 0;
    int pending = -1;
    auto emit = [&](int byte) {
        if (count >= capacity) return false;
        out[count++] = static_cast<std::uint8_t>(byte);
        return true;
    };
    for (std::size_t i = 0; i < length; ++i) {
        const char16_t c = text[i];
        const int nibble = utf::hexDigitValue(c);
        if (nibble >= 0) {
            if (pending < 0) {
                pending = nibble;
            } else {
                if (!emit(pending << 4 | nibble)) return std::nullopt;
                pending = -1;
            }
        } else if (c == u' ' || c == u',' || c == u';') {
            if (pending >= 0 && !emit(pending)) return std::nullopt;
            pending = -1;
        } else {
            return std::nullopt;
        }
    }
    if (pending >= 0 && !emit(pending)) return std::nullopt;
    return count;
}

std::int32_t decimalValue(const std::u16string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    std::int64_t v = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        v = v * 10 + (text[i] - u'0');
        if (v > kLimit) v = kLimit;
    }
    if (negative) return static_cast<std::int32_t>(-v);
    return v >= kLimit ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(v);
}

std::optional<DescriptionHeader> parseDescriptionHeader(const std::uint8_t* bytes, std::size_t count) {
    static const char kSignature[] = "xmlCfgDoc01";
    if (bytes == nullptr || count < kDescriptionHeaderSize || std::memcmp(bytes, kSignature, 11) != 0)
        return std::nullopt;
    DescriptionHeader h;
    h.length = static_cast<std::uint16_t>(bytes[12] | bytes[13] << 8);
    h.check = static_cast<std::uint16_t>(bytes[14] | bytes[15] << 8);
    if (h.length == 0) return std::nullopt;
    return h;
}

}  // namespace tavrin::config
