// Firmware files for tests, built independently of the library: "udf1", header length H, the
// check value (CRC-16 0x1021 from 0xFFFF over the first H bits, with E3 D8 in its place), the
// header body and the image data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tavrin::test {

using FwBytes = std::vector<std::uint8_t>;

inline std::uint16_t referenceCrc(const FwBytes& bytes, unsigned bits) {
    std::uint16_t crc = 0xFFFF;
    for (unsigned i = 0; i < bits; ++i) {
        const unsigned in = (bytes[i / 8] >> (7 - i % 8)) & 1u;
        const unsigned top = (crc >> 15) & 1u;
        crc = static_cast<std::uint16_t>((crc << 1) ^ ((in ^ top) != 0 ? 0x1021 : 0));
    }
    return crc;
}

// A file of size bytes with header length h; bytes are a pattern that differs per position.
inline FwBytes makeFirmware(std::uint8_t h, std::size_t size, std::uint8_t seed = 7) {
    FwBytes f(size);
    for (std::size_t i = 0; i < size; ++i) f[i] = static_cast<std::uint8_t>((i * 31 + seed) ^ (i >> 8));
    const std::uint8_t magic[4] = {'u', 'd', 'f', '1'};
    for (int i = 0; i < 4; ++i) f[static_cast<std::size_t>(i)] = magic[i];
    f[4] = h;
    f[5] = 0xE3;
    f[6] = 0xD8;
    const std::uint16_t crc = referenceCrc(f, h);
    f[5] = static_cast<std::uint8_t>(crc >> 8);
    f[6] = static_cast<std::uint8_t>(crc & 0xFF);
    return f;
}

inline void writeFile(const std::filesystem::path& path, const FwBytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline FwBytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return FwBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tavrin::test
