#include "devicelib/ports/net_port.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "devicelib/ports/export_text.h"
#include "devicelib/ports/net_address.h"
#include "platform/sync.h"

namespace tavrin {

namespace {
constexpr const char16_t* kThread = u"CNetPort::transmitThread";
constexpr const char16_t* kClose = u"CNetPort::closePort";
constexpr const char16_t* kNetIo = u"CNetPort::netIOAccess";
constexpr const char16_t* kUdp = u"CNetPort::UDP_IOCtrl";
constexpr int kWatchIntervalMs = 1000;
constexpr auto kThreadStopWait = std::chrono::milliseconds(5000);
constexpr auto kThreadLeaveWait = std::chrono::milliseconds(2000);
}  // namespace

CNetPort::CNetPort(std::uint16_t portType, PortHost& host) : CBPort(portType, host), link_(std::make_shared<Link>()) {
    link_->log = &host.portLog();
}

CNetPort::~CNetPort() {
    udp_.close();
    closePort();
}

std::shared_ptr<platform::Socket> CNetPort::currentSocket() {
    std::lock_guard<std::mutex> guard(link_->lock);
    return link_->socket;
}

std::int32_t CNetPort::openPort(const char16_t* path, std::uint16_t) {
    if (path == nullptr || opened_ != 0) return 0;
    resetTimeouts(nullptr);
    opened_ = mkNetConnect(path) ? 1 : 0;
    return opened_;
}

std::int32_t CNetPort::openPort(const _DEVOPEN_INFO* info, std::uint16_t) {
    if (info == nullptr || info->portType != portType_ || opened_ != 0) return 0;
    resetTimeouts(info);
    if (info->path == nullptr) return 0;
    opened_ = mkNetConnect(fromExport(info->path)) ? 1 : 0;
    return opened_;
}

bool CNetPort::mkNetConnect(const char16_t* address) {
    if (address != nullptr) {
        auto remote = parseNetAddress(address);
        if (!remote) return false;
        if (portType_ == PORT_NET_CTRL) {
            // A data port whose control channel would lie past 65535 names no device.
            if (remote->port > kMaxTcpPort - kControlPortOffset) return false;
            remote->port = static_cast<std::uint16_t>(remote->port + kControlPortOffset);
        }
        std::lock_guard<std::mutex> guard(link_->lock);
        link_->remote = *remote;
    }
    std::unique_lock<std::mutex> lock(link_->lock);
    if (closeStarted_) return false;  // a channel being closed does not connect again
    if (!link_->socket) {
        int error = 0;
        link_->socket = platform::tcpSocket(&error);
        if (!link_->socket) {
            portLog().funcLine(u"CNetPort::mkNetConnect", u"WSASocket function failed with error = %d\n", error);
            return false;
        }
    }
    // The thread and the socket belong together: a socket whose thread has ended gets a new one.
    if (!link_->running) {
        link_->stop.store(0);
        worker_.start(lock, link_, [link = link_] { return transmitThread(link); });
    }
    return true;
}

bool CNetPort::startWatching(Link& link, platform::ConnectionWatch& watch, platform::Socket* socket,
                             const platform::Ipv4Endpoint& remote) {
    PortLog& log = *link.log;
    int error = 0;
    if (socket == nullptr) return false;
    if (!watch.createEvent(&error)) {
        log.funcLine(kThread, u"WSACreateEvent function failed with error = %d\r\n", error);
        return false;
    }
    if (!watch.select(*socket, &error)) {
        log.funcLine(kThread, u"WSAEventSelect function failed with error = %d\r\n", error);
        return false;
    }
    if (watch.connect(remote, &error) != platform::ConnectStart::InProgress) {
        log.funcLine(kThread, u"WSAConnect function fail\r\n");
        return false;
    }
    link.state.store(1);
    return true;
}

bool CNetPort::handleNetEvents(Link& link, platform::ConnectionWatch& watch) {
    PortLog& log = *link.log;
    int error = 0;
    platform::NetEvents events;
    if (!watch.events(events, &error))
        log.funcLine(kThread, u"WSAEnumNetworkEvents function failed with error = %d\r\n", error);
    if (events.connect) {
        if (events.connectError == 0) {
            link.state.store(2);
            return true;
        }
        // No connection will come of this socket: the thread ends, and the next read or write
        // tries again with a new one.
        log.funcLine(kThread, u"workEvent.iErrorCode with error = %d\r\n", events.connectError);
        return false;
    }
    if (events.write) {
        if (events.writeError == 0) log.funcLine(kThread, u"FD_WRITE\r\n");
        else log.funcLine(kThread, u"workEvent.iErrorCode with error = %d\r\n", events.writeError);
    } else if (events.read) {
        if (events.readError == 0) log.funcLine(kThread, u"FD_READ\r\n");
        else log.funcLine(kThread, u"workEvent.iErrorCode with error = %d\r\n", events.readError);
    } else if (events.close) {
        if (events.closeError == 0) {
            log.funcLine(kThread, u"FD_CLOSE request\n");
            return false;
        }
        // A connection that ended with an error (reset by the device) is gone as well: the
        // thread ends, and the next read or write connects again.
        log.funcLine(kThread, u"workEvent.iErrorCode with error = %d\r\n", events.closeError);
        return false;
    } else {
        log.funcLine(kThread, u"unkowned request\n");
    }
    return true;
}

std::function<void()> CNetPort::transmitThread(const std::shared_ptr<Link>& link) {
    link->state.store(0);
    auto watch = std::make_shared<platform::ConnectionWatch>();
    std::shared_ptr<platform::Socket> socket;
    platform::Ipv4Endpoint remote;
    {
        std::lock_guard<std::mutex> guard(link->lock);
        socket = link->socket;
        remote = link->remote;
        link->watch = watch;
    }
    const bool watching = startWatching(*link, *watch, socket.get(), remote);
    auto socketStillHere = [&] {
        std::lock_guard<std::mutex> guard(link->lock);
        return link->socket == socket;
    };
    while (watching && link->stop.load() == 0 && socketStillHere()) {
        if (watch->wait(kWatchIntervalMs) != platform::NetWait::Signalled) continue;
        if (link->stop.load() != 0) break;  // woken to leave
        if (!handleNetEvents(*link, *watch)) break;
    }
    return [link, socket] {
        link->watch.reset();
        if (link->socket == socket) link->socket.reset();  // closed once no transfer holds it
        link->state.store(0);
        link->stop.store(1);
    };
}

// With the link locked: the thread is told to stop, its socket goes and its wait is woken. The
// lock is held again on return.
void CNetPort::tellThreadToLeave(std::unique_lock<std::mutex>& lock) {
    link_->stop.store(1);
    link_->socket.reset();
    auto watch = link_->watch;
    lock.unlock();
    if (watch) watch->wake();
    lock.lock();
}

// The first step of a close: the sending side is shut, so that the device sees the end of the
// stream and its answering close ends the transmit thread; where that cannot be done the thread is
// told to stop. The close then waits for the thread until 5000 ms after this step.
void CNetPort::startClosing() {
    std::shared_ptr<platform::Socket> socket;
    {
        std::lock_guard<std::mutex> guard(link_->lock);
        if (closeStarted_) return;
        closeStarted_ = std::chrono::steady_clock::now();
        socket = link_->socket;
    }
    if (socket && !socket->shutdown()) link_->stop.store(1);
}

std::int32_t CNetPort::closePort() {
    PortLog& log = portLog();
    startClosing();

    std::unique_lock<std::mutex> lock(link_->lock);
    const auto stopBy = *closeStarted_ + kThreadStopWait;
    if (link_->running && host_.leavingProcess()) {
        // The library is leaving the process: the thread is told to go at once, and its end
        // is awaited as far as the system allows while it unloads the library.
        tellThreadToLeave(lock);
        worker_.waitEnd(lock, std::chrono::steady_clock::now() + kThreadLeaveWait);
        lock.unlock();
        worker_.collect(true);
        lock.lock();
    } else if (link_->running) {
        // The thread is not killed: past the wait it is told to leave, its socket goes and its
        // wait is woken; one that still runs then keeps its own share of the link.
        const auto outcome = worker_.stop(lock, stopBy, kThreadLeaveWait, nullptr,
                                          [this](std::unique_lock<std::mutex>& held) { tellThreadToLeave(held); });
        lock.unlock();
        switch (outcome) {
        case platform::BoundedWorker::Outcome::Ended: log.funcLine(kClose, u"trasmThread normal end \r\n"); break;
        case platform::BoundedWorker::Outcome::LeftLate: log.funcLine(kClose, u"trasmThread Terminiate \r\n"); break;
        case platform::BoundedWorker::Outcome::NoEnd: log.funcLine(kClose, u"trasmThread no end \r\n"); break;
        }
        lock.lock();
    }
    link_->socket.reset();
    closeStarted_.reset();
    lock.unlock();
    worker_.collect(false);
    opened_ = 0;
    return 0;
}

std::int32_t CNetPort::reOpenPort(std::int32_t) {
    if (opened_ == 0 || aborted()) return 0;
    {
        std::unique_lock<std::mutex> lock(link_->lock);
        if (closeStarted_) return 0;
        if (link_->running) {
            tellThreadToLeave(lock);
            if (!worker_.waitEnd(lock, std::chrono::steady_clock::now() + kThreadLeaveWait)) return 0;
        }
    }
    worker_.collect(false);
    if (!mkNetConnect(nullptr)) return 0;
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(std::max<std::int32_t>(writeTimeout_, 1000));
    while (std::chrono::steady_clock::now() < until && !aborted()) {
        if (link_->state.load() == 2) return 1;
        {
            std::lock_guard<std::mutex> guard(link_->lock);
            if (!link_->running) return 0;  // refused: no connection came of it
        }
        platform::sleepMs(10);
    }
    return link_->state.load() == 2 ? 1 : 0;
}

std::int32_t CNetPort::isPortOpen() { return link_->state.load() == 2 ? 1 : 0; }

void CNetPort::abortTransfers() {
    auto socket = currentSocket();
    abortTransfersOn(socket ? socket->native() : platform::kNoHandle);
    // The device is being closed: this channel's close starts now, together with the device's
    // other channel, so that the two waits for their transmit threads run at the same time.
    startClosing();
}

std::int32_t CNetPort::drainInput(void* buffer, std::uint32_t length, std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (opened_ == 0 || !isPortOpen() || !ensureEvent(readEvent_) || aborted()) return 0;
    auto socket = currentSocket();
    if (!socket) return 0;
    if (length == 0) return 1;
    platform::SocketTransfer transfer(*socket, nullptr, readEvent_, abortEvent());
    if (!transfer.resetEvent()) return 0;
    switch (transfer.start(false, buffer, length, count)) {
    case platform::IoStart::Completed: return 1;  // 0 bytes: the device has closed its side
    case platform::IoStart::Pending:
        // Nothing is waiting: the receive is not left behind. Bytes that came in the meantime
        // were received all the same, and count as drained.
        if (!transfer.cancelAndAwait(count) && count != nullptr) *count = 0;
        return 1;
    case platform::IoStart::Failed: break;
    }
    return 0;
}

std::int32_t CNetPort::netTransfer(std::uint8_t direction, void* overlapped, void* buffer,
                                   std::uint32_t length, std::uint32_t* count) {
    if (opened_ == 0) return 0;
    if (link_->state.load() != 2 && !mkNetConnect(nullptr)) return 0;
    platform::IoEvent& event = direction == 1 ? writeEvent_ : readEvent_;
    if (!ensureEvent(event)) return 0;  // with the caller's block too: it also makes the abort event
    return netIOAccess(direction, overlapped, event, buffer, length, count,
                       direction == 1 ? writeTimeout_ : readTimeout_)
               ? 1
               : 0;
}

std::int32_t CNetPort::readPort(void* buffer, std::uint32_t length, std::uint32_t* count, void* overlapped) {
    return netTransfer(0, overlapped, buffer, length, count);
}

std::int32_t CNetPort::writePort(const void* buffer, std::uint32_t length, std::uint32_t* count,
                                 void* overlapped) {
    // A send only reads the buffer.
    return netTransfer(1, overlapped, const_cast<void*>(buffer), length, count);
}

bool CNetPort::netIOAccess(std::uint8_t direction, void* overlapped, platform::IoEvent& event,
                           void* buffer, std::uint32_t length, std::uint32_t* count,
                           std::int32_t timeoutMs) {
    if (count != nullptr) *count = 0;
    if (length == 0) return true;
    if (!isPortOpen()) return false;
    auto socket = currentSocket();  // held for the whole transfer
    if (!socket) return false;
    platform::SocketTransfer transfer(*socket, overlapped, event, abortEvent());
    PortLog& log = portLog();
    if (!transfer.resetEvent()) {
        log.funcLine(kNetIo, u"ResetEvent Fail\r\n");
        return false;
    }
    if (aborted()) return false;
    if (transfer.start(direction == 1, buffer, length, count) == platform::IoStart::Completed) return true;
    std::uint32_t code = 0;
    switch (transfer.wait(timeoutMs, &code)) {
    case platform::IoWait::Signalled: return transfer.finish(count);
    case platform::IoWait::WaitFailed: log.funcLine(kNetIo, u"WAIT_FAILED\r\n"); break;
    case platform::IoWait::TimedOut: log.funcLine(kNetIo, u"timeout\r\n"); break;
    case platform::IoWait::Other: log.funcLine(kNetIo, u"Fail 0x%x\r\n", code); break;
    }
    // A transfer that completed before the cancel took hold is done: its bytes are not lost.
    return transfer.cancelAndAwait(count);
}

std::int32_t CNetPort::UDP_IOCtrl(std::int32_t, char16_t* text, std::uint32_t* size, std::uint16_t direction,
                                  std::int32_t waitMs) {
    PortLog& log = portLog();
    int error = 0;
    if (!udp_.valid()) {
        if (!udp_.create(&error)) {
            log.funcLine(kUdp, u"WSASocket function failed with error = %d\n", error);
            return -1;
        }
        if (!udp_.enableBroadcast(&error)) {
            log.funcLine(kUdp, u"SetSockOpt error (%d)\n", error);
            udp_.close();
            return -1;
        }
        if (!udp_.bindAny(udpPort_, &error)) {
            log.funcLine(kUdp, u"bind failed(%d)\r\n", error);
            udp_.close();
            return -1;
        }
    }
    if (!udp_.hasEvent() && !udp_.createEvent(&error)) {
        log.funcLine(kUdp, u"WSACreateEvent failed(%d)\r\n", error);
        return -1;
    }
    if (direction != 0 && direction != 1) return -1;

    std::uint8_t datagram[512];
    std::uint32_t moved = 0;
    // The send always has its 2000 ms; a receive waits as long as the search still may.
    const int wait = direction == 1 ? kUdpWaitMs : std::max<std::int32_t>(waitMs, 0);
    platform::UdpSocket::Outcome outcome;
    if (direction == 1) {
        platform::Ipv4Endpoint to = searchAddress_;
        to.port = udpPort_;
        outcome = udp_.sendTo(kDiscoveryRequest.data(), static_cast<std::uint32_t>(kDiscoveryRequest.size()), to,
                              &moved, wait, &error);
    } else {
        outcome = udp_.receiveFrom(datagram, sizeof datagram, &moved, nullptr, wait, &error);
    }
    switch (outcome) {
    case platform::UdpSocket::Outcome::Done: break;
    case platform::UdpSocket::Outcome::IoFailed: log.funcLine(kUdp, u"IO fail(%d)\r\n", error); return -1;
    case platform::UdpSocket::Outcome::TimedOut:
        log.funcLine(kUdp, u"WSAWaitForMultipleEvents Timeout(%d) \r\n", wait);
        return -4;
    case platform::UdpSocket::Outcome::WaitFailed:
        log.funcLine(kUdp, u"WSAWaitForMultipleEvents failed(%d)\r\n", error);
        return -1;
    case platform::UdpSocket::Outcome::ResultFailed:
        log.funcLine(kUdp, u"WSAGetOverlappedResult failed (%d)\r\n", error);
        return -1;
    }
    if (direction == 1) {
        if (size != nullptr) *size = moved & 0xFFFF;
        return 0;
    }
    auto path = parseDiscoveryReply(datagram, moved);
    if (!path || text == nullptr || size == nullptr || path->size() >= *size) return -3;
    std::memcpy(text, path->c_str(), (path->size() + 1) * sizeof(char16_t));
    *size = static_cast<std::uint32_t>(path->size() + 1);
    return 0;
}

bool CNetPort::initClass(PortLog& log) {
    constexpr const char16_t* kInit = u"CNetPort::initClass";
    int error = 0;
    switch (platform::netStartup(&error)) {
    case platform::NetStart::Failed:
        log.funcLine(kInit, u"WSAStartup failed with error: %d\r\n", error);
        return false;
    case platform::NetStart::WrongVersion:
        log.funcLine(kInit, u"Could not find a usable version of Winsock.dll\r\n");
        return false;
    case platform::NetStart::Ok: break;
    }
    log.funcLine(kInit, u"The Winsock 2.2 dll was found okay\r\n");
    return true;
}

bool CNetPort::unInitClass(PortLog& log) {
    constexpr const char16_t* kExit = u"CNetPort::unInitClass";
    int error = 0;
    if (!platform::netCleanup(&error)) {
        log.funcLine(kExit, u"WSACleanup Fail(%d)\r\n", error);
        return false;
    }
    log.funcLine(kExit, u"WSACleanup Ok\r\n");
    return true;
}

}  // namespace tavrin
