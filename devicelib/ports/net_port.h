// CNetPort: a TCP channel to a network device (port type 0x401 data, 0x402 control at the data
// port + 100). Opening returns at once; a transmit thread per port makes the connection and
// watches it, and a read or write after the device dropped the connection starts a new one.
// The class also carries the UDP exchange of the device search and the process-wide start and
// end of the sockets library.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "devicelib/ports/b_port.h"
#include "platform/bounded_worker.h"
#include "platform/net_socket.h"

namespace tavrin {

class CNetPort : public CBPort {
public:
    CNetPort(std::uint16_t portType, PortHost& host);
    ~CNetPort() override;

    std::int32_t readPort(void* buffer, std::uint32_t length, std::uint32_t* count,
                          void* overlapped) override;
    std::int32_t writePort(const void* buffer, std::uint32_t length, std::uint32_t* count,
                           void* overlapped) override;
    std::int32_t openPort(const char16_t* path, std::uint16_t openFlag) override;
    std::int32_t openPort(const _DEVOPEN_INFO* info, std::uint16_t openFlag) override;
    // After the device restarted (a firmware update): the connection of the moment is given up and
    // a new one is made; true once it is up, false when the device refused it or it did not come
    // within the write time-out (at least 1000 ms).
    std::int32_t reOpenPort(std::int32_t ignored) override;
    // Shuts the sending side and waits for the transmit thread until 5000 ms after that (a thread
    // still running then is told to leave); the socket goes.
    std::int32_t closePort() override;
    std::int32_t isPortOpen() override;
    // The device is being closed: the running transfer ends, and the close of the connection
    // starts here already, so that a device's two channels wait for their threads at once and
    // the later closePort of either waits only for what is left of the 5000 ms.
    void abortTransfers() override;
    // What has arrived on the connection; false when it is not connected.
    std::int32_t drainInput(void* buffer, std::uint32_t length, std::uint32_t* count) override;

    // Stores the address (when a text is given) and makes sure a socket and a transmit thread
    // exist; false for a malformed text or when no socket can be made.
    bool mkNetConnect(const char16_t* address);

    // One send (direction 1) or receive (0) on the connection with a time-out.
    // With the caller's overlapped block the transfer signals that block's event, else event.
    bool netIOAccess(std::uint8_t direction, void* overlapped, platform::IoEvent& event,
                     void* buffer, std::uint32_t length, std::uint32_t* count, std::int32_t timeoutMs);

    // The device search's UDP exchange. direction 1 sends the discovery request to the search
    // address; 0 receives one reply and writes its device path into text (capacity *size wide
    // characters; on success *size becomes its length + 1). 0 success, -1 socket or I/O failure,
    // -3 not a valid reply or too long for the text, -4 nothing within waitMs (2000 ms unless
    // the search asks for less: what is left of its own time).
    static constexpr std::int32_t kUdpWaitMs = 2000;
    std::int32_t UDP_IOCtrl(std::int32_t ignored, char16_t* text, std::uint32_t* size,
                            std::uint16_t direction, std::int32_t waitMs = kUdpWaitMs);
    void setUdpPort(std::uint16_t port) { udpPort_ = port; }
    void setSearchAddress(const platform::Ipv4Endpoint& to) { searchAddress_ = to; }

    static bool initClass(PortLog& log);
    static bool unInitClass(PortLog& log);

    std::uint8_t connectionState() const { return link_->state.load(); }
    std::uint16_t remotePort() const { return link_->remote.port; }

private:
    // What the port shares with its transmit thread, under the worker's lock (running: the
    // thread has not ended). A thread that has to be left behind keeps this alive by itself.
    struct Link : platform::WorkerState {
        std::shared_ptr<platform::Socket> socket;  // the TCP socket; none when gone
        std::shared_ptr<platform::ConnectionWatch> watch;
        platform::Ipv4Endpoint remote;
        std::atomic<std::uint8_t> state{0};  // 0 not connected, 1 connecting, 2 connected
        std::atomic<std::int32_t> stop{0};
        PortLog* log = nullptr;  // the port's log, which outlives a thread left behind
    };

    // The transmit thread: the connect, then the watch until the connection ends or the thread
    // is told to leave. Returns its last words on the link (run under the link's lock).
    static std::function<void()> transmitThread(const std::shared_ptr<Link>& link);
    // Its pieces: the watch's event and the connect's start (false: nothing to watch), one
    // reported network event (false: the watch ends).
    static bool startWatching(Link& link, platform::ConnectionWatch& watch, platform::Socket* socket,
                              const platform::Ipv4Endpoint& remote);
    static bool handleNetEvents(Link& link, platform::ConnectionWatch& watch);
    void tellThreadToLeave(std::unique_lock<std::mutex>& lock);
    void startClosing();
    std::shared_ptr<platform::Socket> currentSocket();
    std::int32_t netTransfer(std::uint8_t direction, void* overlapped, void* buffer,
                             std::uint32_t length, std::uint32_t* count);

    std::shared_ptr<Link> link_;
    platform::BoundedWorker worker_;
    std::int32_t opened_ = 0;
    // When the close began (the sending side was shut); none while the port is not closing.
    // Guarded by the link's lock.
    std::optional<std::chrono::steady_clock::time_point> closeStarted_;
    platform::UdpSocket udp_;
    std::uint16_t udpPort_ = 0;
    platform::Ipv4Endpoint searchAddress_ = {{255, 255, 255, 255}, 0};
};

}  // namespace tavrin
