// Helpers shared by the POSIX socket and device files: IPv4 addresses, poll() that resumes
// after signals, and the start and the wait of a non-blocking transfer.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/types.h>

#include "platform/device_io.h"
#include "platform/net_socket.h"

namespace tavrin::platform::posix {

inline sockaddr_in toSockaddr(const Ipv4Endpoint& e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(e.port);
    std::memcpy(&a.sin_addr, e.address, 4);
    return a;
}

inline Ipv4Endpoint fromSockaddr(const sockaddr_in& a) {
    Ipv4Endpoint e;
    std::memcpy(e.address, &a.sin_addr, 4);
    e.port = ntohs(a.sin_port);
    return e;
}

// poll() for timeoutMs in all, resumed with the time left after a signal. The time left is
// rounded up to whole milliseconds: a wait never ends before its time-out (rounded down, a 1 ms
// wait would become no wait at all).
inline int pollFor(pollfd* fds, nfds_t n, int timeoutMs) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
        int r = ::poll(fds, n, left.count() < 0 ? 0 : static_cast<int>(left.count()));
        if (r >= 0 || errno != EINTR) return r;
    }
}

// Whether a descriptor (a port's eventfd) has something to read now.
inline bool isReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// The wait of a transfer that is pending on fd: until the device is ready in the transfer's
// direction or eventFd is signalled (an abort). A transfer the system refused at start is never
// ready, as on Windows: only an abort ends its wait early.
inline IoWait waitTransfer(int eventFd, int fd, bool write, bool startFailed, int timeoutMs, std::uint32_t* code) {
    pollfd fds[2] = {{eventFd, POLLIN, 0}, {fd, static_cast<short>(write ? POLLOUT : POLLIN), 0}};
    const int r = pollFor(fds, startFailed ? 1 : 2, timeoutMs);
    if (code != nullptr) *code = static_cast<std::uint32_t>(r < 0 ? errno : 0);
    if (r < 0) return IoWait::WaitFailed;
    if (r == 0) return IoWait::TimedOut;
    return IoWait::Signalled;
}

// How the first try of a non-blocking transfer went, from its read, write, recv or send result n:
// bytes moved (*count set), not ready yet (pending: EAGAIN or a signal), or refused. A result of 0
// completes only where zeroCompletes (a socket's end of stream); a device file's 0 is a failure.
inline IoStart startOutcome(ssize_t n, bool zeroCompletes, std::uint32_t* count) {
    if (n > 0 || (n == 0 && zeroCompletes)) {
        if (count != nullptr) *count = static_cast<std::uint32_t>(n);
        return IoStart::Completed;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return IoStart::Pending;
    return IoStart::Failed;
}

}  // namespace tavrin::platform::posix
