// Command exchanges from several threads: one exchange per device at a time, devices side by side,
// and raw transfers on the data port beside an exchange.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/device_peer.h"
#include "tests/protocol/control_fixture.h"

namespace tavrin::test {
namespace {

using DevIoCtrlConcurrencyTest = ControlFixture;

sim::FaultPlan slow(std::uint32_t ms) {
    sim::FaultPlan f;
    f.delayMs = ms;
    return f;
}

TEST_F(DevIoCtrlConcurrencyTest, SecondExchangeOnABusyDeviceFailsAtOnce) {
    sim::SimDevice* dev = simDevice();
    ASSERT_NE(dev, nullptr);
    dev->setFaults(slow(400));
    const std::int32_t h = openSimulated(dev, 300);
    ASSERT_GE(h, 0);

    std::atomic<std::int32_t> first{-1};
    std::thread t([&] { first = devIoCtrl(h, u"CTRL_CMDGET_MODEL").result; });
    ASSERT_TRUE(dev->received().waitForPackets(1, 2000));
    const auto start = Clock::now();
    const Exchange second = devIoCtrl(h, u"CTRL_CMDGET_DEVNO");
    EXPECT_LT(msSince(start), 100);
    t.join();
    EXPECT_EQ(second.result, 0);
    EXPECT_EQ(second.ack.datLen, kUntouchedLength);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(packetsOf(*dev), std::vector<std::string>{"10 01 00 00"});  // the second never went out

    dev->setFaults({});
    EXPECT_EQ(devIoCtrl(h, u"CTRL_CMDGET_DEVNO").result, 1);
}

TEST_F(DevIoCtrlConcurrencyTest, ThreadsSharingAHandleRetryUntilAnsweredAndNeverMixAnswers) {
    sim::SimDevice* dev = simDevice();
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = openSimulated(dev, 500);
    ASSERT_GE(h, 0);
    constexpr int kAnswers = 30;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    std::atomic<int> wrong{0};
    auto caller = [&](const char16_t* name, const std::string& expected, int& answered) {
        while (answered < kAnswers && Clock::now() < deadline) {
            const Exchange e = devIoCtrl(h, name);
            if (e.result == 1) {
                ++answered;
                if (e.text() != expected) ++wrong;
                continue;
            }
            if (e.ack.datLen != kUntouchedLength || e.ack.ackCode != kUntouchedAck) ++wrong;  // a refused call touches nothing
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // busy: try again shortly
        }
    };
    int answeredA = 0, answeredB = 0;
    std::thread a(caller, u"CTRL_CMDGET_MODEL", "TV-P80", std::ref(answeredA));
    std::thread b(caller, u"CTRL_CMDGET_PROTVER", "1.00", std::ref(answeredB));
    a.join();
    b.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(answeredA, kAnswers);
    EXPECT_EQ(answeredB, kAnswers);
    EXPECT_EQ(dev->received().packets().size(), 2u * kAnswers);  // a refused call sends nothing
    EXPECT_FALSE(logHas(u"冗 余"));
}

TEST_F(DevIoCtrlConcurrencyTest, ExchangesOnTwoDevicesRunSideBySide) {
    sim::SimDevice* a = simDevice();
    sim::SimDevice* b = simDevice();
    ASSERT_TRUE(a != nullptr && b != nullptr);
    a->setFaults(slow(400));
    b->setFaults(slow(400));
    const std::int32_t ha = openSimulated(a, 300);
    const std::int32_t hb = openSimulated(b, 300);
    ASSERT_TRUE(ha >= 0 && hb >= 0);

    const auto start = Clock::now();
    std::atomic<std::int32_t> resultA{-1};
    std::thread t([&] { resultA = devIoCtrl(ha, u"CTRL_CMDGET_MODEL").result; });
    const std::int32_t resultB = devIoCtrl(hb, u"CTRL_CMDGET_MODEL").result;
    t.join();
    EXPECT_EQ(resultA, 1);
    EXPECT_EQ(resultB, 1);
    EXPECT_LT(msSince(start), 750);  // the two waits overlapped
}

TEST_F(DevIoCtrlConcurrencyTest, ARawReadOnTheDataPortDoesNotBlockAnExchange) {
    sim::SimDevice* dev = simDevice();
    ASSERT_NE(dev, nullptr);
    auto data = platform::DevicePeer::create("data");
    ASSERT_NE(data, nullptr);
    const std::int32_t h = openSlot(dev->controlPath(), 800, 0, data->path());
    ASSERT_GE(h, 0);

    std::atomic<std::int32_t> readResult{-1};
    std::atomic<bool> reading{false};
    std::thread reader([&] {
        char buf[8];
        std::uint32_t n = 0;
        reading = true;
        readResult = dllFunc_Read(h, buf, sizeof buf, &n, nullptr);  // nothing comes: a full wait
    });
    while (!reading) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    EXPECT_EQ(devIoCtrl(h, u"CTRL_CMDGET_MODEL").result, 1);
    EXPECT_LT(msSince(start), 500);
    reader.join();
    EXPECT_EQ(readResult, 0);
}

}  // namespace
}  // namespace tavrin::test
