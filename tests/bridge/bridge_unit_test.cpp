// The bridge's portable library with stand-in device functions: binding outcomes, the joined path
// list and its size rules, the configuration listing, and functions whose entry is null.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "bridge/device_functions.h"
#include "tavrin/bridge.h"

namespace tavrin::bridge {
namespace {

using Text = std::basic_string<tavrin_wchar_t>;
Text T(const std::u16string& s) { return Text(s.begin(), s.end()); }

// Binding services whose library has the exports of `present`; records lookups and messages.
class FakeBinding : public BindingServices {
public:
    bool loads = true;
    std::string hidden;  // one export the library lacks
    std::map<std::string, void*> functions;
    std::vector<std::string> lookups;
    std::vector<std::u16string> wideMessages;
    std::vector<std::string> narrowMessages;

    bool load(const std::string&) override { return loads; }
    void* lookup(const char* name) override {
        lookups.emplace_back(name);
        if (name == hidden) return nullptr;
        auto it = functions.find(name);
        return it != functions.end() ? it->second : reinterpret_cast<void*>(&placeholder);
    }
    void messageWide(const std::u16string& text, const std::u16string& caption) override {
        wideMessages.push_back(caption + u"|" + text);
    }
    void messageNarrow(const std::string& text, const std::string& caption) override {
        narrowMessages.push_back(caption + "|" + text);
    }
    static void placeholder() {}
};

TEST(BridgeBinding, OutcomesWithOneMessageAndEveryLookup) {
    struct Case {
        const char* what;
        bool loads;
        const char* hidden;
        std::int32_t result;
        std::size_t lookups, wide, narrow;
    };
    const Case cases[] = {
        {"library missing", false, "", kLibraryMissing, 0, 1, 0},
        {"an export the bridge never calls missing", true, "dllFunc_DFUStart", kExportMissing, 19, 0, 1},
        {"the first export missing", true, "dllFunc_EnumDevPath", kExportMissing, 19, 0, 1},
        {"everything there", true, "", kBound, 19, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeBinding fake;
        fake.loads = c.loads;
        fake.hidden = c.hidden;
        DeviceFunctions table;
        EXPECT_EQ(bindDeviceLibrary("Tavrin.dll", fake, table), c.result);
        EXPECT_EQ(fake.lookups.size(), c.lookups);
        ASSERT_EQ(fake.wideMessages.size(), c.wide);
        ASSERT_EQ(fake.narrowMessages.size(), c.narrow);
        if (c.wide) {
            EXPECT_EQ(fake.wideMessages[0], u"tip|加载Tavrin.dll失败");
        }
        if (c.narrow) {
#ifdef _WIN32
            EXPECT_EQ(fake.narrowMessages[0], "tip|\xbb\xf1\xc8\xa1\xba\xaf\xca\xfd\xb5\xd8\xd6\xb7\xca\xa7\xb0\xdc");
#else
            EXPECT_EQ(fake.narrowMessages[0], "tip|获取函数地址失败");
#endif
        }
        if (c.lookups) {
            EXPECT_EQ(fake.lookups.front(), "dllFunc_EnumDevPath");
            EXPECT_EQ(fake.lookups.back(), "dllFunc_SetDevCfgInfo");
        }
        if (!c.loads) {
            EXPECT_EQ(table.OpenDev, nullptr);
        }
        if (c.result == kExportMissing) {
            EXPECT_NE(table.OpenLog, nullptr);  // found entries stay set
        }
    }
}

// --- stand-in device functions -------------------------------------------------------------

std::vector<std::u16string> gPaths;
std::uint32_t gSizeSet = 0;
std::vector<std::u16string> gItems;      // description lines by index
std::map<std::u16string, std::u16string> gValues;
bool gConnectOk = true;
int gSetCalls = 0;

uint32_t TAVRIN_API fakeEnumDevPath(uint16_t, tavrin_wchar_t* buffer, uint32_t* size, uint32_t, uint32_t) {
    Text list;
    for (const auto& p : gPaths) list += T(p) + Text(1, 0);
    list += Text(1, 0);
    if (list.size() > *size) return 0;
    std::copy(list.begin(), list.end(), buffer);
    *size = gSizeSet;
    return static_cast<uint32_t>(gPaths.size());
}
int32_t TAVRIN_API fakeDevIoCtrl(int32_t, const tavrin_wchar_t*, const uint8_t*, uint32_t, _DEVACK_INFO* a) {
    a->datLen = 0;
    return gConnectOk ? 1 : 0;
}
int32_t TAVRIN_API fakeLoadDevCfg(int32_t, const tavrin_wchar_t*) { return 1; }
int32_t TAVRIN_API fakeGetDevCfgInfo(int32_t, const void* key, tavrin_wchar_t* buffer, uint16_t* size,
                                     uint16_t byName, uint16_t) {
    std::u16string text;
    bool ok = true;
    if (byName) {
        const Text name(static_cast<const tavrin_wchar_t*>(key));
        auto it = gValues.find(std::u16string(name.begin(), name.end()));
        ok = it != gValues.end();
        if (ok) text = it->second;
    } else {
        const std::uint16_t index = *static_cast<const std::uint16_t*>(key);
        ok = index < gItems.size();
        if (ok) text = gItems[index];
    }
    if (!ok || text.size() >= *size) return 0;
    std::copy(text.begin(), text.end(), buffer);
    *size = static_cast<uint16_t>(text.size());
    return 1;
}
int32_t TAVRIN_API fakeSetDevCfgInfo(int32_t, const tavrin_wchar_t*, const tavrin_wchar_t*, int32_t, uint16_t) {
    ++gSetCalls;
    return 1;
}

class StandInLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        FakeBinding fake;
        fake.functions = {{"dllFunc_EnumDevPath", reinterpret_cast<void*>(&fakeEnumDevPath)},
                          {"dllFunc_DevIoCtrl", reinterpret_cast<void*>(&fakeDevIoCtrl)},
                          {"dllFunc_LoadDevCfg", reinterpret_cast<void*>(&fakeLoadDevCfg)},
                          {"dllFunc_GetDevCfgInfo", reinterpret_cast<void*>(&fakeGetDevCfgInfo)},
                          {"dllFunc_SetDevCfgInfo", reinterpret_cast<void*>(&fakeSetDevCfgInfo)}};
        fake.hidden = "dllFunc_OpenLog";  // records go nowhere
        bindProcessTable("Tavrin.dll", fake);
        gConnectOk = true;
        gSetCalls = 0;
    }
    void TearDown() override {
        FakeBinding missing;
        missing.loads = false;
        bindProcessTable("Tavrin.dll", missing);
    }
};

TEST_F(StandInLibrary, PathsJoinedWithinTheCapacityGiven) {
    gPaths = {u"P1", u"P22", u"P333"};
    const std::u16string joined = u"P1\r\nP22\r\nP333";  // 13 characters and the NUL
    gSizeSet = 11;                                       // what the device library used
    struct Case {
        std::uint32_t capacity;
        std::int32_t result;
        std::uint32_t sizeAfter;
    };
    // one below the joined text, exactly it, one above
    for (const Case c : {Case{13, DE_ERR_BUFSIZE, 14}, Case{14, DE_OK, 11}, Case{15, DE_OK, 11}}) {
        SCOPED_TRACE(c.capacity);
        std::vector<tavrin_wchar_t> buffer(c.capacity + 4, 0x7777);
        std::uint16_t count = 0;
        std::uint32_t size = c.capacity;
        EXPECT_EQ(DEEnumDevPath(&count, PORT_NET_DATA, buffer.data(), size, 9100, 0), c.result);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(size, c.sizeAfter);
        for (std::size_t i = c.capacity; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0x7777) << i;
        if (c.result == DE_OK) {
            EXPECT_EQ(Text(buffer.data()), T(joined));
        }
    }
    gPaths.clear();
    std::uint16_t count = 9;
    std::uint32_t size = 4;
    tavrin_wchar_t buffer[4] = {};
    EXPECT_EQ(DEEnumDevPath(&count, PORT_NET_DATA, buffer, size, 9100, 0), DE_OK);
    EXPECT_EQ(count, 0);
}

TEST_F(StandInLibrary, ItemsListedWithTheirValues) {
    struct Case {
        const char* what;
        std::vector<std::u16string> items;
        std::map<std::u16string, std::u16string> values;
        std::vector<std::u16string> entries;
        std::map<std::u16string, std::u16string> map;
    };
    const Case cases[] = {
        {"a number item", {u"Name=Speed,Type=1,MaxVal=255,MinVal=0,Tag=0\r\n"}, {{u"Speed", u"7"}},
         {u"Name=Speed,Type=1,MaxVal=255,MinVal=0,Tag=0,CurVal=7"}, {{u"Speed", u"7"}}},
        {"no items", {}, {}, {}, {}},
        {"an empty value", {u"Name=Title,Type=3\r\n"}, {{u"Title", u""}}, {u"Name=Title,Type=3,CurVal=null"},
         {{u"Title", u"null"}}},
        {"CR LF inside, lone CR and LF stay, pairs formed by a removal go",
         {u"Name=A,Help=x\r\ny\rz\n\r\r\n\n,Type=2\r\n"}, {{u"A", u"1"}},
         {u"Name=A,Help=xy\rz\n,Type=2,CurVal=1"}, {{u"A", u"1"}}},
        {"duplicate names", {u"Name=D,Type=1\r\n", u"Name=D,Type=2\r\n"}, {{u"D", u"5"}},
         {u"Name=D,Type=1,CurVal=5", u"Name=D,Type=2,CurVal=5"}, {{u"D", u"5"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gItems = c.items;
        gValues = c.values;
        tavrin_bridge_text_map map;
        tavrin_bridge_text_list list;
        ASSERT_EQ(DEGetDevPars(0, map, list), DE_OK);
        ASSERT_EQ(list.size(), c.entries.size());
        for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i], T(c.entries[i]));
        ASSERT_EQ(map.size(), c.map.size());
        for (const auto& [k, v] : c.map) EXPECT_EQ(map[T(k)], T(v));
    }
}

TEST_F(StandInLibrary, EntriesAlreadyThereAndNamesWithoutLinesStayInBounds) {
    // An item whose text holds a name but which adds no line (it cannot: a name needs text), and a
    // list that was not empty on entry: suffixes go to the entries this call appended only.
    gItems = {u"Name=S,Type=1\r\n"};
    gValues = {{u"S", u"3"}};
    tavrin_bridge_text_map map;
    tavrin_bridge_text_list list{T(u"earlier")};
    ASSERT_EQ(DEGetDevPars(0, map, list), DE_OK);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], T(u"earlier"));
    EXPECT_EQ(list[1], T(u"Name=S,Type=1,CurVal=3"));
}

TEST_F(StandInLibrary, TextFormOfTheListingWithItsSizeRules) {
    gItems = {u"Name=A,Type=1\r\n", u"Name=B,Type=1\r\n"};
    gValues = {{u"A", u"1"}, {u"B", u"2"}};
    const std::u16string want = u"Name=A,Type=1,CurVal=1\r\nName=B,Type=1,CurVal=2";
    const std::uint32_t needed = static_cast<std::uint32_t>(want.size() + 1);
    for (std::uint32_t capacity : {needed - 1, needed, needed + 1}) {
        SCOPED_TRACE(capacity);
        std::vector<tavrin_wchar_t> buffer(capacity, 0);
        std::uint32_t size = capacity;
        const std::int32_t rc = DEGetDevParsText(0, buffer.data(), &size);
        EXPECT_EQ(size, needed);
        if (capacity < needed) {
            EXPECT_EQ(rc, DE_ERR_BUFSIZE);
        } else {
            EXPECT_EQ(rc, DE_OK);
            EXPECT_EQ(Text(buffer.data()), T(want));
        }
    }
    EXPECT_EQ(DEGetDevParsText(0, nullptr, nullptr), DE_ERR_PARAM);
}

TEST_F(StandInLibrary, ConnectFailureTouchesNothing) {
    gConnectOk = false;
    gItems = {u"Name=S,Type=1\r\n"};
    tavrin_bridge_text_map map;
    tavrin_bridge_text_list list;
    EXPECT_EQ(DEGetDevPars(0, map, list), DE_ERR_DEVICE);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(DESetDevCfgInfo(0, T(u"S").c_str(), T(u"1").c_str()), DE_ERR_DEVICE);
    EXPECT_EQ(gSetCalls, 0);
    gConnectOk = true;
    EXPECT_EQ(DESetDevCfgInfo(0, T(u"S").c_str(), T(u"1").c_str()), DE_OK);
    EXPECT_EQ(gSetCalls, 1);
}

TEST(BridgeUnbound, EveryFunctionReportsTheDeviceErrorWithoutCallingThroughNull) {
    FakeBinding missing;
    missing.loads = false;
    bindProcessTable("Tavrin.dll", missing);
    std::uint16_t count = 0;
    std::uint32_t size = 8;
    tavrin_wchar_t paths[8] = {};
    const tavrin_wchar_t* desc = nullptr;
    std::uint16_t code = 0;
    std::int32_t h = 0;
    char buffer[16] = {};
    const Text path = T(u"127.0.0.1:9100");
    tavrin_bridge_text_map map;
    tavrin_bridge_text_list list;
    _DEVACK_INFO answer{};
    const std::int32_t results[] = {
        DEEnumDevPath(&count, PORT_NET_DATA, paths, size, 0, 0),
        DEEnumProtoCode(desc, 0, code),
        DEOpenDev(&h, path.c_str(), 0, 0, PORT_NET_DATA, MODE_CTRL),
        DECloseDev(0),
        DEGetDevType(0, buffer, sizeof buffer),
        DEGetDevSN(0, buffer, sizeof buffer),
        DEGetEmulationVersion(0, buffer, sizeof buffer),
        DEConnect(0, "pw", 2),
        DEDisconnect(0),
        DEGetDevPars(0, map, list),
        DESetDevCfgInfo(0, path.c_str(), path.c_str()),
        DEDevIoCtrl(0, path.c_str(), nullptr, 0, &answer),
    };
    for (std::int32_t rc : results) EXPECT_EQ(rc, DE_ERR_DEVICE);
}

}  // namespace
}  // namespace tavrin::bridge
