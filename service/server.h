// The local device service's network side: HTTP and WebSocket on the loopback addresses only
// (127.0.0.1 and [::1]), the security rules of every request, and the device calls, which run one
// at a time on a worker thread of their own so that a slow device never stalls the connections.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "service/method_calls.h"
#include "service/service_settings.h"

namespace tavrin::service {

// The embedded JavaScript client, served as /tavrin-client.js.
extern const char* const kClientScript;

class Server {
public:
    using LogSink = std::function<void(const std::string& line)>;

    // methods must outlive the server.
    Server(Settings settings, DeviceMethods& methods, LogSink log);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds 127.0.0.1 and [::1] at the settings' port (0: a free port, the same on both; [::1] is
    // left out, with a log line, where the system has no IPv6 loopback) and starts serving.
    // False with the reason when the port cannot be bound.
    bool start(std::string& error);
    std::uint16_t port() const;
    bool listensOnIpv6() const;
    // Stops accepting, closes every connection (and the devices their WebSockets opened) and
    // waits for the threads, at most as long as a running device call takes.
    void stop();

    std::size_t openDevices() const;

    struct Impl;  // the server's state, in server.cpp

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tavrin::service
