// Win32 backend of net_peer.h: plain blocking Winsock sockets with select() for time-outs.
#include "platform/win32/socket_win32.h"

#include <cstring>

#include "platform/net_peer.h"
#include "platform/win32/windows_api.h"

namespace tavrin::platform {

using win32::toSockaddr;

namespace {

int waitReadable(SOCKET s, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, &set, nullptr, nullptr, &tv);
}

class WinStream final : public TcpStream {
public:
    explicit WinStream(SOCKET s) : socket_(s) {}
    ~WinStream() override { close(); }
    long read(void* buffer, std::size_t length, int timeoutMs) override {
        if (!socket_) return -1;
        int r = waitReadable(socket_.get(), timeoutMs);
        if (r <= 0) return r == 0 ? 0 : -1;
        int n = ::recv(socket_.get(), static_cast<char*>(buffer), static_cast<int>(length), 0);
        return n <= 0 ? -1 : n;
    }
    bool write(const void* data, std::size_t length) override {
        const char* p = static_cast<const char*>(data);
        while (length > 0 && socket_.valid()) {
            int n = ::send(socket_.get(), p, static_cast<int>(length), 0);
            if (n <= 0) return false;
            p += n;
            length -= static_cast<std::size_t>(n);
        }
        return length == 0;
    }
    void close() override { socket_.reset(); }

private:
    win32::ScopedSocket socket_;
};

class WinListener final : public TcpListener {
public:
    WinListener(SOCKET s, std::uint16_t port) : socket_(s), port_(port) {}
    ~WinListener() override { close(); }
    std::uint16_t port() const override { return port_; }
    std::unique_ptr<TcpStream> accept(int timeoutMs) override {
        if (!socket_ || waitReadable(socket_.get(), timeoutMs) <= 0) return nullptr;
        SOCKET c = ::accept(socket_.get(), nullptr, nullptr);
        if (c == INVALID_SOCKET) return nullptr;
        return std::make_unique<WinStream>(c);
    }
    void close() override { socket_.reset(); }

private:
    win32::ScopedSocket socket_;
    std::uint16_t port_;
};

class WinUdpPeer final : public UdpPeer {
public:
    explicit WinUdpPeer(SOCKET s) : socket_(s) {}
    long receive(void* buffer, std::size_t length, Ipv4Endpoint* from, int timeoutMs) override {
        int r = waitReadable(socket_.get(), timeoutMs);
        if (r <= 0) return r == 0 ? 0 : -1;
        sockaddr_in a{};
        int alen = sizeof a;
        int n = ::recvfrom(socket_.get(), static_cast<char*>(buffer), static_cast<int>(length), 0,
                           reinterpret_cast<sockaddr*>(&a), &alen);
        if (n < 0) return -1;
        if (from != nullptr) {
            std::memcpy(from->address, &a.sin_addr, 4);
            from->port = ntohs(a.sin_port);
        }
        return n;
    }
    bool sendTo(const void* data, std::size_t length, const Ipv4Endpoint& to) override {
        sockaddr_in a = toSockaddr(to);
        return ::sendto(socket_.get(), static_cast<const char*>(data), static_cast<int>(length), 0,
                        reinterpret_cast<sockaddr*>(&a), sizeof a) == static_cast<int>(length);
    }

private:
    win32::ScopedSocket socket_;
};

// The peers may be used before (or without) the library having started the sockets library.
bool ensureStarted() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

}  // namespace

std::unique_ptr<TcpListener> TcpListener::listen(const Ipv4Endpoint& at) {
    if (!ensureStarted()) return nullptr;
    win32::ScopedSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket) return nullptr;
    const SOCKET s = socket.get();
    sockaddr_in a = toSockaddr(at);
    int alen = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &alen) != 0)
        return nullptr;
    return std::make_unique<WinListener>(socket.release(), ntohs(a.sin_port));
}

std::unique_ptr<UdpPeer> UdpPeer::bind(const Ipv4Endpoint& at) {
    if (!ensureStarted()) return nullptr;
    win32::ScopedSocket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!socket) return nullptr;
    const SOCKET s = socket.get();
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a = toSockaddr(at);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return nullptr;
    return std::make_unique<WinUdpPeer>(socket.release());
}

}  // namespace tavrin::platform
