// A byte stream between a simulated device and the library. The stand-in device of the platform
// layer is the first carrier; network channels will be others.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/device_peer.h"

namespace tavrin::sim {

class ByteChannel {
public:
    virtual ~ByteChannel() = default;
    // The path the library opens.
    virtual std::u16string path() const = 0;
    // The bytes read, 0 when none came within timeoutMs, -1 when the stream is broken.
    virtual long read(void* buffer, std::size_t length, int timeoutMs) = 0;
    // Writes all bytes; false when the stream is broken.
    virtual bool write(const void* data, std::size_t length) = 0;
    // Called when reads stay empty: a chance to get ready for the library's next open.
    virtual void idle() {}
    // Ends the library's connection of the moment, where the carrier has connections.
    virtual void drop() {}
};

// The stand-in device (a pseudo-terminal or a named pipe) that the library opens by path as a
// USB printer interface.
class PeerChannel final : public ByteChannel {
public:
    explicit PeerChannel(std::unique_ptr<platform::DevicePeer> peer) : peer_(std::move(peer)) {}
    // Null when the system cannot make a stand-in device.
    static std::unique_ptr<PeerChannel> create(const std::string& tag) {
        auto peer = platform::DevicePeer::create(tag);
        return peer ? std::make_unique<PeerChannel>(std::move(peer)) : nullptr;
    }

    std::u16string path() const override { return peer_->path(); }
    long read(void* buffer, std::size_t length, int timeoutMs) override {
        return peer_->read(buffer, length, timeoutMs);
    }
    bool write(const void* data, std::size_t length) override { return peer_->write(data, length); }
    void idle() override { peer_->rearm(); }

private:
    std::unique_ptr<platform::DevicePeer> peer_;
};

}  // namespace tavrin::sim
