// Datagrams for the library's search socket from a port of the test's own: junk at a steady rate
// and chosen datagrams at chosen times, sent to the search port on 127.0.0.1 (where only the
// search's own socket, bound to any address, hears them). Bounded in time and in count; stops
// early when told to or when it is destroyed.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "platform/net_peer.h"

namespace tavrin::test {

class UdpFlooder {
public:
    struct Timed {
        int atMs;  // after the flooder started
        std::vector<std::uint8_t> datagram;
    };

    // Junk every junkEveryMs (0: none) and the timed datagrams, for at most forMs and
    // maxDatagrams datagrams in all.
    UdpFlooder(std::uint16_t searchPort, std::vector<Timed> timed, int junkEveryMs, int forMs,
               std::size_t maxDatagrams)
        : peer_(platform::UdpPeer::bind({{127, 0, 0, 1}, 0})) {
        if (!peer_) return;
        std::sort(timed.begin(), timed.end(), [](const Timed& a, const Timed& b) { return a.atMs < b.atMs; });
        thread_ = std::thread([this, searchPort, timed = std::move(timed), junkEveryMs, forMs, maxDatagrams] {
            run(searchPort, timed, junkEveryMs, forMs, maxDatagrams);
        });
    }
    UdpFlooder(const UdpFlooder&) = delete;
    UdpFlooder& operator=(const UdpFlooder&) = delete;
    ~UdpFlooder() { stop(); }

    bool valid() const { return peer_ != nullptr; }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::size_t junkSent() const { return junk_.load(); }
    std::size_t timedSent() const { return timedSent_.load(); }

    // Datagrams that are no discovery reply: random-looking bytes, the request itself, a reply
    // cut short, one byte, a reply-sized block of zeros, a full 512-byte datagram.
    static std::vector<std::vector<std::uint8_t>> junkKinds() {
        std::vector<std::vector<std::uint8_t>> kinds;
        std::vector<std::uint8_t> noise(64);
        std::uint32_t x = 0x12345678;
        for (auto& b : noise) {
            x = x * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(x >> 24);
        }
        kinds.push_back(noise);
        kinds.push_back({0x10, 0x40, 0x01, 0x01, 0x01, 0x00});
        kinds.push_back({0x10, 0x40, 0x19, 0x00, 0x01, 0x6C, 0x86});
        kinds.push_back({0x10});
        kinds.push_back(std::vector<std::uint8_t>(29, 0));
        kinds.push_back(std::vector<std::uint8_t>(512, 0x10));
        return kinds;
    }

private:
    void run(std::uint16_t searchPort, const std::vector<Timed>& timed, int junkEveryMs, int forMs,
             std::size_t maxDatagrams) {
        using Clock = std::chrono::steady_clock;
        const platform::Ipv4Endpoint to{{127, 0, 0, 1}, searchPort};
        const auto kinds = junkKinds();
        const auto start = Clock::now();
        const auto end = start + std::chrono::milliseconds(forMs);
        auto nextJunk = start;
        std::size_t nextTimed = 0, sent = 0;
        while (!stop_ && Clock::now() < end && sent < maxDatagrams) {
            const auto now = Clock::now();
            if (nextTimed < timed.size() && now >= start + std::chrono::milliseconds(timed[nextTimed].atMs)) {
                const auto& d = timed[nextTimed++].datagram;
                if (peer_->sendTo(d.data(), d.size(), to)) ++timedSent_;
                ++sent;
                continue;
            }
            if (junkEveryMs > 0 && now >= nextJunk) {
                const auto& d = kinds[sent % kinds.size()];
                if (peer_->sendTo(d.data(), d.size(), to)) ++junk_;
                ++sent;
                nextJunk = now + std::chrono::milliseconds(junkEveryMs);
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::unique_ptr<platform::UdpPeer> peer_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> junk_{0};
    std::atomic<std::size_t> timedSent_{0};
};

}  // namespace tavrin::test
