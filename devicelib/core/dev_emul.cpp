#include "devicelib/core/dev_emul.h"

#include <algorithm>
#include <cstring>

#include "devicelib/ports/b_port.h"

namespace tavrin {

namespace {

std::uint8_t sumOf(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

constexpr int kReadRetries = 3;  // a fourth failed or empty read ends the wait
// A device that never stops sending is not drained for ever: what is still coming after this
// many reads is left to the reply wait and its deadline.
constexpr int kDiscardReads = 16;

}  // namespace

bool checkPacket(const std::uint8_t* packet, std::size_t size) {
    if (packet == nullptr || size < kPacketHeader || packet[0] != kPacketSync) return false;
    const std::uint8_t n = packet[2];
    if (n == 0) return true;
    return size >= static_cast<std::size_t>(kPacketHeader + n) && sumOf(packet + kPacketHeader, n) == packet[3];
}

PacketView CDevEmul::buildPacket(std::uint8_t code, const std::uint8_t* data, std::uint16_t length) {
    if (data == nullptr && length != 0) return {};
    const std::uint8_t n = static_cast<std::uint8_t>(std::min<std::uint16_t>(length, kMaxPayload));
    packet_[0] = kPacketSync;
    packet_[1] = code;
    packet_[2] = n;
    packet_[3] = 0;
    if (data != nullptr && n != 0) {
        packet_[3] = sumOf(data, n);
        std::memcpy(packet_ + kPacketHeader, data, n);
    }
    return {packet_, static_cast<std::uint16_t>(kPacketHeader + n)};
}

Accepted CDevEmul::acceptBytes(const std::uint8_t* bytes, std::uint16_t count, bool restart) {
    Accepted out;
    if (bytes == nullptr) count = 0;
    if (restart) collected_ = 0;
    std::uint16_t at = 0;

    if (collected_ == 0) {
        if (count == 0) {
            out.r = -static_cast<std::int32_t>(kMaxPacket);
            return out;
        }
        while (at < count && bytes[at] != kPacketSync) ++at;
        if (at == count) {  // no sync byte: all of it was noise
            out.r = -static_cast<std::int32_t>(kMaxPacket);
            out.used = count;
            return out;
        }
    }
    // The header may be cut over several reads, as the payload may.
    while (collected_ < kPacketHeader && at < count) packet_[collected_++] = bytes[at++];

    // Until the length byte of this packet has arrived, n is the one of the packet before.
    const std::uint16_t total = static_cast<std::uint16_t>(kPacketHeader + packet_[2]);
    if (collected_ < total) {
        const std::uint16_t remaining = static_cast<std::uint16_t>(count - at);
        if (remaining == 0 || collected_ < kPacketHeader) {
            out.r = static_cast<std::int32_t>(collected_) - total;
            out.used = at;
            return out;
        }
        const std::uint16_t lacking = static_cast<std::uint16_t>(total - collected_);
        const std::uint16_t copied = std::min(remaining, lacking);
        std::memcpy(packet_ + collected_, bytes + at, copied);
        out.r = remaining > lacking ? lacking : static_cast<std::int32_t>(remaining) - lacking;
        collected_ = static_cast<std::uint16_t>(collected_ + copied);
        at = static_cast<std::uint16_t>(at + copied);
    }
    out.used = at;

    if (collected_ < total) return out;
    const std::uint8_t n = packet_[2];
    if (n == 0 || sumOf(packet_ + kPacketHeader, n) == packet_[3]) {
        out.complete = true;
        return out;
    }
    collected_ = 0;  // a corrupted packet is dropped
    return out;
}

std::optional<Reply> CDevEmul::takeReply() const {
    const std::uint8_t n = packet_[2];
    if (collected_ < kPacketHeader + n || !checkPacket(packet_, collected_)) return std::nullopt;
    Reply reply;
    reply.code = packet_[1];
    if (n > 0) {
        reply.payload = packet_ + kPacketHeader;
        reply.length = n;
    } else {
        reply.ackCode = packet_[3];
    }
    return reply;
}

void CDevEmul::keepLeftover(const std::uint8_t* bytes, std::uint16_t count) {
    leftoverCount_ = std::min<std::uint16_t>(count, kReceiveBuffer);
    if (leftoverCount_ != 0) std::memmove(leftover_, bytes, leftoverCount_);
}

std::uint16_t CDevEmul::takeLeftover(std::uint8_t* into, std::uint16_t capacity) {
    const std::uint16_t n = std::min(leftoverCount_, capacity);
    if (n != 0) std::memcpy(into, leftover_, n);
    leftoverCount_ = 0;
    return n;
}

std::optional<Reply> readReply(CBPort& port, CDevEmul& emul) {
    std::uint8_t received[kReceiveBuffer];
    bool restart = true;
    std::uint16_t wanted = kMaxPacket;
    int retriesLeft = kReadRetries;
    // What came behind the previous reply of this exchange is fed before anything is read.
    std::uint16_t carried = emul.takeLeftover(received, sizeof received);

    for (;;) {
        std::uint16_t count = carried;
        carried = 0;
        if (count == 0) {
            if (emul.replyDeadlinePassed()) return std::nullopt;
            std::uint32_t got = 0;
            if (!port.readPort(received, wanted, &got, nullptr) || got == 0) {
                if (retriesLeft == 0) return std::nullopt;
                --retriesLeft;
                continue;
            }
            count = static_cast<std::uint16_t>(std::min<std::uint32_t>(got, wanted));
        }
        const std::uint8_t* bytes = received;
        for (;;) {
            const Accepted fed = emul.acceptBytes(bytes, count, restart);
            if (fed.complete) {
                if (auto reply = emul.takeReply()) {
                    // The bytes behind the reply may be the start of the next packet.
                    emul.keepLeftover(bytes + fed.used, static_cast<std::uint16_t>(count - fed.used));
                    return reply;
                }
                restart = true;
            } else {
                restart = false;
            }
            if (fed.r <= 0) {
                wanted = static_cast<std::uint16_t>(std::min<std::int32_t>(-fed.r, kMaxPacket));
                break;
            }
            // A packet ended inside this read and was dropped (its checksum failed): the bytes
            // behind it may hold the next packet, so they are fed again from its start.
            bytes += fed.used;
            count = static_cast<std::uint16_t>(count - fed.used);
            restart = true;
        }
    }
}

std::uint32_t discardStaleInput(CBPort& port, CDevEmul& emul) {
    std::uint8_t stale[kReceiveBuffer];
    std::uint32_t discarded = emul.takeLeftover(stale, sizeof stale);
    for (int reads = 0; reads < kDiscardReads; ++reads) {
        std::uint32_t got = 0;
        if (!port.drainInput(stale, sizeof stale, &got) || got == 0) break;
        discarded += got;
    }
    return discarded;
}

}  // namespace tavrin
