// IPv4 sockets as the network port uses them: the sockets library's start and end, a TCP
// connection watched for its connect and close notifications (Windows: WSAEventSelect with
// FD_CONNECT | FD_CLOSE), overlapped sends and receives with a time-out, and the UDP socket of
// the device search.
//
// Every operation returns at once unless it says it waits; none throws; a failure is a return
// value (false, null, Failed) with the system's error code in *error where there is one. Any
// thread may call them; one object is used by one thread at a time unless an operation says
// otherwise (wake).
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

// The sockets library's start, at process attach, and its end, at process detach (Windows:
// WSAStartup(2.2) and WSACleanup; POSIX: nothing to do, always Ok / true). Failed with *error, or
// WrongVersion when the library offers no version 2.2 (it has been ended again then).
enum class NetStart { Ok, Failed, WrongVersion };
NetStart netStartup(int* error);
bool netCleanup(int* error);
// The calling thread's last socket error (WSAGetLastError / errno).
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

    // The watch's event (Windows: WSACreateEvent; POSIX: an eventfd). First, on the transmit
    // thread; false with *error when the system has none.
    bool createEvent(int* error);
    // Ties the socket's connect and close notifications to the event (Windows: WSAEventSelect
    // with FD_CONNECT | FD_CLOSE, which makes the socket non-blocking). False with *error.
    bool select(const Socket& socket, int* error);
    // Starts the connect without waiting for it: InProgress (its end is reported through wait and
    // events), or Failed with *error (refused at once, or the socket is unusable).
    ConnectStart connect(const Ipv4Endpoint& remote, int* error);
    // Blocks up to timeoutMs for a notification or a wake: Signalled, TimedOut, or Failed (the
    // wait itself failed). On the watching thread only.
    NetWait wait(int timeoutMs);
    // After a Signalled wait: what happened since the last call (the connect's end, the peer's
    // close, each with its error code; the watch asks for no others), each reported once; a wake
    // reports nothing. False with *error (out is then empty).
    bool events(NetEvents& out, int* error);
    // From any thread, also while another waits: makes the current (or next) wait return
    // Signalled at once. Does nothing before createEvent.
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

    // Makes the transfer's event unsignalled before a start; false when there is no event.
    bool resetEvent();
    // Starts the send or receive without waiting: Completed (*count bytes moved; a receive of 0
    // means the peer has closed), Pending (wait, then finish or cancelAndAwait), or Failed
    // (refused; also once the abort event is set).
    IoStart start(bool send, void* buffer, std::uint32_t length, std::uint32_t* count);
    // Blocks up to timeoutMs for a Pending transfer's end or the abort event: Signalled, TimedOut,
    // WaitFailed or Other (*code: the system's wait result).
    IoWait wait(std::int32_t timeoutMs, std::uint32_t* code);
    // After a Signalled wait: true with *count bytes when the transfer ended well, false when it
    // failed or the signal was the abort.
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
    // A new datagram socket (Windows: WSASocketW with overlapped I/O). False with *error.
    bool create(int* error);
    // Allows sends to a broadcast address (SO_BROADCAST). False with *error.
    bool enableBroadcast(int* error);
    // SO_REUSEADDR and bind to INADDR_ANY at port: several searches may hold the port at once.
    // False with *error.
    bool bindAny(std::uint16_t port, int* error);
    // The event the transfers wait on (Windows: WSACreateEvent; POSIX: none is needed, true).
    bool createEvent(int* error);
    bool hasEvent() const;

    enum class Outcome { Done, IoFailed, TimedOut, WaitFailed, ResultFailed };
    // One datagram out, or in, blocking up to timeoutMs: Done (*sent / *received bytes, *from
    // the sender), IoFailed (the send or receive was refused), TimedOut (nothing moved; the
    // operation was cancelled), WaitFailed (the wait itself failed) or ResultFailed (the
    // operation ended with an error). *error holds the system's code on failure.
    Outcome sendTo(const void* data, std::uint32_t length, const Ipv4Endpoint& to,
                   std::uint32_t* sent, int timeoutMs, int* error);
    Outcome receiveFrom(void* buffer, std::uint32_t length, std::uint32_t* received,
                        Ipv4Endpoint* from, int timeoutMs, int* error);
    // Closes the socket and its event; it may be created again. Nothing else may be running on it.
    void close();

private:
    OsHandle native_ = kNoHandle;
    IoEvent event_;
};

}  // namespace tavrin::platform
