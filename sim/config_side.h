// The configuration side of a simulated device: the description document it hands out (0x1A:
// the 16-byte header "xmlCfgDoc01", then pieces at the offsets asked for), the configuration
// packet it stores (0x17: pieces, an answer without data at the end) and the writes it takes
// (0x18: chunks at their offsets, optionally answered with the count taken; 0xFF 0xFF ends a
// write and stores what was written), with the faults a device may show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/frame.h"

namespace tavrin::sim {

class DeviceModel;
struct Answer;
struct Request;

struct ConfigSideOptions {
    bool enabled = false;
    Bytes description;            // the document's bytes, as the device keeps them
    Bytes packet;                 // the stored configuration packet
    std::uint16_t piece = 200;    // bytes per answer of 0x1A and 0x17 (1..255)
    bool countAnswer = false;     // answer each chunk with the 2-byte count taken
    std::uint16_t takeAtMost = 0; // take at most this many bytes of a chunk (0: all); answers the count
    std::uint16_t refuseChunk = 0;   // answer this chunk of a write (1 the first) with refuseStatus
    std::uint8_t refuseStatus = 1;
    bool shortDocument = false;   // the header announces 16 bytes more than the device has
    bool badCrc = false;          // the header's check value is off by one
};

class ConfigSide : public std::enable_shared_from_this<ConfigSide> {
public:
    static inline constexpr std::uint8_t kReadPacket = 0x17, kWritePacket = 0x18, kReadDescription = 0x1A;

    explicit ConfigSide(ConfigSideOptions options);

    // Makes the model answer 0x17, 0x18 and 0x1A from this side.
    void install(DeviceModel& model);

    // The packet as stored now (after the last write that ended with 0xFF 0xFF).
    Bytes storedPacket() const;
    // The payloads of every 0x18 received, end markers included.
    std::vector<Bytes> writes() const;
    void setOptions(const ConfigSideOptions& options);

    // CRC-16/CCITT-FALSE stepped over the first bitCount bits, as the device computes it.
    static std::uint16_t crc16OverBits(const Bytes& bytes, std::size_t bitCount);
    // The 16-byte header of a document of this length and check value.
    static Bytes descriptionHeader(std::uint16_t length, std::uint16_t check);

private:
    Answer description(const Request& request);
    Answer readPacket(const Request& request);
    Answer write(const Request& request);

    mutable std::mutex lock_;
    ConfigSideOptions options_;
    Bytes pending_;        // a write in progress
    std::uint16_t chunk_ = 0;  // chunks of the write in progress
    std::vector<Bytes> writes_;
};

}  // namespace tavrin::sim
