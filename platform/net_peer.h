// The device's end of network channels, for the simulator and the tests: a TCP listener and its
// accepted connections, and a UDP socket that answers searches. Addresses are loopback ones in
// every test and demo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/net_socket.h"

namespace tavrin::platform {

class TcpStream {
public:
    virtual ~TcpStream() = default;
    // Bytes read, 0 on time-out, -1 when the peer closed or the stream broke.
    virtual long read(void* buffer, std::size_t length, int timeoutMs) = 0;
    virtual bool write(const void* data, std::size_t length) = 0;
    // Closes this side (the library's side sees the device drop the connection).
    virtual void close() = 0;
};

class TcpListener {
public:
    // Listens on address:port (port 0: one the system picks); null on failure.
    static std::unique_ptr<TcpListener> listen(const Ipv4Endpoint& at);
    virtual ~TcpListener() = default;
    virtual std::uint16_t port() const = 0;
    // The next connection, or null after timeoutMs.
    virtual std::unique_ptr<TcpStream> accept(int timeoutMs) = 0;
    virtual void close() = 0;
};

class UdpPeer {
public:
    // Bound to address:port with SO_REUSEADDR (and SO_BROADCAST); null on failure.
    static std::unique_ptr<UdpPeer> bind(const Ipv4Endpoint& at);
    virtual ~UdpPeer() = default;
    // Bytes received, 0 on time-out, -1 on failure.
    virtual long receive(void* buffer, std::size_t length, Ipv4Endpoint* from, int timeoutMs) = 0;
    virtual bool sendTo(const void* data, std::size_t length, const Ipv4Endpoint& to) = 0;
};

}  // namespace tavrin::platform
