#include "sim/net_channel.h"

#include "sim/rate_limit.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "sim/frame.h"

namespace tavrin::sim {

namespace {
constexpr int kPollMs = 20;
constexpr std::uint8_t kRequest[] = {0x10, 0x40, 0x01, 0x01, 0x01, 0x00};
constexpr std::uint8_t kSignature[] = {0x6C, 0x86, 0xBE, 0x74, 0x4F, 0x82, 0x13, 0xBD,
                                       0x68, 0x49, 0x38, 0x01, 0x25, 0x15, 0x03};
}  // namespace

std::string endpointText(const platform::Ipv4Endpoint& e) {
    return std::to_string(e.address[0]) + "." + std::to_string(e.address[1]) + "." + std::to_string(e.address[2]) +
           "." + std::to_string(e.address[3]) + ":" + std::to_string(e.port);
}

std::unique_ptr<TcpChannel> TcpChannel::listen(const platform::Ipv4Endpoint& at) {
    auto listener = platform::TcpListener::listen(at);
    if (!listener) return nullptr;
    platform::Ipv4Endpoint bound = at;
    bound.port = listener->port();
    return std::unique_ptr<TcpChannel>(new TcpChannel(std::move(listener), bound));
}

std::u16string TcpChannel::path() const {
    const std::string text = endpointText(at_);
    return std::u16string(text.begin(), text.end());
}

bool TcpChannel::refusing() {
    std::lock_guard<std::mutex> guard(refuseLock_);
    if (!refuseUntil_) return false;
    if (std::chrono::steady_clock::now() < *refuseUntil_) {
        if (listener_) listener_->close();
        listener_.reset();
        stream_.reset();
        return true;
    }
    refuseUntil_.reset();
    listener_ = platform::TcpListener::listen(at_);  // the same port again
    return false;
}

long TcpChannel::read(void* buffer, std::size_t length, int timeoutMs) {
    if (dropRequested_.exchange(false)) stream_.reset();
    if (refusing() || !listener_) {
        // The device is away: no busy loop of the service meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, kPollMs)));
        return 0;
    }
    if (!stream_) {
        stream_ = listener_->accept(timeoutMs);
        if (!stream_) return 0;
        ++connections_;
    }
    const long n = stream_->read(buffer, length, timeoutMs);
    if (n < 0) {  // the library closed its side: wait for its next connection
        stream_.reset();
        return 0;
    }
    return n;
}

bool TcpChannel::write(const void* data, std::size_t length) { return stream_ && stream_->write(data, length); }

void TcpChannel::drop() { stream_.reset(); }

void TcpChannel::refuseFor(std::uint32_t ms) {
    std::lock_guard<std::mutex> guard(refuseLock_);
    refuseUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    dropRequested_ = true;
}

void DataService::start() {
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] {
        std::uint8_t buffer[4096];
        while (!stopping_) {
            const std::uint32_t rate = rate_ ? rate_() : 0;
            const long n = channel_.read(buffer, RateLimit::allowance(rate, sizeof buffer), kPollMs);
            if (n <= 0) {
                // A stand-in device gets ready for the library's next open; a broken one is
                // tried again after a while.
                channel_.idle();
                if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
                continue;
            }
            recorder_.addBytes(buffer, static_cast<std::size_t>(n));
            // A slow device: the pause in short steps, so that a stop is not kept waiting.
            const auto end = std::chrono::steady_clock::now() + RateLimit::pauseAfter(rate, static_cast<std::size_t>(n));
            while (!stopping_ && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!answer_.empty()) channel_.write(answer_.data(), answer_.size());
            if (closeAfterAnswer_) channel_.drop();
        }
    });
}

void DataService::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

std::unique_ptr<DiscoveryResponder> DiscoveryResponder::bind(const platform::Ipv4Endpoint& at) {
    auto peer = platform::UdpPeer::bind(at);
    if (!peer) return nullptr;
    return std::unique_ptr<DiscoveryResponder>(new DiscoveryResponder(std::move(peer)));
}

void DiscoveryResponder::setDevices(std::vector<platform::Ipv4Endpoint> devices) {
    std::lock_guard<std::mutex> guard(lock_);
    devices_ = std::move(devices);
}

void DiscoveryResponder::setFaults(const DiscoveryFaults& faults) {
    std::lock_guard<std::mutex> guard(lock_);
    faults_ = faults;
}

void DiscoveryResponder::setReplyTo(std::optional<platform::Ipv4Endpoint> to) {
    std::lock_guard<std::mutex> guard(lock_);
    replyTo_ = to;
}

Bytes DiscoveryResponder::reply(const platform::Ipv4Endpoint& device) {
    Bytes r(29, 0);
    r[0] = 0x10;
    r[1] = 0x40;
    r[2] = 25;
    r[4] = 0x01;
    std::copy(std::begin(kSignature), std::end(kSignature), r.begin() + 5);
    r[21] = static_cast<std::uint8_t>(device.port & 0xFF);
    r[22] = static_cast<std::uint8_t>(device.port >> 8);
    std::copy(device.address, device.address + 4, r.begin() + 25);
    std::uint8_t sum = 0;
    for (std::size_t i = 4; i < r.size(); ++i) sum = static_cast<std::uint8_t>(sum + r[i]);
    r[3] = sum;
    return r;
}

void DiscoveryResponder::start() {
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void DiscoveryResponder::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

void DiscoveryResponder::run() {
    while (!stopping_) {
        std::uint8_t datagram[512];
        platform::Ipv4Endpoint from;
        const long n = peer_->receive(datagram, sizeof datagram, &from, kPollMs * 5);
        if (n != static_cast<long>(sizeof kRequest) || !std::equal(datagram, datagram + n, kRequest)) continue;
        ++requests_;
        std::vector<platform::Ipv4Endpoint> devices;
        DiscoveryFaults faults;
        platform::Ipv4Endpoint to = from;
        {
            std::lock_guard<std::mutex> guard(lock_);
            devices = devices_;
            faults = faults_;
            if (replyTo_) to = *replyTo_;
        }
        std::vector<Bytes> replies;
        const platform::Ipv4Endpoint odd = devices.empty() ? platform::Ipv4Endpoint{{127, 0, 0, 9}, 1} : devices[0];
        if (faults.badChecksum) {
            Bytes r = reply(odd);
            r[3] ^= 0xFF;
            replies.push_back(r);
        }
        if (faults.badKind) {
            Bytes r = reply(odd);
            r[4] = 0x02;
            r[3] = static_cast<std::uint8_t>(r[3] + 1);  // the checksum still holds
            replies.push_back(r);
        }
        if (faults.badSignature) {
            Bytes r = reply(odd);
            r[10] = static_cast<std::uint8_t>(r[10] + 1);
            r[3] = static_cast<std::uint8_t>(r[3] + 1);
            replies.push_back(r);
        }
        if (faults.tooShort) {
            Bytes r = reply(odd);
            r.resize(20);
            replies.push_back(r);
        }
        for (const auto& d : devices) replies.push_back(reply(d));
        for (const auto& r : replies) peer_->sendTo(r.data(), r.size(), to);
    }
}

}  // namespace tavrin::sim
