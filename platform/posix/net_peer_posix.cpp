// POSIX backend of net_peer.h.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net_peer.h"
#include "platform/posix/posix_handles.h"
#include "platform/posix/socket_posix.h"

namespace tavrin::platform {

using posix::toSockaddr;

namespace {

// The whole wait is timeoutMs, however often a signal interrupts it.
int waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    return posix::pollFor(&p, 1, timeoutMs);
}

class PosixStream final : public TcpStream {
public:
    explicit PosixStream(int fd) : socket_(fd) {}
    ~PosixStream() override { close(); }
    long read(void* buffer, std::size_t length, int timeoutMs) override {
        if (socket_.get() < 0) return -1;
        int r = waitFor(socket_.get(), POLLIN, timeoutMs);
        if (r <= 0) return r == 0 ? 0 : -1;
        ssize_t n = ::recv(socket_.get(), buffer, length, MSG_DONTWAIT);
        if (n == 0) return -1;  // the library closed the connection
        if (n < 0) return errno == EAGAIN ? 0 : -1;
        return static_cast<long>(n);
    }
    bool write(const void* data, std::size_t length) override {
        const auto* p = static_cast<const char*>(data);
        while (length > 0 && socket_.get() >= 0) {
            ssize_t n = ::send(socket_.get(), p, length, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += n;
            length -= static_cast<std::size_t>(n);
        }
        return length == 0;
    }
    void close() override { socket_.reset(); }

private:
    posix::ScopedSocket socket_;
};

class PosixListener final : public TcpListener {
public:
    PosixListener(int fd, std::uint16_t port) : socket_(fd), port_(port) {}
    ~PosixListener() override { close(); }
    std::uint16_t port() const override { return port_; }
    std::unique_ptr<TcpStream> accept(int timeoutMs) override {
        if (socket_.get() < 0 || waitFor(socket_.get(), POLLIN, timeoutMs) <= 0) return nullptr;
        int c = ::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return nullptr;
        return std::make_unique<PosixStream>(c);
    }
    void close() override { socket_.reset(); }

private:
    posix::ScopedSocket socket_;
    std::uint16_t port_;
};

class PosixUdpPeer final : public UdpPeer {
public:
    explicit PosixUdpPeer(int fd) : socket_(fd) {}
    long receive(void* buffer, std::size_t length, Ipv4Endpoint* from, int timeoutMs) override {
        int r = waitFor(socket_.get(), POLLIN, timeoutMs);
        if (r <= 0) return r == 0 ? 0 : -1;
        sockaddr_in a{};
        socklen_t alen = sizeof a;
        ssize_t n = ::recvfrom(socket_.get(), buffer, length, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), &alen);
        if (n < 0) return errno == EAGAIN ? 0 : -1;
        if (from != nullptr) {
            std::memcpy(from->address, &a.sin_addr, 4);
            from->port = ntohs(a.sin_port);
        }
        return static_cast<long>(n);
    }
    bool sendTo(const void* data, std::size_t length, const Ipv4Endpoint& to) override {
        sockaddr_in a = toSockaddr(to);
        return ::sendto(socket_.get(), data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
               static_cast<ssize_t>(length);
    }

private:
    posix::ScopedSocket socket_;
};

}  // namespace

std::unique_ptr<TcpListener> TcpListener::listen(const Ipv4Endpoint& at) {
    posix::ScopedSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) return nullptr;
    const int fd = socket.get();
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = toSockaddr(at);
    socklen_t alen = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &alen) != 0)
        return nullptr;
    return std::make_unique<PosixListener>(socket.release(), ntohs(a.sin_port));
}

std::unique_ptr<UdpPeer> UdpPeer::bind(const Ipv4Endpoint& at) {
    posix::ScopedSocket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket) return nullptr;
    const int fd = socket.get();
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in a = toSockaddr(at);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return nullptr;
    return std::make_unique<PosixUdpPeer>(socket.release());
}

}  // namespace tavrin::platform
