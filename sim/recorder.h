// Everything a simulated device received, for tests to assert on the exact bytes sent.
#pragma once

#include <condition_variable>
#include <cstddef>
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

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    Bytes bytes_;
    std::vector<Bytes> packets_;
};

}  // namespace tavrin::sim
