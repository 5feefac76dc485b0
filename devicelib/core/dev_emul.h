// Command packets: the frame every control command and every answer travels in, and CDevEmul, the
// protocol object of a device slot that frames outgoing packets and reassembles replies.
//
//   offset 0  sync byte 0x10
//          1  command code
//          2  payload length n (0..255)
//          3  sum of the n payload bytes modulo 256, 0 when n is 0; a reply without payload
//             carries the device's acknowledge code here instead
//          4  n payload bytes
//
// There is no escaping: 0x10 may stand in any other byte, and the sync byte is looked for only
// where a new packet is expected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tavrin {

class CBPort;

inline constexpr std::uint8_t kPacketSync = 0x10;
inline constexpr std::uint16_t kPacketHeader = 4;
inline constexpr std::uint16_t kMaxPayload = 255;
inline constexpr std::uint16_t kMaxPacket = kPacketHeader + kMaxPayload;  // 259

// A framed packet inside the protocol object's buffer; empty when data is null.
struct PacketView {
    const std::uint8_t* data = nullptr;
    std::uint16_t length = 0;
};

// A reply as takeReply hands it out. The payload points into the protocol object's buffer and is
// valid until the next packet is built or fed.
struct Reply {
    std::uint8_t code = 0;
    std::uint8_t ackCode = 0;
    const std::uint8_t* payload = nullptr;  // none when the reply carried no payload
    std::uint16_t length = 0;
};

// What one feed of acceptBytes left behind.
struct Accepted {
    bool complete = false;  // a whole packet with a valid checksum stands in the buffer
    // <= 0: the packet being collected still lacks -r bytes (-259: a new packet is awaited).
    //  > 0: a packet was completed inside these bytes and more bytes followed it; r is the count
    //       that completed it.
    std::int32_t r = 0;
    // How many of the given bytes were looked at (skipped or copied); the rest follow the packet.
    std::uint16_t used = 0;
};

// True when the packet starts with the sync byte and, if it has a payload, its checksum holds.
// size bounds what may be read: a buffer shorter than the packet it announces is not a packet.
bool checkPacket(const std::uint8_t* packet, std::size_t size);

class CDevEmul {
public:
    static constexpr std::uint16_t kBufferSize = kPacketHeader + 256;

    // Frames code and the first 255 bytes of data (longer data is cut) at the start of the buffer.
    PacketView buildPacket(std::uint8_t code, const std::uint8_t* data, std::uint16_t length);

    // Feeds bytes of a reply. restart begins a new packet (the bytes collected so far are
    // forgotten). Bytes before the sync byte of a new packet are skipped; a completed packet
    // whose checksum fails is dropped.
    Accepted acceptBytes(const std::uint8_t* bytes, std::uint16_t count, bool restart);

    // The packet in the buffer, when it is complete and valid.
    std::optional<Reply> takeReply() const;

    std::uint16_t collected() const { return collected_; }

private:
    std::uint8_t packet_[kBufferSize] = {};
    std::uint16_t collected_ = 0;
};

// Waits on the control port for one complete reply, feeding what it reads to the protocol
// object; none when four reads in all failed or brought nothing.
std::optional<Reply> readReply(CBPort& port, CDevEmul& emul);

}  // namespace tavrin
