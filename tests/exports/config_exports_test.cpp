// Device configuration through the exports: a network device played by the simulator hands out
// its description and packet and takes writes; offline, the description and the packet come from
// files in the user data folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "sim/simulator.h"
#include "tests/support/config_packet.h"
#include "tests/support/device_fixture.h"
#include "tests/support/hex_bytes.h"

namespace tavrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The worked example: A number 8 bits, B selection 4 bits, C number 4 bits, D text 16 bits.
const char kWorkedItems[] = R"(
    <CfgItem Name="A" Bits="8" Type="1" MaxVal="255" MinVal="0"/>
    <CfgItem Name="B" Bits="4" Type="3" Datas="a;b;c;d"/>
    <CfgItem Name="C" Bits="4" Type="1" MaxVal="15" MinVal="0"/>
    <CfgItem Name="D" Bits="16" Type="2"/>
)";

std::string description(const std::string& items, const std::string& info = "DEVID=\"1\" CFGID=\"2\" CFGLen=\"4\" CFGVer=\"1\" Counts=\"8\"") {
    return "<TavrCfg VTAG=\"100\"><CfgInfo " + info + ">" + items + "</CfgInfo></TavrCfg>\n";
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::u16string u16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class ConfigExportsTest : public DeviceFixture {
protected:
    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        sim_.stop();
        DeviceFixture::TearDown();
    }

    sim::SimDevice* simulated(sim::ConfigSideOptions side) {
        sim::DeviceConfig config;
        side.enabled = true;
        config.configSide = std::move(side);
        sim::SimDevice* dev = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
        EXPECT_NE(dev, nullptr);
        return dev;
    }
    // Opens the device and waits until its control channel takes commands.
    std::int32_t open(sim::SimDevice& dev) {
        paths_.push_back(exportText(dev.networkPath()));
        const _DEVOPEN_INFO info = openRecord(paths_.back().c_str(), PORT_NET_DATA, MODE_DATA | MODE_CTRL, 500, 500);
        const std::int32_t h = lib_->OpenDev(&info);
        EXPECT_GE(h, 0);
        awaitControl(h, u"CTRL_CMDGET_MODEL");
        dev.received().clear();
        return h;
    }

    // One case of a failing read: the worked items' device with its packet, opened, its description
    // loaded, and the log from then on in a file of the case's own.
    struct ReadCase {
        sim::SimDevice* dev = nullptr;
        std::int32_t h = -1;
        std::filesystem::path log;
    };
    void startReadCase(const Bytes& packet, const char* what, ReadCase& rc) {
        sim::ConfigSideOptions side;
        side.description = bytesOf(description(kWorkedItems));
        side.packet = packet;
        rc.dev = simulated(side);
        ASSERT_NE(rc.dev, nullptr);
        rc.h = open(*rc.dev);
        ASSERT_EQ(lib_->LoadDevCfg(rc.h, nullptr), 1) << what;
        lib_->CloseLog();
        rc.log = makeTempFolder("caselog") / "case.log";
        ASSERT_EQ(lib_->OpenLog(exportText(rc.log).c_str()), 1);
    }
    // Closes the case's log and returns what reached its file.
    std::string readCaseLog(const ReadCase& rc) {
        lib_->CloseLog();
        return readFileBytes(rc.log);
    }
    void endReadCase(const ReadCase& rc) {
        lib_->CloseDev(rc.h);
        std::filesystem::remove_all(rc.log.parent_path());
    }

    // The description line of an item, or "(0)" with the size given back.
    std::string line(std::int32_t h, std::uint16_t index, bool refresh, std::uint16_t capacity = 1024) {
        std::vector<tavrin_wchar_t> buffer(capacity + 1u, 0);
        std::uint16_t size = capacity;
        if (!lib_->GetDevCfgInfo(h, &index, buffer.data(), &size, 0, refresh ? 0 : 1))
            return "(0) " + std::to_string(size);
        return std::string(buffer.begin(), buffer.begin() + size);
    }
    std::u16string value(std::int32_t h, const char16_t* name) {
        const auto n = exportText(std::u16string(name));
        tavrin_wchar_t buffer[1100] = {};
        std::uint16_t size = 1100;
        if (!lib_->GetDevCfgInfo(h, n.c_str(), buffer, &size, 1, 1)) return u"(0)";
        return std::u16string(buffer, buffer + size);
    }
    std::int32_t set(std::int32_t h, const char16_t* name, const char16_t* value, bool write) {
        const auto n = exportText(std::u16string(name));
        const auto v = exportText(std::u16string(value));
        return lib_->SetDevCfgInfo(h, n.c_str(), v.c_str(), 0, write ? 1 : 0);
    }
    // The payloads of the packets with this code the device received, in hex.
    static std::vector<std::string> sent(sim::SimDevice& dev, std::uint8_t code, std::size_t prefix = 2) {
        std::vector<std::string> out;
        for (const Bytes& p : dev.received().packets()) {
            if (p.size() < 4 || p[1] != code) continue;
            const std::size_t n = std::min(prefix, p.size() - 4);
            out.push_back(hexText(Bytes(p.begin() + 4, p.begin() + 4 + static_cast<std::ptrdiff_t>(n))));
        }
        return out;
    }

    sim::Simulator sim_;
    std::vector<std::basic_string<tavrin_wchar_t>> paths_;
};

TEST_F(ConfigExportsTest, TheDeviceDescriptionAndPacket) {
    // A 1,024-byte document (header length 00 04) with a remark in the ANSI code page before the root.
    std::string doc = "<?xml version=\"1.0\"?>\n<!-- " + ansi(u"配 置 说 明") + " -->\n" + description(kWorkedItems);
    doc.resize(1024, ' ');
    sim::ConfigSideOptions side;
    side.description = bytesOf(doc);
    side.packet = hexBytes("01 02 00 04 01 84 77 88 12 35 5A 00");
    sim::SimDevice* dev = simulated(side);
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = open(*dev);

    ASSERT_EQ(lib_->LoadDevCfg(h, nullptr), 1);
    EXPECT_EQ(sent(*dev, 0x1A), (std::vector<std::string>{"", "00 00", "00 C8", "01 90", "02 58", "03 20", "03 E8"}));
    EXPECT_TRUE(sent(*dev, 0x17).empty()) << "loading does not read the packet";

    EXPECT_EQ(line(h, 0, true), "Name=A,Type=1,MaxVal=255,MinVal=0,Tag=0\r\n");
    EXPECT_EQ(sent(*dev, 0x17), (std::vector<std::string>{"00 00", "00 0C"}));
    EXPECT_EQ(line(h, 1, false), "Name=B,Type=3,SlctCnts=4,Tag=0,Datas=a;b;c;d\r\n");
    EXPECT_EQ(line(h, 3, false), "Name=D,Type=2,CharNums=2,Tag=0\r\n");
    EXPECT_EQ(line(h, 4, false), "(0) 0");
    EXPECT_EQ(sent(*dev, 0x17).size(), 2u) << "no refresh asked, none made";
    EXPECT_EQ(value(h, u"A"), u"18");
    EXPECT_EQ(value(h, u"B"), u"3");
    EXPECT_EQ(value(h, u"C"), u"5");
    EXPECT_EQ(value(h, u"D"), u"Z");
    EXPECT_EQ(value(h, u"E"), u"(0)");

    // Sizes: too small a buffer gives 0 and the size to provide, never a write past it.
    std::vector<tavrin_wchar_t> small(11, u'#');
    std::uint16_t size = 10, index = 0;
    EXPECT_EQ(lib_->GetDevCfgInfo(h, &index, small.data(), &size, 0, 1), 0);
    EXPECT_EQ(size, 128);
    EXPECT_EQ(small[10], u'#');
    size = 31;
    EXPECT_EQ(lib_->GetDevCfgInfo(h, exportText(std::u16string(u"A")).c_str(), small.data(), &size, 1, 1), 0);
    EXPECT_EQ(size, 32);
    EXPECT_EQ(lib_->GetDevCfgInfo(h, &index, small.data(), nullptr, 0, 1), 0);
    EXPECT_EQ(lib_->GetDevCfgInfo(h, nullptr, small.data(), &size, 0, 1), 0);
}

TEST_F(ConfigExportsTest, TheWorkedPacketWrittenToTheDevice) {
    sim::ConfigSideOptions side;
    side.description = bytesOf(description(kWorkedItems));
    side.packet = configPacket(hexBytes("00 00 00 00"));
    sim::SimDevice* dev = simulated(side);
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = open(*dev);
    ASSERT_EQ(lib_->LoadDevCfg(h, nullptr), 1);
    ASSERT_EQ(line(h, 0, true), "Name=A,Type=1,MaxVal=255,MinVal=0,Tag=0\r\n");

    EXPECT_EQ(set(h, u"A", u"18", false), 1);
    EXPECT_EQ(set(h, u"B", u"3", false), 1);
    EXPECT_EQ(set(h, u"C", u"5", false), 1);
    EXPECT_EQ(set(h, u"Nothing", u"5", false), 1) << "a name of no item changes nothing";
    EXPECT_TRUE(sent(*dev, 0x18).empty()) << "held in the model only";
    EXPECT_EQ(set(h, u"C", u"x", true), 1) << "no digits: 0";
    EXPECT_EQ(set(h, u"C", u"5", false), 1);
    dev->received().clear();
    ASSERT_EQ(set(h, u"D", u"Z", true), 1);
    EXPECT_EQ(sent(*dev, 0x18, 64), (std::vector<std::string>{"00 00 01 02 00 04 01 84 77 88 12 35 5A 00", "FF FF"}));
    EXPECT_EQ(hexText(dev->configSide()->storedPacket()), "01 02 00 04 01 84 77 88 12 35 5A 00");

    // Out of its limits: refused, nothing sent.
    dev->received().clear();
    EXPECT_EQ(set(h, u"B", u"4", true), 0);
    EXPECT_EQ(set(h, u"D", u"ZZ", true), 0) << "no room for the terminating zero";
    EXPECT_TRUE(sent(*dev, 0x18).empty());

    // What was written reads back.
    EXPECT_EQ(set(h, u"D", u"Y", false), 1);
    ASSERT_EQ(line(h, 0, true), "Name=A,Type=1,MaxVal=255,MinVal=0,Tag=0\r\n");
    EXPECT_EQ(value(h, u"D"), u"Z");
    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u"#RefreshDevCfgDat : 写 配 置 数 据(0)\r\n"));
}

TEST_F(ConfigExportsTest, LongPacketsInChunks) {
    // 292 data bytes: a 300-byte packet.
    std::string items;
    for (int i = 0; i < 73; ++i) items += "<CfgItem Name=\"N" + std::to_string(i) + "\" Bits=\"32\" Type=\"1\" MaxVal=\"2147483647\"/>";
    Bytes data(292);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 4 == 0 ? 0 : i);
    const struct {
        const char* what;
        std::uint16_t takeAtMost;
        std::uint16_t refuseChunk;
        bool countAnswer;
        std::int32_t result;
        std::vector<std::string> offsets;
    } cases[] = {
        {"253 and 47", 0, 0, false, 1, {"00 00", "00 FD", "FF FF"}},
        {"counts answered", 0, 0, true, 1, {"00 00", "00 FD", "FF FF"}},
        {"100 taken of each", 100, 0, false, 1, {"00 00", "00 64", "00 C8", "FF FF"}},
        {"the second chunk refused", 0, 2, false, 0, {"00 00", "00 FD"}},
    };
    for (const auto& c : cases) {
        sim::ConfigSideOptions side;
        side.description = bytesOf(description(items, "DEVID=\"1\" CFGID=\"2\" CFGLen=\"292\" CFGVer=\"1\" Counts=\"80\""));
        side.packet = configPacket(data);
        side.piece = 255;
        side.takeAtMost = c.takeAtMost;
        side.refuseChunk = c.refuseChunk;
        side.countAnswer = c.countAnswer;
        sim::SimDevice* dev = simulated(side);
        ASSERT_NE(dev, nullptr);
        const std::int32_t h = open(*dev);
        ASSERT_EQ(lib_->LoadDevCfg(h, nullptr), 1) << c.what;
        ASSERT_EQ(value(h, u"N72"), u"0") << "nothing read yet";
        ASSERT_NE(line(h, 0, true), "(0) 0") << c.what;
        EXPECT_EQ(sent(*dev, 0x17), (std::vector<std::string>{"00 00", "00 FF", "01 2C"})) << c.what;
        ASSERT_EQ(set(h, u"N1", u"16909060", false), 1);  // 01 02 03 04
        EXPECT_EQ(set(h, u"N0", u"7", true), c.result) << c.what;
        EXPECT_EQ(sent(*dev, 0x18), c.offsets) << c.what;
        Bytes expected = data;
        const Bytes first8 = hexBytes("00 00 00 07 01 02 03 04");
        std::copy(first8.begin(), first8.end(), expected.begin());
        expected = configPacket(expected);
        EXPECT_EQ(hexText(dev->configSide()->storedPacket()), hexText(c.result ? expected : configPacket(data))) << c.what;
        lib_->CloseDev(h);
    }
    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u"#RefreshDevCfgDat : 写 配 置 数 据 应 答 错 误1(1)\r\n"));
    EXPECT_EQ(logCount(log, u"#dllFunc_SetDevCfgInfo : 写 配 置 数 据 失 败！！！\r\n"), 1u);
}

TEST_F(ConfigExportsTest, WhatTheReadsRefuse) {
    const struct {
        const char* what;
        Bytes packet;
        std::int32_t count;       // in the read line
        std::size_t checkLines;   // "Check Config Packet Fail": the read's (the write fails in packing)
    } cases[] = {
        // Nothing taken in: the text item has no value to pack, so the write fails before the check.
        {"no data at once", {}, 0, 0},
        {"check value off by one", [] { Bytes p = configPacket(hexBytes("12 35 5A 00")); ++p[5]; return p; }(), 12, 1},
        // Taken in, but the walk stopped: the text item after it has no value to pack.
        {"a selection beyond its choices", configPacket(hexBytes("12 45 5A 00")), 12, 0},
    };
    for (const auto& c : cases) {
        ReadCase rc;
        ASSERT_NO_FATAL_FAILURE(startReadCase(c.packet, c.what, rc));
        const std::int32_t h = rc.h;
        EXPECT_EQ(line(h, 0, true), "(0) 0") << c.what;
        EXPECT_EQ(set(h, u"A", u"1", true), 0) << c.what << ": nothing taken in, nothing to write";
        const std::string log = readCaseLog(rc);
        const std::u16string read = u"#RefreshDevCfgDat : 读 配 置 数 据 从 设 备(" + u16(std::to_string(c.count)) + u")\r\n";
        EXPECT_TRUE(logHas(log, read)) << c.what;
        EXPECT_TRUE(logHas(log, u"#dllFunc_GetDevCfgInfo : 读 配 置 数 据 失 败！！！\r\n")) << c.what;
        EXPECT_EQ(logCount(log, u"Check Config Packet Fail\r\n"), c.checkLines) << c.what;
        EXPECT_TRUE(sent(*rc.dev, 0x18).empty()) << c.what;
        endReadCase(rc);
    }
}

// A read from the device that fails: the check's line (when the packet is refused) comes before
// the read line with the byte count, and the export's failure line last.
TEST_F(ConfigExportsTest, FailedReadsLogTheCheckBeforeTheReadLine) {
    const std::u16string check = u"#CDevCfgXml::chkCfgDatPkt : Check Config Packet Fail\r\n";
    const std::u16string failed = u"#dllFunc_GetDevCfgInfo : 读 配 置 数 据 失 败！！！\r\n";
    auto read = [](int count) { return u"#RefreshDevCfgDat : 读 配 置 数 据 从 设 备(" + u16(std::to_string(count)) + u")\r\n"; };
    const struct {
        const char* what;
        Bytes packet;
        std::vector<std::u16string> lines;  // in this order, and no check line unless listed
    } cases[] = {
        {"no data at once", {}, {read(0), failed}},
        {"check value off by one", [] { Bytes p = configPacket(hexBytes("12 35 5A 00")); ++p[5]; return p; }(),
         {check, read(12), failed}},
        {"another device id", [] { Bytes p = configPacket(hexBytes("12 35 5A 00")); p[0] = 9; return p; }(),
         {check, read(12), failed}},
        {"a selection beyond its choices", configPacket(hexBytes("12 45 5A 00")), {read(12), failed}},
    };
    for (const auto& c : cases) {
        ReadCase rc;
        ASSERT_NO_FATAL_FAILURE(startReadCase(c.packet, c.what, rc));
        const std::int32_t h = rc.h;
        EXPECT_EQ(line(h, 0, true), "(0) 0") << c.what;
        const std::string log = readCaseLog(rc);
        std::size_t at = 0;
        for (const std::u16string& l : c.lines) {
            const std::size_t found = log.find(ansi(l), at);
            ASSERT_NE(found, std::string::npos) << c.what << ": " << ansi(l) << " after byte " << at << " of\n" << log;
            at = found + 1;
        }
        const bool checks = std::find(c.lines.begin(), c.lines.end(), check) != c.lines.end();
        EXPECT_EQ(logCount(log, check), checks ? 1u : 0u) << c.what;
        endReadCase(rc);
    }
}

TEST_F(ConfigExportsTest, DescriptionsTheDeviceGetsWrong) {
    const struct {
        const char* what;
        bool shortDocument, badCrc;
        std::string doc;
        std::int32_t result;
    } cases[] = {
        {"a short document", true, false, description(kWorkedItems), 0},
        {"a wrong check value", false, true, description(kWorkedItems), 0},
        {"not a description", false, false, "<Other VTAG=\"100\"/>", 0},
        {"intact", false, false, description(kWorkedItems), 1},
    };
    for (const auto& c : cases) {
        sim::ConfigSideOptions side;
        side.description = bytesOf(c.doc);
        side.shortDocument = c.shortDocument;
        side.badCrc = c.badCrc;
        side.piece = 7;
        sim::SimDevice* dev = simulated(side);
        ASSERT_NE(dev, nullptr);
        const std::int32_t h = open(*dev);
        EXPECT_EQ(lib_->LoadDevCfg(h, nullptr), c.result) << c.what;
        lib_->CloseDev(h);
    }
    EXPECT_EQ(lib_->LoadDevCfg(5, nullptr), 0) << "no such device";
}

TEST_F(ConfigExportsTest, OfflineThroughTheUserDataFolder) {
    const auto folder = userFolder_.path();
    std::ofstream(folder / "devCfg.xml", std::ios::binary) << description(kWorkedItems);
    const auto other = makeTempFolder("cfg") / "other.xml";
    std::ofstream(other, std::ios::binary)
        << description("<CfgItem Name=\"Only\" Bits=\"8\" Type=\"1\" MaxVal=\"9\"/>", "DEVID=\"1\" CFGID=\"2\" CFGLen=\"1\" CFGVer=\"1\" Counts=\"1\"");

    ASSERT_EQ(lib_->LoadDevCfg(-1, exportText(other).c_str()), 1);
    EXPECT_EQ(line(-1, 0, false), "Name=Only,Type=1,MaxVal=9,MinVal=0,Tag=0\r\n");
    ASSERT_EQ(lib_->LoadDevCfg(-1, nullptr), 1) << "devCfg.xml of the user data folder";
    EXPECT_EQ(line(-1, 0, true), "(0) 0") << "no devCfg.dat yet";

    std::ofstream(folder / "devCfg.dat", std::ios::binary) << std::string("\x01\x02\x00\x04\x01\x84\x77\x88\x12\x35\x5A\x00", 12);
    EXPECT_EQ(line(-1, 0, true), "Name=A,Type=1,MaxVal=255,MinVal=0,Tag=0\r\n");
    EXPECT_EQ(value(-1, u"A"), u"18");
    EXPECT_EQ(set(-1, u"A", u"19", true), 1);
    Bytes expected = configPacket(hexBytes("13 35 5A 00"));
    EXPECT_EQ(hexText(bytesOf(readFileBytes(folder / "devCfg.dat"))), hexText(expected));

    // A new start of the library reads it back.
    lib_.unload();
    ASSERT_TRUE(lib_.load());
    ASSERT_EQ(lib_->LoadDevCfg(-1, nullptr), 1);
    EXPECT_EQ(line(-1, 0, true), "Name=A,Type=1,MaxVal=255,MinVal=0,Tag=0\r\n");
    EXPECT_EQ(value(-1, u"A"), u"19");
    EXPECT_EQ(value(-1, u"D"), u"Z");
    ASSERT_EQ(lib_->OpenLog(exportText(logFile_).c_str()), 1);
    std::filesystem::remove(folder / "devCfg.dat");
    EXPECT_EQ(line(-1, 0, true), "(0) 0");
    EXPECT_EQ(lib_->LoadDevCfg(-1, exportText(folder / "missing.xml").c_str()), 0);
    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u"#dllFunc_GetDevCfgInfo : 读 配 置 数 据 失 败！！！\r\n"));
    std::filesystem::remove_all(other.parent_path());
}

// A write before any packet of the description was taken in: the values are packed first, and
// only a packing that worked meets the packet check and its line; nothing reaches the file.
TEST_F(ConfigExportsTest, AWriteBeforeAnyPacketFailsInPackingOrInTheCheck) {
    const auto folder = userFolder_.path();
    const struct {
        const char* what;
        std::string description;
        std::vector<std::pair<std::u16string, std::u16string>> held;  // set without writing first
        std::size_t checkLines;
    } cases[] = {
        {"a text item without a text: packing fails", description(kWorkedItems), {}, 0},
        {"every item has a value: the check fails", description(kWorkedItems), {{u"D", u"Z"}}, 1},
        {"numbers only", description("<CfgItem Name=\"Only\" Bits=\"8\" Type=\"1\" MaxVal=\"9\"/>",
                                     "DEVID=\"1\" CFGID=\"2\" CFGLen=\"1\" CFGVer=\"1\" Counts=\"1\""), {}, 1},
    };
    for (const auto& c : cases) {
        lib_.unload();  // a model without any packet taken in
        ASSERT_TRUE(lib_.load());
        std::ofstream(folder / "devCfg.xml", std::ios::binary | std::ios::trunc) << c.description;
        ASSERT_EQ(lib_->OpenLog(exportText(logFile_).c_str()), 1);
        ASSERT_EQ(lib_->LoadDevCfg(-1, nullptr), 1) << c.what;
        for (const auto& [name, v] : c.held) EXPECT_EQ(set(-1, name.c_str(), v.c_str(), false), 1) << c.what;
        EXPECT_EQ(set(-1, c.description.find("Only") != std::string::npos ? u"Only" : u"A", u"1", true), 0) << c.what;
        const std::string log = flushLog();
        EXPECT_EQ(logCount(log, u"#CDevCfgXml::chkCfgDatPkt : Check Config Packet Fail\r\n"), c.checkLines) << c.what;
        EXPECT_FALSE(logHas(log, u"devCfg.dat")) << c.what;
        EXPECT_FALSE(std::filesystem::exists(folder / "devCfg.dat")) << c.what;
    }
}

// Configuration calls from two threads at once: each either runs alone or fails at once.
TEST_F(ConfigExportsTest, CallsAtTheSameTimeNeverShareTheModel) {
    std::ofstream(userFolder_.path() / "devCfg.xml", std::ios::binary) << description(kWorkedItems);
    std::ofstream(userFolder_.path() / "devCfg.dat", std::ios::binary)
        << std::string("\x01\x02\x00\x04\x01\x84\x77\x88\x12\x35\x5A\x00", 12);
    ASSERT_EQ(lib_->LoadDevCfg(-1, nullptr), 1);
    ASSERT_NE(line(-1, 0, true), "(0) 0");
    std::atomic<int> done{0}, refused{0}, ready{0}, wrong{0};
    constexpr int kCalls = 2000;
    // One thread sets the value that the other reads back, both released at the same moment.
    auto worker = [&](int which) {
        ready++;
        while (ready.load() < 2) std::this_thread::yield();
        for (int i = 0; i < kCalls; ++i) {
            std::int32_t r = 0;
            if (which == 0) {
                r = set(-1, u"A", i % 2 ? u"17" : u"18", false);
            } else {
                const auto name = exportText(std::u16string(u"A"));
                tavrin_wchar_t buffer[64];
                std::uint16_t size = 64;
                r = lib_->GetDevCfgInfo(-1, name.c_str(), buffer, &size, 1, 1);
                const std::u16string v(buffer, buffer + (r != 0 ? size : 0));
                if (r != 0 && v != u"17" && v != u"18") wrong++;
            }
            (r != 0 ? done : refused)++;
        }
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    EXPECT_EQ(done + refused, 2 * kCalls);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(done.load(), 0);
    const std::string log = flushLog();
    // Each refusal leaves its line (as many as the log's text buffer holds).
    const std::size_t busyLines = logCount(log, u"Config Busy\r\n");
    EXPECT_LE(busyLines, static_cast<std::size_t>(refused.load()));
    EXPECT_EQ(busyLines > 0, refused.load() > 0);
}

}  // namespace
}  // namespace tavrin::test
