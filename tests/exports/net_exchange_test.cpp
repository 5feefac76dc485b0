// Command exchanges with a misbehaving network device, through the loaded library: late replies,
// replies cut anywhere or packed behind others, endless noise, and data no packet can carry.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kReadTimeout = 150;

class NetExchangeTest : public DeviceFixture {
protected:
    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        sim_.stop();
        DeviceFixture::TearDown();
    }

    // A network device of the simulator, opened with its control channel, and connected: a
    // first query (the device number) has been answered.
    std::int32_t openConnected(sim::SimDevice& dev) {
        path_ = exportText(dev.networkPath());
        const _DEVOPEN_INFO info = openRecord(path_.c_str(), PORT_NET_DATA, MODE_CTRL, kReadTimeout, 500);
        const std::int32_t h = lib_->OpenDev(&info);
        if (h < 0) return h;
        for (const auto start = Clock::now(); msSince(start) < 5000;) {
            if (exchange(h, u"CTRL_CMDGET_DEVNO").result == 1) return h;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return -1;
    }

    struct Result {
        std::int32_t result = -1;
        _DEVACK_INFO ack{};
        std::string text;
    };
    Result exchange(std::int32_t h, const char16_t* name, const std::uint8_t* data = nullptr, std::uint32_t length = 0) {
        Result r;
        std::uint8_t buf[256] = {};
        r.ack = {buf, sizeof buf, 0xBEEF, 0xCC};
        r.result = lib_->DevIoCtrl(h, exportText(std::u16string(name)).c_str(), data, length, &r.ack);
        if (r.result == 1) r.text.assign(reinterpret_cast<const char*>(buf), r.ack.datLen);
        return r;
    }

    static bool waitServed(sim::SimDevice& dev, std::size_t count, int timeoutMs) {
        for (const auto start = Clock::now(); dev.served() < count;) {
            if (msSince(start) > timeoutMs) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    sim::SimDevice* netDevice() {
        sim::SimDevice* dev = sim_.addNetDevice({}, {{127, 0, 0, 1}, 0});
        EXPECT_NE(dev, nullptr);
        return dev;
    }

    sim::Simulator sim_;
    std::basic_string<tavrin_wchar_t> path_;
};

// The reply of a command that gave up arrives before the next one goes out: it is discarded
// and answers neither the same command sent again nor any other.
TEST_F(NetExchangeTest, ALateReplyNeverAnswersALaterCommand) {
    sim::SimDevice* dev = netDevice();
    ASSERT_NE(dev, nullptr);
    auto asked = std::make_shared<int>(0);
    dev->model().setHandler(0x01, [asked](const sim::Request&) {
        const std::string t = "M#" + std::to_string(++*asked);
        return sim::Answer{0, Bytes(t.begin(), t.end())};
    });
    const std::int32_t h = openConnected(*dev);
    ASSERT_GE(h, 0);
    const std::size_t before = dev->received().packets().size();

    sim::FaultPlan late;
    late.setLate(0x01, 10 * kReadTimeout);  // long after the exchange gave up
    dev->setFaults(late);
    EXPECT_EQ(exchange(h, u"CTRL_CMDGET_MODEL").result, 0);  // given up after four read time-outs
    ASSERT_TRUE(waitServed(*dev, before + 1, 5000));        // its reply has gone out since
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    dev->setFaults({});

    const Result again = exchange(h, u"CTRL_CMDGET_MODEL");
    EXPECT_EQ(again.result, 1);
    EXPECT_EQ(again.text, "M#2");
    const char16_t* others[] = {u"CTRL_CMDGET_DEVNO", u"CTRL_CMDGET_PROTVER", u"CTRL_CMD_CONNT", u"CTRL_CMD_UNCONNT"};
    const char* answers[] = {"TV0000000001", "1.00", "", ""};
    for (std::size_t i = 0; i < 4; ++i) {
        const Result r = exchange(h, others[i]);
        EXPECT_EQ(r.result, 1) << i;
        EXPECT_EQ(r.text, answers[i]) << i;
    }
    const std::string log = flushLog();
    EXPECT_EQ(logCount(log, u"#DevIoCtrl : 丢 弃 残 留 数 据(7)\r\n"), 1u);
    EXPECT_EQ(logCount(log, u"冗 余"), 0u);
}

// Replies the device cuts or packs on the control channel are taken whole.
TEST_F(NetExchangeTest, RepliesCutOrPackedAreTakenWhole) {
    struct Case {
        const char* what;
        sim::FaultPlan faults;
        std::size_t redundantLines;
    };
    auto plan = [](auto set) {
        sim::FaultPlan f;
        set(f);
        f.pauseMs = 60;
        return f;
    };
    const Case cases[] = {
        {"header cut after the sync byte", plan([](sim::FaultPlan& f) { f.splitAt = 1; }), 0},
        {"header cut in the middle", plan([](sim::FaultPlan& f) { f.splitAt = 2; }), 0},
        {"header cut before its checksum byte", plan([](sim::FaultPlan& f) { f.splitAt = 3; }), 0},
        {"a reply to another code and the reply in one write",
         plan([](sim::FaultPlan& f) { f.redundant = 1; f.together = true; }), 1},
        {"replies to another code, noise and a corrupted reply, then the reply cut in its header",
         plan([](sim::FaultPlan& f) { f.redundant = 2; f.together = true; f.noise = 3; f.badChecksum = true; f.splitAt = 2; }),
         2},
    };
    sim::SimDevice* dev = netDevice();
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = openConnected(*dev);
    ASSERT_GE(h, 0);
    for (const Case& c : cases) {
        ASSERT_EQ(lib_->OpenLog(exportText(logFile_).c_str()), 1);
        dev->setFaults(c.faults);
        const Result r = exchange(h, u"CTRL_CMDGET_PROTVER");
        EXPECT_EQ(r.result, 1) << c.what;
        EXPECT_EQ(r.text, "1.00") << c.what;
        const std::string log = flushLog();
        EXPECT_EQ(logCount(log, u"#DevIoCtrl : 冗 余 的 命 令 包(0x4)！！！\r\n"), c.redundantLines) << c.what;
        EXPECT_EQ(logCount(log, u"读 数 据 失 败"), 0u) << c.what;
    }
}

// A device that sends noise without end: the exchange gives up after ten read time-outs.
TEST_F(NetExchangeTest, EndlessNoiseEndsTheExchangeInBoundedTime) {
    sim::SimDevice* dev = netDevice();
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = openConnected(*dev);
    ASSERT_GE(h, 0);
    const std::size_t before = dev->served();
    sim::FaultPlan noisy;
    noisy.noiseForMs = 30000;
    dev->setFaults(noisy);

    const auto start = Clock::now();
    const Result r = exchange(h, u"CTRL_CMDGET_MODEL");
    const long long took = msSince(start);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.ack.datLen, 0xBEEF);
    EXPECT_GE(took, 10 * kReadTimeout - 20);
    EXPECT_LT(took, 10 * kReadTimeout + 1500);

    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // more noise comes meanwhile
    dev->setFaults({});
    ASSERT_TRUE(waitServed(*dev, before + 1, 5000));
    const Result after = exchange(h, u"CTRL_CMDGET_MODEL");
    EXPECT_EQ(after.result, 1);
    EXPECT_EQ(after.text, "TV-P80");
    const std::string log = flushLog();
    EXPECT_EQ(logCount(log, u"#DevIoCtrl : 读 数 据 失 败！！！\r\n"), 1u);
    EXPECT_EQ(logCount(log, u"#DevIoCtrl : 丢 弃 残 留 数 据("), 1u);  // the noise that came after the failure
}

// Data no command packet can carry is refused before anything goes out.
TEST_F(NetExchangeTest, DataAPacketCannotCarryIsRefused) {
    sim::SimDevice* dev = netDevice();
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = openConnected(*dev);
    ASSERT_GE(h, 0);
    ASSERT_EQ(exchange(h, u"CTRL_CMDSET_USERDAT", Bytes(200, 0x42).data(), 200).result, 1);
    const std::size_t before = dev->received().bytes().size();

    Bytes big(70000, 0x85);
    struct Case {
        const char16_t* name;
        const std::uint8_t* data;
        std::uint32_t length;
    };
    const Case cases[] = {
        {u"CTRL_CMDGET_MODEL", big.data(), 65536},
        {u"CTRL_CMDSET_USERDAT", big.data(), 70000},
        {u"CTRL_DEVCMD_ST", big.data(), 65536},
        {u"CTRL_CMDSET_USERDAT", nullptr, 3},
        {u"CTRL_CMDSET_USERDAT", nullptr, 200},
    };
    for (const Case& c : cases) {
        const Result r = exchange(h, c.name, c.data, c.length);
        EXPECT_EQ(r.result, 0) << c.length;
        EXPECT_EQ(r.ack.datLen, 0xBEEF) << c.length;
        EXPECT_EQ(r.ack.ackCode, 0xCC) << c.length;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(dev->received().bytes().size(), before);  // nothing went out
    const std::string log = flushLog();
    EXPECT_EQ(logCount(log, u"#DevIoCtrl : 生 成 命 令 包 失 败！！！\r\n"), std::size(cases));
}

}  // namespace
}  // namespace tavrin::test
