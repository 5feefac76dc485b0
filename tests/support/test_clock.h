// Time in the tests: the clock every wait and bound is measured with.
#pragma once

#include <chrono>

namespace tavrin::test {

using Clock = std::chrono::steady_clock;

// Whole milliseconds since start.
inline long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace tavrin::test
