// The device's configuration in tests: the check value of a packet's data bytes, the packet of
// DEVID 1, CFGID 2, CFGVer 1 around data bytes, and a simulated device that keeps a description
// of given items and that packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/device_model.h"

namespace tavrin::test {

// The check value the library verifies over a packet's data bytes (CRC-8, polynomial 0x31).
inline std::uint8_t configCheck(const std::vector<std::uint8_t>& data) {
    std::uint8_t crc = 0;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = static_cast<std::uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x31 : crc << 1);
    }
    return crc;
}

// A packet of DEVID 1, CFGID 2, CFGVer 1 around these data bytes, with their check value.
inline std::vector<std::uint8_t> configPacket(const std::vector<std::uint8_t>& data) {
    // Filled byte by byte: GCC 12 at -O3 takes an insert after the 8 head bytes for a write past them.
    const std::uint8_t head[8] = {1, 2, static_cast<std::uint8_t>(data.size() >> 8),
                                  static_cast<std::uint8_t>(data.size()), 1, configCheck(data), 0x77, 0x88};
    std::vector<std::uint8_t> p(8 + data.size(), 0);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = i < 8 ? head[i] : data[i - 8];
    return p;
}

// A device description of these items (CFGLen data bytes) and its packet around the data bytes.
inline sim::DeviceConfig configuredDevice(const std::string& items, const std::vector<std::uint8_t>& data) {
    const std::string doc = "<TavrCfg VTAG=\"100\"><CfgInfo DEVID=\"1\" CFGID=\"2\" CFGLen=\"" +
                            std::to_string(data.size()) + "\" CFGVer=\"1\" Counts=\"16\">" + items +
                            "</CfgInfo></TavrCfg>\n";
    sim::DeviceConfig config;
    config.configSide.enabled = true;
    config.configSide.description = std::vector<std::uint8_t>(doc.begin(), doc.end());
    config.configSide.packet = configPacket(data);
    return config;
}

}  // namespace tavrin::test
