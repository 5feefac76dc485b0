// A control port that plays back a byte stream: each arrival is what the device has sent by the
// time of one read; an empty arrival is a read that times out. Records what each read asked for.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "devicelib/core/dev_app.h"
#include "devicelib/ports/b_port.h"

namespace tavrin::test {

class ScriptedPort : public CBPort {
public:
    using Bytes = std::vector<std::uint8_t>;

    explicit ScriptedPort(std::deque<Bytes> arrivals)
        : CBPort(PORT_USBPRN, theApp()), arrivals_(std::move(arrivals)) {}
    explicit ScriptedPort(const std::vector<Bytes>& arrivals)
        : ScriptedPort(std::deque<Bytes>(arrivals.begin(), arrivals.end())) {}

    std::int32_t readPort(void* buffer, std::uint32_t length, std::uint32_t* count, void*) override {
        asked.push_back(length);
        *count = 0;
        if (length == 0) return 1;  // as a real port: nothing to wait for
        if (arrivals_.empty()) return 0;
        Bytes& next = arrivals_.front();
        if (next.empty()) {
            arrivals_.pop_front();
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(length, next.size());
        std::memcpy(buffer, next.data(), n);  // a sanitizer sees a buffer smaller than asked for
        next.erase(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(n));
        if (next.empty()) arrivals_.pop_front();
        *count = static_cast<std::uint32_t>(n);
        return 1;
    }

    std::vector<std::uint32_t> asked;

private:
    std::deque<Bytes> arrivals_;
};

}  // namespace tavrin::test
