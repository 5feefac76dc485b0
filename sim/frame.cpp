#include "sim/frame.h"

namespace tavrin::sim {

std::uint8_t checksumOf(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

Bytes framePacket(std::uint8_t code, const Bytes& payload, std::uint8_t ackCode) {
    const std::size_t n = payload.size() < kMaxPayload ? payload.size() : kMaxPayload;
    Bytes packet(kHeader + n);
    packet[0] = kSync;
    packet[1] = code;
    packet[2] = static_cast<std::uint8_t>(n);
    packet[3] = n == 0 ? ackCode : checksumOf(payload.data(), n);
    for (std::size_t i = 0; i < n; ++i) packet[kHeader + i] = payload[i];
    return packet;
}

void RequestReader::feed(const std::uint8_t* bytes, std::size_t count, std::vector<Request>& complete) {
    for (std::size_t i = 0; i < count; ++i) {
        if (pending_.empty() && bytes[i] != kSync) continue;
        pending_.push_back(bytes[i]);
        if (pending_.size() < kHeader || pending_.size() < kHeader + pending_[2]) continue;
        Request request;
        request.code = pending_[1];
        request.payload.assign(pending_.begin() + kHeader, pending_.end());
        request.checksumOk = request.payload.empty() ||
                             checksumOf(request.payload.data(), request.payload.size()) == pending_[3];
        request.raw.swap(pending_);
        pending_.clear();
        complete.push_back(std::move(request));
    }
}

}  // namespace tavrin::sim
