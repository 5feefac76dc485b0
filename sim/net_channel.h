// The network side of a simulated device: TCP channels (the data channel at port P, the control
// channel at P + 100), a service that takes raw data on the data channel, and the responder that
// answers the library's UDP search.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/net_peer.h"
#include "sim/channel.h"
#include "sim/recorder.h"

namespace tavrin::sim {

std::string endpointText(const platform::Ipv4Endpoint& e);  // "a.b.c.d:port"

// A TCP listener as a byte stream: the library's connection of the moment. When the library
// goes, the next connection is taken.
class TcpChannel final : public ByteChannel {
public:
    // Listens on at (port 0: one the system picks); null on failure.
    static std::unique_ptr<TcpChannel> listen(const platform::Ipv4Endpoint& at);

    std::u16string path() const override;
    long read(void* buffer, std::size_t length, int timeoutMs) override;
    bool write(const void* data, std::size_t length) override;
    // Closes the connection of the moment (the library sees the device drop it).
    void drop() override;

    // From any thread: no connection is taken for ms (the listener is closed meanwhile, so
    // connects are refused), and the connection of the moment is dropped.
    void refuseFor(std::uint32_t ms);
    std::uint16_t port() const { return at_.port; }
    // Connections taken so far.
    std::size_t connections() const { return connections_.load(); }

private:
    TcpChannel(std::unique_ptr<platform::TcpListener> listener, platform::Ipv4Endpoint at)
        : listener_(std::move(listener)), at_(at) {}
    bool refusing();

    std::unique_ptr<platform::TcpListener> listener_;
    std::unique_ptr<platform::TcpStream> stream_;
    platform::Ipv4Endpoint at_;
    std::mutex refuseLock_;
    std::optional<std::chrono::steady_clock::time_point> refuseUntil_;
    std::atomic<bool> dropRequested_{false};
    std::atomic<std::size_t> connections_{0};
};

// Takes the raw data the library writes on the data channel, records it, and answers each
// chunk with the configured bytes (none by default); with closeAfterAnswer the device then closes
// the connection, right behind its answer.
class DataService {
public:
    // rate, when given, tells the bytes per second the device takes in (0: as fast as they come).
    DataService(ByteChannel& channel, Recorder& recorder, Bytes answer, bool closeAfterAnswer = false,
                std::function<std::uint32_t()> rate = {})
        : channel_(channel), recorder_(recorder), answer_(std::move(answer)), closeAfterAnswer_(closeAfterAnswer),
          rate_(std::move(rate)) {}
    DataService(const DataService&) = delete;
    DataService& operator=(const DataService&) = delete;
    ~DataService() { stop(); }
    void start();
    void stop();

private:
    ByteChannel& channel_;
    Recorder& recorder_;
    Bytes answer_;
    bool closeAfterAnswer_;
    std::function<std::uint32_t()> rate_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
};

// What the search responder sends besides the valid replies.
struct DiscoveryFaults {
    bool badChecksum = false;
    bool badKind = false;
    bool badSignature = false;
    bool tooShort = false;
};

// Answers the library's search on a UDP port: one valid reply per device, plus the bad replies
// that are switched on. Replies go to the sender, or to replyTo when one is set (a broadcast
// address, so that several searches on one port all hear them).
class DiscoveryResponder {
public:
    static std::unique_ptr<DiscoveryResponder> bind(const platform::Ipv4Endpoint& at);
    ~DiscoveryResponder() { stop(); }

    void setDevices(std::vector<platform::Ipv4Endpoint> devices);
    void setFaults(const DiscoveryFaults& faults);
    void setReplyTo(std::optional<platform::Ipv4Endpoint> to);
    void start();
    void stop();
    std::size_t requests() const { return requests_.load(); }

    // A valid reply naming a device at address and data port.
    static Bytes reply(const platform::Ipv4Endpoint& device);

private:
    explicit DiscoveryResponder(std::unique_ptr<platform::UdpPeer> peer) : peer_(std::move(peer)) {}
    void run();

    std::unique_ptr<platform::UdpPeer> peer_;
    mutable std::mutex lock_;
    std::vector<platform::Ipv4Endpoint> devices_;
    DiscoveryFaults faults_;
    std::optional<platform::Ipv4Endpoint> replyTo_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> requests_{0};
};

}  // namespace tavrin::sim
