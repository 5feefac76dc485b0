// POSIX backend of net_peer.h.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net_peer.h"
#include "platform/posix/socket_posix.h"

namespace tavrin::platform {

using posix::toSockaddr;

namespace {

int waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r;
}

class PosixStream final : public TcpStream {
public:
    explicit PosixStream(int fd) : fd_(fd) {}
    ~PosixStream() override { close(); }
    long read(void* buffer, std::size_t length, int timeoutMs) override {
        if (fd_ < 0) return -1;
        int r = waitFor(fd_, POLLIN, timeoutMs);
        if (r <= 0) return r == 0 ? 0 : -1;
        ssize_t n = ::recv(fd_, buffer, length, MSG_DONTWAIT);
        if (n == 0) return -1;  // the library closed the connection
        if (n < 0) return errno == EAGAIN ? 0 : -1;
        return static_cast<long>(n);
    }
    bool write(const void* data, std::size_t length) override {
        const auto* p = static_cast<const char*>(data);
        while (length > 0 && fd_ >= 0) {
            ssize_t n = ::send(fd_, p, length, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += n;
            length -= static_cast<std::size_t>(n);
        }
        return length == 0;
    }
    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

class PosixListener final : public TcpListener {
public:
    PosixListener(int fd, std::uint16_t port) : fd_(fd), port_(port) {}
    ~PosixListener() override { close(); }
    std::uint16_t port() const override { return port_; }
    std::unique_ptr<TcpStream> accept(int timeoutMs) override {
        if (fd_ < 0 || waitFor(fd_, POLLIN, timeoutMs) <= 0) return nullptr;
        int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return nullptr;
        return std::make_unique<PosixStream>(c);
    }
    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    std::uint16_t port_;
};

class PosixUdpPeer final : public UdpPeer {
public:
    explicit PosixUdpPeer(int fd) : fd_(fd) {}
    ~PosixUdpPeer() override { ::close(fd_); }
    long receive(void* buffer, std::size_t length, Ipv4Endpoint* from, int timeoutMs) override {
        int r = waitFor(fd_, POLLIN, timeoutMs);
        if (r <= 0) return r == 0 ? 0 : -1;
        sockaddr_in a{};
        socklen_t alen = sizeof a;
        ssize_t n = ::recvfrom(fd_, buffer, length, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), &alen);
        if (n < 0) return errno == EAGAIN ? 0 : -1;
        if (from != nullptr) {
            std::memcpy(from->address, &a.sin_addr, 4);
            from->port = ntohs(a.sin_port);
        }
        return static_cast<long>(n);
    }
    bool sendTo(const void* data, std::size_t length, const Ipv4Endpoint& to) override {
        sockaddr_in a = toSockaddr(to);
        return ::sendto(fd_, data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
               static_cast<ssize_t>(length);
    }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<TcpListener> TcpListener::listen(const Ipv4Endpoint& at) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = toSockaddr(at);
    socklen_t alen = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &alen) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixListener>(fd, ntohs(a.sin_port));
}

std::unique_ptr<UdpPeer> UdpPeer::bind(const Ipv4Endpoint& at) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in a = toSockaddr(at);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixUdpPeer>(fd);
}

}  // namespace tavrin::platform
