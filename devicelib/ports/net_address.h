// The texts and datagrams of network devices, apart from any I/O: the device path
// "a.b.c.d:port", the discovery request and the checks of a discovery reply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/net_socket.h"

namespace tavrin {

inline constexpr std::uint32_t kMaxTcpPort = 65535;
// The control channel of a network device is at its data port + 100.
inline constexpr std::uint16_t kControlPortOffset = 100;

// "a.b.c.d:port" or "a.b.c.d": four or five decimal fields; each address number keeps its low
// 8 bits, a missing port is 0. Nothing for any other text, and nothing for a port outside
// 0..65535 (it is not wrapped into range).
std::optional<platform::Ipv4Endpoint> parseNetAddress(const char16_t* text);

// The 6-byte discovery request: a command packet 0x40 with the payload 0x01, and a zero byte.
inline constexpr std::array<std::uint8_t, 6> kDiscoveryRequest = {0x10, 0x40, 0x01, 0x01, 0x01, 0x00};
inline constexpr std::size_t kDiscoveryReplyMin = 29;
inline constexpr std::array<std::uint8_t, 15> kDiscoverySignature = {
    0x6C, 0x86, 0xBE, 0x74, 0x4F, 0x82, 0x13, 0xBD, 0x68, 0x49, 0x38, 0x01, 0x25, 0x15, 0x03};

// The device path a discovery reply names ("%d.%d.%d.%d:%d"), or nothing when the datagram is not
// a valid reply.
std::optional<std::u16string> parseDiscoveryReply(const std::uint8_t* datagram, std::size_t length);

// A valid reply naming the device at address:port (what a device sends; for the simulator and tests).
std::array<std::uint8_t, kDiscoveryReplyMin> makeDiscoveryReply(const platform::Ipv4Endpoint& device);

}  // namespace tavrin
