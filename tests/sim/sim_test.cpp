// The simulator on its own: what goes out for each fault, what the model answers, how requests
// are reassembled, and the command line of tavrin-sim.
#include <gtest/gtest.h>

#include "sim/command_service.h"
#include "sim/device_model.h"
#include "sim/options.h"
#include "tests/support/hex_bytes.h"

namespace tavrin::sim {
namespace {

using test::hexBytes;
using test::hexText;

std::vector<std::string> hexWrites(const std::vector<Bytes>& writes) {
    std::vector<std::string> out;
    for (const Bytes& w : writes) out.push_back(hexText(w));
    return out;
}

TEST(SimReplyWrites, EachFaultShapesTheWrites) {
    const Answer data{0, hexBytes("41 42 43")};  // "ABC", checksum C6
    const Answer status{6, {}};
    struct Case {
        const char* what;
        FaultPlan faults;
        Answer answer;
        std::vector<std::string> writes;
    };
    auto plan = [](auto set) {
        FaultPlan f;
        set(f);
        return f;
    };
    const Case cases[] = {
        {"none", {}, data, {"10 01 03 C6 41 42 43"}},
        {"status only", {}, status, {"10 01 00 06"}},
        {"noise", plan([](FaultPlan& f) { f.noise = 3; }), data, {"FF 00 55 10 01 03 C6 41 42 43"}},
        {"split after the header and half the payload", plan([](FaultPlan& f) { f.split = true; }), data,
         {"10 01 03 C6 41", "42 43"}},
        {"a reply without payload is not split", plan([](FaultPlan& f) { f.split = true; }), status, {"10 01 00 06"}},
        {"bad checksum, then intact", plan([](FaultPlan& f) { f.badChecksum = true; }), data,
         {"10 01 03 C7 41 42 43 10 01 03 C6 41 42 43"}},
        {"redundant replies, each on its own", plan([](FaultPlan& f) { f.redundant = 2; }), status,
         {"10 02 00 00", "10 02 00 00", "10 01 00 06"}},
        {"long reply filled up", plan([](FaultPlan& f) { f.longReply = 5; }), data, {"10 01 05 22 41 42 43 2E 2E"}},
        {"long reply cuts", plan([](FaultPlan& f) { f.longReply = 2; }), data, {"10 01 02 83 41 42"}},
    };
    for (const Case& c : cases) EXPECT_EQ(hexWrites(CommandService::replyWrites(0x01, c.answer, c.faults)), c.writes) << c.what;
}

TEST(SimDeviceModel, AnswersFromItsConfiguration) {
    DeviceConfig config;
    config.model = "M1";
    config.connectStatus = 5;
    config.answers[0x0F] = {0, hexBytes("0A 0B")};
    config.answers[0x01] = {3, {}};  // fixed answers win over the built-in ones
    DeviceModel model(config);
    auto ask = [&](std::uint8_t code, Bytes payload = {}) {
        Request r;
        r.code = code;
        r.payload = std::move(payload);
        const Answer a = model.answer(r);
        return std::to_string(a.status) + ":" + hexText(a.payload);
    };
    EXPECT_EQ(ask(0x01), "3:");
    EXPECT_EQ(ask(0x02), "0:" + hexText(Bytes{'T', 'V', '0', '0', '0', '0', '0', '0', '0', '0', '0', '1'}));
    EXPECT_EQ(ask(0x03), "0:31 2E 30 30");
    EXPECT_EQ(ask(0x04, hexBytes("31 32")), "5:");
    EXPECT_EQ(ask(0x0F), "0:0A 0B");
    EXPECT_EQ(ask(0x77), "0:");
    EXPECT_EQ(ask(0x07), "0:");
    EXPECT_EQ(ask(0x08, hexBytes("01 02")), "0:");
    EXPECT_EQ(ask(0x07), "0:01 02");
    model.setHandler(0x77, [](const Request& r) { return Answer{0, r.payload}; });
    EXPECT_EQ(ask(0x77, hexBytes("99")), "0:99");
}

TEST(SimRequestReader, SkipsNoiseAndJoinsPieces) {
    RequestReader reader;
    std::vector<Request> got;
    const Bytes a = hexBytes("FF 10 08 02 03 01"), b = hexBytes("02 10 01 00 00 10 01");
    reader.feed(a.data(), a.size(), got);
    EXPECT_TRUE(got.empty());
    reader.feed(b.data(), b.size(), got);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(hexText(got[0].raw), "10 08 02 03 01 02");
    EXPECT_TRUE(got[0].checksumOk);
    EXPECT_EQ(hexText(got[1].raw), "10 01 00 00");
    EXPECT_TRUE(reader.midPacket());
}

TEST(SimOptions, CommandLines) {
    const Options one = parseOptions({"--model", "X9", "--noise", "0x4", "--split", "--answer", "9=hex:01 02",
                                      "--data-answer", "4f4b", "--data-close"});
    ASSERT_TRUE(one.error.empty()) << one.error;
    ASSERT_EQ(one.devices.size(), 1u);
    EXPECT_EQ(one.devices[0].model, "X9");
    EXPECT_EQ(one.devices[0].faults.noise, 4);
    EXPECT_TRUE(one.devices[0].faults.split);
    EXPECT_EQ(hexText(one.devices[0].answers.at(9).payload), "01 02");
    EXPECT_EQ(hexText(one.devices[0].dataAnswer), "4F 4B");
    EXPECT_TRUE(one.devices[0].dataClose);

    // Options before the first --device are every device's defaults.
    const Options two = parseOptions({"--delay", "50", "--device", "--no-reply", "--device", "--connect-status", "5",
                                      "--answer", "0x0F=status:7", "--answer", "0x15=text:v2"});
    ASSERT_TRUE(two.error.empty()) << two.error;
    ASSERT_EQ(two.devices.size(), 2u);
    EXPECT_TRUE(two.devices[0].faults.noReply);
    EXPECT_FALSE(two.devices[1].faults.noReply);
    EXPECT_EQ(two.devices[1].faults.delayMs, 50u);
    EXPECT_EQ(two.devices[1].connectStatus, 5);
    EXPECT_EQ(two.devices[1].answers.at(0x0F).status, 7);
    EXPECT_EQ(hexText(two.devices[1].answers.at(0x15).payload), "76 32");

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--noise"}, {"--noise", "x"}, {"--long-reply", "256"}, {"--answer", "300=status:1"},
             {"--answer", "1=hex:123"}, {"--answer", "1=what:1"}, {"--frobnicate"}}) {
        EXPECT_FALSE(parseOptions(bad).error.empty()) << bad[0];
    }
    EXPECT_TRUE(parseOptions({"--help"}).help);
    EXPECT_NE(std::string(usageText()).find("--bad-checksum"), std::string::npos);
}

}  // namespace
}  // namespace tavrin::sim
