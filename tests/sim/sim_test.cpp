// The simulator on its own: what goes out for each fault, what the model answers, how requests
// are reassembled, and the command line of tavrin-sim.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "sim/command_service.h"
#include "sim/config_side.h"
#include "sim/control.h"
#include "sim/device_model.h"
#include "sim/hid_channel.h"
#include "sim/options.h"
#include "tests/support/hex_bytes.h"
#include "tests/support/library_under_test.h"

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
        {"cut inside the header", plan([](FaultPlan& f) { f.splitAt = 2; }), status, {"10 01", "00 06"}},
        {"cut in the payload", plan([](FaultPlan& f) { f.splitAt = 5; }), data, {"10 01 03 C6 41", "42 43"}},
        {"a cut beyond the reply is none", plan([](FaultPlan& f) { f.splitAt = 4; }), status, {"10 01 00 06"}},
        {"cut after the noise, inside the reply", plan([](FaultPlan& f) { f.noise = 2; f.splitAt = 1; }), status,
         {"FF 00 10", "01 00 06"}},
        {"redundant replies in the same write as the reply",
         plan([](FaultPlan& f) { f.redundant = 2; f.together = true; }), status, {"10 02 00 00 10 02 00 00 10 01 00 06"}},
    };
    for (const Case& c : cases) EXPECT_EQ(hexWrites(CommandService::replyWrites(0x01, c.answer, c.faults)), c.writes) << c.what;
}

// A byte stream in memory: what the library would send is queued, what the device writes is
// kept with the time it went out.
class MemoryChannel final : public ByteChannel {
public:
    std::u16string path() const override { return u"memory"; }
    long read(void* buffer, std::size_t length, int timeoutMs) override {
        std::unique_lock<std::mutex> guard(lock_);
        if (!changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return !incoming_.empty(); })) return 0;
        const std::size_t n = std::min(length, incoming_.size());
        std::copy(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(n), static_cast<std::uint8_t*>(buffer));
        incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<long>(n);
    }
    bool write(const void* data, std::size_t length) override {
        std::lock_guard<std::mutex> guard(lock_);
        const auto* b = static_cast<const std::uint8_t*>(data);
        writes_.push_back({std::chrono::steady_clock::now(), Bytes(b, b + length)});
        changed_.notify_all();
        return true;
    }
    void send(const Bytes& bytes) {
        std::lock_guard<std::mutex> guard(lock_);
        incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
        changed_.notify_all();
    }
    struct Write {
        std::chrono::steady_clock::time_point at;
        Bytes bytes;
    };
    std::vector<Write> writes() {
        std::lock_guard<std::mutex> guard(lock_);
        return writes_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    Bytes incoming_;
    std::vector<Write> writes_;
};

long long msBetween(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A late reply holds the device: the next request is answered only after it, and served()
// tells when each reply has gone out.
TEST(SimHidReports, EachReportSaysItsPayloadAndTheyJoinToTheData) {
    const struct {
        std::uint8_t id;
        std::uint16_t length;
        std::size_t bytes;
        std::vector<std::size_t> payloads;
    } cases[] = {
        {0xA6, 65, 200, {61, 61, 61, 17}},
        {0xA5, 65, 200, {63, 63, 63, 11}},
        {0xA6, 265, 300, {261, 39}},
        // The short header's length byte says at most 255, whatever room the report has.
        {0xA5, 265, 300, {255, 45}},
        {0xA5, 258, 256, {255, 1}},
        {0xA5, 65, 0, {0}},
    };
    for (const auto& c : cases) {
        Bytes data(c.bytes);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
        const std::vector<Bytes> reports = hidReports(HidLayout{c.id, c.length, c.length}, c.length, data);
        std::vector<std::size_t> payloads;
        Bytes joined;
        for (const Bytes& r : reports) {
            ASSERT_EQ(r.size(), c.length);
            Bytes payload;
            ASSERT_TRUE(hidPayload(r.data(), r.size(), payload));
            payloads.push_back(payload.size());
            joined.insert(joined.end(), payload.begin(), payload.end());
        }
        EXPECT_EQ(payloads, c.payloads) << int(c.id) << " " << c.length;
        EXPECT_EQ(joined, data);
    }
}

TEST(SimCommandService, LateRepliesAndEndlessNoise) {
    FaultPlan faults;
    faults.setLate(0x02, 300);
    DeviceConfig config;
    config.faults = faults;
    DeviceModel model(config);
    Recorder recorder;
    MemoryChannel channel;
    CommandService service(channel, model, recorder);
    service.start();

    const auto sent = std::chrono::steady_clock::now();
    channel.send(hexBytes("10 02 00 00 10 03 00 00"));
    ASSERT_TRUE(waitFor([&] { return service.served() == 2; }, 5000));
    auto writes = channel.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(hexText(writes[0].bytes), hexText(framePacket(0x02, Bytes{'T', 'V', '0', '0', '0', '0', '0', '0', '0', '0', '0', '1'}, 0)));
    EXPECT_GE(msBetween(sent, writes[0].at), 290);
    EXPECT_EQ(hexText(writes[1].bytes), hexText(framePacket(0x03, Bytes{'1', '.', '0', '0'}, 0)));

    // Noise instead of replies, until the fault is switched off; then the device answers again.
    FaultPlan noisy;
    noisy.noiseForMs = 60000;
    model.setFaults(noisy);
    channel.send(hexBytes("10 01 00 00"));
    ASSERT_TRUE(waitFor([&] { return channel.writes().size() > 12; }, 5000));
    model.setFaults({});
    ASSERT_TRUE(waitFor([&] { return service.served() == 3; }, 5000));
    channel.send(hexBytes("10 05 00 00"));
    ASSERT_TRUE(waitFor([&] { return service.served() == 4; }, 5000));
    writes = channel.writes();
    for (std::size_t i = 2; i + 1 < writes.size(); ++i)
        EXPECT_EQ(std::count(writes[i].bytes.begin(), writes[i].bytes.end(), kSync), 0) << "noise write " << i;
    EXPECT_EQ(hexText(writes.back().bytes), "10 05 00 00");
    service.stop();
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

    const Options faults = parseOptions({"--split-at", "2", "--together", "--late", "0x87:900", "--late", "1:50",
                                         "--noise-for", "15000"});
    ASSERT_TRUE(faults.error.empty()) << faults.error;
    EXPECT_EQ(faults.devices[0].faults.splitAt, 2);
    EXPECT_TRUE(faults.devices[0].faults.together);
    EXPECT_EQ(faults.devices[0].faults.late.size(), 2u);
    EXPECT_EQ(faults.devices[0].faults.lateMs(0x87), 900u);
    EXPECT_EQ(faults.devices[0].faults.lateMs(0x01), 50u);
    EXPECT_EQ(faults.devices[0].faults.lateMs(0x02), 0u);
    EXPECT_EQ(faults.devices[0].faults.noiseForMs, 15000u);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--late", "0x87"}, {"--late", "300:5"}, {"--late", "1:0"}, {"--split-at", "259"},
             {"--noise"}, {"--noise", "x"}, {"--long-reply", "256"}, {"--answer", "300=status:1"},
             {"--answer", "1=hex:123"}, {"--answer", "1=what:1"}, {"--frobnicate"}}) {
        EXPECT_FALSE(parseOptions(bad).error.empty()) << bad[0];
    }
    EXPECT_TRUE(parseOptions({"--help"}).help);
    EXPECT_NE(std::string(usageText()).find("--bad-checksum"), std::string::npos);
}

// The configuration side as the library's transfers meet it.
TEST(SimConfigSide, DescriptionPacketAndWrites) {
    ConfigSideOptions options;
    options.enabled = true;
    options.description = {'<', 'R', '/', '>', ' ', ' ', ' ', ' ', ' ', '\n'};
    options.packet = hexBytes("01 02 00 04 01 84 77 88 12 35 5A 00");
    options.piece = 4;
    DeviceConfig config;
    config.configSide = options;
    DeviceModel model(config);
    auto side = std::make_shared<ConfigSide>(options);
    side->install(model);
    auto ask = [&](std::uint8_t code, Bytes payload = {}) {
        Request r;
        r.code = code;
        r.payload = std::move(payload);
        const Answer a = model.answer(r);
        return std::to_string(a.status) + ":" + hexText(a.payload);
    };
    // 10 bytes: the check value is stepped over 10 bits ("<" and the top two bits of "R").
    const std::uint16_t crc = ConfigSide::crc16OverBits(options.description, 10);
    EXPECT_EQ(ConfigSide::crc16OverBits({'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 72), 0x29B1);
    EXPECT_EQ(ask(0x1A), "0:" + hexText(ConfigSide::descriptionHeader(10, crc)));
    EXPECT_EQ(hexText(ConfigSide::descriptionHeader(0x0400, 0x1234)), "78 6D 6C 43 66 67 44 6F 63 30 31 00 00 04 34 12");
    EXPECT_EQ(ask(0x1A, hexBytes("00 08")), "0:20 0A");
    EXPECT_EQ(ask(0x1A, hexBytes("00 0A")), "0:");
    EXPECT_EQ(ask(0x17, hexBytes("00 00")), "0:01 02 00 04");
    EXPECT_EQ(ask(0x17, hexBytes("00 08")), "0:12 35 5A 00");
    EXPECT_EQ(ask(0x17, hexBytes("00 0C")), "0:");

    // A write is stored when its end marker comes.
    EXPECT_EQ(ask(0x18, hexBytes("00 00 01 02 00 04")), "0:");
    EXPECT_EQ(ask(0x18, hexBytes("00 04 01 85 77 88 13 35 5A 00")), "0:");
    EXPECT_EQ(hexText(side->storedPacket()), "01 02 00 04 01 84 77 88 12 35 5A 00");
    EXPECT_EQ(ask(0x18, hexBytes("FF FF")), "0:");
    EXPECT_EQ(hexText(side->storedPacket()), "01 02 00 04 01 85 77 88 13 35 5A 00");
    EXPECT_EQ(side->writes().size(), 3u);

    // Faults: a device that takes part of each chunk and refuses the second; a document that
    // announces more than it has, with a check value off by one.
    options.takeAtMost = 3;
    options.refuseChunk = 2;
    options.shortDocument = true;
    options.badCrc = true;
    side->setOptions(options);
    EXPECT_EQ(ask(0x18, hexBytes("00 00 AA BB CC DD")), "0:00 03");
    EXPECT_EQ(ask(0x18, hexBytes("00 03 DD")), "1:");
    EXPECT_EQ(ask(0x18, hexBytes("00 03 DD")), "0:00 01");
    EXPECT_EQ(ask(0x18, hexBytes("FF FF")), "0:");
    EXPECT_EQ(hexText(side->storedPacket()), "AA BB CC DD");
    const std::uint16_t announced = ConfigSide::crc16OverBits(options.description, 26) ^ 1;
    EXPECT_EQ(ask(0x1A), "0:" + hexText(ConfigSide::descriptionHeader(26, announced)));
    options.countAnswer = true;
    options.takeAtMost = 0;
    options.refuseChunk = 0;
    side->setOptions(options);
    EXPECT_EQ(ask(0x18, hexBytes("00 00 01 02")), "0:00 02");
}

TEST(SimOptions, ConfigurationSwitches) {
    const auto folder = test::makeTempFolder("simcfg");
    std::ofstream(folder / "d.xml", std::ios::binary) << "<TavrCfg/>";
    const Options o = parseOptions({"--config-xml", (folder / "d.xml").string(), "--config-packet", "01 02 03",
                                    "--config-piece", "16", "--config-count", "--config-take", "100",
                                    "--config-refuse", "2", "--config-short", "--config-bad-crc"});
    ASSERT_TRUE(o.error.empty()) << o.error;
    const ConfigSideOptions& c = o.devices.at(0).configSide;
    EXPECT_TRUE(c.enabled);
    EXPECT_EQ(std::string(c.description.begin(), c.description.end()), "<TavrCfg/>");
    EXPECT_EQ(hexText(c.packet), "01 02 03");
    EXPECT_EQ(c.piece, 16);
    EXPECT_TRUE(c.countAnswer);
    EXPECT_EQ(c.takeAtMost, 100);
    EXPECT_EQ(c.refuseChunk, 2);
    EXPECT_TRUE(c.shortDocument && c.badCrc);
    EXPECT_FALSE(parseOptions({}).devices.at(0).configSide.enabled);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--config-xml", (folder / "missing.xml").string()}, {"--config-packet", "0g"}, {"--config-piece", "0"},
             {"--config-piece", "256"}, {"--config-take"}}) {
        EXPECT_FALSE(parseOptions(bad).error.empty()) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tavrin::sim

namespace tavrin::sim {
namespace {

TEST(SimControl, CommandsChangeTheRunningDevice) {
    Simulator simulator;
    SimDevice* standIn = simulator.addDevice({}, "control");
    ASSERT_NE(standIn, nullptr);
    const struct {
        std::string line;
        bool ok;
        std::string reply;  // its beginning
    } cases[] = {
        {"status 0 paper-out cover-open", true, "ok device 0 status 5"},
        {"status 0 0x20", true, "ok device 0 status 32"},
        {"status 0 ready", true, "ok device 0 status 0"},
        {"status 0 papr-out", false, "error: unknown status word papr-out"},
        {"answer 0 0x09=hex:4142", true, "ok"},
        {"answer 0 0x09=bogus:1", false, "error: bad answer"},
        {"fault 0 delay 250", true, "ok fault delay 250"},
        {"fault 0 split on", true, "ok fault split on"},
        {"fault 0 split maybe", false, "error: fault split takes on or off"},
        {"fault 0 wobble 3", false, "error: no fault wobble"},
        {"silent 0 on", true, "ok device 0 silent on"},
        {"rate 0 1200", true, "ok device 0 takes 1200 bytes per second"},
        {"drop 0", false, "error: device 0 is a stand-in device"},
        {"status 1 ready", false, "error: no device 1"},
        {"status", false, "error: status needs a device index"},
        {"frobnicate 0", false, "error: unknown control command frobnicate"},
        {"summary", true, "device 0 received 0 command packets and 0 bytes of raw data\n"},
        {"", true, ""},
    };
    for (const auto& c : cases) {
        const ControlReply r = runControl(simulator, c.line);
        EXPECT_EQ(r.ok, c.ok) << c.line;
        EXPECT_EQ(r.text.substr(0, c.reply.size()), c.reply) << c.line;
    }
    // What the commands left behind in the model.
    const DeviceConfig config = standIn->model().config();
    EXPECT_EQ(config.deviceStatus, 0);
    EXPECT_EQ(config.dataRate, 1200u);
    EXPECT_EQ(config.faults.delayMs, 250u);
    EXPECT_TRUE(config.faults.split);
    EXPECT_TRUE(config.faults.noReply);
    ASSERT_EQ(config.answers.count(0x09), 1u);
    EXPECT_EQ(config.answers.at(0x09).payload, (Bytes{0x41, 0x42}));
    EXPECT_TRUE(runControl(simulator, "answer 0 9=off").ok);
    EXPECT_EQ(standIn->model().config().answers.count(0x09), 0u);
}

TEST(SimControl, NetworkDevicesDropAndRefuse) {
    Simulator simulator;
    SimDevice* net = simulator.addNetDevice({}, {{127, 0, 0, 1}, 0});
    ASSERT_NE(net, nullptr);
    EXPECT_TRUE(runControl(simulator, "drop 0").ok);
    EXPECT_TRUE(runControl(simulator, "refuse 0 200").ok);
    EXPECT_FALSE(runControl(simulator, "refuse 0 0").ok);
}

TEST(SimOptions, FirmwareSwitches) {
    const Options o = parseOptions({"--boot-mode", "--restart-wait", "8", "--restart-away", "300", "--work-mode-status",
                                    "2", "--fw-busy", "3", "--fw-busy-wait", "0x10", "--fw-piece-delay", "40",
                                    "--save-firmware", "image.bin", "--device", "--fw-fault", "vanish:5", "--device",
                                    "--fw-fault", "no-answer", "--device", "--fw-fault", "busy-forever"});
    ASSERT_TRUE(o.error.empty()) << o.error;
    ASSERT_EQ(o.devices.size(), 3u);
    const FirmwareConfig& fw = o.devices[0].firmware;  // the defaults of every device
    EXPECT_TRUE(fw.inBootMode);
    EXPECT_EQ(fw.restartWait, 8);
    EXPECT_EQ(fw.awayMs, 300u);
    EXPECT_EQ(fw.workModeStatus, 2);
    EXPECT_EQ(fw.busyAnswers, 3);
    EXPECT_EQ(fw.busyWait, 16);
    EXPECT_EQ(fw.pieceDelayMs, 40u);
    EXPECT_EQ(fw.saveImageTo, "image.bin");
    const struct {
        std::int32_t vanishAfter, silentPiece;
        bool busyForever;
    } faults[] = {{5, -1, false}, {-1, 1, false}, {-1, -1, true}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(o.devices[i].firmware.vanishAfter, faults[i].vanishAfter) << i;
        EXPECT_EQ(o.devices[i].firmware.silentPiece, faults[i].silentPiece) << i;
        EXPECT_EQ(o.devices[i].firmware.busyForever, faults[i].busyForever) << i;
    }
    EXPECT_FALSE(parseOptions({}).devices.at(0).firmware.inBootMode);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--fw-fault", "vanish:x"}, {"--fw-fault", "busy-forever:2"}, {"--fw-fault", "crash"},
             {"--fw-fault", "no-answer:-1"}, {"--restart-wait", "65536"}, {"--work-mode-status", "256"},
             {"--save-firmware", ""}, {"--save-firmware"}, {"--fw-busy"}}) {
        EXPECT_FALSE(parseOptions(bad).error.empty()) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
    }
    EXPECT_NE(std::string(usageText()).find("--fw-fault"), std::string::npos);
}

TEST(SimOptions, SaveDataAndDataRate) {
    const Options o = parseOptions({"--save-data", "out", "--device", "--data-rate", "9600"});
    ASSERT_EQ(o.error, "");
    EXPECT_EQ(o.saveData, "out");
    ASSERT_EQ(o.devices.size(), 1u);
    EXPECT_EQ(o.devices[0].dataRate, 9600u);
    EXPECT_NE(parseOptions({"--save-data"}).error, "");
    EXPECT_NE(parseOptions({"--data-rate", "fast"}).error, "");
}

TEST(SimSaveData, EachDeviceGetsItsFile) {
    Simulator simulator;
    ASSERT_NE(simulator.addDevice({}, "save"), nullptr);
    std::filesystem::path failed;
    // A folder that cannot be made (a file is in the way) is reported with the file that failed.
    const auto blocker = std::filesystem::temp_directory_path() / "tavrin-sim-save-blocker";
    { std::ofstream(blocker) << "x"; }
    EXPECT_FALSE(simulator.saveDataIn(blocker / "sub", failed));
    EXPECT_EQ(failed.filename(), "device-0.prn");
    std::filesystem::remove(blocker);
}

}  // namespace
}  // namespace tavrin::sim
