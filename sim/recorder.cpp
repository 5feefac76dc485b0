#include "sim/recorder.h"

#include <chrono>

namespace tavrin::sim {

void Recorder::addBytes(const std::uint8_t* bytes, std::size_t count) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        if (tap_) tap_(bytes, count);
    }
    changed_.notify_all();
}

void Recorder::setTap(Tap tap) {
    std::lock_guard<std::mutex> guard(lock_);
    tap_ = std::move(tap);
}

void Recorder::addPacket(const Bytes& packet) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        packets_.push_back(packet);
    }
    changed_.notify_all();
}

Bytes Recorder::bytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return bytes_;
}

std::vector<Bytes> Recorder::packets() const {
    std::lock_guard<std::mutex> guard(lock_);
    return packets_;
}

bool Recorder::waitForBytes(std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return bytes_.size() >= count; });
}

bool Recorder::waitForPackets(std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return packets_.size() >= count; });
}

void Recorder::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    bytes_.clear();
    packets_.clear();
}

}  // namespace tavrin::sim
