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

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tavrin {

class CBPort;

inline constexpr std::uint8_t kPacketSync = 0x10;
inline constexpr std::uint16_t kPacketHeader = 4;
inline constexpr std::uint16_t kMaxPayload = 255;
inline constexpr std::uint16_t kMaxPacket = kPacketHeader + kMaxPayload;  // 259
// What one read of a reply may bring, and what the protocol object keeps of it between two
// reply waits of one exchange.
inline constexpr std::uint16_t kReceiveBuffer = 264;

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

    using Clock = std::chrono::steady_clock;

    // Frames code and the first 255 bytes of data (longer data is cut) at the start of the buffer.
    // Empty when a length is given without data: there is nothing to frame.
    PacketView buildPacket(std::uint8_t code, const std::uint8_t* data, std::uint16_t length);

    // Feeds bytes of a reply. restart begins a new packet (the bytes collected so far are
    // forgotten). Bytes before the sync byte of a new packet are skipped; the header, like the
    // payload, may come over several feeds; a completed packet whose checksum fails is dropped.
    Accepted acceptBytes(const std::uint8_t* bytes, std::uint16_t count, bool restart);

    // The packet in the buffer, when it is complete and valid.
    std::optional<Reply> takeReply() const;

    std::uint16_t collected() const { return collected_; }

    // Bytes that came behind a taken reply in the same read. readReply keeps them here and feeds
    // them first to the next reply wait, so that a packet right behind another one is not lost.
    void keepLeftover(const std::uint8_t* bytes, std::uint16_t count);
    // Moves the kept bytes to into (at most capacity of them); their count.
    std::uint16_t takeLeftover(std::uint8_t* into, std::uint16_t capacity);
    std::uint16_t leftover() const { return leftoverCount_; }

    // The time by which the reply waits of one exchange give up; none: a wait ends by its
    // retries only. Reads already under way are not cut short.
    void setReplyDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }
    bool replyDeadlinePassed() const { return deadline_ && Clock::now() >= *deadline_; }

private:
    std::uint8_t packet_[kBufferSize] = {};
    std::uint16_t collected_ = 0;
    std::uint8_t leftover_[kReceiveBuffer] = {};
    std::uint16_t leftoverCount_ = 0;
    std::optional<Clock::time_point> deadline_;
};

// Waits on the control port for one complete reply, feeding to the protocol object first the
// bytes it kept from the previous wait and then what it reads; none when four reads in all
// failed or brought nothing, or when the protocol object's reply deadline has passed.
std::optional<Reply> readReply(CBPort& port, CDevEmul& emul);

// Before a command goes out: discards what the protocol object kept and what is already waiting
// on the control port (at most a few reads' worth, none of them waiting), so that the replies
// read next answer this command and not an earlier one. The count of bytes discarded.
std::uint32_t discardStaleInput(CBPort& port, CDevEmul& emul);

}  // namespace tavrin
