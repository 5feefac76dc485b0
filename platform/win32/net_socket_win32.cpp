// Win32 backend of net_socket.h: Windows Sockets 2 with event selection and overlapped I/O.
#include "platform/win32/socket_win32.h"

#include <ws2tcpip.h>

#include <cstring>

#include "platform/net_socket.h"
#include "platform/win32/windows_api.h"

namespace tavrin::platform {

using win32::toSockaddr;

namespace {

SOCKET toSocket(OsHandle h) { return static_cast<SOCKET>(h); }

OVERLAPPED* blockOf(unsigned char* storage) { return reinterpret_cast<OVERLAPPED*>(storage); }

}  // namespace

static_assert(sizeof(WSAOVERLAPPED) <= 48, "SocketTransfer::block_ must hold a WSAOVERLAPPED");

NetStart netStartup(int* error) {
    WSADATA data;
    int r = WSAStartup(MAKEWORD(2, 2), &data);
    if (error != nullptr) *error = r;
    if (r != 0) return NetStart::Failed;
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        return NetStart::WrongVersion;
    }
    return NetStart::Ok;
}

bool netCleanup(int* error) {
    if (WSACleanup() == 0) return true;
    if (error != nullptr) *error = WSAGetLastError();
    return false;
}

int lastNetError() { return WSAGetLastError(); }

Socket::~Socket() {
    if (native_ != kNoHandle) closesocket(toSocket(native_));
}

// Only the sending side is shut: the peer sees the end of the stream, and its answering close
// still arrives as FD_CLOSE (after SD_BOTH it is not reported everywhere).
bool Socket::shutdown() { return ::shutdown(toSocket(native_), SD_SEND) == 0; }

std::shared_ptr<Socket> tcpSocket(int* error) {
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) {
        if (error != nullptr) *error = WSAGetLastError();
        return nullptr;
    }
    return std::make_shared<Socket>(static_cast<OsHandle>(s));
}

struct ConnectionWatch::State {
    win32::ScopedWsaEvent event;
    SOCKET socket = INVALID_SOCKET;
};

ConnectionWatch::ConnectionWatch() : state_(std::make_unique<State>()) {}

ConnectionWatch::~ConnectionWatch() = default;

bool ConnectionWatch::createEvent(int* error) {
    state_->event.reset(WSACreateEvent());
    if (!state_->event && error != nullptr) *error = WSAGetLastError();
    return state_->event.valid();
}

bool ConnectionWatch::select(const Socket& socket, int* error) {
    state_->socket = toSocket(socket.native());
    if (WSAEventSelect(state_->socket, state_->event.get(), FD_CONNECT | FD_CLOSE) == 0) return true;
    if (error != nullptr) *error = WSAGetLastError();
    return false;
}

ConnectStart ConnectionWatch::connect(const Ipv4Endpoint& remote, int* error) {
    sockaddr_in a = toSockaddr(remote);
    if (WSAConnect(state_->socket, reinterpret_cast<sockaddr*>(&a), sizeof a, nullptr, nullptr, nullptr, nullptr) ==
            0 ||
        WSAGetLastError() == WSAEWOULDBLOCK)
        return ConnectStart::InProgress;
    if (error != nullptr) *error = WSAGetLastError();
    return ConnectStart::Failed;
}

NetWait ConnectionWatch::wait(int timeoutMs) {
    const WSAEVENT event = state_->event.get();
    DWORD r = WSAWaitForMultipleEvents(1, &event, FALSE, static_cast<DWORD>(timeoutMs), FALSE);
    if (r == WSA_WAIT_TIMEOUT) return NetWait::TimedOut;
    if (r == WSA_WAIT_FAILED) return NetWait::Failed;
    return NetWait::Signalled;
}

bool ConnectionWatch::events(NetEvents& out, int* error) {
    WSANETWORKEVENTS e{};
    bool ok = WSAEnumNetworkEvents(state_->socket, state_->event.get(), &e) == 0;
    if (!ok && error != nullptr) *error = WSAGetLastError();
    WSAResetEvent(state_->event.get());  // a wake-up carries no network event
    out.connect = (e.lNetworkEvents & FD_CONNECT) != 0;
    out.connectError = e.iErrorCode[FD_CONNECT_BIT];
    out.close = (e.lNetworkEvents & FD_CLOSE) != 0;
    out.closeError = e.iErrorCode[FD_CLOSE_BIT];
    out.read = (e.lNetworkEvents & FD_READ) != 0;
    out.readError = e.iErrorCode[FD_READ_BIT];
    out.write = (e.lNetworkEvents & FD_WRITE) != 0;
    out.writeError = e.iErrorCode[FD_WRITE_BIT];
    return ok;
}

void ConnectionWatch::wake() {
    if (state_->event) WSASetEvent(state_->event.get());
}

SocketTransfer::SocketTransfer(const Socket& socket, void* callerBlock, IoEvent& event, const IoEvent& abortEvent)
    : socket_(socket), callerBlock_(callerBlock), event_(event), abortEvent_(abortEvent) {
    OVERLAPPED* ov = blockOf(block_);
    std::memset(ov, 0, sizeof *ov);
    ov->hEvent = callerBlock_ != nullptr ? static_cast<OVERLAPPED*>(callerBlock_)->hEvent
                                         : win32::toHandle(event_.native());
}

bool SocketTransfer::resetEvent() {
    HANDLE e = blockOf(block_)->hEvent;
    return e != nullptr && WSAResetEvent(e) != FALSE;
}

IoStart SocketTransfer::start(bool send, void* buffer, std::uint32_t length, std::uint32_t* count) {
    send_ = send;
    if (count != nullptr) *count = 0;
    if (abortEvent_.isSet()) return IoStart::Failed;
    WSABUF buf{length, static_cast<char*>(buffer)};
    DWORD moved = 0;
    DWORD flags = 0;
    int r = send ? WSASend(toSocket(socket_.native()), &buf, 1, &moved, 0,
                           reinterpret_cast<LPWSAOVERLAPPED>(blockOf(block_)), nullptr)
                 : WSARecv(toSocket(socket_.native()), &buf, 1, &moved, &flags,
                           reinterpret_cast<LPWSAOVERLAPPED>(blockOf(block_)), nullptr);
    if (count != nullptr) *count = moved;
    if (r == 0) return IoStart::Completed;
    if (WSAGetLastError() != WSA_IO_PENDING) return IoStart::Failed;
    pending_ = true;
    return IoStart::Pending;
}

IoWait SocketTransfer::wait(std::int32_t timeoutMs, std::uint32_t* code) {
    return win32::waitForEvent(blockOf(block_)->hEvent,
                               abortEvent_.valid() ? win32::toHandle(abortEvent_.native()) : nullptr, timeoutMs, code);
}

bool SocketTransfer::finish(std::uint32_t* count) {
    DWORD moved = 0;
    DWORD flags = 0;
    BOOL ok = WSAGetOverlappedResult(toSocket(socket_.native()), reinterpret_cast<LPWSAOVERLAPPED>(blockOf(block_)),
                                     &moved, FALSE, &flags);
    if (count != nullptr) *count = ok ? moved : 0;
    if (ok || WSAGetLastError() != WSA_IO_INCOMPLETE) pending_ = false;  // it has ended either way
    return ok != FALSE;
}

bool SocketTransfer::cancelAndAwait(std::uint32_t* count) {
    if (count != nullptr) *count = 0;
    if (!pending_) return false;  // never started, or already ended
    CancelIoEx(reinterpret_cast<HANDLE>(socket_.native()), blockOf(block_));
    DWORD moved = 0;
    DWORD flags = 0;
    const BOOL ok = WSAGetOverlappedResult(toSocket(socket_.native()),
                                           reinterpret_cast<LPWSAOVERLAPPED>(blockOf(block_)), &moved, TRUE, &flags);
    pending_ = false;
    if (ok && count != nullptr) *count = moved;
    return ok != FALSE;
}

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::create(int* error) {
    SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) {
        if (error != nullptr) *error = WSAGetLastError();
        return false;
    }
    native_ = static_cast<OsHandle>(s);
    return true;
}

bool UdpSocket::enableBroadcast(int* error) {
    BOOL on = TRUE;
    if (setsockopt(toSocket(native_), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0)
        return true;
    if (error != nullptr) *error = WSAGetLastError();
    return false;
}

bool UdpSocket::bindAny(std::uint16_t port, int* error) {
    BOOL on = TRUE;
    setsockopt(toSocket(native_), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(toSocket(native_), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
    if (error != nullptr) *error = WSAGetLastError();
    return false;
}

bool UdpSocket::createEvent(int* error) {
    if (event_.create()) return true;
    if (error != nullptr) *error = static_cast<int>(GetLastError());
    return false;
}

bool UdpSocket::hasEvent() const { return event_.valid(); }

namespace {

UdpSocket::Outcome awaitUdp(SOCKET s, WSAOVERLAPPED* ov, int started, std::uint32_t* moved, int timeoutMs,
                            int* error) {
    if (started != 0) {
        int e = WSAGetLastError();
        if (e != WSA_IO_PENDING) {
            if (error != nullptr) *error = e;
            return UdpSocket::Outcome::IoFailed;
        }
        DWORD r = WSAWaitForMultipleEvents(1, &ov->hEvent, TRUE, static_cast<DWORD>(timeoutMs), FALSE);
        if (r == WSA_WAIT_TIMEOUT || r == WSA_WAIT_FAILED) {
            if (error != nullptr) *error = WSAGetLastError();
            CancelIoEx(reinterpret_cast<HANDLE>(s), ov);
            DWORD n = 0, flags = 0;
            WSAGetOverlappedResult(s, ov, &n, TRUE, &flags);
            return r == WSA_WAIT_TIMEOUT ? UdpSocket::Outcome::TimedOut : UdpSocket::Outcome::WaitFailed;
        }
    }
    DWORD n = 0, flags = 0;
    if (!WSAGetOverlappedResult(s, ov, &n, FALSE, &flags)) {
        if (error != nullptr) *error = WSAGetLastError();
        return UdpSocket::Outcome::ResultFailed;
    }
    *moved = n;
    return UdpSocket::Outcome::Done;
}

}  // namespace

UdpSocket::Outcome UdpSocket::sendTo(const void* data, std::uint32_t length, const Ipv4Endpoint& to,
                                     std::uint32_t* sent, int timeoutMs, int* error) {
    WSAOVERLAPPED ov{};
    ov.hEvent = win32::toHandle(event_.native());
    WSAResetEvent(ov.hEvent);
    WSABUF buf{length, const_cast<char*>(static_cast<const char*>(data))};
    sockaddr_in a = toSockaddr(to);
    DWORD n = 0;
    int r = WSASendTo(toSocket(native_), &buf, 1, &n, 0, reinterpret_cast<sockaddr*>(&a), sizeof a, &ov, nullptr);
    return awaitUdp(toSocket(native_), &ov, r, sent, timeoutMs, error);
}

UdpSocket::Outcome UdpSocket::receiveFrom(void* buffer, std::uint32_t length, std::uint32_t* received,
                                          Ipv4Endpoint* from, int timeoutMs, int* error) {
    WSAOVERLAPPED ov{};
    ov.hEvent = win32::toHandle(event_.native());
    WSAResetEvent(ov.hEvent);
    WSABUF buf{length, static_cast<char*>(buffer)};
    sockaddr_in a{};
    INT alen = sizeof a;
    DWORD n = 0, flags = 0;
    int r = WSARecvFrom(toSocket(native_), &buf, 1, &n, &flags, reinterpret_cast<sockaddr*>(&a), &alen, &ov, nullptr);
    Outcome o = awaitUdp(toSocket(native_), &ov, r, received, timeoutMs, error);
    if (o == Outcome::Done && from != nullptr) {
        std::memcpy(from->address, &a.sin_addr, 4);
        from->port = ntohs(a.sin_port);
    }
    return o;
}

void UdpSocket::close() {
    event_.close();
    if (native_ != kNoHandle) {
        shutdown(toSocket(native_), SD_BOTH);
        closesocket(toSocket(native_));
    }
    native_ = kNoHandle;
}

}  // namespace tavrin::platform
