#include "sim/hid_channel.h"

#include <algorithm>
#include <cstring>

namespace tavrin::sim {

std::vector<Bytes> hidReports(const HidLayout& layout, std::uint16_t reportLength, const Bytes& data) {
    const bool longHeader = layout.reportId == 0xA6;
    const std::size_t header = longHeader ? 4 : 2;
    std::vector<Bytes> out;
    if (reportLength <= header) return out;
    // The short header's length byte says at most 255 bytes, however long the report is.
    const std::size_t most = longHeader ? reportLength - header : std::min<std::size_t>(reportLength - header, 0xFF);
    std::size_t at = 0;
    do {
        const std::size_t chunk = std::min(most, data.size() - at);
        Bytes report(reportLength, 0);
        report[0] = layout.reportId;
        if (longHeader) {
            report[2] = static_cast<std::uint8_t>(chunk >> 8);
            report[3] = static_cast<std::uint8_t>(chunk);
        } else {
            report[1] = static_cast<std::uint8_t>(chunk);
        }
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(at),
                  data.begin() + static_cast<std::ptrdiff_t>(at + chunk), report.begin() + static_cast<std::ptrdiff_t>(header));
        out.push_back(std::move(report));
        at += chunk;
    } while (at < data.size());
    return out;
}

bool hidPayload(const std::uint8_t* report, std::size_t length, Bytes& payload) {
    std::size_t n = 0, at = 0;
    if (length >= 4 && report[0] == 0xA6) {
        n = static_cast<std::size_t>(report[2]) << 8 | report[3];
        at = 4;
    } else if (length >= 2 && report[0] == 0xA5) {
        n = report[1];
        at = 2;
    } else {
        return false;
    }
    if (at + n > length) return false;
    payload.assign(report + at, report + at + n);
    return true;
}

std::u16string HidChannel::path() const {
    std::lock_guard<std::mutex> guard(lock_);
    return peer_->path();
}

void HidChannel::replacePeer(std::unique_ptr<platform::DevicePeer> peer) {
    std::lock_guard<std::mutex> guard(lock_);
    next_ = std::move(peer);
}

long HidChannel::read(void* buffer, std::size_t length, int timeoutMs) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (next_) {
            // What the old device was sent and did not finish is gone with it. The old one stays
            // open until the next restart, so that the library still reads what it was sent.
            retired_ = std::move(peer_);
            peer_ = std::move(next_);
            partial_.clear();
            pending_.clear();
        }
    }
    while (pending_.empty()) {
        std::uint8_t chunk[512];
        const std::size_t want = layout_.outputLength - partial_.size();
        const long n = peer_->read(chunk, std::min(want, sizeof chunk), timeoutMs);
        if (n <= 0) return n;
        partial_.insert(partial_.end(), chunk, chunk + n);
        if (partial_.size() < layout_.outputLength) continue;
        {
            std::lock_guard<std::mutex> guard(lock_);
            reports_.push_back(partial_);
        }
        Bytes payload;
        if (hidPayload(partial_.data(), partial_.size(), payload)) pending_ = std::move(payload);
        partial_.clear();
    }
    const std::size_t n = std::min(length, pending_.size());
    std::memcpy(buffer, pending_.data(), n);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<long>(n);
}

bool HidChannel::write(const void* data, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (const Bytes& report : hidReports(layout_, layout_.inputLength, Bytes(p, p + length)))
        if (!peer_->write(report.data(), report.size())) return false;
    return true;
}

std::vector<Bytes> HidChannel::reports() const {
    std::lock_guard<std::mutex> guard(lock_);
    return reports_;
}

}  // namespace tavrin::sim
