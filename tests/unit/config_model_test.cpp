// The configuration model: descriptions loaded from XML, the items' checks, their texts, their
// values, and their packing into the configuration packet and back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "devicelib/config/cfg_codec.h"
#include "devicelib/config/dev_cfg_xml.h"
#include "devicelib/core/dev_app.h"
#include "platform/xml_document.h"
#include "tests/support/hex_bytes.h"
#include "tests/support/library_under_test.h"

namespace tavrin {
namespace {

using test::hexBytes;
using test::hexText;
using Bytes = std::vector<std::uint8_t>;

std::string narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::u16string description(const std::u16string& items, const std::u16string& info = u"DEVID=\"1\" CFGID=\"2\" CFGLen=\"4\" CFGVer=\"1\" Counts=\"8\"",
                           const std::u16string& root = u"VTAG=\"100\"") {
    return u"<TavrCfg " + root + u">\n  <CfgInfo " + info + u">\n" + items + u"  </CfgInfo>\n</TavrCfg>\n";
}

// The worked example: A number 8 bits, B selection 4 bits, C number 4 bits, D text 16 bits.
const std::u16string kWorked = description(uR"(
    <CfgItem Name="A" Bits="8" Type="1" MaxVal="255" MinVal="0"/>
    <CfgItem Name="B" Bits="4" Type="3" Datas="w;x;y;z"/>
    <CfgItem Name="C" Bits="4" Type="1" MaxVal="15" MinVal="0"/>
    <CfgItem Name="D" Bits="16" Type="2"/>
)");

// A packet of the description DEVID 1, CFGID 2, CFGVer 1 with these data bytes and its check value.
Bytes packetWith(const Bytes& data, std::uint8_t b6 = 0x77, std::uint8_t b7 = 0x88) {
    Bytes p = {1, 2, static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size()), 1, 0, b6, b7};
    p[5] = config::crc8(data.data(), data.size());
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

class ConfigModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        theLog().createTextBuffer();
        ASSERT_TRUE(com_.ok());
    }
    void TearDown() override { theLog().freeTextBuffer(); }

    bool load(const std::u16string& xml) { return model_.loadCfgXml(nullptr, xml.c_str()); }
    CfgItem& item(const char16_t* name) {
        CfgItem* it = model_.findItem(name);
        EXPECT_NE(it, nullptr) << narrow(name);
        static CfgItem none;
        return it != nullptr ? *it : none;
    }
    std::string fmt(std::uint16_t index) {
        char16_t buffer[2048] = {};
        std::uint16_t size = 2048;
        if (!model_.getItemFmt(index, buffer, &size)) return "(false)";
        return narrow(std::u16string(buffer, size));
    }
    std::string val(const char16_t* name) {
        char16_t buffer[2048] = {};
        std::uint16_t size = 2048;
        if (!model_.getItemVal(name, buffer, &size)) return "(false)";
        return narrow(std::u16string(buffer, size));
    }
    Bytes data() const {
        const std::uint16_t l = model_.configLength();
        return Bytes(model_.packet() + kCfgPacketHeader, model_.packet() + kCfgPacketHeader + l);
    }
    static std::u16string log() { return theLog().collectedText(); }
    static bool logHas(const std::u16string& text) { return log().find(text) != std::u16string::npos; }

    platform::XmlThreadScope com_;
    CDevCfgXml model_{theLog()};
};

TEST_F(ConfigModelTest, RootAndLayoutTag) {
    const std::u16string item = u"<CfgItem Name=\"A\" Bits=\"8\" Type=\"1\" MaxVal=\"9\"/>";
    const struct {
        std::u16string xml;
        bool accepted;
        std::int16_t tag;
    } cases[] = {
        {description(item), true, 100},
        {description(item, u"CFGLen=\"4\" Counts=\"1\"", u"VTAG=\"+100\""), true, 100},
        {description(item, u"CFGLen=\"4\" Counts=\"1\"", u"VTAG=\"100abc\" Other=\"x\""), true, 100},
        {description(item, u"CFGLen=\"4\" Counts=\"1\"", u"VTAG=\" 200\""), true, 200},
        {description(item, u"CFGLen=\"4\" Counts=\"1\"", u"VTAG=\"0001\""), false, 0},
        {description(item, u"CFGLen=\"4\" Counts=\"1\"", u"VTAG=\"300\""), false, 0},
        {description(item, u"CFGLen=\"4\" Counts=\"1\"", u"VTAG=\"\""), false, 0},
        {description(item, u"CFGLen=\"4\" Counts=\"1\"", u"Other=\"x\" VTAG=\"100\""), false, 0},
        {description(item, u"CFGLen=\"4\" Counts=\"1\"", u"vtag=\"100\""), false, 0},
        {description(item, u"CFGLen=\"4\" Counts=\"1\"", u""), false, 0},
        {u"<tavrcfg VTAG=\"100\"><CfgInfo Counts=\"1\"/></tavrcfg>", false, 0},
        {u"<TavrCfg VTAG=\"100\"><CfgInfos Counts=\"1\"/></TavrCfg>", false, 0},
        {u"<TavrCfg VTAG=\"100\"><CfgInfo Counts=\"1\"></TavrCfg>", false, 0},
    };
    for (const auto& c : cases) {
        CDevCfgXml fresh(theLog());
        EXPECT_EQ(fresh.loadCfgXml(nullptr, c.xml.c_str()), c.accepted) << narrow(c.xml);
        EXPECT_EQ(fresh.layoutTag(), c.tag) << narrow(c.xml);
        EXPECT_EQ(fresh.itemCount(), c.accepted ? 1 : 0) << narrow(c.xml);
    }

    // A failed load leaves the model it found.
    ASSERT_TRUE(load(kWorked));
    EXPECT_FALSE(load(description(item, u"DEVID=\"9\" CFGLen=\"4\" Counts=\"1\"", u"VTAG=\"300\"")));
    EXPECT_FALSE(load(u"<TavrCfg VTAG=\"200\"/>"));
    EXPECT_EQ(model_.layoutTag(), 100);
    EXPECT_EQ(model_.itemCount(), 4);
    EXPECT_EQ(model_.deviceId(), 1);
}

TEST_F(ConfigModelTest, DescriptionHeaderAndCounts) {
    ASSERT_TRUE(load(description(u"", u"DEVID=\"257\" CFGID=\"-1\" CFGLen=\"65540\" CFGVer=\"3\" CFGChk=\"170\" Counts=\"0\"")));
    EXPECT_EQ(model_.deviceId(), 1) << "low 8 bits";
    EXPECT_EQ(model_.configId(), 0xFF);
    EXPECT_EQ(model_.configLength(), 4) << "low 16 bits";
    EXPECT_EQ(model_.configVersion(), 3);
    EXPECT_EQ(model_.configCheck(), 170);
    EXPECT_EQ(model_.capacity(), 0);

    // No "Counts": no room for items, and still a successful load.
    ASSERT_TRUE(load(description(u"<CfgItem Name=\"A\" Bits=\"8\" Type=\"1\" MaxVal=\"9\"/>", u"CFGLen=\"4\"")));
    EXPECT_EQ(model_.itemCount(), 0);

    // Counts 2 and three good items: the third is refused with the count at that moment.
    ASSERT_TRUE(load(description(uR"(
        <CfgItem Name="A" Bits="8" Type="1" MaxVal="9"/>
        <CfgItem Name="B" Bits="8" Type="1" MaxVal="9"/>
        <CfgItem Name="C" Bits="8" Type="1" MaxVal="9"/>
    )", u"CFGLen=\"4\" Counts=\"2\"")));
    EXPECT_EQ(model_.itemCount(), 2);
    EXPECT_EQ(model_.capacity(), 2);
    EXPECT_TRUE(logHas(u"#CDevCfgXml::LoadXmlItem : AddItmeFmt Fail(2)\r\n"));
}

TEST_F(ConfigModelTest, ALengthBeyondThePacketIsRefused) {
    ASSERT_TRUE(load(kWorked));
    // 4,088 data bytes fit the packet; 4,089 cannot.
    EXPECT_FALSE(load(description(u"", u"CFGLen=\"4089\" Counts=\"1\"")));
    EXPECT_TRUE(logHas(u"#CDevCfgXml::loadCfgXml : CFGLen Fail(4089)\r\n"));
    EXPECT_FALSE(load(description(u"", u"CFGLen=\"65535\" Counts=\"1\"")));
    EXPECT_EQ(model_.configLength(), 4) << "the model it found stays";
    EXPECT_EQ(model_.itemCount(), 4);
    EXPECT_TRUE(load(description(u"<CfgItem Name=\"T\" Bits=\"8192\" Type=\"2\"/>", u"CFGLen=\"4088\" Counts=\"1\"")));
    EXPECT_EQ(model_.itemCount(), 1);
}

TEST_F(ConfigModelTest, OnlyItemsMayFollowEachOther) {
    const struct {
        std::u16string between;
        bool result;
        std::uint16_t items;
    } cases[] = {
        {u"\n\t  \r\n", true, 2},
        {u"<!-- a remark -->", false, 1},
        {u"stray text", false, 1},
        {u"<CfgItems Name=\"X\" Bits=\"1\" Type=\"0\"/>", false, 1},
        {u"<?pi here?>", false, 1},
    };
    for (const auto& c : cases) {
        const std::u16string xml = description(u"<CfgItem Name=\"A\" Bits=\"8\" Type=\"1\" MaxVal=\"9\"/>" + c.between +
                                               u"<CfgItem Name=\"B\" Bits=\"8\" Type=\"1\" MaxVal=\"9\"/>");
        EXPECT_EQ(load(xml), c.result) << narrow(c.between);
        EXPECT_EQ(model_.itemCount(), c.items) << narrow(c.between);
    }
}

TEST_F(ConfigModelTest, OffsetsFollowTheWidthsWithTag100) {
    ASSERT_TRUE(load(description(uR"(
        <CfgItem Name="A" Bits="8" Type="0"/>
        <CfgItem Name="B" Bits="16" Type="1" MaxVal="9" Ofs="99"/>
        <CfgItem Name="C" Bits="1" Type="1" MaxVal="1"/>
        <CfgItem Name="D" Bits="8" Type="1" MaxVal="9"/>
        <CfgItem Name="E" Bits="7" Type="1" MaxVal="9"/>
    )")));
    ASSERT_EQ(model_.itemCount(), 4);
    EXPECT_EQ(item(u"A").offset, 0);
    EXPECT_EQ(item(u"B").offset, 8) << "Ofs does not count with tag 100";
    EXPECT_EQ(item(u"C").offset, 24);
    EXPECT_EQ(model_.findItem(u"D"), nullptr) << "25 + 8 bits do not fit in 4 bytes";
    EXPECT_EQ(item(u"E").offset, 25);
    EXPECT_EQ(model_.bitsUsed(), 32u);

    ASSERT_TRUE(load(description(u"<CfgItem Name=\"A\" Bits=\"8\" Type=\"1\" MaxVal=\"9\" Ofs=\"20\"/>"
                                 u"<CfgItem Name=\"B\" Bits=\"8\" Type=\"1\" MaxVal=\"9\" Ofs=\"0\"/>",
                                 u"CFGLen=\"4\" Counts=\"2\"", u"VTAG=\"200\"")));
    EXPECT_EQ(item(u"A").offset, 20);
    EXPECT_EQ(item(u"B").offset, 0);
}

TEST_F(ConfigModelTest, ItemsTheChecksRefuse) {
    const std::u16string name20 = u"N2345678901234567890";
    const struct {
        std::u16string attributes;
        bool accepted;
    } cases[] = {
        {u"Name=\"" + name20 + u"\" Bits=\"8\" Type=\"1\" MaxVal=\"9\"", true},
        {u"Name=\"" + name20 + u"1\" Bits=\"8\" Type=\"1\" MaxVal=\"9\"", false},
        {u"Bits=\"8\" Type=\"1\" MaxVal=\"9\"", false},
        {u"Name=\"N\" Bits=\"0\" Type=\"0\"", false},
        {u"Name=\"N\" Bits=\"65536\" Type=\"0\"", false},
        {u"Name=\"N\" Bits=\"-8\" Type=\"0\"", false},
        {u"Name=\"N\" Bits=\"3\" Type=\"0\"", true},
        {u"Name=\"N\" Bits=\"32\" Type=\"1\" MaxVal=\"9\" MinVal=\"9\"", true},
        {u"Name=\"N\" Bits=\"33\" Type=\"1\" MaxVal=\"9\"", false},
        {u"Name=\"N\" Bits=\"8\" Type=\"1\" MaxVal=\"-2\" MinVal=\"-1\"", false},
        {u"Name=\"N\" Bits=\"8\" Type=\"257\" MaxVal=\"9\"", true},
        {u"Name=\"N\" Bits=\"16\" Type=\"2\"", true},
        {u"Name=\"N\" Bits=\"12\" Type=\"2\"", false},
        {u"Name=\"N\" Bits=\"8\" Type=\"3\"", false},
        {u"Name=\"N\" Bits=\"8\" Type=\"3\" Datas=\"\"", false},
        {u"Name=\"N\" Bits=\"32\" Type=\"3\" Datas=\"a;b\"", true},
        {u"Name=\"N\" Bits=\"33\" Type=\"3\" Datas=\"a;b\"", false},
        {u"Name=\"N\" Bits=\"8\" Type=\"4\"", false},
        {u"Name=\"N\" Bits=\"8\" Type=\"1\" MaxVal=\"9\" CurrVal=\"5\" CharNums=\"3\" Foo=\"x\"", true},
    };
    for (const auto& c : cases) {
        const std::u16string xml = description(u"<CfgItem " + c.attributes + u"/>", u"CFGLen=\"8\" Counts=\"1\"");
        ASSERT_TRUE(load(xml)) << narrow(c.attributes);
        EXPECT_EQ(model_.itemCount(), c.accepted ? 1 : 0) << narrow(c.attributes);
        EXPECT_EQ(logHas(u"AddItmeFmt Fail(0)"), !c.accepted) << narrow(c.attributes);
        theLog().createTextBuffer();
    }
}

TEST_F(ConfigModelTest, SelectionCountsAndLongChoices) {
    std::u16string longChoices;
    for (int i = 0; i < 300; ++i) longChoices += u"ab;";  // 900 characters, 300 separators
    longChoices += std::u16string(200, u'z') + u";;;";    // separators beyond the first 1,024 characters
    ASSERT_TRUE(load(description(u"<CfgItem Name=\"S\" Bits=\"4\" Type=\"3\" Datas=\"A;B;;C\"/>"
                                 u"<CfgItem Name=\"T\" Bits=\"4\" Type=\"3\" Datas=\"A;\"/>"
                                 u"<CfgItem Name=\"L\" Bits=\"16\" Type=\"3\" Datas=\"" + longChoices + u"\"/>")));
    EXPECT_EQ(item(u"S").selectionCount(), 4);
    EXPECT_EQ(item(u"T").selectionCount(), 2);
    EXPECT_EQ(item(u"L").selectionCount(), 301);
    EXPECT_EQ(item(u"L").choices, longChoices.substr(0, 1024)) << "kept as counted";

    // The description line of the long one carries exactly the choices it was counted from.
    std::uint16_t size = 0;
    EXPECT_FALSE(model_.getItemFmt(2, nullptr, &size));
    EXPECT_EQ(size, 128 + 1024);
    std::vector<char16_t> buffer(size, u'#');
    ASSERT_TRUE(model_.getItemFmt(2, buffer.data(), &size));
    const std::u16string line(buffer.data(), size);
    EXPECT_EQ(line, u"Name=L,Type=3,SlctCnts=301,Tag=0,Datas=" + longChoices.substr(0, 1024) + u"\r\n");
}

TEST_F(ConfigModelTest, DescriptionLines) {
    ASSERT_TRUE(load(description(uR"(
        <CfgItem Name="Speed" Bits="8" Type="1" MaxVal="255" MinVal="0"/>
        <CfgItem Name="Mode" Bits="1" Type="3" Datas="Off;On"/>
        <CfgItem Name="Gap" Bits="3" Type="0"/>
        <CfgItem Name="Title" Bits="16" Type="2" Tag="2"/>
        <CfgItem Name="Neg" Bits="4" Type="1" MaxVal="-1" MinVal="-8" Tag="5"/>
        <CfgItem Name="Sel" Bits="4" Type="3" Datas="0123456789"/>
    )", u"CFGLen=\"8\" Counts=\"8\"")));
    EXPECT_EQ(fmt(0), "Name=Speed,Type=1,MaxVal=255,MinVal=0,Tag=0\r\n");
    EXPECT_EQ(fmt(1), "Name=Mode,Type=3,SlctCnts=2,Tag=0,Datas=Off;On\r\n");
    EXPECT_EQ(fmt(2), "");
    EXPECT_EQ(fmt(3), "Name=Title,Type=2,CharNums=2,Tag=2\r\n");
    EXPECT_EQ(fmt(4), "Name=Neg,Type=1,MaxVal=-1,MinVal=-8,Tag=5\r\n");
    EXPECT_EQ(fmt(6), "(false)");

    // Sizes: no buffer, a buffer one unit too small, exactly large enough.
    const struct {
        std::uint16_t index;
        std::uint16_t toProvide;
        std::size_t lineLength;
    } sizes[] = {{0, 128, 45}, {5, 138, 51}, {3, 128, 36}};
    for (const auto& s : sizes) {
        std::uint16_t size = 999;
        EXPECT_FALSE(model_.getItemFmt(s.index, nullptr, &size));
        EXPECT_EQ(size, s.toProvide);
        std::vector<char16_t> buffer(s.lineLength + 1, u'#');
        size = static_cast<std::uint16_t>(s.lineLength);
        theLog().createTextBuffer();
        EXPECT_FALSE(model_.getItemFmt(s.index, buffer.data(), &size));
        EXPECT_EQ(size, s.toProvide);
        EXPECT_EQ(buffer[s.lineLength], u'#') << "nothing written past the size given";
        EXPECT_TRUE(logHas(u"#tavrInvalidParameterHandler : InvalidParam: File = ")) << s.index;
        size = static_cast<std::uint16_t>(s.lineLength + 1);
        EXPECT_TRUE(model_.getItemFmt(s.index, buffer.data(), &size));
        EXPECT_EQ(size, s.lineLength);
        EXPECT_EQ(buffer[s.lineLength], 0);
    }
    std::uint16_t size = 50;
    EXPECT_TRUE(model_.getItemFmt(2, nullptr, &size)) << "a placeholder has no line";
    EXPECT_EQ(size, 0);
    size = 50;
    EXPECT_FALSE(model_.getItemFmt(100, nullptr, &size));
    EXPECT_EQ(size, 0);
}

TEST_F(ConfigModelTest, ValuesAndTheirLimits) {
    ASSERT_TRUE(load(description(uR"(
        <CfgItem Name="Byte" Bits="8" Type="1" MaxVal="100" MinVal="0"/>
        <CfgItem Name="Signed" Bits="8" Type="1" MaxVal="10" MinVal="-10"/>
        <CfgItem Name="Mode" Bits="2" Type="3" Datas="a;b;c"/>
        <CfgItem Name="Word" Bits="32" Type="2"/>
        <CfgItem Name="Hex" Bits="32" Type="2" Tag="2"/>
        <CfgItem Name="Gap" Bits="6" Type="0"/>
        <CfgItem Name="A2345678901234567890" Bits="8" Type="1" MaxVal="9"/>
    )", u"CFGLen=\"16\" Counts=\"8\"")));
    const struct {
        const char16_t* name;
        const char16_t* text;  // set as text when the item is a text item
        std::int32_t number;
        bool accepted;
        const char* shown;
    } cases[] = {
        {u"Byte", nullptr, 300, true, "44"},    // cut to 8 bits, within 0..100
        {u"Byte", nullptr, 200, false, "44"},   // out of range: unchanged
        {u"Byte", nullptr, -212, true, "44"},   // 0xFF2C cut to 0x2C
        {u"Signed", nullptr, -5, true, "-5"},   // no cutting below 0
        {u"Signed", nullptr, 300, false, "-5"},
        {u"Signed", nullptr, -11, false, "-5"},
        {u"Mode", nullptr, 2, true, "2"},
        {u"Mode", nullptr, 3, false, "2"},
        {u"Mode", nullptr, -1, false, "2"},
        {u"Word", u"abcd", 0, true, "abcd"},
        {u"Word", u"abcde", 0, false, "abcd"},
        {u"Word", u"", 0, false, "abcd"},
        {u"Hex", u"0a1b2c3d", 0, true, "0a1b2c3d"},
        {u"Hex", u"0a1b2c3d4", 0, false, "0a1b2c3d"},
        {u"Gap", nullptr, 1, false, ""},
    };
    for (const auto& c : cases) {
        CfgItem& it = item(c.name);
        const bool set = it.type == kCfgText ? model_.setItemVal(it, c.text, 0) : model_.setItemVal(it, c.number);
        EXPECT_EQ(set, c.accepted) << narrow(c.name) << " " << c.number;
        EXPECT_EQ(val(c.name), c.shown) << narrow(c.name) << " " << c.number;
    }
    EXPECT_FALSE(model_.setItemVal(item(u"Word"), nullptr, 0));
    EXPECT_FALSE(model_.setItemVal(item(u"Byte"), u"1", 0)) << "a text for a number item";
    EXPECT_FALSE(model_.setItemVal(item(u"Word"), 5));
    // A given length counts, a zero unit inside ends the text.
    EXPECT_TRUE(model_.setItemVal(item(u"Word"), u"xy\0z", 4));
    EXPECT_EQ(val(u"Word"), "xy");
    const std::u16string tooLong(1025, u'a');
    EXPECT_FALSE(model_.setItemVal(item(u"Hex"), tooLong.c_str(), 0));

    // A 25-character key finds the item named by its first 20.
    EXPECT_NE(model_.findItem(u"A2345678901234567890abcde"), nullptr);
    EXPECT_EQ(model_.findItem(u"A234567890123456789"), nullptr);
    EXPECT_EQ(model_.findItem(u"byte"), nullptr);
    EXPECT_EQ(model_.findItem(nullptr), nullptr);
}

TEST_F(ConfigModelTest, ValueTextSizes) {
    ASSERT_TRUE(load(description(u"<CfgItem Name=\"N\" Bits=\"8\" Type=\"1\" MaxVal=\"255\"/>"
                                 u"<CfgItem Name=\"T\" Bits=\"64\" Type=\"2\"/>",
                                 u"CFGLen=\"9\" Counts=\"2\"")));
    ASSERT_EQ(model_.itemCount(), 2);
    const struct {
        const char16_t* name;
        std::uint16_t capacity;
        bool ok;
        std::uint16_t size;
    } cases[] = {
        {u"N", 31, false, 32}, {u"N", 32, true, 1}, {u"T", 200, false, 0},  // no text yet
        {u"X", 200, false, 0},
    };
    for (const auto& c : cases) {
        std::vector<char16_t> buffer(c.capacity + 1, u'#');
        std::uint16_t size = c.capacity;
        EXPECT_EQ(model_.getItemVal(c.name, buffer.data(), &size), c.ok) << narrow(c.name) << c.capacity;
        EXPECT_EQ(size, c.size) << narrow(c.name) << c.capacity;
        EXPECT_EQ(buffer[c.capacity], u'#');
    }
    ASSERT_TRUE(model_.setItemVal(item(u"T"), u"hello", 0));
    std::uint16_t size = 36;
    char16_t buffer[64];
    EXPECT_FALSE(model_.getItemVal(u"T", buffer, &size));
    EXPECT_EQ(size, 37);
    EXPECT_FALSE(model_.getItemVal(u"T", nullptr, &size));
    size = 37;
    EXPECT_TRUE(model_.getItemVal(u"T", buffer, &size));
    EXPECT_EQ(std::u16string(buffer, size), u"hello");
}

TEST_F(ConfigModelTest, TheWorkedPacket) {
    ASSERT_TRUE(load(kWorked));
    ASSERT_TRUE(model_.takeCfgDat(packetWith(hexBytes("00 00 00 00")).data(), 12));
    ASSERT_TRUE(model_.setCfgVal(u"A", u"18", false));
    ASSERT_TRUE(model_.setCfgVal(u"B", u"3", false));
    ASSERT_TRUE(model_.setCfgVal(u"C", u"5", false));
    EXPECT_EQ(hexText(data()), "00 00 00 00") << "values are held in the model only";
    ASSERT_TRUE(model_.setCfgVal(u"D", u"Z", true));
    EXPECT_EQ(hexText(model_.packetBytes()), "01 02 00 04 01 84 77 88 12 35 5A 00");

    // A name that matches nothing changes nothing and is no error.
    EXPECT_TRUE(model_.setCfgVal(u"Nope", u"1", false));
    // A value outside its limits is refused and nothing is packed.
    EXPECT_FALSE(model_.setCfgVal(u"B", u"4", true));
    EXPECT_EQ(hexText(model_.packetBytes()), "01 02 00 04 01 84 77 88 12 35 5A 00");
    EXPECT_EQ(val(u"B"), "3");
}

TEST_F(ConfigModelTest, PacketChecks) {
    ASSERT_TRUE(load(kWorked));
    const Bytes good = packetWith(hexBytes("12 35 5A 00"));
    const struct {
        const char* what;
        std::size_t at;
        std::uint8_t value;
        bool accepted;
    } cases[] = {
        {"as it is", 0, 1, true},
        {"bytes 6 and 7 differ", 6, 0x00, true},
        {"bytes 6 and 7 differ", 7, 0xFF, true},
        {"check value off by one", 5, 0x85, false},
        {"another device", 0, 2, false},
        {"another configuration", 1, 3, false},
        {"another length", 3, 5, false},
        {"another version", 4, 2, false},
    };
    for (const auto& c : cases) {
        Bytes p = good;
        p[c.at] = c.value;
        theLog().createTextBuffer();
        EXPECT_EQ(model_.takeCfgDat(p.data(), p.size()), c.accepted) << c.what;
        EXPECT_EQ(logHas(u"#CDevCfgXml::chkCfgDatPkt : Check Config Packet Fail\r\n"), !c.accepted) << c.what;
    }
    EXPECT_FALSE(model_.chkCfgDatPkt(good.data(), 11)) << "shorter than L + 8";
    Bytes longer = good;
    longer.resize(kCfgPacketSize, 0xEE);
    EXPECT_TRUE(model_.chkCfgDatPkt(longer.data(), longer.size()));
    longer.push_back(0xEE);
    EXPECT_FALSE(model_.chkCfgDatPkt(longer.data(), longer.size())) << "more than 4,096 bytes";
    EXPECT_FALSE(model_.chkCfgDatPkt(nullptr, 12));

    // The length in the packet must be the description's and not 0.
    ASSERT_TRUE(load(description(u"<CfgItem Name=\"A\" Bits=\"8\" Type=\"0\"/>",
                                 u"DEVID=\"1\" CFGID=\"2\" CFGVer=\"1\" Counts=\"1\"", u"VTAG=\"200\"")));
    ASSERT_EQ(model_.itemCount(), 1);
    const Bytes empty = packetWith({});
    EXPECT_FALSE(model_.takeCfgDat(empty.data(), empty.size()));

    // Nothing is taken in while the model has no items.
    ASSERT_TRUE(load(description(u"")));
    EXPECT_FALSE(model_.takeCfgDat(good.data(), good.size()));
}

TEST_F(ConfigModelTest, NumbersFromTheirFields) {
    ASSERT_TRUE(load(description(uR"(
        <CfgItem Name="Rev" Bits="16" Type="1" MaxVal="65535" MinVal="0" Tag="1"/>
        <CfgItem Name="Neg" Bits="8" Type="1" MaxVal="127" MinVal="-128" Ofs="16"/>
        <CfgItem Name="Sel" Bits="3" Type="3" Datas="a;b;c;d;e" Ofs="29"/>
        <CfgItem Name="Wide" Bits="28" Type="1" MaxVal="268435455" MinVal="0" Ofs="37"/>
    )", u"DEVID=\"1\" CFGID=\"2\" CFGLen=\"9\" CFGVer=\"1\" Counts=\"4\"", u"VTAG=\"200\"")));
    // Rev: 34 12 | Neg: FF | Sel: bits 29..31 (04) | Wide: bits 37..64, all 0, between bits set
    Bytes d = hexBytes("34 12 FF 04 F8 00 00 00 07");
    ASSERT_TRUE(model_.takeCfgDat(packetWith(d).data(), 17));
    EXPECT_EQ(val(u"Rev"), "4660");
    EXPECT_EQ(val(u"Neg"), "-1");
    EXPECT_EQ(val(u"Sel"), "4");
    EXPECT_EQ(val(u"Wide"), "0") << "bits 37..64 are all 0";

    ASSERT_TRUE(model_.setCfgVal(u"Wide", u"200000001", false));
    ASSERT_TRUE(model_.setCfgVal(u"Rev", u"4660", false));
    ASSERT_TRUE(model_.setCfgVal(u"Sel", u"1", true));
    const Bytes packed = data();
    EXPECT_EQ(hexText(Bytes(packed.begin(), packed.begin() + 4)), "34 12 FF 01") << "bytes reversed again";
    EXPECT_EQ(packed[4] & 0xF8, 0xF8) << "the bits before the 28-bit field";
    EXPECT_EQ(packed[8] & 0x07, 0x07) << "the bits after it";
    ASSERT_TRUE(model_.takeCfgDat(model_.packetBytes().data(), 17));
    EXPECT_EQ(val(u"Wide"), "200000001");

    // A value in the packet outside its item's limits stops the walk: items before it are updated.
    ASSERT_TRUE(load(description(uR"(
        <CfgItem Name="P" Bits="8" Type="1" MaxVal="255" MinVal="0"/>
        <CfgItem Name="Q" Bits="8" Type="1" MaxVal="10" MinVal="0"/>
        <CfgItem Name="R" Bits="8" Type="1" MaxVal="255" MinVal="0"/>
        <CfgItem Name="S" Bits="8" Type="3" Datas="a;b"/>
    )")));
    ASSERT_TRUE(model_.takeCfgDat(packetWith(hexBytes("01 02 03 01")).data(), 12));
    EXPECT_FALSE(model_.takeCfgDat(packetWith(hexBytes("07 0B 09 00")).data(), 12));
    EXPECT_EQ(val(u"P"), "7");
    EXPECT_EQ(val(u"Q"), "2");
    EXPECT_EQ(val(u"R"), "3");
    EXPECT_FALSE(model_.takeCfgDat(packetWith(hexBytes("07 02 09 02")).data(), 12)) << "selection index 2 of 2";
}

TEST_F(ConfigModelTest, TextsPlainAndHexadecimal) {
    ASSERT_TRUE(load(description(u"<CfgItem Name=\"Plain\" Bits=\"64\" Type=\"2\"/>"
                                 u"<CfgItem Name=\"Hex\" Bits=\"32\" Type=\"2\" Tag=\"2\"/>",
                                 u"DEVID=\"1\" CFGID=\"2\" CFGLen=\"12\" CFGVer=\"1\" Counts=\"2\"")));
    const Bytes d = hexBytes("41 42 00 43 44 45 46 47 DE AD 00 01");
    ASSERT_TRUE(model_.takeCfgDat(packetWith(d).data(), 20));
    EXPECT_EQ(val(u"Plain"), "AB");
    EXPECT_EQ(val(u"Hex"), "dead0001");

    ASSERT_TRUE(model_.setCfgVal(u"Plain", u"xy", true));
    EXPECT_EQ(hexText(data()), "78 79 00 43 44 45 46 47 DE AD 00 01");
    for (const char16_t* hex : {u"0A1B", u"0a 1b", u"A,1B"}) {
        ASSERT_TRUE(model_.takeCfgDat(packetWith(d).data(), 20));
        ASSERT_TRUE(model_.setCfgVal(u"Hex", hex, true)) << narrow(hex);
        EXPECT_EQ(hexText(data()), "41 42 00 43 44 45 46 47 0A 1B 00 01") << narrow(hex);
    }
    const struct {
        const char16_t* item;
        const char16_t* value;
    } refused[] = {
        {u"Plain", u"12345678"},   // no room for the terminating zero
        {u"Hex", u"0102030405"},   // five bytes in a four-byte field: refused when set
        {u"Hex", u"0g"},
        {u"Hex", u" , ;"},         // no byte at all
    };
    for (const auto& r : refused) {
        ASSERT_TRUE(model_.takeCfgDat(packetWith(d).data(), 20));
        EXPECT_FALSE(model_.setCfgVal(r.item, r.value, true)) << narrow(r.value);
        EXPECT_EQ(hexText(data()), hexText(d)) << narrow(r.value);
    }
    // An empty field reads as an empty text and packs as one zero byte.
    ASSERT_TRUE(model_.takeCfgDat(packetWith(hexBytes("00 00 00 00 00 00 00 00 01 02 03 04")).data(), 20));
    EXPECT_EQ(val(u"Plain"), "");
    ASSERT_TRUE(model_.setCfgVal(u"Hex", u"ff", true));
    EXPECT_EQ(hexText(data()), "00 00 00 00 00 00 00 00 FF 02 03 04");
}

TEST_F(ConfigModelTest, TextsInTheCodePageAreNeverCut) {
    ASSERT_TRUE(load(description(u"<CfgItem Name=\"Three\" Bits=\"24\" Type=\"2\"/>"
                                 u"<CfgItem Name=\"Eight\" Bits=\"64\" Type=\"2\"/>",
                                 u"DEVID=\"1\" CFGID=\"2\" CFGLen=\"11\" CFGVer=\"1\" Counts=\"2\"")));
    const Bytes d = hexBytes("41 00 2E 2E 2E 2E 2E 2E 2E 2E 2E");
    ASSERT_TRUE(model_.takeCfgDat(packetWith(d).data(), 19));
    EXPECT_EQ(val(u"Three"), "A");
    // Two characters fit three bytes by count, but not "a" and an ideograph in bytes: refused
    // whole, whether the code page gives it 2 bytes (GBK) or 3 (UTF-8).
    EXPECT_FALSE(model_.setCfgVal(u"Three", u"a\u4E2D", true));
    EXPECT_EQ(hexText(data()), hexText(d));
    ASSERT_TRUE(model_.takeCfgDat(packetWith(d).data(), 19));

    const std::u16string wide = u"\u4E2D\u6587";
    ASSERT_TRUE(model_.setCfgVal(u"Eight", wide.c_str(), true));
    const std::string bytes = test::ansi(wide);
    Bytes expected(d.begin(), d.begin() + 3);
    expected.insert(expected.end(), bytes.begin(), bytes.end());
    expected.push_back(0);
    while (expected.size() < d.size()) expected.push_back(0x2E);
    EXPECT_EQ(hexText(data()), hexText(expected));
    ASSERT_TRUE(model_.takeCfgDat(model_.packetBytes().data(), 19));
    char16_t buffer[64];
    std::uint16_t size = 64;
    ASSERT_TRUE(model_.getItemVal(u"Eight", buffer, &size));
    EXPECT_EQ(std::u16string(buffer, size), wide) << "read back as written";
}

TEST_F(ConfigModelTest, FieldsOutsideTheDataFailWithoutTouchingThePacket) {
    // Tag 200 offsets come from the description unchecked; the packet has 4 data bytes.
    ASSERT_TRUE(load(description(u"<CfgItem Name=\"In\" Bits=\"8\" Type=\"1\" MaxVal=\"255\" Ofs=\"24\"/>"
                                 u"<CfgItem Name=\"Out\" Bits=\"8\" Type=\"1\" MaxVal=\"255\" Ofs=\"65535\"/>",
                                 u"DEVID=\"1\" CFGID=\"2\" CFGLen=\"4\" CFGVer=\"1\" Counts=\"2\"", u"VTAG=\"200\"")));
    Bytes p = packetWith(hexBytes("01 02 03 04"));
    p.resize(64, 0xAB);  // bytes after the packet
    EXPECT_FALSE(model_.takeCfgDat(p.data(), p.size()));
    EXPECT_EQ(val(u"In"), "4");
    ASSERT_TRUE(model_.setCfgVal(u"In", u"9", false));
    EXPECT_FALSE(model_.setCfgVal(u"Out", u"7", true));
    EXPECT_FALSE(model_.setCfgVal(u"In", u"9", true));
    const std::uint8_t* packet = model_.packet();
    EXPECT_EQ(hexText(Bytes(packet, packet + 12)), hexText(packetWith(hexBytes("01 02 03 04"))));
    for (std::size_t i = 12; i < 64; ++i) ASSERT_EQ(packet[i], 0xAB) << i;
    for (std::size_t i = 64; i < kCfgPacketSize; ++i) ASSERT_EQ(packet[i], 0) << i;

    // A text field at the end that would run past the data.
    ASSERT_TRUE(load(description(u"<CfgItem Name=\"T\" Bits=\"16\" Type=\"2\" Ofs=\"24\"/>",
                                 u"DEVID=\"1\" CFGID=\"2\" CFGLen=\"4\" CFGVer=\"1\" Counts=\"1\"", u"VTAG=\"200\"")));
    EXPECT_FALSE(model_.takeCfgDat(packetWith(hexBytes("01 02 03 04")).data(), 12));
}

TEST_F(ConfigModelTest, NothingIsPackedBeforeAPacketOfTheDescriptionWasTaken) {
    ASSERT_TRUE(load(kWorked));
    ASSERT_TRUE(model_.setCfgVal(u"D", u"Z", false));  // every item has a value to pack
    EXPECT_FALSE(model_.setCfgVal(u"A", u"18", true));
    EXPECT_TRUE(logHas(u"#CDevCfgXml::chkCfgDatPkt : Check Config Packet Fail\r\n"));
    for (std::size_t i = 0; i < kCfgPacketSize; ++i) ASSERT_EQ(model_.packet()[i], 0) << i;
    EXPECT_TRUE(model_.packetBytes().empty());
    EXPECT_EQ(val(u"A"), "18") << "the value itself is held";

    // A packet taken in for another description does not count either.
    ASSERT_TRUE(model_.takeCfgDat(packetWith(hexBytes("12 35 5A 00")).data(), 12));
    ASSERT_TRUE(load(description(u"<CfgItem Name=\"A\" Bits=\"8\" Type=\"1\" MaxVal=\"255\"/>",
                                 u"DEVID=\"7\" CFGID=\"2\" CFGLen=\"4\" CFGVer=\"1\" Counts=\"1\"")));
    EXPECT_FALSE(model_.setCfgVal(u"A", u"1", true));
    EXPECT_EQ(hexText(model_.packetBytes()), "01 02 00 04 01 84 77 88 12 35 5A 00");
}

TEST_F(ConfigModelTest, DescriptionFromAFile) {
    const auto folder = test::makeTempFolder("cfgxml");
    const auto file = folder / "devCfg.xml";
    {
        std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TavrCfg VTAG=\"100\"><CfgInfo CFGLen=\"2\" Counts=\"1\">"
                           "<CfgItem Name=\"\xE6\x89\x93\" Bits=\"8\" Type=\"1\" MaxVal=\"9\"/></CfgInfo></TavrCfg>";
        std::FILE* f = std::fopen(file.string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(utf8.data(), 1, utf8.size(), f);
        std::fclose(f);
    }
    ASSERT_TRUE(model_.loadCfgXml(file.u16string().c_str(), nullptr));
    EXPECT_NE(model_.findItem(u"\u6253"), nullptr);
    EXPECT_FALSE(model_.loadCfgXml((folder / "missing.xml").u16string().c_str(), nullptr));
    EXPECT_FALSE(model_.loadCfgXml(nullptr, nullptr));
    EXPECT_EQ(model_.itemCount(), 1);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tavrin
