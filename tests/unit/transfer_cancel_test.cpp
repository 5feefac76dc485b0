// A transfer that is given up after its wait timed out, on a stand-in device and on a loopback
// TCP connection: once cancelAndAwait() has returned, the transfer has ended, and bytes the device
// sent meanwhile are neither lost nor written into the abandoned buffer later.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/device_io.h"
#include "platform/device_peer.h"
#include "platform/net_peer.h"
#include "platform/net_socket.h"

namespace tavrin::platform {
namespace {

constexpr char kUntouched = '#';

// One kind of channel: the library's end (a transfer on it) and the device's end.
class Channel {
public:
    virtual ~Channel() = default;
    virtual bool ready() const = 0;
    // One read on the library's end with a time-out: what start() and wait() give, then
    // (unless finished) cancelAndAwait().
    struct Outcome {
        bool timedOut = false;       // the wait ran out
        std::string cancelReported;  // the bytes cancelAndAwait() said the transfer moved
        std::string finished;        // the bytes of a transfer that completed
    };
    // Starts a read into buffer, waits waitMs, then calls between() and gives the read up.
    virtual Outcome readAndGiveUp(char* buffer, std::uint32_t length, int waitMs,
                                  const std::function<void()>& between) = 0;
    virtual bool deviceWrites(const std::string& bytes) = 0;
};

Channel::Outcome runRead(auto& transfer, char* buffer, std::uint32_t length, int waitMs,
                         const std::function<void()>& between) {
    Channel::Outcome out;
    std::uint32_t n = 0;
    switch (transfer.start(false, buffer, length, &n)) {
    case IoStart::Completed: out.finished.assign(buffer, n); return out;
    case IoStart::Failed: ADD_FAILURE() << "the read did not start"; return out;
    case IoStart::Pending: break;
    }
    std::uint32_t code = 0;
    const IoWait waited = transfer.wait(waitMs, &code);
    if (waited == IoWait::Signalled && transfer.finish(&n)) {
        out.finished.assign(buffer, n);
        return out;
    }
    out.timedOut = waited == IoWait::TimedOut;
    between();
    if (transfer.cancelAndAwait(&n)) out.cancelReported.assign(buffer, n);
    return out;
}

class DeviceFileChannel final : public Channel {
public:
    DeviceFileChannel() : peer_(DevicePeer::create("cancel")) {
        if (!peer_) return;
        handle_ = openDevice(peer_->path().c_str());
        own_.create();
        abort_.create();
    }
    ~DeviceFileChannel() override {
        if (handle_ != kNoHandle) closeHandle(handle_);
    }
    bool ready() const override { return handle_ != kNoHandle && own_.valid() && abort_.valid(); }
    Outcome readAndGiveUp(char* buffer, std::uint32_t length, int waitMs,
                          const std::function<void()>& between) override {
        Transfer transfer(handle_, nullptr, own_, abort_);
        return runRead(transfer, buffer, length, waitMs, between);
    }
    bool deviceWrites(const std::string& bytes) override { return peer_->write(bytes.data(), bytes.size()); }

private:
    std::unique_ptr<DevicePeer> peer_;
    OsHandle handle_ = kNoHandle;
    IoEvent own_, abort_;
};

class SocketChannel final : public Channel {
public:
    SocketChannel() {
        int error = 0;
        if (netStartup(&error) != NetStart::Ok) return;
        started_ = true;
        listener_ = TcpListener::listen({{127, 0, 0, 1}, 0});
        socket_ = tcpSocket(&error);
        if (!listener_ || !socket_ || !watch_.createEvent(&error) || !watch_.select(*socket_, &error)) return;
        if (watch_.connect({{127, 0, 0, 1}, listener_->port()}, &error) != ConnectStart::InProgress) return;
        device_ = listener_->accept(3000);
        NetEvents events;
        for (int i = 0; i < 30 && !events.connect; ++i)
            if (watch_.wait(100) == NetWait::Signalled) watch_.events(events, &error);
        connected_ = device_ != nullptr && events.connect && events.connectError == 0;
        own_.create();
        abort_.create();
    }
    ~SocketChannel() override {
        device_.reset();
        socket_.reset();
        int error = 0;
        if (started_) netCleanup(&error);
    }
    bool ready() const override { return connected_ && own_.valid() && abort_.valid(); }
    Outcome readAndGiveUp(char* buffer, std::uint32_t length, int waitMs,
                          const std::function<void()>& between) override {
        SocketTransfer transfer(*socket_, nullptr, own_, abort_);
        if (!transfer.resetEvent()) ADD_FAILURE() << "no event";
        return runRead(transfer, buffer, length, waitMs, between);
    }
    bool deviceWrites(const std::string& bytes) override { return device_->write(bytes.data(), bytes.size()); }

private:
    bool started_ = false;
    std::unique_ptr<TcpListener> listener_;
    std::shared_ptr<Socket> socket_;
    ConnectionWatch watch_;
    std::unique_ptr<TcpStream> device_;
    bool connected_ = false;
    IoEvent own_, abort_;
};

std::unique_ptr<Channel> makeChannel(bool socket) {
    if (socket) return std::make_unique<SocketChannel>();
    return std::make_unique<DeviceFileChannel>();
}

// Whatever the moment the device's bytes come, they arrive exactly once: reported by the
// cancelled read (when they completed it before the cancel took hold) or read by the next one,
// and the cancelled read's buffer holds nothing beyond what it reported.
TEST(TransferCancel, BytesThatComeAroundAGivenUpReadArriveExactlyOnce) {
    struct Case {
        const char* name;
        bool socket;
        bool writeBeforeCancel;  // the device writes after the wait ran out but before the cancel
    };
    for (const Case& c : {Case{"device file, bytes before the cancel", false, true},
                          Case{"device file, bytes after the cancel", false, false},
                          Case{"socket, bytes before the cancel", true, true},
                          Case{"socket, bytes after the cancel", true, false}}) {
        SCOPED_TRACE(c.name);
        auto channel = makeChannel(c.socket);
        ASSERT_TRUE(channel->ready());
        char abandoned[16];
        std::memset(abandoned, kUntouched, sizeof abandoned);
        auto between = [&] {
            if (!c.writeBeforeCancel) return;
            ASSERT_TRUE(channel->deviceWrites("XYZ"));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));  // time to land
        };
        const Channel::Outcome first = channel->readAndGiveUp(abandoned, sizeof abandoned, 100, between);
        ASSERT_TRUE(first.timedOut);
        if (!c.writeBeforeCancel) {
            ASSERT_TRUE(channel->deviceWrites("XYZ"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));

        char next[16] = {};
        const Channel::Outcome second = channel->readAndGiveUp(next, sizeof next, 500, [] {});
        EXPECT_EQ(first.cancelReported + second.finished + second.cancelReported, "XYZ");
        // The abandoned buffer holds what the cancelled read reported, and nothing came later.
        const std::size_t reported = first.cancelReported.size();
        EXPECT_EQ(std::string(abandoned + reported, sizeof abandoned - reported),
                  std::string(sizeof abandoned - reported, kUntouched));
    }
}

}  // namespace
}  // namespace tavrin::platform
