// POSIX backend of net_socket.h. Sockets are non-blocking. The connection watch emulates the
// Windows event selection with poll(): while the connect is in progress it waits for the socket
// to become writable (the connect's end, FD_CONNECT), once connected for the peer's close
// (POLLRDHUP, FD_CLOSE); each notification is reported once, as Windows does. As on Windows, the
// peer's close is reported only once everything it sent before has been read: until a read would
// return 0, the watch looks at the socket again every kDrainCheckMs. A connection that is gone in
// both directions (reset, or closed by the peer after this side's shutdown) is reported at once.
// An eventfd lets another thread wake a wait.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "platform/net_socket.h"
#include "platform/posix/posix_handles.h"
#include "platform/posix/socket_posix.h"

namespace tavrin::platform {

using posix::fromSockaddr;
using posix::pollFor;
using posix::toSockaddr;

namespace {

constexpr int kDrainCheckMs = 50;

int socketError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    return err;
}

// After the peer's end of the stream has arrived: whether bytes it sent before are still unread
// (a read would return them), or a read would return 0, or the connection broke (*error set).
enum class PeerEnd { DataLeft, Closed, Broken };
PeerEnd peerEnd(int fd, int* error) {
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return PeerEnd::DataLeft;
    if (n == 0) return PeerEnd::Closed;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return PeerEnd::DataLeft;
    *error = errno;
    return PeerEnd::Broken;
}

}  // namespace

NetStart netStartup(int* error) {
    if (error != nullptr) *error = 0;
    return NetStart::Ok;
}

bool netCleanup(int* error) {
    if (error != nullptr) *error = 0;
    return true;
}

int lastNetError() { return errno; }

Socket::~Socket() {
    if (native_ != kNoHandle) ::close(static_cast<int>(native_));
}

bool Socket::shutdown() { return ::shutdown(static_cast<int>(native_), SHUT_WR) == 0; }

std::shared_ptr<Socket> tcpSocket(int* error) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return nullptr;
    }
    return std::make_shared<Socket>(fd);
}

struct ConnectionWatch::State {
    // Draining: the peer has closed its side, and what it sent before is not read yet.
    enum class Phase { Idle, Connecting, Connected, Draining, Done };
    posix::ScopedFd wake;
    int socket = -1;
    Phase phase = Phase::Idle;
    NetEvents pending;
};

ConnectionWatch::ConnectionWatch() : state_(std::make_unique<State>()) {}

ConnectionWatch::~ConnectionWatch() = default;

bool ConnectionWatch::createEvent(int* error) {
    state_->wake.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!state_->wake && error != nullptr) *error = errno;
    return state_->wake.valid();
}

bool ConnectionWatch::select(const Socket& socket, int*) {
    state_->socket = static_cast<int>(socket.native());
    return true;  // the socket is non-blocking already
}

ConnectStart ConnectionWatch::connect(const Ipv4Endpoint& remote, int* error) {
    sockaddr_in a = toSockaddr(remote);
    int r = ::connect(state_->socket, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (r == 0 || errno == EINPROGRESS) {
        // A loopback connect may be done at once: it is still reported through the watch.
        state_->phase = State::Phase::Connecting;
        return ConnectStart::InProgress;
    }
    if (error != nullptr) *error = errno;
    return ConnectStart::Failed;
}

NetWait ConnectionWatch::wait(int timeoutMs) {
    State& st = *state_;
    using Phase = State::Phase;
    // While draining only a broken or fully closed connection wakes the poll (POLLHUP and
    // POLLERR come unasked); the unread bytes are looked at after each short wait.
    short watchFor = 0;
    if (st.phase == Phase::Connecting) watchFor = POLLOUT;
    if (st.phase == Phase::Connected) watchFor = POLLRDHUP;
    const bool watchSocket = st.phase == Phase::Connecting || st.phase == Phase::Connected || st.phase == Phase::Draining;
    const int pollMs = st.phase == Phase::Draining ? std::min(timeoutMs, kDrainCheckMs) : timeoutMs;
    pollfd fds[2] = {{st.wake.get(), POLLIN, 0}, {st.socket, watchFor, 0}};
    const int r = pollFor(fds, watchSocket ? 2 : 1, pollMs);
    if (r < 0) return NetWait::Failed;
    const bool woken = r > 0 && fds[0].revents != 0;
    const short got = r > 0 && watchSocket ? fds[1].revents : 0;
    st.pending = NetEvents{};
    auto reportClose = [&st](int error) {
        st.pending.close = true;
        st.pending.closeError = error;
        st.phase = Phase::Done;
    };
    if (st.phase == Phase::Connecting) {
        if (got != 0) {
            st.pending.connect = true;
            st.pending.connectError = socketError(st.socket);
            st.phase = st.pending.connectError == 0 ? Phase::Connected : Phase::Done;
        }
    } else if (st.phase == Phase::Connected || st.phase == Phase::Draining) {
        if ((got & POLLERR) != 0) {
            reportClose(socketError(st.socket));
        } else if ((got & POLLHUP) != 0) {
            // Closed both ways: this side had shut its sending side (the port is being closed),
            // so what is left unread is of no use to anyone.
            reportClose(0);
        } else if (got != 0 || st.phase == Phase::Draining) {
            int error = 0;
            switch (peerEnd(st.socket, &error)) {
            case PeerEnd::DataLeft: st.phase = Phase::Draining; break;
            case PeerEnd::Closed: reportClose(0); break;
            case PeerEnd::Broken: reportClose(error); break;
            }
        }
    }
    const NetEvents& p = st.pending;
    return woken || p.connect || p.close ? NetWait::Signalled : NetWait::TimedOut;
}

bool ConnectionWatch::events(NetEvents& out, int*) {
    out = state_->pending;
    state_->pending = NetEvents{};
    return true;
}

void ConnectionWatch::wake() {
    const std::uint64_t one = 1;
    if (state_->wake) {
        [[maybe_unused]] ssize_t n = ::write(state_->wake.get(), &one, sizeof one);
    }
}

SocketTransfer::SocketTransfer(const Socket& socket, void*, IoEvent& event, const IoEvent& abortEvent)
    : socket_(socket), callerBlock_(nullptr), event_(event), abortEvent_(abortEvent) {}

bool SocketTransfer::resetEvent() { return event_.valid(); }

IoStart SocketTransfer::start(bool send, void* buffer, std::uint32_t length, std::uint32_t* count) {
    send_ = send;
    buffer_ = buffer;
    length_ = length;
    startFailed_ = false;
    if (count != nullptr) *count = 0;
    if (abortEvent_.isSet()) {  // aborted: nothing more may start
        startFailed_ = true;
        return IoStart::Failed;
    }
    int fd = static_cast<int>(socket_.native());
    const ssize_t n = send ? ::send(fd, buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT)
                           : ::recv(fd, buffer, length, MSG_DONTWAIT);
    const IoStart outcome = posix::startOutcome(n, true, count);
    startFailed_ = outcome == IoStart::Failed;
    return outcome;
}

IoWait SocketTransfer::wait(std::int32_t timeoutMs, std::uint32_t* code) {
    return posix::waitTransfer(static_cast<int>(abortEvent_.native()), static_cast<int>(socket_.native()), send_,
                               startFailed_, timeoutMs, code);
}

bool SocketTransfer::finish(std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (startFailed_ || abortEvent_.isSet()) return false;
    int fd = static_cast<int>(socket_.native());
    ssize_t n = send_ ? ::send(fd, buffer_, length_, MSG_NOSIGNAL | MSG_DONTWAIT)
                      : ::recv(fd, buffer_, length_, MSG_DONTWAIT);
    if (n < 0) return false;
    if (count != nullptr) *count = static_cast<std::uint32_t>(n);
    return true;
}

bool SocketTransfer::cancelAndAwait(std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    return false;  // nothing was queued: an unfinished transfer moved no bytes
}

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::create(int* error) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return false;
    }
    native_ = fd;
    return true;
}

bool UdpSocket::enableBroadcast(int* error) {
    int on = 1;
    if (::setsockopt(static_cast<int>(native_), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0) return true;
    if (error != nullptr) *error = errno;
    return false;
}

bool UdpSocket::bindAny(std::uint16_t port, int* error) {
    int on = 1;
    ::setsockopt(static_cast<int>(native_), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(static_cast<int>(native_), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
    if (error != nullptr) *error = errno;
    return false;
}

bool UdpSocket::createEvent(int* error) {
    if (event_.create()) return true;
    if (error != nullptr) *error = errno;
    return false;
}

bool UdpSocket::hasEvent() const { return event_.valid(); }

UdpSocket::Outcome UdpSocket::sendTo(const void* data, std::uint32_t length, const Ipv4Endpoint& to,
                                     std::uint32_t* sent, int timeoutMs, int* error) {
    sockaddr_in a = toSockaddr(to);
    int fd = static_cast<int>(native_);
    for (bool waited = false;; waited = true) {
        ssize_t n = ::sendto(fd, data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&a), sizeof a);
        if (n >= 0) {
            *sent = static_cast<std::uint32_t>(n);
            return Outcome::Done;
        }
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || waited) {
            if (error != nullptr) *error = errno;
            return waited ? Outcome::ResultFailed : Outcome::IoFailed;
        }
        pollfd p{fd, POLLOUT, 0};
        int r = pollFor(&p, 1, timeoutMs);
        if (r == 0) return Outcome::TimedOut;
        if (r < 0) {
            if (error != nullptr) *error = errno;
            return Outcome::WaitFailed;
        }
    }
}

UdpSocket::Outcome UdpSocket::receiveFrom(void* buffer, std::uint32_t length, std::uint32_t* received,
                                          Ipv4Endpoint* from, int timeoutMs, int* error) {
    int fd = static_cast<int>(native_);
    for (bool waited = false;; waited = true) {
        sockaddr_in a{};
        socklen_t alen = sizeof a;
        ssize_t n = ::recvfrom(fd, buffer, length, 0, reinterpret_cast<sockaddr*>(&a), &alen);
        if (n >= 0) {
            *received = static_cast<std::uint32_t>(n);
            if (from != nullptr) *from = fromSockaddr(a);
            return Outcome::Done;
        }
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || waited) {
            if (error != nullptr) *error = errno;
            return waited ? Outcome::ResultFailed : Outcome::IoFailed;
        }
        pollfd p{fd, POLLIN, 0};
        int r = pollFor(&p, 1, timeoutMs);
        if (r == 0) return Outcome::TimedOut;
        if (r < 0) {
            if (error != nullptr) *error = errno;
            return Outcome::WaitFailed;
        }
    }
}

void UdpSocket::close() {
    if (native_ != kNoHandle) {
        ::shutdown(static_cast<int>(native_), SHUT_RDWR);
        ::close(static_cast<int>(native_));
    }
    native_ = kNoHandle;
    event_.close();
}

}  // namespace tavrin::platform
