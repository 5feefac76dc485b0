// The built bridge TavrinDll over the device library and a simulated network device: return
// codes, answers and buffers, the bytes of connect and disconnect, and the trace records of
// failed calls in the device library's log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"
#include "tavrin/bridge.h"
#include "tests/support/config_packet.h"
#include "tests/support/device_fixture.h"
#include "tests/support/hex_bytes.h"

#ifndef TAVRIN_BRIDGE_FILE
#error "TAVRIN_BRIDGE_FILE must name the bridge library to load"
#endif

namespace tavrin::test {
namespace {

using Text = std::basic_string<tavrin_wchar_t>;

struct BridgeApi {
#define TAVRIN_BRIDGE_FUNCTION(name, bytes, parameters) decltype(&DE##name) name = nullptr;
#define TAVRIN_BRIDGE_CXX_FUNCTION(name, bytes, parameters) decltype(&DE##name) name = nullptr;
#include "tavrin/bridge_exports.h"
#undef TAVRIN_BRIDGE_FUNCTION
#undef TAVRIN_BRIDGE_CXX_FUNCTION
};

// The bridge, loaded once for the program (it keeps the device library loaded).
const BridgeApi& bridge() {
    static platform::DynamicLibrary library;
    static BridgeApi api = [] {
        BridgeApi a;
        if (!library.open(TAVRIN_BRIDGE_FILE)) return a;
#define TAVRIN_BRIDGE_FUNCTION(name, bytes, parameters)                                                     \
    a.name = reinterpret_cast<decltype(a.name)>(library.symbol("DE" #name));
#define TAVRIN_BRIDGE_CXX_FUNCTION TAVRIN_BRIDGE_FUNCTION
#include "tavrin/bridge_exports.h"
#undef TAVRIN_BRIDGE_FUNCTION
#undef TAVRIN_BRIDGE_CXX_FUNCTION
        return a;
    }();
    return api;
}

class BridgeTest : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        ASSERT_NE(bridge().OpenDev, nullptr);
        ASSERT_NE(bridge().GetDevParsText, nullptr);
    }
    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        sim_.stop();
        lib_->CloseLog();
        DeviceFixture::TearDown();
    }
    // A network device of the simulator, opened through the bridge, its control channel connected.
    std::int32_t openDevice(sim::DeviceConfig config = {}) {
        dev_ = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
        EXPECT_NE(dev_, nullptr);
        if (dev_ == nullptr) return -1;
        path_ = exportText(dev_->networkPath());
        std::int32_t h = -1;
        EXPECT_EQ(bridge().OpenDev(&h, path_.c_str(), 500, 500, PORT_NET_DATA, MODE_DATA | MODE_CTRL), DE_OK);
        awaitControl(h, u"CTRL_CMDGET_MODEL");
        return h;
    }
    std::uint16_t commandCode(const std::u16string& name) {
        const Text wanted = exportText(name);
        for (std::uint16_t i = 0; i < 25; ++i) {
            const tavrin_wchar_t* d = nullptr;
            std::uint16_t code = 0;
            bridge().EnumProtoCode(d, i, code);
            if (d != nullptr && wanted == d) return code;
        }
        return 0xFFFF;
    }

    sim::Simulator sim_;
    sim::SimDevice* dev_ = nullptr;
    Text path_;
};

using Bytes = std::vector<std::uint8_t>;

Text T(const std::u16string& s) { return exportText(s); }

TEST_F(BridgeTest, ArgumentsRefusedBeforeTheDeviceLibrary) {
    const BridgeApi& b = bridge();
    char buffer[8];
    std::int32_t h = 5;
    std::uint32_t size = 16;
    tavrin_wchar_t paths[16] = {};
    std::uint16_t count = 0;
    _DEVACK_INFO answer{};
    struct Case {
        const char* what;
        std::function<std::int32_t()> call;
        std::int32_t result;
    };
    const Case cases[] = {
        {"port type 0x0500 with a null count", [&] { return b.EnumDevPath(nullptr, 0x0500, paths, size, 0, 0); },
         DE_ERR_PORTTYPE},
        {"null count", [&] { return b.EnumDevPath(nullptr, PORT_NET_DATA, paths, size, 0, 0); }, DE_ERR_PARAM},
        {"USB types list nothing", [&] { return b.EnumDevPath(&count, 0x0100, paths, size, 0, 0); }, DE_OK},
        {"open with a null path", [&] { return b.OpenDev(&h, nullptr, 0, 0, PORT_NET_DATA, MODE_CTRL); },
         DE_ERR_PARAM},
        {"open with a null handle", [&] { return b.OpenDev(nullptr, path_.c_str(), 0, 0, PORT_NET_DATA, MODE_CTRL); },
         DE_ERR_PARAM},
        {"serial number of handle -1", [&] { return b.GetDevSN(-1, buffer, sizeof buffer); }, DE_ERR_PARAM},
        {"model into null", [&] { return b.GetDevType(0, nullptr, 8); }, DE_ERR_PARAM},
        {"disconnect handle -1", [&] { return b.Disconnect(-1); }, DE_ERR_PARAM},
        {"connect without password", [&] { return b.Connect(0, nullptr, 0); }, DE_ERR_PARAM},
        {"command without name", [&] { return b.DevIoCtrl(0, nullptr, nullptr, 0, &answer); }, DE_ERR_PARAM},
        {"close a handle never opened", [&] { return b.CloseDev(7); }, DE_ERR_DEVICE},
        {"model of a handle never opened", [&] { return b.GetDevType(7, buffer, sizeof buffer); }, DE_ERR_DEVICE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(c.call(), c.result);
    }
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(b.GetDevSN(-1, buffer, sizeof buffer), DE_ERR_PARAM);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));  // cleared
    const Text bad = exportText(std::u16string(u"no-such-device"));
    h = 5;
    EXPECT_EQ(b.OpenDev(&h, bad.c_str(), 100, 100, PORT_NET_DATA, MODE_CTRL), DE_ERR_DEVICE);
    EXPECT_EQ(h, -1);
}

TEST_F(BridgeTest, CommandNames) {
    const tavrin_wchar_t* d = nullptr;
    std::uint16_t code = 0;
    EXPECT_EQ(bridge().EnumProtoCode(d, 24, code), DE_OK);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Text(d), exportText(std::u16string(u"CTRL_DEVCMD_ST")));
    EXPECT_EQ(code, 0x80);
    code = 0x1234;
    EXPECT_EQ(bridge().EnumProtoCode(d, 25, code), DE_OK);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(code, 0x1234);
}

TEST_F(BridgeTest, QueriesCopyOnlyIntoALargerBuffer) {
    sim::DeviceConfig config;
    config.model = "TV-N58";
    config.deviceNumber = "SN-0042";
    config.protocolVersion = "2.10";
    const std::int32_t h = openDevice(config);
    ASSERT_GE(h, 0);
    using Query = decltype(&DEGetDevType);
    struct Case {
        Query call;
        std::string answer;
    };
    for (const Case& c : {Case{bridge().GetDevType, "TV-N58"}, Case{bridge().GetDevSN, "SN-0042"},
                          Case{bridge().GetEmulationVersion, "2.10"}}) {
        SCOPED_TRACE(c.answer);
        const std::int32_t n = static_cast<std::int32_t>(c.answer.size());
        for (std::int32_t len : {n - 1, n, n + 1, n + 8}) {
            char buffer[32];
            std::memset(buffer, 'x', sizeof buffer);
            const std::int32_t rc = c.call(h, buffer, len);
            if (len > n) {
                EXPECT_EQ(rc, DE_OK) << len;
                EXPECT_EQ(std::string(buffer), c.answer);
            } else {
                EXPECT_EQ(rc, DE_ERR_BUFSIZE) << len;
                EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(len)), std::string(static_cast<std::size_t>(len), '\0'));
            }
            EXPECT_EQ(buffer[len], 'x');  // nothing past nLen
        }
    }
    EXPECT_EQ(bridge().CloseDev(h), DE_OK);
}

TEST_F(BridgeTest, ConnectAndDisconnectBytesOnTheWire) {
    const std::int32_t h = openDevice();
    ASSERT_GE(h, 0);
    const std::uint16_t code = commandCode(u"CTRL_CMD_CONNT");
    ASSERT_NE(code, 0xFFFF);
    const std::size_t before = dev_->received().packets().size();
    EXPECT_EQ(bridge().Connect(h, "pw1", 3), DE_OK);
    EXPECT_EQ(bridge().Disconnect(h), DE_OK);
    ASSERT_TRUE(dev_->received().waitForPackets(before + 2, 5000));
    const auto packets = dev_->received().packets();
    const auto& connect = packets[before];
    const auto& disconnect = packets[before + 1];
    ASSERT_GE(connect.size(), 7u);
    EXPECT_EQ(connect[0], 0x10);
    EXPECT_EQ(connect[1], code);
    EXPECT_EQ(connect[4], 'p');
    EXPECT_EQ(connect[5], 'w');
    EXPECT_EQ(connect[6], '1');
    ASSERT_GE(disconnect.size(), 4u);
    EXPECT_EQ(disconnect[0], 0x10);
    EXPECT_EQ(disconnect[1], code);
    EXPECT_EQ(disconnect[2], 0);
    EXPECT_EQ(disconnect[3], 0);
}

TEST_F(BridgeTest, TraceRecordOfAFailedCallOnly) {
    const BridgeApi& b = bridge();
    const tavrin_wchar_t* d = nullptr;
    std::uint16_t code = 0;
    // The header of this thread comes with its first traced call, successful or not.
    std::thread([&] { b.EnumProtoCode(d, 1, code); }).join();
    EXPECT_EQ(b.EnumProtoCode(d, 2, code), DE_OK);  // succeeds: no record
    std::int32_t h = 3;
    EXPECT_EQ(b.OpenDev(&h, nullptr, 100, 200, PORT_NET_DATA, MODE_CTRL), DE_ERR_PARAM);
    char buffer[8] = {};
    EXPECT_EQ(b.GetDevType(7, buffer, sizeof buffer), DE_ERR_DEVICE);  // nested M_DEVIOCTL
    const std::string log = flushLog();
    EXPECT_FALSE(logHas(log, u"[DEEnumProtoCode]"));
    EXPECT_TRUE(logHas(log, u"TavrinDll")) << "header";
    EXPECT_EQ(logCount(log, u" 记录:       [----------------------------------------]"), 2u);
    const std::u16string p = sizeof(void*) == 8 ? u" __ptr64" : u"";
    for (const std::u16string& line : {
             std::u16string(u":  [DEOpenDev] "), u"  ※参数1: int *" + p + u" hDev(地址):",
             u"  ※参数2: wchar_t const *" + p + u" path:(null)", std::u16string(u"  ※参数3: int readTimeout:100"),
             std::u16string(u"  ※参数5: short portType:1025"), std::u16string(u"  Error: ※返回值：268435458"),
             std::u16string(u":  [退出DEOpenDev] "), std::u16string(u":[========================================] "),
             std::u16string(u":  [DEGetDevType] "), std::u16string(u":    [M_DEVIOCTL] "),
             u"    ※参数3: wchar_t const *" + p + u" CTLCODE:CTRL_CMDGET_MODEL",
             std::u16string(u"    Error: ※返回值：536870912"), std::u16string(u":    [退出M_DEVIOCTL] ")}) {
        EXPECT_TRUE(logHas(log, line)) << std::string(line.begin(), line.end());
    }
    if (sizeof(void*) == 8) {
        EXPECT_TRUE(logHas(log, u"参数1: int * __ptr64 hDev(地址):"));
    }
}

TEST_F(BridgeTest, DeviceLibraryLogGoesOnAfterFailedCalls) {
    std::int32_t h = 0;
    const Text bad = exportText(std::u16string(u"no-such-device"));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(bridge().OpenDev(&h, bad.c_str(), 100, 100, PORT_NET_DATA, MODE_CTRL), DE_ERR_DEVICE);
    const std::string log = flushLog();
    EXPECT_EQ(logCount(log, u":  [DEOpenDev] "), 3u);
    EXPECT_EQ(logCount(log, u"Error: ※返回值：536870912"), 3u);
}

TEST_F(BridgeTest, CallerFreesWhatTheBridgeAppended) {
    // Entries long enough to live on the heap: the caller's containers free what the bridge's
    // code allocated (one C runtime heap on both sides).
    const std::string name(20, 'N');
    const std::int32_t h = openDevice(configuredDevice(
        "<CfgItem Name=\"" + name + "\" Bits=\"8\" Type=\"3\" Datas=\"first choice;second choice;third choice\"/>",
        hexBytes("01")));
    ASSERT_GE(h, 0);
    for (int round = 0; round < 3; ++round) {
        auto map = std::make_unique<tavrin_bridge_text_map>();
        auto list = std::make_unique<tavrin_bridge_text_list>();
        ASSERT_EQ(bridge().GetDevPars(h, *map, *list), DE_OK);
        ASSERT_EQ(list->size(), 1u);
        EXPECT_EQ(list->front(), T(u"Name=NNNNNNNNNNNNNNNNNNNN,Type=3,SlctCnts=3,Tag=0,Datas=first choice;second "
                                   u"choice;third choice,CurVal=1"));
        EXPECT_EQ(map->size(), 1u);
        list->push_back(list->front());  // grows (reallocates) what the bridge allocated
        list->front() += T(u" and more text past the first allocation");
        map.reset();
        list.reset();
    }
}

TEST_F(BridgeTest, DeviceParametersFromTheSimulatedDevice) {
    struct Case {
        const char* what;
        std::string items;
        std::string data;
        std::vector<std::u16string> entries;
        std::map<std::u16string, std::u16string> values;
    };
    const Case cases[] = {
        {"the number item of the example",
         R"(<CfgItem Name="Speed" Bits="8" Type="1" MaxVal="255" MinVal="0"/>)", "07",
         {u"Name=Speed,Type=1,MaxVal=255,MinVal=0,Tag=0,CurVal=7"},
         {{u"Speed", u"7"}}},
        {"an empty text value shows as null",
         R"(<CfgItem Name="Label" Bits="16" Type="2"/><CfgItem Name="Speed" Bits="8" Type="1" MaxVal="255" MinVal="0"/>)",
         "00 00 2A",
         {u"Name=Label,Type=2,CharNums=2,Tag=0,CurVal=null", u"Name=Speed,Type=1,MaxVal=255,MinVal=0,Tag=0,CurVal=42"},
         {{u"Label", u"null"}, {u"Speed", u"42"}}},
        {"two items of one name: each entry the value read by that name, the name once",
         R"(<CfgItem Name="A" Bits="8" Type="1" MaxVal="255" MinVal="0"/><CfgItem Name="A" Bits="8" Type="1" MaxVal="99" MinVal="0"/>)",
         "05 09",
         {u"Name=A,Type=1,MaxVal=255,MinVal=0,Tag=0,CurVal=5", u"Name=A,Type=1,MaxVal=99,MinVal=0,Tag=0,CurVal=5"},
         {{u"A", u"5"}}},
        {"CR LF pairs removed, also one formed by a removal; a lone CR or LF stays",
         R"(<CfgItem Name="S" Bits="8" Type="3" Datas="x&#13;&#13;&#10;&#10;y;a&#13;b;c&#10;d"/>)", "02",
         {u"Name=S,Type=3,SlctCnts=3,Tag=0,Datas=xy;a\rb;c\nd,CurVal=2"},
         {{u"S", u"2"}}},
        {"no items", "", "00", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::int32_t h = openDevice(configuredDevice(c.items, hexBytes(c.data)));
        ASSERT_GE(h, 0);
        tavrin_bridge_text_map map;
        tavrin_bridge_text_list list;
        ASSERT_EQ(bridge().GetDevPars(h, map, list), DE_OK);
        std::vector<Text> entries;
        for (const auto& e : c.entries) entries.push_back(T(e));
        EXPECT_EQ(list, entries);
        tavrin_bridge_text_map values;
        for (const auto& [k, v] : c.values) values.emplace(T(k), T(v));
        EXPECT_EQ(map, values);

        // The text form: the same entries, CR LF between them; too small a buffer gets nothing.
        Text joined;
        for (const Text& e : entries) joined += (joined.empty() ? Text() : T(u"\r\n")) + e;
        const std::uint32_t needed = static_cast<std::uint32_t>(joined.size() + 1);
        for (std::uint32_t capacity : {needed - 1, needed, needed + 4}) {
            std::vector<tavrin_wchar_t> text(needed + 8, TAVRIN_TEXT('#'));
            std::uint32_t size = capacity;
            const std::int32_t rc = bridge().GetDevParsText(h, text.data(), &size);
            EXPECT_EQ(size, needed) << capacity;
            if (capacity < needed) {
                EXPECT_EQ(rc, DE_ERR_BUFSIZE) << capacity;
                EXPECT_EQ(text[0], TAVRIN_TEXT('#'));
            } else {
                EXPECT_EQ(rc, DE_OK) << capacity;
                EXPECT_EQ(Text(text.data(), joined.size()), joined);
                EXPECT_EQ(text[joined.size()], 0);
                EXPECT_EQ(text[needed], TAVRIN_TEXT('#'));
            }
        }
        EXPECT_EQ(bridge().CloseDev(h), DE_OK);
    }
    // Successful listings leave no trace record; each too small buffer leaves one.
    const std::string log = flushLog();
    EXPECT_FALSE(logHas(log, u"[DEGetDevPars]"));
    EXPECT_EQ(logCount(log, u":  [DEGetDevParsText] "), std::size(cases));
}

TEST_F(BridgeTest, DeviceParameterSetOnTheSimulatedDevice) {
    const std::int32_t h = openDevice(
        configuredDevice(R"(<CfgItem Name="Speed" Bits="8" Type="1" MaxVal="200" MinVal="0"/>)", hexBytes("07")));
    ASSERT_GE(h, 0);
    tavrin_bridge_text_map map;
    tavrin_bridge_text_list list;
    ASSERT_EQ(bridge().GetDevPars(h, map, list), DE_OK);  // the packet read once
    EXPECT_EQ(bridge().SetDevCfgInfo(h, T(u"Speed").c_str(), T(u"9").c_str()), DE_OK);
    EXPECT_EQ(hexText(dev_->configSide()->storedPacket()), "01 02 00 01 01 " + hexText({configCheck({9})}) + " 77 88 09");
    const std::size_t writes = dev_->configSide()->writes().size();
    EXPECT_EQ(bridge().SetDevCfgInfo(h, T(u"Speed").c_str(), T(u"201").c_str()), DE_ERR_DEVICE);  // beyond MaxVal
    EXPECT_EQ(dev_->configSide()->writes().size(), writes) << "nothing sent";
    map.clear();
    list.clear();
    ASSERT_EQ(bridge().GetDevPars(h, map, list), DE_OK);
    EXPECT_EQ(map, (tavrin_bridge_text_map{{T(u"Speed"), T(u"9")}}));

    // A handle of no device fails in the connect step: nothing touched.
    tavrin_bridge_text_list kept = {T(u"kept")};
    EXPECT_EQ(bridge().GetDevPars(7, map, kept), DE_ERR_DEVICE);
    EXPECT_EQ(kept, (tavrin_bridge_text_list{T(u"kept")}));
    EXPECT_EQ(map.size(), 1u);
    EXPECT_EQ(bridge().SetDevCfgInfo(7, T(u"Speed").c_str(), T(u"9").c_str()), DE_ERR_DEVICE);
    EXPECT_EQ(bridge().CloseDev(h), DE_OK);
}

}  // namespace
}  // namespace tavrin::test
