#include "sim/config_side.h"

#include <algorithm>

#include "sim/device_model.h"

namespace tavrin::sim {

namespace {

std::size_t offsetOf(const Bytes& payload) { return payload.size() < 2 ? 0 : std::size_t{payload[0]} << 8 | payload[1]; }

Answer piece(const Bytes& from, std::size_t at, std::size_t size) {
    if (at >= from.size()) return Answer{0, {}};
    const std::size_t n = std::min(size, from.size() - at);
    return Answer{0, Bytes(from.begin() + static_cast<std::ptrdiff_t>(at), from.begin() + static_cast<std::ptrdiff_t>(at + n))};
}

}  // namespace

ConfigSide::ConfigSide(ConfigSideOptions options) : options_(std::move(options)) {}

void ConfigSide::install(DeviceModel& model) {
    auto self = shared_from_this();
    model.setHandler(kReadDescription, [self](const Request& r) { return self->description(r); });
    model.setHandler(kReadPacket, [self](const Request& r) { return self->readPacket(r); });
    model.setHandler(kWritePacket, [self](const Request& r) { return self->write(r); });
}

std::uint16_t ConfigSide::crc16OverBits(const Bytes& bytes, std::size_t bitCount) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t n = 0; n < bitCount && n / 8 < bytes.size(); ++n) {
        const bool in = ((bytes[n / 8] >> (7 - n % 8)) & 1) != 0;
        const bool out = (crc & 0x8000) != 0;
        crc = static_cast<std::uint16_t>(crc << 1);
        if (in != out) crc = static_cast<std::uint16_t>(crc ^ 0x1021);
    }
    return crc;
}

Bytes ConfigSide::descriptionHeader(std::uint16_t length, std::uint16_t check) {
    Bytes h = {'x', 'm', 'l', 'C', 'f', 'g', 'D', 'o', 'c', '0', '1', 0};
    h.push_back(static_cast<std::uint8_t>(length & 0xFF));
    h.push_back(static_cast<std::uint8_t>(length >> 8));
    h.push_back(static_cast<std::uint8_t>(check & 0xFF));
    h.push_back(static_cast<std::uint8_t>(check >> 8));
    return h;
}

Answer ConfigSide::description(const Request& request) {
    std::lock_guard<std::mutex> guard(lock_);
    const Bytes& doc = options_.description;
    if (request.payload.empty()) {
        const std::size_t announced = doc.size() + (options_.shortDocument ? 16 : 0);
        std::uint16_t check = crc16OverBits(doc, announced);  // over D bits, as devices do
        if (options_.badCrc) check = static_cast<std::uint16_t>(check ^ 1);
        return Answer{0, descriptionHeader(static_cast<std::uint16_t>(announced), check)};
    }
    return piece(doc, offsetOf(request.payload), options_.piece);
}

Answer ConfigSide::readPacket(const Request& request) {
    std::lock_guard<std::mutex> guard(lock_);
    return piece(options_.packet, offsetOf(request.payload), options_.piece);
}

Answer ConfigSide::write(const Request& request) {
    std::lock_guard<std::mutex> guard(lock_);
    writes_.push_back(request.payload);
    if (request.payload.size() < 2) return Answer{1, {}};
    if (request.payload.size() == 2 && request.payload[0] == 0xFF && request.payload[1] == 0xFF) {
        if (!pending_.empty()) options_.packet = pending_;
        pending_.clear();
        chunk_ = 0;
        return Answer{0, {}};
    }
    if (options_.refuseChunk != 0 && ++chunk_ == options_.refuseChunk) return Answer{options_.refuseStatus, {}};
    const std::size_t at = offsetOf(request.payload);
    std::size_t taken = request.payload.size() - 2;
    if (options_.takeAtMost != 0) taken = std::min<std::size_t>(taken, options_.takeAtMost);
    if (pending_.size() < at + taken) pending_.resize(at + taken, 0);
    std::copy(request.payload.begin() + 2, request.payload.begin() + 2 + static_cast<std::ptrdiff_t>(taken),
              pending_.begin() + static_cast<std::ptrdiff_t>(at));
    if (!options_.countAnswer && options_.takeAtMost == 0) return Answer{0, {}};
    return Answer{0, {static_cast<std::uint8_t>(taken >> 8), static_cast<std::uint8_t>(taken & 0xFF)}};
}

Bytes ConfigSide::storedPacket() const {
    std::lock_guard<std::mutex> guard(lock_);
    return options_.packet;
}

std::vector<Bytes> ConfigSide::writes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return writes_;
}

void ConfigSide::setOptions(const ConfigSideOptions& options) {
    std::lock_guard<std::mutex> guard(lock_);
    options_ = options;
}

}  // namespace tavrin::sim
