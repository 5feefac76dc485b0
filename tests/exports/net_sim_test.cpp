// Network devices played by the simulator, driven through the exports: command packets on the
// control channel, raw data on the data channel, a device that drops or refuses connections,
// and the search.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "platform/caller_block.h"
#include "sim/simulator.h"
#include "tests/support/device_fixture.h"
#include "tests/support/udp_flooder.h"

namespace tavrin::test {
namespace {


class NetSimTest : public DeviceFixture {
protected:
    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        sim_.stop();
        DeviceFixture::TearDown();
    }
    std::int32_t open(sim::SimDevice& dev, std::uint16_t mode = MODE_DATA | MODE_CTRL) {
        path_ = exportText(dev.networkPath());
        const _DEVOPEN_INFO info = openRecord(path_.c_str(), PORT_NET_DATA, mode, 500, 500);
        return lib_->OpenDev(&info);
    }
    // A command, tried again while the connection is still being made (at most timeoutMs).
    bool command(std::int32_t h, const char16_t* name, std::string* answer, std::uint8_t* ack = nullptr,
                 int timeoutMs = 4000) {
        const auto n = exportText(std::u16string(name));
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < end) {
            std::uint8_t buf[256] = {};
            _DEVACK_INFO a{buf, sizeof buf, 0, 0};
            if (lib_->DevIoCtrl(h, n.c_str(), nullptr, 0, &a)) {
                if (answer != nullptr) answer->assign(reinterpret_cast<const char*>(buf), a.datLen);
                if (ack != nullptr) *ack = a.ackCode;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    bool write(std::int32_t h, const std::string& data, int timeoutMs = 4000) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < end) {
            std::uint32_t n = 0;
            if (lib_->Write(h, data.data(), static_cast<std::uint32_t>(data.size()), &n, nullptr) && n == data.size())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    sim::Simulator sim_;
    std::basic_string<tavrin_wchar_t> path_;
};

TEST_F(NetSimTest, CommandsOnTheControlChannelAndDataOnTheDataChannel) {
    sim::DeviceConfig config;
    config.model = "TV-N58";
    config.deviceNumber = "SN-0042";
    config.connectStatus = 5;
    sim::SimDevice* dev = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = open(*dev);
    ASSERT_EQ(h, 0);

    std::string answer;
    ASSERT_TRUE(command(h, u"CTRL_CMDGET_MODEL", &answer));
    EXPECT_EQ(answer, "TV-N58");
    ASSERT_TRUE(command(h, u"CTRL_CMDGET_DEVNO", &answer));
    EXPECT_EQ(answer, "SN-0042");
    std::uint8_t ack = 0;
    ASSERT_TRUE(command(h, u"CTRL_CMD_CONNT", &answer, &ack));
    EXPECT_EQ(ack, 5);
    EXPECT_TRUE(answer.empty());

    const auto packets = dev->received().packets();
    ASSERT_GE(packets.size(), 3u);
    EXPECT_EQ(packets[0], (sim::Bytes{0x10, 0x01, 0x00, 0x00}));

    ASSERT_TRUE(write(h, "\x1b@receipt\n"));
    ASSERT_TRUE(dev->receivedData().waitForBytes(10, 2000));
    const sim::Bytes data = dev->receivedData().bytes();
    EXPECT_EQ(std::string(data.begin(), data.end()), "\x1b@receipt\n");
    // Raw data never reaches the control channel, nor packets the data channel.
    EXPECT_EQ(dev->received().packets().size(), packets.size());
}

TEST_F(NetSimTest, ADeviceThatDropsTheConnectionIsReachedAgain) {
    sim::DeviceConfig config;
    config.faults.closeAfter = 1;  // the device hangs up after each command
    sim::SimDevice* dev = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = open(*dev, MODE_CTRL);
    ASSERT_EQ(h, 0);
    std::string answer;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(command(h, u"CTRL_CMDGET_MODEL", &answer)) << "command " << i;
        EXPECT_EQ(answer, "TV-P80");
    }
    EXPECT_GE(dev->controlChannel()->connections(), 3u);
}

TEST_F(NetSimTest, ADeviceThatRefusedTheFirstConnectionIsReachedOnceItListens) {
    sim::SimDevice* dev = sim_.addNetDevice({}, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    dev->dataChannel()->refuseFor(1200);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the listener is down now
    const std::int32_t h = open(*dev, MODE_DATA);
    ASSERT_EQ(h, 0);
    std::uint32_t n = 0;
    EXPECT_EQ(lib_->Write(h, "early", 5, &n, nullptr), 0);
    const auto start = Clock::now();
    ASSERT_TRUE(write(h, "late", 5000));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 800);
    ASSERT_TRUE(dev->receivedData().waitForBytes(4, 2000));
    const sim::Bytes data = dev->receivedData().bytes();
    EXPECT_EQ(std::string(data.begin(), data.end()), "late");
}

// The device answers raw data and closes its side at once: its answer is read all the same (the
// close counts only once what came before it has been read), and the next write connects again.
TEST_F(NetSimTest, WhatTheDeviceSentBeforeClosingIsRead) {
    sim::DeviceConfig config;
    config.dataAnswer = {'O', 'K', ' ', '1', '\n'};
    config.dataClose = true;
    sim::SimDevice* dev = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = open(*dev, MODE_DATA);
    ASSERT_EQ(h, 0);
    ASSERT_TRUE(write(h, "job one"));
    ASSERT_TRUE(dev->receivedData().waitForBytes(7, 2000));
    // The answer and the close have long arrived when the caller comes to read.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    char buf[32] = {};
    std::uint32_t n = 0;
    ASSERT_NE(lib_->Read(h, buf, sizeof buf, &n, nullptr), 0);
    EXPECT_EQ(std::string(buf, n), "OK 1\n");

    // Once the library has seen the close, a write connects again and reaches the device.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_TRUE(write(h, "job two"));
    ASSERT_TRUE(dev->receivedData().waitForBytes(14, 2000));
    const sim::Bytes data = dev->receivedData().bytes();
    EXPECT_EQ(std::string(data.begin(), data.end()), "job onejob two");
    EXPECT_GE(dev->dataChannel()->connections(), 2u);
    EXPECT_TRUE(logHas(flushLog(), u"#CNetPort::transmitThread : FD_CLOSE request\n"));
}

// On a network device a caller's overlapped block changes nothing but, on Windows, the event the
// transfer signals: every call, the first included, waits as without a block, and the block's own
// bytes are left alone. A block without an event is refused on Windows and ignored elsewhere.
TEST_F(NetSimTest, AnOverlappedBlockMeansTheSameOnEveryCall) {
#ifdef _WIN32
    constexpr bool kEventIsUsed = true;
#else
    constexpr bool kEventIsUsed = false;
#endif
    sim::DeviceConfig config;
    config.dataAnswer = {'o', 'k'};
    sim::SimDevice* dev = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = open(*dev, MODE_DATA);
    ASSERT_EQ(h, 0);
    platform::CallerBlock block(true);
    std::uint32_t n = 0;
    // Every transfer of the device has the block, the first ones (while it connects) included.
    const auto end = Clock::now() + std::chrono::seconds(4);
    while (lib_->Write(h, "hello", 5, &n, block.get()) == 0 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(n, 5u);
    ASSERT_TRUE(dev->receivedData().waitForBytes(5, 2000));
    char first[8];
    ASSERT_NE(lib_->Read(h, first, sizeof first, &n, block.get()), 0);
    EXPECT_EQ(std::string(first, n), "ok");

    for (int call = 0; call < 3; ++call) {
        SCOPED_TRACE(call);
        EXPECT_EQ(lib_->Write(h, "job", 3, &n, block.get()), 1);
        EXPECT_EQ(n, 3u);
        ASSERT_TRUE(dev->receivedData().waitForBytes(5 + 3 * (call + 1), 2000));
        char answer[8] = {};
        EXPECT_EQ(lib_->Read(h, answer, sizeof answer, &n, block.get()), 1);
        EXPECT_EQ(std::string(answer, n), "ok");
        EXPECT_EQ(block.signalled(), kEventIsUsed);
        // Nothing to read: the read time-out, as without a block.
        const auto start = Clock::now();
        EXPECT_EQ(lib_->Read(h, answer, sizeof answer, &n, block.get()), 0);
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 480);
        EXPECT_TRUE(block.untouched());
    }
    platform::CallerBlock noEvent(false);
    for (int call = 0; call < 2; ++call)
        EXPECT_EQ(lib_->Write(h, "job", 3, &n, noEvent.get()), kEventIsUsed ? 0 : 1) << call;
    const std::string log = flushLog();
    EXPECT_EQ(logCount(log, u"#CNetPort::netIOAccess : ResetEvent Fail\r\n"), kEventIsUsed ? 2u : 0u);
}

// A close ends a network read that would wait 5 s, wherever it lands: while the read waits, or
// while it is just starting.
TEST_F(NetSimTest, CloseEndsANetworkReadPromptlyWheneverItLands) {
    sim::SimDevice* dev = sim_.addNetDevice({}, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    path_ = exportText(dev->networkPath());
    std::mt19937 random(61124);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const _DEVOPEN_INFO info = openRecord(path_.c_str(), PORT_NET_DATA, MODE_DATA, 5000, 500);
        const std::int32_t h = lib_->OpenDev(&info);
        ASSERT_EQ(h, 0);
        ASSERT_TRUE(write(h, "x"));  // connected
        std::atomic<bool> going{false};
        std::atomic<long long> took{-1};
        std::thread reader([&] {
            char buf[8];
            std::uint32_t n = 0;
            going = true;
            const auto start = Clock::now();
            lib_->Read(h, buf, sizeof buf, &n, nullptr);
            took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        });
        while (!going) std::this_thread::yield();
        const auto delay = round % 2 == 0 ? std::chrono::microseconds(random() % 400)
                                          : std::chrono::microseconds(100000 + random() % 200000);
        const auto until = Clock::now() + delay;
        while (Clock::now() < until) {
        }
        EXPECT_EQ(lib_->CloseDev(h), 1);
        reader.join();
        EXPECT_LT(took, 2500);  // the read and the port's close, far from the read's 5 s
    }
}

class NetSimSearchTest : public NetSimTest {
protected:
    std::string settings() const override {
        return "[General]\r\nCfgID=1684418609\r\n[Port]\r\nDiscoveryAddress=127.0.0.2\r\n";
    }
    // The devices a search finds, on 127.0.0.2 and 127.0.0.3, and a search port of the test's own.
    void addSearchedDevices() {
        ASSERT_NE(sim_.addNetDevice({}, {{127, 0, 0, 2}, 0}), nullptr);
        ASSERT_NE(sim_.addNetDevice({}, {{127, 0, 0, 3}, 0}), nullptr);
        searchPort_ = static_cast<std::uint16_t>(42000 + (Clock::now().time_since_epoch().count() % 9000));
    }
    // The two paths a search wrote are those of the devices, in their order; returns the first.
    std::u16string expectTheDevicePaths(const std::vector<tavrin_wchar_t>& buf) {
        const std::u16string first(reinterpret_cast<const char16_t*>(buf.data()));
        const std::u16string second(reinterpret_cast<const char16_t*>(buf.data() + first.size() + 1));
        EXPECT_EQ(first, sim_.device(0).networkPath());
        EXPECT_EQ(second, sim_.device(1).networkPath());
        return first;
    }

    std::uint16_t searchPort_ = 0;
};

TEST_F(NetSimSearchTest, FindsEverySimulatedDevice) {
#ifdef _WIN32
    GTEST_SKIP() << "no loopback responder on the search port under Wine (see the network tests)";
#endif
    ASSERT_NO_FATAL_FAILURE(addSearchedDevices());
    const std::uint16_t port = searchPort_;
    sim::DiscoveryFaults faults;
    faults.badChecksum = faults.badKind = faults.badSignature = faults.tooShort = true;
    ASSERT_NE(sim_.startDiscovery({{127, 0, 0, 2}, port}, faults), nullptr);

    std::vector<tavrin_wchar_t> buf(256, 0);
    std::uint32_t size = 256;
    const std::uint32_t count = lib_->EnumDevPath(PORT_NET_DATA, buf.data(), &size, port, 0);
    ASSERT_EQ(count, 2u);
    const std::u16string first = expectTheDevicePaths(buf);

    // A path the search found opens, and the device answers on it.
    path_ = exportText(first);
    const _DEVOPEN_INFO info = openRecord(path_.c_str(), PORT_NET_DATA, MODE_CTRL, 500, 500);
    const std::int32_t h = lib_->OpenDev(&info);
    ASSERT_EQ(h, 0);
    std::string model;
    EXPECT_TRUE(command(h, u"CTRL_CMDGET_MODEL", &model));
    EXPECT_EQ(model, "TV-P80");
}

TEST_F(NetSimSearchTest, JunkBesideTheDevicesDoesNotKeepTheSearchGoing) {
#ifdef _WIN32
    GTEST_SKIP() << "no loopback responder on the search port under Wine (see the network tests)";
#endif
    ASSERT_NO_FATAL_FAILURE(addSearchedDevices());
    const std::uint16_t port = searchPort_;
    ASSERT_NE(sim_.startDiscovery({{127, 0, 0, 2}, port}), nullptr);
    UdpFlooder flood(port, {}, 5, 8000, 2000);  // junk every 5 ms for up to 8 s
    ASSERT_TRUE(flood.valid());

    std::vector<tavrin_wchar_t> buf(256, 0);
    std::uint32_t size = 256;
    const auto start = Clock::now();
    const std::uint32_t count = lib_->EnumDevPath(PORT_NET_DATA, buf.data(), &size, port, 0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    const std::size_t junk = flood.junkSent();
    flood.stop();
    ASSERT_EQ(count, 2u);
    expectTheDevicePaths(buf);
    EXPECT_GE(took, 1900);  // 2000 ms after the devices' answers
    EXPECT_LT(took, 4500);  // not after the junk ended
    EXPECT_GT(junk, 50u);
}

// DiscoveryTimeout shortens the wait after the last reply; a caller's own wait (the second
// selector of a network search) goes before it; the search stays bounded either way.
class NetSimSearchTimeoutTest : public NetSimSearchTest {
protected:
    std::string settings() const override {
        return "[General]\r\nCfgID=1684418609\r\n[Port]\r\nDiscoveryAddress=127.0.0.2\r\nDiscoveryTimeout=300\r\n";
    }
};

TEST_F(NetSimSearchTimeoutTest, TheSearchEndsItsQuietTimeAfterTheLastReply) {
#ifdef _WIN32
    GTEST_SKIP() << "no loopback responder on the search port under Wine (see the network tests)";
#endif
    ASSERT_NO_FATAL_FAILURE(addSearchedDevices());
    const std::uint16_t port = searchPort_;
    ASSERT_NE(sim_.startDiscovery({{127, 0, 0, 2}, port}), nullptr);
    const struct {
        std::uint32_t selector;  // the caller's wait, 0: the setting's
        long long least, most;
    } cases[] = {{0, 280, 1500}, {900, 880, 2000}, {50, 40, 1000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        std::vector<tavrin_wchar_t> buf(256, 0);
        std::uint32_t size = 256;
        const auto start = Clock::now();
        const std::uint32_t count = lib_->EnumDevPath(PORT_NET_DATA, buf.data(), &size, port, c.selector);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_EQ(count, 2u);
        EXPECT_GE(took, c.least);
        EXPECT_LT(took, c.most);
    }
}

}  // namespace
}  // namespace tavrin::test
