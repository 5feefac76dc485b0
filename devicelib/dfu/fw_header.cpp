#include "devicelib/dfu/fw_header.h"

#include <cstring>

namespace tavrin {

namespace {
constexpr std::uint8_t kCheckStandIn[2] = {0xE3, 0xD8};
constexpr std::size_t kFieldA = 24, kFieldALength = 4;
constexpr std::size_t kFieldB = 39, kFieldBLength = 32;

bool hasMagic(const std::uint8_t* header) { return std::memcmp(header, kFwMagic, sizeof kFwMagic) == 0; }
}  // namespace

std::uint16_t crc16Bits(const std::uint8_t* data, std::uint32_t bitCount) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint32_t bit = 0; bit < bitCount; ++bit) {
        const bool in = ((data[bit / 8] >> (7 - bit % 8)) & 1) != 0;
        const bool top = (crc & 0x8000) != 0;
        crc = static_cast<std::uint16_t>(crc << 1);
        if (in != top) crc = static_cast<std::uint16_t>(crc ^ 0x1021);
    }
    return crc;
}

FwCheckResult checkFwHeader(std::uint8_t* header, std::uint32_t fileSize) {
    FwCheckResult result;
    const std::uint16_t stored = static_cast<std::uint16_t>(header[5] << 8 | header[6]);
    header[5] = kCheckStandIn[0];
    header[6] = kCheckStandIn[1];
    if (!hasMagic(header)) return result;
    // H counts bits here; H is at most 255, so the bytes covered all lie in the 128-byte copy.
    result.computed = crc16Bits(header, header[4]);
    if (result.computed != stored) {
        result.outcome = FwCheck::BadCheck;
        return result;
    }
    const std::uint32_t length = header[4];
    result.outcome = length < kFwMinHeaderLength || length > fileSize ? FwCheck::BadLength : FwCheck::Ok;
    return result;
}

bool sealFwHeader(std::uint8_t* header) {
    if (!hasMagic(header)) return false;
    header[5] = kCheckStandIn[0];
    header[6] = kCheckStandIn[1];
    const std::uint16_t crc = crc16Bits(header, header[4]);
    header[5] = static_cast<std::uint8_t>(crc >> 8);
    header[6] = static_cast<std::uint8_t>(crc & 0xFF);
    return true;
}

void fwInfoFromHeader(const std::uint8_t* header, std::uint8_t* record) {
    std::memcpy(record, header, 4);
    record[4] = 0;
    std::memcpy(record + 5, header + kFieldA, kFieldALength);
    std::memcpy(record + 9, header + kFieldB, kFieldBLength);
    record[41] = 0;
}

FwInfoSet fwInfoIntoHeader(const std::uint8_t* record, std::uint8_t* header) {
    if (std::memcmp(record, header, 4) != 0) return FwInfoSet::WrongMagic;
    bool changed = false;
    if (std::memcmp(record + 5, header + kFieldA, kFieldALength) != 0) {
        std::memcpy(header + kFieldA, record + 5, kFieldALength);
        changed = true;
    }
    if (std::memcmp(record + 9, header + kFieldB, kFieldBLength) != 0) {
        std::memcpy(header + kFieldB, record + 9, kFieldBLength);
        changed = true;
    }
    return changed ? FwInfoSet::Changed : FwInfoSet::Unchanged;
}

std::uint16_t fwPercent(std::uint64_t sent, std::uint64_t total) {
    if (total == 0) return 0;
    return static_cast<std::uint16_t>(sent * 100 / total);
}

}  // namespace tavrin
