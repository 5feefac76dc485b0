// dllFunc_DevIoCtrl against simulated devices: the bytes that go out, the answers that come back,
// a device's faults, and raw pass-through.
#include <gtest/gtest.h>

#include <numeric>
#include <thread>

#include "tests/protocol/control_fixture.h"

namespace tavrin::test {
namespace {

using DevIoCtrlTest = ControlFixture;

TEST_F(DevIoCtrlTest, CommandsGoOutFramed) {
    Bytes long300(300);
    std::iota(long300.begin(), long300.end(), std::uint8_t{1});
    Bytes cut = {0x10, 0x08, 0xFF, 0};
    for (int i = 0; i < 255; ++i) {
        cut.push_back(long300[static_cast<std::size_t>(i)]);
        cut[3] = static_cast<std::uint8_t>(cut[3] + long300[static_cast<std::size_t>(i)]);
    }
    struct Case {
        const char16_t* name;
        Bytes data;
        Bytes sent;
        const char16_t* line;
    };
    const Case cases[] = {
        {u"CTRL_CMDGET_MODEL", {}, hexBytes("10 01 00 00"), u"#DevIoCtrl : 发 送,命令码(0x1) 长度(4)\r\n"},
        {u"CTRL_CMDSET_USERDAT", hexBytes("01 02 FF"), hexBytes("10 08 03 02 01 02 FF"),
         u"#DevIoCtrl : 发 送,命令码(0x8) 长度(7)\r\n"},
        {u"CTRL_CMDSET_USERDAT", long300, cut, u"#DevIoCtrl : 发 送,命令码(0x8) 长度(259)\r\n"},
        {u"CTRL_DEVCMD_ST", hexBytes("85 AA"), hexBytes("10 85 01 AA AA"), u"#DevIoCtrl : 发 送,命令码(0x85) 长度(5)\r\n"},
        {u"CTRL_CMDGET_FEAT", {}, hexBytes("10 21 00 00"), u"#DevIoCtrl : 发 送,命令码(0x21) 长度(4)\r\n"},
    };
    sim::SimDevice* dev = simDevice();
    const std::int32_t h = openSimulated(dev, 500);
    ASSERT_GE(h, 0);
    for (const Case& c : cases) {
        dev->received().clear();
        const Exchange e = devIoCtrl(h, c.name, c.data);
        EXPECT_EQ(e.result, 1) << hexText(c.sent);
        EXPECT_EQ(packetsOf(*dev), std::vector<std::string>{hexText(c.sent)});
        EXPECT_EQ(hexText(dev->received().bytes()), hexText(c.sent)) << "nothing else goes out";
        EXPECT_TRUE(logHas(c.line)) << hexText(c.sent);
    }
}

TEST_F(DevIoCtrlTest, RepliesWithAndWithoutPayload) {
    sim::DeviceConfig config;
    config.answers[0x09] = {0x06, {}};
    config.answers[0x0F] = {0x00, hexBytes("01 02")};
    sim::SimDevice* dev = simDevice(config);
    const std::int32_t h = openSimulated(dev, 500);
    ASSERT_GE(h, 0);

    const Exchange status = devIoCtrl(h, u"CTRL_CMDGET_DEVSTAT");
    EXPECT_EQ(status.result, 1);
    EXPECT_EQ(status.ack.datLen, 0);
    EXPECT_EQ(status.ack.ackCode, 6);
    EXPECT_EQ(status.buffer, Bytes(64, kUntouchedByte));  // lpBuf untouched
    EXPECT_TRUE(logHas(u"#DevIoCtrl : 返 回, 命令码(0x9),长度(0),应答(0x6)\r\n"));

    const Exchange data = devIoCtrl(h, u"CTRL_CMDGET_STATISINFO");
    EXPECT_EQ(data.result, 1);
    EXPECT_EQ(data.ack.datLen, 2);
    EXPECT_EQ(data.ack.ackCode, 0);
    EXPECT_EQ(hexText(data.data()), "01 02");
    EXPECT_EQ(data.buffer[2], kUntouchedByte);
    EXPECT_TRUE(logHas(u"#DevIoCtrl : 返 回, 命令码(0xf),长度(2),应答(0x0)\r\n"));

    const Exchange model = devIoCtrl(h, u"CTRL_CMDGET_MODEL");
    EXPECT_EQ(model.result, 1);
    EXPECT_EQ(model.text(), "TV-P80");
}

// Faults a device may show that the exchange rides out.
TEST_F(DevIoCtrlTest, FaultsTheExchangeRidesOut) {
    struct Case {
        const char* what;
        sim::FaultPlan faults;
        std::size_t redundantLines;
    };
    auto plan = [](auto set) {
        sim::FaultPlan f;
        set(f);
        return f;
    };
    const Case cases[] = {
        {"noise before the reply", plan([](sim::FaultPlan& f) { f.noise = 5; }), 0},
        {"reply split over two writes", plan([](sim::FaultPlan& f) { f.split = true; }), 0},
        {"corrupted reply, then the valid one", plan([](sim::FaultPlan& f) { f.badChecksum = true; }), 0},
        {"corrupted reply after noise, split", plan([](sim::FaultPlan& f) { f.noise = 3; f.badChecksum = true; f.split = true; }), 0},
        {"slow reply within the retries", plan([](sim::FaultPlan& f) { f.delayMs = 500; }), 0},
        {"replies to another code first", plan([](sim::FaultPlan& f) { f.redundant = 2; }), 2},
        {"header cut after the sync byte", plan([](sim::FaultPlan& f) { f.splitAt = 1; }), 0},
        {"header cut in the middle", plan([](sim::FaultPlan& f) { f.splitAt = 2; }), 0},
        {"header cut before its checksum byte", plan([](sim::FaultPlan& f) { f.splitAt = 3; }), 0},
        {"a reply to another code and the reply in one write",
         plan([](sim::FaultPlan& f) { f.redundant = 1; f.together = true; }), 1},
        {"two replies to another code, noise and a corrupted reply before the reply, in one write",
         plan([](sim::FaultPlan& f) { f.redundant = 2; f.together = true; f.noise = 3; f.badChecksum = true; }), 2},
    };
    for (const Case& c : cases) {
        sim::SimDevice* dev = simDevice();
        ASSERT_NE(dev, nullptr);
        dev->setFaults(c.faults);
        const std::int32_t h = openSimulated(dev, 200);
        ASSERT_GE(h, 0) << c.what;
        theLog().createTextBuffer();
        const Exchange e = devIoCtrl(h, u"CTRL_CMDGET_DEVNO");
        EXPECT_EQ(e.result, 1) << c.what;
        EXPECT_EQ(e.text(), "TV0000000001") << c.what;
        EXPECT_EQ(logCount(u"#DevIoCtrl : 冗 余 的 命 令 包(0x3)！！！\r\n"), c.redundantLines) << c.what;
        EXPECT_FALSE(logHas(u"读 数 据 失 败")) << c.what;
        EXPECT_EQ(dev->received().packets().size(), 1u) << c.what;
        dllFunc_CloseDev(h);
    }
}

TEST_F(DevIoCtrlTest, BufferTooSmallStillReportsTheLength) {
    sim::SimDevice* dev = simDevice();
    ASSERT_NE(dev, nullptr);
    sim::FaultPlan faults;
    faults.longReply = 10;
    dev->setFaults(faults);
    const std::int32_t h = openSimulated(dev, 500);
    ASSERT_GE(h, 0);

    struct Case {
        std::uint16_t bufLen;
        bool withBuffer;
        std::int32_t result;
    };
    for (const Case c : {Case{8, true, 0}, Case{64, false, 0}, Case{10, true, 1}}) {
        theLog().createTextBuffer();
        const Exchange e = devIoCtrl(h, u"CTRL_CMDGET_MODEL", {}, c.bufLen, c.withBuffer);
        EXPECT_EQ(e.result, c.result) << c.bufLen;
        EXPECT_EQ(e.ack.datLen, 10) << c.bufLen;
        EXPECT_EQ(e.ack.ackCode, 0) << c.bufLen;
        EXPECT_EQ(logHas(u"#DevIoCtrl : 失 败, 数 据 缓 冲 太 小\r\n"), c.result == 0) << c.bufLen;
        if (c.result == 0) {
            EXPECT_EQ(e.buffer, Bytes(c.bufLen, kUntouchedByte));
        } else {
            EXPECT_EQ(e.text(), "TV-P80....");
        }
    }
}

TEST_F(DevIoCtrlTest, NoAnswerEndsAfterFourReadTimeoutsAndTheDeviceStaysUsable) {
    sim::SimDevice* dev = simDevice();
    ASSERT_NE(dev, nullptr);
    sim::FaultPlan silent;
    silent.noReply = true;
    dev->setFaults(silent);
    const std::int32_t h = openSimulated(dev, 150);
    ASSERT_GE(h, 0);

    const auto start = Clock::now();
    const Exchange e = devIoCtrl(h, u"CTRL_CMDGET_MODEL");
    const long long took = msSince(start);
    EXPECT_EQ(e.result, 0);
    EXPECT_GE(took, 4 * 150 - 20);
    EXPECT_LT(took, 4 * 150 + 1000);
    EXPECT_EQ(e.ack.datLen, kUntouchedLength);
    EXPECT_EQ(e.ack.ackCode, kUntouchedAck);
    EXPECT_EQ(logCount(u"#DevIoCtrl : 读 数 据 失 败！！！\r\n"), 1u);

    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // more noise comes meanwhile
    dev->setFaults({});
    EXPECT_EQ(devIoCtrl(h, u"CTRL_CMDGET_MODEL").result, 1);  // the busy bit went with the failure
}

TEST_F(DevIoCtrlTest, ADeviceThatOnlyAnswersOtherCodesIsGivenUpAfter64Replies) {
    sim::SimDevice* dev = simDevice();
    ASSERT_NE(dev, nullptr);
    sim::FaultPlan flood;
    flood.redundant = 200;
    flood.pauseMs = 15;
    dev->setFaults(flood);
    const std::int32_t h = openSimulated(dev, 300);
    ASSERT_GE(h, 0);

    const Exchange e = devIoCtrl(h, u"CTRL_CMDGET_PROTVER");
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(logCount(u"#DevIoCtrl : 冗 余 的 命 令 包(0x4)！！！\r\n"), 64u);
    EXPECT_EQ(logCount(u"#DevIoCtrl : 读 数 据 失 败！！！\r\n"), 1u);
}

// A reply that comes after its exchange gave up is discarded before the next command goes out:
// it answers neither the same command sent again nor any other.
TEST_F(DevIoCtrlTest, ALateReplyNeverAnswersALaterCommand) {
    struct Step {
        const char16_t* name;
        std::string answer;  // empty: a status reply
    };
    struct Case {
        const char* what;
        std::uint8_t lateCode;
        const char16_t* lateName;
        std::vector<Step> then;
    };
    const Case cases[] = {
        {"the same command again, then others", 0x01, u"CTRL_CMDGET_MODEL",
         {{u"CTRL_CMDGET_MODEL", "M#2"}, {u"CTRL_CMDGET_DEVNO", "TV0000000001"}, {u"CTRL_CMDGET_PROTVER", "1.00"},
          {u"CTRL_CMD_CONNT", ""}, {u"CTRL_CMD_UNCONNT", ""}}},
        {"other commands, then the same one", 0x03, u"CTRL_CMDGET_PROTVER",
         {{u"CTRL_CMDGET_MODEL", "M#1"}, {u"CTRL_CMDGET_PROTVER", "1.00"}}},
    };
    for (const Case& c : cases) {
        sim::SimDevice* dev = simDevice();
        ASSERT_NE(dev, nullptr);
        // The model's answers are numbered, so that a reply tells which request it answers.
        auto asked = std::make_shared<int>(0);
        dev->model().setHandler(0x01, [asked](const sim::Request&) {
            const std::string t = "M#" + std::to_string(++*asked);
            return sim::Answer{0, Bytes(t.begin(), t.end())};
        });
        sim::FaultPlan late;
        late.setLate(c.lateCode, 1500);  // long after the exchange gave up
        dev->setFaults(late);
        const std::int32_t h = openSimulated(dev, 150);
        ASSERT_GE(h, 0) << c.what;
        theLog().createTextBuffer();

        EXPECT_EQ(devIoCtrl(h, c.lateName).result, 0) << c.what;  // four read time-outs, 600 ms
        ASSERT_TRUE(waitServed(*dev, 1, 5000)) << c.what;     // its reply has gone out since
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        dev->setFaults({});

        for (const Step& step : c.then) {
            const Exchange e = devIoCtrl(h, step.name);
            EXPECT_EQ(e.result, 1) << c.what;
            EXPECT_EQ(e.text(), step.answer) << c.what;
        }
        EXPECT_EQ(logCount(u"#DevIoCtrl : 丢 弃 残 留 数 据("), 1u) << c.what;
        EXPECT_FALSE(logHas(u"冗 余")) << c.what;
        EXPECT_EQ(dev->received().packets().size(), 1 + c.then.size()) << c.what;
        dllFunc_CloseDev(h);
    }
}

// A device that sends noise without end: the exchange gives up after ten read time-outs, and
// once the device is quiet again the next exchange is answered.
TEST_F(DevIoCtrlTest, EndlessNoiseEndsTheExchangeInBoundedTime) {
    sim::SimDevice* dev = simDevice();
    ASSERT_NE(dev, nullptr);
    sim::FaultPlan noisy;
    noisy.noiseForMs = 30000;
    dev->setFaults(noisy);
    constexpr int kReadTimeout = 150;
    const std::int32_t h = openSimulated(dev, kReadTimeout);
    ASSERT_GE(h, 0);

    const auto start = Clock::now();
    const Exchange e = devIoCtrl(h, u"CTRL_CMDGET_MODEL");
    const long long took = msSince(start);
    EXPECT_EQ(e.result, 0);
    EXPECT_GE(took, 10 * kReadTimeout - 20);
    EXPECT_LT(took, 10 * kReadTimeout + 1500);
    EXPECT_EQ(e.ack.datLen, kUntouchedLength);
    EXPECT_EQ(logCount(u"#DevIoCtrl : 读 数 据 失 败！！！\r\n"), 1u);

    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // more noise comes meanwhile
    dev->setFaults({});
    ASSERT_TRUE(waitServed(*dev, 1, 5000));
    const Exchange after = devIoCtrl(h, u"CTRL_CMDGET_MODEL");
    EXPECT_EQ(after.result, 1);
    EXPECT_EQ(after.text(), "TV-P80");
    EXPECT_EQ(logCount(u"#DevIoCtrl : 丢 弃 残 留 数 据("), 1u);  // the noise that came after the failure
}

// Data a command packet cannot carry: refused with the packet line before anything goes out.
TEST_F(DevIoCtrlTest, DataAPacketCannotCarryIsRefusedBeforeAnythingGoesOut) {
    Bytes big(70000, 0x31);
    big[0] = 0x85;
    struct Case {
        const char* what;
        const char16_t* name;
        const std::uint8_t* data;
        std::uint32_t length;
    };
    const Case cases[] = {
        {"a length of 65,536", u"CTRL_CMDGET_MODEL", big.data(), 65536},
        {"a length of 70,000", u"CTRL_CMDSET_USERDAT", big.data(), 70000},
        {"a device command longer than 65,535 with its code byte", u"CTRL_DEVCMD_ST", big.data(), 65536},
        {"a length without data", u"CTRL_CMDSET_USERDAT", nullptr, 3},
        {"a length without data, once the buffer holds a sent packet", u"CTRL_CMDSET_USERDAT", nullptr, 200},
    };
    sim::SimDevice* dev = simDevice();
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = openSimulated(dev, 300);
    ASSERT_GE(h, 0);
    ASSERT_EQ(devIoCtrl(h, u"CTRL_CMDSET_USERDAT", Bytes(250, 0x42)).result, 1);  // the buffer holds bytes now
    ASSERT_TRUE(dev->received().waitForPackets(1, 2000));
    dev->received().clear();
    for (const Case& c : cases) {
        theLog().createTextBuffer();
        _DEVACK_INFO ack{nullptr, 0, kUntouchedLength, kUntouchedAck};
        EXPECT_EQ(dllFunc_DevIoCtrl(h, toExport(c.name), c.data, c.length, &ack), 0) << c.what;
        EXPECT_EQ(ack.datLen, kUntouchedLength) << c.what;
        EXPECT_EQ(ack.ackCode, kUntouchedAck) << c.what;
        EXPECT_EQ(logCount(u"#DevIoCtrl : 生 成 命 令 包 失 败！！！\r\n"), 1u) << c.what;
        EXPECT_FALSE(logHas(u"发 送")) << c.what;
    }
    // The largest length there is still goes out, cut to 255 bytes.
    EXPECT_EQ(devIoCtrl(h, u"CTRL_CMDSET_USERDAT", Bytes(65535, 0x01)).result, 1);
    ASSERT_TRUE(dev->received().waitForPackets(1, 2000));
    const auto packets = dev->received().packets();
    ASSERT_EQ(packets.size(), 1u);  // nothing of the refused ones
    EXPECT_EQ(packets[0].size(), 259u);
    EXPECT_EQ(hexText(Bytes(packets[0].begin(), packets[0].begin() + 4)), "10 08 FF FF");
}

TEST_F(DevIoCtrlTest, RawPassThrough) {
    struct Case {
        const char* what;
        Bytes data;
        bool withBuffer;
        std::int32_t result;
        std::uint16_t datLen;  // kUntouchedLength: no read succeeded
        std::string answer;
        bool quick;            // returned without waiting for a read
    };
    const Case cases[] = {
        {"data, no answer buffer: written unframed, no read", hexBytes("1B 40 0A"), false, 1, kUntouchedLength, "", true},
        {"a framed query as raw data: the raw reply comes back", hexBytes("10 02 00 00"), true, 1, 16,
         "10 02 0C 8B 54 56 30 30 30 30 30 30 30 30 30 31", false},
        {"data, answer buffer, nothing comes back", hexBytes("1B 40"), true, 1, kUntouchedLength, "", false},
        {"nothing to write, nothing comes back", {}, true, 0, kUntouchedLength, "", false},
        {"nothing at all", {}, false, 0, kUntouchedLength, "", true},
    };
    for (const Case& c : cases) {
        sim::SimDevice* dev = simDevice();
        ASSERT_NE(dev, nullptr);
        const std::int32_t h = openSimulated(dev, 600);
        ASSERT_GE(h, 0);
        const auto start = Clock::now();
        const Exchange e = devIoCtrl(h, u"TAVR_DUMP", c.data, 64, c.withBuffer);
        const long long took = msSince(start);
        EXPECT_EQ(e.result, c.result) << c.what;
        EXPECT_EQ(e.ack.ackCode, 0) << c.what;
        EXPECT_EQ(e.ack.datLen, c.datLen) << c.what;
        if (c.datLen != kUntouchedLength) {
            EXPECT_EQ(hexText(e.data()), c.answer) << c.what;
        }
        if (c.quick) {
            EXPECT_LT(took, 300) << c.what;
        } else if (c.datLen == kUntouchedLength) {
            EXPECT_GE(took, 550) << c.what;  // the one read waited its time-out
        }
        dev->received().waitForBytes(c.data.size(), 1000);
        EXPECT_EQ(hexText(dev->received().bytes()), hexText(c.data)) << c.what;
        dllFunc_CloseDev(h);
    }
    EXPECT_FALSE(logHas(u"发 送"));  // nothing was framed
}

TEST_F(DevIoCtrlTest, ConnectStatusIsTheDevicesAcknowledge) {
    sim::DeviceConfig config;
    config.connectStatus = 5;
    sim::SimDevice* dev = simDevice(config);
    const std::int32_t h = openSimulated(dev, 500);
    ASSERT_GE(h, 0);
    const Exchange connect = devIoCtrl(h, u"CTRL_CMD_CONNT", hexBytes("31 32 33"));
    EXPECT_EQ(connect.result, 1);
    EXPECT_EQ(connect.ack.ackCode, 5);
    EXPECT_EQ(connect.ack.datLen, 0);
    const Exchange unknown = devIoCtrl(h, u"CTRL_DEVCMD_ST", hexBytes("9F"));
    EXPECT_EQ(unknown.result, 1);
    EXPECT_EQ(unknown.ack.ackCode, 0);
    EXPECT_EQ(packetsOf(*dev), (std::vector<std::string>{"10 04 03 96 31 32 33", "10 9F 00 00"}));
}

TEST_F(DevIoCtrlTest, ADeviceClosedAndOpenedAgainIsServedAgain) {
    sim::SimDevice* dev = simDevice();
    ASSERT_NE(dev, nullptr);
    for (int round = 0; round < 3; ++round) {
        // The simulator gets ready for the next open once it has seen the close.
        std::int32_t h = -1;
        for (const auto start = Clock::now(); h < 0 && msSince(start) < 3000;) {
            h = openSimulated(dev, 300);
            if (h < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_GE(h, 0) << "round " << round;
        const Exchange e = devIoCtrl(h, u"CTRL_CMDGET_MODEL");
        EXPECT_EQ(e.result, 1) << "round " << round;
        EXPECT_EQ(e.text(), "TV-P80") << "round " << round;
        EXPECT_EQ(dllFunc_CloseDev(h), 1);
    }
    EXPECT_EQ(dev->received().packets().size(), 3u);
}


}  // namespace
}  // namespace tavrin::test
