// The device's side of a USB HID interface: whole reports over a stand-in device. The library
// writes output reports of the configured length, each naming its payload length in its header
// (report id 0xA5: byte 1; 0xA6: bytes 2-3, high byte first); the channel hands the payloads on as
// one byte stream and sends its own bytes back as input reports of the configured length.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/channel.h"
#include "sim/frame.h"

namespace tavrin::sim {

struct HidLayout {
    std::uint8_t reportId = 0xA6;
    std::uint16_t inputLength = 65;   // bytes of an input report, the report id byte included
    std::uint16_t outputLength = 65;  // bytes of an output report
};

// Bytes as HID reports of a layout: the reports carrying data (at least one, for no data an empty
// one), and the payload of one report (none when its header does not fit the report).
std::vector<Bytes> hidReports(const HidLayout& layout, std::uint16_t reportLength, const Bytes& data);
bool hidPayload(const std::uint8_t* report, std::size_t length, Bytes& payload);

class HidChannel final : public ByteChannel {
public:
    HidChannel(std::unique_ptr<platform::DevicePeer> peer, HidLayout layout)
        : peer_(std::move(peer)), layout_(layout) {}

    std::u16string path() const override;
    // The payload bytes of the output reports that came, as one stream.
    long read(void* buffer, std::size_t length, int timeoutMs) override;
    // Sends the bytes as input reports.
    bool write(const void* data, std::size_t length) override;
    void idle() override { peer_->rearm(); }
    // The device comes back as another stand-in device (a restart that enumerates it anew): what
    // is still to be written goes to the old one, the next read is the new one's. Called on the
    // thread that serves the channel.
    void replacePeer(std::unique_ptr<platform::DevicePeer> peer);

    const HidLayout& layout() const { return layout_; }
    // Every whole output report received so far, as it came.
    std::vector<Bytes> reports() const;

private:
    std::unique_ptr<platform::DevicePeer> peer_;
    HidLayout layout_;
    Bytes partial_;  // the part of an output report read so far
    Bytes pending_;  // payload not handed on yet
    std::unique_ptr<platform::DevicePeer> next_;     // the stand-in device to serve from the next read
    std::unique_ptr<platform::DevicePeer> retired_;  // the one before it
    mutable std::mutex lock_;
    std::vector<Bytes> reports_;
};

}  // namespace tavrin::sim
