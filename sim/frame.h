// The command packet frame as the device sees it: requests reassembled from the byte stream, and
// replies framed for the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrin::sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kSync = 0x10;
inline constexpr std::size_t kHeader = 4;
inline constexpr std::size_t kMaxPayload = 255;

std::uint8_t checksumOf(const std::uint8_t* bytes, std::size_t count);

// A packet with payload (byte 3 its checksum), or without (byte 3 the acknowledge code). A
// payload longer than 255 bytes is cut.
Bytes framePacket(std::uint8_t code, const Bytes& payload, std::uint8_t ackCode);

struct Request {
    std::uint8_t code = 0;
    Bytes payload;
    bool checksumOk = true;
    Bytes raw;  // the packet's bytes exactly as received
};

// Collects requests from a byte stream: bytes before a sync byte are skipped, a packet may
// arrive over several feeds.
class RequestReader {
public:
    void feed(const std::uint8_t* bytes, std::size_t count, std::vector<Request>& complete);
    // Forgets a packet begun and not finished (the library went quiet in the middle of it).
    void reset() { pending_.clear(); }
    bool midPacket() const { return !pending_.empty(); }

private:
    Bytes pending_;
};

}  // namespace tavrin::sim
