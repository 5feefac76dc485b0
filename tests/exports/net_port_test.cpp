// Network devices through the exports: the two TCP channels, reconnection, closing, and the
// search by UDP, against devices played by the test on loopback addresses.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "devicelib/ports/net_address.h"
#include "tests/support/device_fixture.h"
#include "tests/support/net_device.h"
#include "tests/support/udp_flooder.h"

namespace tavrin::test {
namespace {

class NetPortTest : public DeviceFixture {
protected:
    // Devices the test left open are closed before the library is unloaded (their channels'
    // peers are gone by now, so each close is quick).
    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        DeviceFixture::TearDown();
    }
    std::int32_t open(const std::u16string& path, std::uint16_t type, std::uint16_t mode,
                      std::int32_t readTimeout = 300, std::int32_t writeTimeout = 300) {
        const auto p = exportText(path);
        const _DEVOPEN_INFO info = openRecord(p.c_str(), type, mode, readTimeout, writeTimeout);
        return lib_->OpenDev(&info);
    }
    // The device opened in data mode, its data connection accepted and these first bytes written
    // over it once the library has connected.
    void openData(NetDevice& dev, const std::string& first, std::int32_t& h,
                  std::unique_ptr<platform::TcpStream>& data) {
        ASSERT_TRUE(dev.valid());
        h = open(dev.path(), PORT_NET_DATA, MODE_DATA);
        data = dev.dataListener().accept(3000);
        ASSERT_NE(data, nullptr);
        ASSERT_TRUE(writeWhenConnected(h, first));
    }
    // Writes until the library has connected (writes fail before that), at most for timeoutMs.
    bool writeWhenConnected(std::int32_t h, const std::string& data, int timeoutMs = 3000) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < end) {
            std::uint32_t n = 0;
            if (lib_->Write(h, data.data(), static_cast<std::uint32_t>(data.size()), &n, nullptr) &&
                n == data.size())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

TEST_F(NetPortTest, DataAtThePortAndControlAtThePortPlus100) {
    NetDevice dev;
    ASSERT_TRUE(dev.valid());
    const std::int32_t h = open(dev.path(), PORT_NET_DATA, MODE_DATA | MODE_CTRL);
    ASSERT_EQ(h, 0);
    auto data = dev.dataListener().accept(3000);
    auto control = dev.controlListener().accept(3000);
    ASSERT_NE(data, nullptr);
    ASSERT_NE(control, nullptr);

    ASSERT_TRUE(writeWhenConnected(h, "raw print data"));
    EXPECT_EQ(NetDevice::readSome(*data, 14, 2000), "raw print data");
    ASSERT_TRUE(data->write("ok", 2));
    char buf[8] = {};
    std::uint32_t n = 0;
    ASSERT_NE(lib_->Read(h, buf, sizeof buf, &n, nullptr), 0);
    EXPECT_EQ(std::string(buf, n), "ok");
    data->close();
    control->close();
    EXPECT_EQ(lib_->CloseDev(h), 1);
    EXPECT_TRUE(logHas(flushLog(), u" : 打 开 设 备(handle = 0,type = 0x402,mode = 0x3) 成 功\r\n"));
}

TEST_F(NetPortTest, ControlPathOpensTheControlChannelFirst) {
    NetDevice dev;
    ASSERT_TRUE(dev.valid());
    const std::int32_t h = open(dev.path(), PORT_NET_CTRL, MODE_CTRL);
    ASSERT_EQ(h, 0);
    EXPECT_NE(dev.controlListener().accept(3000), nullptr);
    EXPECT_EQ(dev.dataListener().accept(300), nullptr);
    EXPECT_EQ(lib_->GetDevHandle(h, 1), -1);  // no data channel
}

TEST_F(NetPortTest, MalformedAddressesDoNotOpen) {
    for (const char16_t* path : {u"127.0.0", u"printer:9100", u"1.2.3.x:80"}) {
        EXPECT_EQ(open(path, PORT_NET_DATA, MODE_DATA), -1);
        EXPECT_EQ(open(path, PORT_NET_CTRL, MODE_CTRL), -1);
    }
    const std::string log = flushLog();
    EXPECT_EQ(logCount(log, u"#dllFunc_OpenDev : 打 开 数 据 口 失 败(0x401)\r\n"), 3u);
    EXPECT_EQ(logCount(log, u"#dllFunc_OpenDev : 打 开 控 制 口 失 败(0x402)\r\n"), 3u);
}

TEST_F(NetPortTest, ReadBeforeTheConnectionFailsThenSucceeds) {
    NetDevice dev;
    ASSERT_TRUE(dev.valid());
    const std::int32_t h = open(dev.path(), PORT_NET_DATA, MODE_DATA);
    ASSERT_EQ(h, 0);
    char buf[8];
    std::uint32_t n = 5;
    EXPECT_EQ(lib_->Read(h, buf, sizeof buf, &n, nullptr), 0);  // still connecting
    EXPECT_EQ(n, 0u);
    auto data = dev.dataListener().accept(3000);
    ASSERT_NE(data, nullptr);
    ASSERT_TRUE(writeWhenConnected(h, "x"));
    ASSERT_TRUE(data->write("answer", 6));
    ASSERT_NE(lib_->Read(h, buf, sizeof buf, &n, nullptr), 0);
    EXPECT_EQ(std::string(buf, n), "answer");
}

TEST_F(NetPortTest, ReadTimesOutWithTheRecordsTimeout) {
    NetDevice dev;
    ASSERT_TRUE(dev.valid());
    const std::int32_t h = open(dev.path(), PORT_NET_DATA, MODE_DATA, 400, 0);
    auto data = dev.dataListener().accept(3000);
    ASSERT_TRUE(writeWhenConnected(h, "x"));
    char buf[8];
    std::uint32_t n = 0;
    const auto start = Clock::now();
    EXPECT_EQ(lib_->Read(h, buf, sizeof buf, &n, nullptr), 0);
    EXPECT_GE(msSince(start), 380);
    EXPECT_LT(msSince(start), 1000);
    EXPECT_TRUE(logHas(flushLog(), u"#CNetPort::netIOAccess : timeout\r\n"));
}

TEST_F(NetPortTest, ConnectsAgainAfterTheDeviceDroppedTheConnection) {
    NetDevice dev;
    std::int32_t h = -1;
    std::unique_ptr<platform::TcpStream> first;
    ASSERT_NO_FATAL_FAILURE(openData(dev, "one", h, first));
    EXPECT_EQ(NetDevice::readSome(*first, 3, 2000), "one");
    first->close();  // the device drops the connection, and the library notices
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::unique_ptr<platform::TcpStream> second;
    std::thread acceptor([&] { second = dev.dataListener().accept(5000); });
    const bool wrote = writeWhenConnected(h, "two", 5000);
    acceptor.join();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(wrote);
    EXPECT_EQ(NetDevice::readSome(*second, 3, 2000), "two");
    EXPECT_TRUE(logHas(flushLog(), u"#CNetPort::transmitThread : FD_CLOSE request\n"));
}

TEST_F(NetPortTest, CloseEndsTheThreadWhenTheDeviceAnswersTheShutdown) {
    NetDevice dev;
    std::int32_t h = -1;
    std::unique_ptr<platform::TcpStream> data;
    ASSERT_NO_FATAL_FAILURE(openData(dev, "x", h, data));
    std::thread answer([&] {
        char buf[16];
        while (data->read(buf, sizeof buf, 50) >= 0) {
        }
        data->close();  // the library shut the connection down: close it too
    });
    const auto start = Clock::now();
    EXPECT_EQ(lib_->CloseDev(h), 1);
    EXPECT_LT(msSince(start), 2500);
    answer.join();
    // The thread saw the device's close; whether the close still found it running (and logged
    // its normal end) depends on which came first.
    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u"#CNetPort::transmitThread : FD_CLOSE request\n"));
    EXPECT_FALSE(logHas(log, u"trasmThread Terminiate"));
}

// The device sent bytes nobody read and closed: its close waits for them to be read, but a close
// of the device by the caller does not.
TEST_F(NetPortTest, CloseIsQuickWhenTheDeviceLeftBytesUnreadAndHungUp) {
    NetDevice dev;
    std::int32_t h = -1;
    std::unique_ptr<platform::TcpStream> data;
    ASSERT_NO_FATAL_FAILURE(openData(dev, "x", h, data));
    EXPECT_EQ(NetDevice::readSome(*data, 1, 2000), "x");  // so that the device's close is a plain one
    ASSERT_TRUE(data->write("never read", 10));
    data->close();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = Clock::now();
    EXPECT_EQ(lib_->CloseDev(h), 1);
    EXPECT_LT(msSince(start), 2500);
    EXPECT_FALSE(logHas(flushLog(), u"trasmThread Terminiate"));
}

TEST_F(NetPortTest, CloseIsBoundedWhenTheDeviceNeverAnswersTheShutdown) {
    // A channel whose device holds the connection open waits 5000 ms for its thread and then
    // tells it to leave; a device's two channels wait at the same time, so closing it takes
    // about 5 s, not 5 s per channel. Each channel logs its own end.
    struct Case {
        const char* what;
        std::uint16_t mode;
        bool dataAnswers;  // the data channel's device closes when the library shuts its side
        std::size_t terminated;
    };
    const Case cases[] = {
        {"data channel only", MODE_DATA, false, 1},
        {"both channels, neither answers", MODE_DATA | MODE_CTRL, false, 2},
        {"both channels, only the data channel answers", MODE_DATA | MODE_CTRL, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(lib_->OpenLog(exportText(logFile_).c_str()), 1);  // a log of this case's own
        NetDevice dev;
        ASSERT_TRUE(dev.valid());
        const std::int32_t h = open(dev.path(), PORT_NET_DATA, c.mode);
        ASSERT_EQ(h, 0);
        auto data = dev.dataListener().accept(3000);  // held open, never closed
        ASSERT_NE(data, nullptr);
        std::unique_ptr<platform::TcpStream> control;
        if ((c.mode & MODE_CTRL) != 0) {
            control = dev.controlListener().accept(3000);
            ASSERT_NE(control, nullptr);
        }
        ASSERT_TRUE(writeWhenConnected(h, "x"));
        std::thread answer;
        if (c.dataAnswers) {
            answer = std::thread([&] {
                char buf[16];
                while (data->read(buf, sizeof buf, 50) >= 0) {
                }
                data->close();
            });
        }
        const auto start = Clock::now();
        EXPECT_EQ(lib_->CloseDev(h), 1);
        const long long took = msSince(start);
        if (answer.joinable()) answer.join();
        EXPECT_GE(took, 4900);
        EXPECT_LT(took, 8000);
        const std::string log = flushLog();
        EXPECT_EQ(logCount(log, u"#CNetPort::closePort : trasmThread Terminiate \r\n"), c.terminated);
        EXPECT_FALSE(logHas(log, u"trasmThread no end"));
    }
}

TEST_F(NetPortTest, PortsOutsideTheTcpRangeAreRefusedNotWrapped) {
    // The control channel is at the data port + 100: a path whose control port would pass 65535
    // is refused wherever that channel is opened. Each refusal logs the line of the channel that
    // could not be opened (none for the second channel of a branch), then the open's failure.
    const char16_t* const dataFails = u"#dllFunc_OpenDev : 打 开 数 据 口 失 败(0x401)\r\n";
    const char16_t* const controlFails = u"#dllFunc_OpenDev : 打 开 控 制 口 失 败(0x402)\r\n";
    struct Case {
        const char16_t* path;
        std::uint16_t type;
        std::uint16_t mode;
        bool opens;
        const char16_t* channelLine;  // the branch's line, when it has one
        const char16_t* failedLine;   // names the type of the last channel tried
    };
    const char16_t* const failed401 = u"#dllFunc_OpenDev : 打 开 设 备(401) 失 败\r\n";
    const char16_t* const failed402 = u"#dllFunc_OpenDev : 打 开 设 备(402) 失 败\r\n";
    const Case cases[] = {
        {u"127.0.0.1:65536", PORT_NET_DATA, MODE_DATA, false, dataFails, failed401},
        {u"127.0.0.1:70000", PORT_NET_CTRL, MODE_CTRL, false, controlFails, failed402},
        {u"127.0.0.1:4294967396", PORT_NET_DATA, MODE_DATA, false, dataFails, failed401},  // 2^32 + 100
        {u"127.0.0.1:-1", PORT_NET_DATA, MODE_DATA, false, dataFails, failed401},
        {u"127.0.0.1:65436", PORT_NET_CTRL, MODE_CTRL, false, controlFails, failed402},
        {u"127.0.0.1:65436", PORT_NET_CTRL, MODE_DATA | MODE_CTRL, false, controlFails, failed402},
        {u"127.0.0.1:65436", PORT_NET_DATA, MODE_DATA | MODE_CTRL, false, nullptr, failed402},
        {u"127.0.0.1:65436", PORT_NET_DATA, MODE_DATA, true, nullptr, nullptr},  // no control channel asked for
        {u"127.0.0.1:65435", PORT_NET_DATA, MODE_DATA | MODE_CTRL, true, nullptr, nullptr},  // control at 65535
        {u"127.0.0.1:65535", PORT_NET_DATA, MODE_DATA, true, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)) + " type " +
                     std::to_string(c.type) + " mode " + std::to_string(c.mode));
        ASSERT_EQ(lib_->OpenLog(exportText(logFile_).c_str()), 1);
        const std::int32_t h = open(c.path, c.type, c.mode);
        EXPECT_EQ(h, c.opens ? 0 : -1);
        if (h >= 0) {
            EXPECT_EQ(lib_->CloseDev(h), 1);
        }
        const std::string log = flushLog();
        EXPECT_EQ(logCount(log, failed401), c.failedLine == failed401 ? 1u : 0u);
        EXPECT_EQ(logCount(log, failed402), c.failedLine == failed402 ? 1u : 0u);
        EXPECT_EQ(logCount(log, dataFails), c.channelLine == dataFails ? 1u : 0u);
        EXPECT_EQ(logCount(log, controlFails), c.channelLine == controlFails ? 1u : 0u);
    }
}

// The search: devices answer on their own loopback address, which the settings name as the
// search address.
class NetSearchTest : public DeviceFixture {
protected:
    std::string settings() const override {
        return "[General]\r\nCfgID=1684418609\r\n[Port]\r\nDiscoveryAddress=127.0.0.2\r\n[SysLog]\r\nLogEnable=0\r\n";
    }
    void SetUp() override {
        DeviceFixture::SetUp();
        for (int i = 0; i < 20 && !responder_; ++i) {
            port_ = static_cast<std::uint16_t>(41000 + (Clock::now().time_since_epoch().count() % 20000));
            responder_ = platform::UdpPeer::bind({{127, 0, 0, 2}, port_});
        }
        ASSERT_NE(responder_, nullptr);
    }
    void TearDown() override {
        if (answering_.joinable()) answering_.join();
        DeviceFixture::TearDown();
    }
    // Under Wine, sockets sharing a port follow Linux's SO_REUSEPORT rules: the search's own
    // socket takes the datagrams meant for a responder in the same process. The search's sending,
    // waiting and ending are still tested there by the cases without an answer.
    static bool responderReachable() {
#ifdef _WIN32
        return false;
#else
        return true;
#endif
    }
    // Answers one request with the given datagrams.
    void answerWith(std::vector<std::vector<std::uint8_t>> replies) {
        answering_ = std::thread([this, replies] {
            std::uint8_t request[64];
            platform::Ipv4Endpoint from;
            long n = responder_->receive(request, sizeof request, &from, 3000);
            requestSeen_ = std::vector<std::uint8_t>(request, request + (n > 0 ? n : 0));
            for (const auto& r : replies) responder_->sendTo(r.data(), r.size(), from);
        });
    }
    static std::vector<std::uint8_t> reply(platform::Ipv4Endpoint device) {
        auto r = makeDiscoveryReply(device);
        return {r.begin(), r.end()};
    }
    std::vector<std::u16string> search(std::uint32_t capacity, std::uint32_t* count, std::uint32_t* size) {
        std::vector<tavrin_wchar_t> buf(capacity + 1, 0x7777);
        *size = capacity;
        *count = lib_->EnumDevPath(PORT_NET_DATA, buf.data(), size, port_, 0);
        std::vector<std::u16string> paths;
        for (std::size_t at = 0; at < *size && buf[at] != 0;) {
            std::u16string p(reinterpret_cast<const char16_t*>(&buf[at]));
            at += p.size() + 1;
            paths.push_back(p);
        }
        return paths;
    }

    std::uint16_t port_ = 0;
    std::unique_ptr<platform::UdpPeer> responder_;
    std::thread answering_;
    std::vector<std::uint8_t> requestSeen_;
};

TEST_F(NetSearchTest, FindsTheDevicesThatAnswerAndIgnoresBadReplies) {
    if (!responderReachable()) GTEST_SKIP() << "no loopback responder on the search port under Wine";
    auto wrongSum = reply({{10, 0, 0, 9}, 1});
    wrongSum[3] ^= 0xFF;
    auto wrongKind = reply({{10, 0, 0, 9}, 2});
    wrongKind[4] = 2;
    auto wrongSignature = reply({{10, 0, 0, 9}, 3});
    wrongSignature[10] ^= 1;
    const std::vector<std::uint8_t> tooShort(20, 0x10);
    answerWith({reply({{127, 0, 0, 2}, 9100}), wrongSum, wrongKind, wrongSignature, tooShort,
                reply({{127, 0, 0, 3}, 9200})});
    std::uint32_t count = 0, size = 0;
    const auto start = Clock::now();
    const auto paths = search(200, &count, &size);
    const long long took = msSince(start);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], u"127.0.0.2:9100");
    EXPECT_EQ(paths[1], u"127.0.0.3:9200");
    EXPECT_EQ(size, 15u + 15u + 1u);
    EXPECT_GE(took, 1950);  // the list ends after 2000 ms without a datagram
    EXPECT_LT(took, 3500);
    answering_.join();
    EXPECT_EQ(requestSeen_, std::vector<std::uint8_t>(kDiscoveryRequest.begin(), kDiscoveryRequest.end()));
}

TEST_F(NetSearchTest, NoAnswerGivesAnEmptyList) {
    std::uint32_t count = 9, size = 0;
    const auto paths = search(100, &count, &size);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(paths.empty());
    EXPECT_EQ(size, 1u);  // only the closing empty string
    EXPECT_TRUE(logHas(flushLog(), u"#CNetPort::UDP_IOCtrl : WSAWaitForMultipleEvents Timeout(2000) \r\n"));
}

TEST_F(NetSearchTest, AReplyThatDoesNotFitIsSkipped) {
    if (!responderReachable()) GTEST_SKIP() << "no loopback responder on the search port under Wine";
    answerWith({reply({{127, 0, 0, 2}, 9100}), reply({{127, 0, 0, 3}, 9200})});
    std::uint32_t count = 0, size = 0;
    const auto paths = search(20, &count, &size);  // room for one path and the closing zero
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], u"127.0.0.2:9100");
    EXPECT_EQ(size, 16u);
}

TEST_F(NetSearchTest, JunkDoesNotKeepTheSearchGoingButEachValidReplyDoes) {
    // Junk every 5 ms for up to 8 s, and two valid replies 600 ms and 1600 ms after the start:
    // the list takes both and ends 2000 ms after the second, while the junk still arrives.
    UdpFlooder flood(port_, {{600, reply({{10, 0, 0, 1}, 101})}, {1600, reply({{10, 0, 0, 2}, 102})}}, 5, 8000, 2000);
    ASSERT_TRUE(flood.valid());
    std::uint32_t count = 0, size = 0;
    const auto start = Clock::now();
    const auto paths = search(200, &count, &size);
    const long long took = msSince(start);
    const std::size_t junkDuringSearch = flood.junkSent();
    flood.stop();
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], u"10.0.0.1:101");
    EXPECT_EQ(paths[1], u"10.0.0.2:102");
    EXPECT_GE(took, 3300);  // the second reply gave the search another 2000 ms
    EXPECT_LT(took, 5500);  // the junk did not
    EXPECT_GT(junkDuringSearch, 50u);
}

TEST_F(NetSearchTest, ASearchEndsTenSecondsAfterItStartedWhateverArrives) {
    // A device that answers again and again (every 150 ms for up to 14 s) is listed each time,
    // but the search stops at its upper bound.
    std::vector<UdpFlooder::Timed> replies;
    for (int at = 0; at < 14000; at += 150) replies.push_back({at, reply({{10, 0, 0, 7}, 7})});
    UdpFlooder flood(port_, std::move(replies), 0, 14000, 200);
    ASSERT_TRUE(flood.valid());
    std::uint32_t count = 0, size = 0;
    const auto start = Clock::now();
    const auto paths = search(4096, &count, &size);
    const long long took = msSince(start);
    flood.stop();
    EXPECT_GE(took, 9800);
    EXPECT_LT(took, 12000);
    EXPECT_GE(count, 20u);
    EXPECT_EQ(paths.size(), count);
    for (const auto& p : paths) EXPECT_EQ(p, u"10.0.0.7:7");
}

TEST_F(NetSearchTest, TwoSearchesAtOnceBothGetTheirSocket) {
    std::atomic<std::uint32_t> other{99};
    std::thread second([&] {
        std::vector<tavrin_wchar_t> buf(64);
        std::uint32_t size = 64;
        other = lib_->EnumDevPath(PORT_NET_DATA, buf.data(), &size, port_, 0);
    });
    std::uint32_t count = 0, size = 0;
    search(64, &count, &size);
    second.join();
    EXPECT_EQ(other.load(), 0u);
    EXPECT_FALSE(logHas(flushLog(), u"bind failed"));
}

}  // namespace
}  // namespace tavrin::test
