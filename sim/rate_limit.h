// A slow printer: how many bytes a service may take in one read, and how long it then waits, so
// that on average no more than the rate goes in.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tavrin::sim {

class RateLimit {
public:
    // The bytes to read next (at most capacity): about a twentieth of a second's worth.
    static std::size_t allowance(std::uint32_t bytesPerSecond, std::size_t capacity) {
        if (bytesPerSecond == 0) return capacity;
        return std::clamp<std::size_t>(bytesPerSecond / 20, 1, capacity);
    }
    // How long to wait after count bytes were taken at this rate.
    static std::chrono::milliseconds pauseAfter(std::uint32_t bytesPerSecond, std::size_t count) {
        if (bytesPerSecond == 0) return std::chrono::milliseconds(0);
        return std::chrono::milliseconds(static_cast<std::int64_t>(count) * 1000 / bytesPerSecond);
    }
};

}  // namespace tavrin::sim
