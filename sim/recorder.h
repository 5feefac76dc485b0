// Everything a simulated device received, for tests to assert on the exact bytes sent.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include "sim/frame.h"

namespace tavrin::sim {

class Recorder {
public:
    void addBytes(const std::uint8_t* bytes, std::size_t count);
    void addPacket(const Bytes& packet);

    // Every byte received, packets and anything else, in order.
    Bytes bytes() const;
    // Every packet received, each exactly as it came (also those whose checksum failed).
    std::vector<Bytes> packets() const;
    // Wait until at least this much has arrived; false on time-out.
    bool waitForBytes(std::size_t count, int timeoutMs) const;
    bool waitForPackets(std::size_t count, int timeoutMs) const;
    void clear();
    // Called with every run of bytes as it is recorded (for example to save it to a file), on
    // the thread that records it; none: nothing is called.
    using Tap = std::function<void(const std::uint8_t* bytes, std::size_t count)>;
    void setTap(Tap tap);

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    Bytes bytes_;
    std::vector<Bytes> packets_;
    Tap tap_;
};

}  // namespace tavrin::sim
