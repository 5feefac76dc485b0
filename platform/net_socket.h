// IPv4 sockets as the network port uses them: the sockets library's start and end, a TCP
// connection watched for its connect and close notifications (Windows: WSAEventSelect with
// FD_CONNECT | FD_CLOSE), overlapped sends and receives with a time-out, and the UDP socket of
// the device search.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/device_io.h"
#include "platform/os_types.h"

namespace tavrin::platform {

struct Ipv4Endpoint {
    std::uint8_t address[4] = {0, 0, 0, 0};  // first byte: the first dotted number
    std::uint16_t port = 0;                   // host byte order
};

// Windows: WSAStartup(2.2) and WSACleanup; POSIX: nothing to start.
enum class NetStart { Ok, Failed, WrongVersion };
NetStart netStartup(int* error);
bool netCleanup(int* error);
int lastNetError();

// A socket that closes when the last holder lets go of it, so that a transfer running on it
// never sees its descriptor closed (and reused) under it.
class Socket {
public:
    explicit Socket(OsHandle native) : native_(native) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket();
    OsHandle native() const { return native_; }
    // Ends the connection as far as the peer is concerned: the sending side is shut, so that the
    // peer sees the end of the stream and its answering close can still be seen here.
    bool shutdown();

private:
    OsHandle native_;
};

// A new overlapped TCP socket (POSIX: non-blocking); null on failure (*error set).
std::shared_ptr<Socket> tcpSocket(int* error);

struct NetEvents {
    bool connect = false, close = false, read = false, write = false;
    int connectError = 0, closeError = 0, readError = 0, writeError = 0;
};
enum class ConnectStart { InProgress, Failed };
enum class NetWait { Signalled, TimedOut, Failed };

// The connect and close notifications of one TCP socket, on an event the watcher owns.
class ConnectionWatch {
public:
    ConnectionWatch();
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;
    ~ConnectionWatch();

    bool createEvent(int* error);                          // WSACreateEvent
    bool select(const Socket& socket, int* error);         // WSAEventSelect(FD_CONNECT | FD_CLOSE)
    ConnectStart connect(const Ipv4Endpoint& remote, int* error);  // WSAConnect
    NetWait wait(int timeoutMs);                           // WSAWaitForMultipleEvents
    bool events(NetEvents& out, int* error);               // WSAEnumNetworkEvents
    // From another thread: makes a wait return now.
    void wake();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One send or receive on a connected TCP socket, signalling an event when it completes (Windows:
// the event of the caller's overlapped block when one is given, else the port's own; POSIX: a
// caller's block is ignored). As with Transfer, every wait also ends once the port's abort event
// is set, and a transfer that starts after the abort fails.
class SocketTransfer {
public:
    SocketTransfer(const Socket& socket, void* callerBlock, IoEvent& event, const IoEvent& abortEvent);
    SocketTransfer(const SocketTransfer&) = delete;
    SocketTransfer& operator=(const SocketTransfer&) = delete;

    bool resetEvent();
    IoStart start(bool send, void* buffer, std::uint32_t length, std::uint32_t* count);
    IoWait wait(std::int32_t timeoutMs, std::uint32_t* code);
    bool finish(std::uint32_t* count);
    // Cancels the outstanding operation and waits for its end, so that nothing refers to the
    // buffer afterwards. True when it had completed all the same: *count then holds the bytes.
    bool cancelAndAwait(std::uint32_t* count);

private:
    const Socket& socket_;
    // Windows: the caller's block (for its event), the block of the transfer, and whether the
    // system holds it.
    [[maybe_unused]] void* callerBlock_;
    IoEvent& event_;
    const IoEvent& abortEvent_;
    [[maybe_unused]] alignas(8) unsigned char block_[48] = {};
    [[maybe_unused]] bool pending_ = false;
    bool send_ = false;
    bool startFailed_ = false;
    void* buffer_ = nullptr;
    std::uint32_t length_ = 0;
};

// The UDP socket of the device search.
class UdpSocket {
public:
    UdpSocket() = default;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    ~UdpSocket();

    bool valid() const { return native_ != kNoHandle; }
    bool create(int* error);           // WSASocketW(SOCK_DGRAM)
    bool enableBroadcast(int* error);  // SO_BROADCAST
    // SO_REUSEADDR and bind to INADDR_ANY at port: several searches may hold the port at once.
    bool bindAny(std::uint16_t port, int* error);
    bool createEvent(int* error);      // WSACreateEvent
    bool hasEvent() const;

    enum class Outcome { Done, IoFailed, TimedOut, WaitFailed, ResultFailed };
    Outcome sendTo(const void* data, std::uint32_t length, const Ipv4Endpoint& to,
                   std::uint32_t* sent, int timeoutMs, int* error);
    Outcome receiveFrom(void* buffer, std::uint32_t length, std::uint32_t* received,
                        Ipv4Endpoint* from, int timeoutMs, int* error);
    void close();

private:
    OsHandle native_ = kNoHandle;
    IoEvent event_;
};

}  // namespace tavrin::platform
