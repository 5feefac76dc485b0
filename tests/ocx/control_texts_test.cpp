// The browser control's texts and its methods over a stand-in bridge: escaping, hexadecimal text
// both ways with its bounds, the item array, and every method's text for each outcome, with the
// arguments the bridge receives and the calls it must not receive.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/text_utf.h"
#include "tavrinocx/control_methods.h"
#include "tavrinocx/control_texts.h"

namespace tavrin::ocx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using BridgeText = std::basic_string<tavrin_wchar_t>;

// Readable in failure messages.
std::string u8(const std::u16string& s) { return utf::utf16ToUtf8Lossy(s); }
std::u16string fromBridge(const BridgeText& s) { return std::u16string(s.begin(), s.end()); }
BridgeText toBridge(const std::u16string& s) { return BridgeText(s.begin(), s.end()); }

TEST(ControlTexts, JsonEscape) {
    const struct {
        std::u16string in, out;
    } cases[] = {
        {u"", u""},
        {u"plain text 123", u"plain text 123"},
        {u"\b\t\n\f\r", uR"(\b\t\n\f\r)"},
        {u"say \"hi\"", uR"(say \"hi\")"},
        {u"a/b\\c", uR"(a\/b\\c)"},
        {u"\\\\?\\hid#vid_1234", uR"(\\\\?\\hid#vid_1234)"},
        {u"\x01\x1f\x7f", u"\x01\x1f\x7f"},                   // other control characters pass
        {u"\u6253\u5370\u673a\u3000", u"\u6253\u5370\u673a\u3000"},  // non-ASCII passes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(u8(c.in));
        EXPECT_EQ(u8(jsonEscape(c.in)), u8(c.out));
    }
}

TEST(ControlTexts, HexTextToBytes) {
    const struct {
        std::u16string in;
        std::uint32_t result;
        Bytes bytes;
    } cases[] = {
        {u"01 a0,FF", kHexOk, {0x01, 0xA0, 0xFF}},
        {u"deadBEEF", kHexOk, {0xDE, 0xAD, 0xBE, 0xEF}},
        {u"zz -", kHexOk, {}},  // no digits: no bytes
        {u"", kHexEmpty, {}},
        {u"1", kHexOddDigits, {}},
        {u"0x01", kHexOddDigits, {}},  // the X is dropped, 001 is left
        {u"12 3", kHexOddDigits, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(u8(c.in));
        std::uint8_t out[8];
        std::memset(out, 0x55, sizeof out);
        std::size_t count = 99;
        EXPECT_EQ(hexToBytes(c.in, out, sizeof out, count), c.result);
        EXPECT_EQ(Bytes(out, out + count), c.bytes);
        if (c.result == kHexOk) {
            EXPECT_EQ(out[count], 0);  // the rest cleared
        }
    }
}

TEST(ControlTexts, HexTextIsBoundedByTheDataArea) {
    // The area exactly: 8192 digits fill 4096 bytes; two digits more are refused, and nothing is
    // written (a heap area of exactly that size: a write past it is caught).
    std::vector<std::uint8_t> area(kDataCapacity, 0x55);
    std::size_t count = 0;
    EXPECT_EQ(hexToBytes(std::u16string(2 * kDataCapacity, u'a'), area.data(), area.size(), count), kHexOk);
    EXPECT_EQ(count, kDataCapacity);
    EXPECT_EQ(area.back(), 0xAA);
    std::fill(area.begin(), area.end(), 0x55);
    EXPECT_EQ(hexToBytes(std::u16string(2 * kDataCapacity + 2, u'a'), area.data(), area.size(), count), kHexTooLong);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(area.front(), 0x55);
    // A small area too.
    std::uint8_t two[2];
    EXPECT_EQ(hexToBytes(u"010203", two, sizeof two, count), kHexTooLong);
    // A capacity above the area is refused before anything is written.
    std::vector<std::uint8_t> big(kDataCapacity + 1, 0x55);
    EXPECT_EQ(hexToBytes(u"01", big.data(), big.size(), count), kHexCapacity);
    EXPECT_EQ(big.front(), 0x55);
}

TEST(ControlTexts, BytesToHex) {
    const Bytes some = {0x01, 0xAB, 0x00, 0xFF};
    EXPECT_EQ(u8(bytesToHex(some.data(), 2)), "0x01 0xab ");
    EXPECT_EQ(u8(bytesToHex(some.data(), 4)), "0x01 0xab 0x00 0xff ");
    EXPECT_EQ(u8(bytesToHex(some.data(), 0)), "");
}

TEST(ControlTexts, ItemArray) {
    const std::u16string speed = u"Name=Speed,Type=1,MaxVal=255,MinVal=0,Tag=0,CurVal=7";
    const std::u16string speedObject =
        uR"({"Name":"Speed","Type":"1","MaxVal":"255","MinVal":"0","Tag":"0","CurVal":"7"})";
    std::u16string many;  // 25 parts: a=0 .. a=24
    std::u16string first20 = u"{";
    for (int i = 0; i < 25; ++i) {
        const std::string part = "a=" + std::to_string(i);
        many += (i ? u"," : u"") + std::u16string(part.begin(), part.end());
        if (i < 20) first20 += (i ? u",\"a\":\"" : u"\"a\":\"") + std::u16string(part.begin() + 2, part.end()) + u"\"";
    }
    first20 += u"}";
    const struct {
        const char* what;
        std::vector<std::u16string> items;
        std::u16string array;
    } cases[] = {
        {"no items", {}, u"[]"},
        {"the Speed item", {speed}, u"[" + speedObject + u"]"},
        {"two items", {u"A=1,B=2", speed}, uR"([{"A":"1","B":"2"},)" + speedObject + u"]"},
        {"an item without a comma writes no object, its separators stay",
         {u"A=1,B=2", u"Lone=1", u"C=3,D=4"},
         uR"([{"A":"1","B":"2"},,{"C":"3","D":"4"}])"},
        {"a single item without a comma", {u"Lone=1"}, u"[]"},
        {"parts without an equals sign, with two, and empty ones",
         {u"plain,k=v=w,,="},
         uR"([{"":"plain","k":"v=w","":"","":""}])"},
        {"names and values escaped", {u"Na\"me=C:\\dir/x,T=\t"}, uR"([{"Na\"me":"C:\\dir\/x","T":"\t"}])"},
        {"at most 20 parts of an item", {many}, u"[" + first20 + u"]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(u8(itemArray(c.items)), u8(c.array));
    }
}

TEST(ControlTexts, ResultCodes) {
    EXPECT_EQ(u8(rtnCodeText(0)), R"({"RtnCode":0})");
    EXPECT_EQ(u8(rtnCodeText(DE_ERR_DEVICE)), R"({"RtnCode":20000000})");
    EXPECT_EQ(u8(resultText(DE_ERR_PARAM)), R"({"Result":10000002})");
    EXPECT_EQ(u8(resultText(-1)), R"({"Result":ffffffff})");
    EXPECT_EQ(u8(hexCode(0xABC)), "abc");
}

// A stand-in bridge: each function records its arguments and answers what the test set.
struct Fake {
    int calls = 0;
    std::int32_t rc = DE_OK;
    // EnumDevPath
    std::uint16_t portType = 0, vID = 0, pID = 0, count = 0;
    std::uint32_t sizeIn = 0;
    bool bufferZeroed = false;
    std::u16string paths;
    bool fillWithoutNul = false;
    // EnumProtoCode
    std::uint16_t idx = 0, code = 0;
    bool hasDescription = true;
    BridgeText description;
    // OpenDev
    std::int32_t handleOut = -1, readTimeout = 0, writeTimeout = 0, handle = 0;
    std::int16_t openType = 0, openMode = 0;
    std::u16string text1, text2;
    // DevIoCtrl
    Bytes sent;
    std::uint16_t bufLen = 0;
    Bytes answer;
    std::uint16_t datLen = 0;
    std::uint8_t ackCode = 0;
    // GetDevType
    std::int32_t nLen = 0;
    std::string typeBytes;
    // GetDevPars
    std::vector<std::u16string> items;
    bool listEmptyOnEntry = false;
};
Fake fake;

std::int32_t TAVRIN_API fakeEnumDevPath(uint16_t* DevCount, uint16_t portType, tavrin_wchar_t* pathStr,
                                        uint32_t& sizes, uint16_t vID, uint16_t pID) {
    ++fake.calls;
    fake.portType = portType;
    fake.vID = vID;
    fake.pID = pID;
    fake.sizeIn = sizes;
    fake.bufferZeroed = true;
    for (std::uint32_t i = 0; i < sizes; ++i) fake.bufferZeroed = fake.bufferZeroed && pathStr[i] == 0;
    if (fake.fillWithoutNul) {
        for (std::uint32_t i = 0; i < sizes; ++i) pathStr[i] = 'x';
    } else {
        for (std::size_t i = 0; i < fake.paths.size(); ++i) pathStr[i] = fake.paths[i];
        pathStr[fake.paths.size()] = 0;
    }
    *DevCount = fake.count;
    return fake.rc;
}

std::int32_t TAVRIN_API fakeEnumProtoCode(const tavrin_wchar_t*& szDesc, uint16_t idx, uint16_t& code) {
    ++fake.calls;
    fake.idx = idx;
    szDesc = fake.hasDescription ? fake.description.c_str() : nullptr;
    code = fake.code;
    return fake.rc;
}

std::int32_t TAVRIN_API fakeOpenDev(int32_t* hDev, const tavrin_wchar_t* path, int32_t readTimeout,
                                    int32_t writeTimeout, int16_t portType, int16_t portMode) {
    ++fake.calls;
    fake.text1 = fromBridge(path);
    fake.readTimeout = readTimeout;
    fake.writeTimeout = writeTimeout;
    fake.openType = portType;
    fake.openMode = portMode;
    *hDev = fake.handleOut;
    return fake.rc;
}

std::int32_t TAVRIN_API fakeCloseDev(int32_t pHandle) {
    ++fake.calls;
    fake.handle = pHandle;
    return fake.rc;
}

std::int32_t TAVRIN_API fakeGetDevType(int32_t hDev, char* buffer, int32_t nLen) {
    ++fake.calls;
    fake.handle = hDev;
    fake.nLen = nLen;
    if (!fake.typeBytes.empty())
        std::memcpy(buffer, fake.typeBytes.data(), std::min<std::size_t>(fake.typeBytes.size(), nLen));
    return fake.rc;
}

std::int32_t TAVRIN_API fakeGetDevPars(int32_t HDEV, tavrin_bridge_text_map& metaData,
                                       tavrin_bridge_text_list& vFormatArr) {
    ++fake.calls;
    fake.handle = HDEV;
    fake.listEmptyOnEntry = vFormatArr.empty() && metaData.empty();
    for (const auto& item : fake.items) vFormatArr.push_back(toBridge(item));
    return fake.rc;
}

std::int32_t TAVRIN_API fakeSetDevCfgInfo(int32_t HDEV, const tavrin_wchar_t* name, const tavrin_wchar_t* val) {
    ++fake.calls;
    fake.handle = HDEV;
    fake.text1 = fromBridge(name);
    fake.text2 = fromBridge(val);
    return fake.rc;
}

std::int32_t TAVRIN_API fakeDevIoCtrl(int32_t hDev, const tavrin_wchar_t* name, const uint8_t* data, int32_t count,
                                      _DEVACK_INFO* answer) {
    ++fake.calls;
    fake.handle = hDev;
    fake.text1 = fromBridge(name);
    fake.sent.assign(data, data + count);
    fake.bufLen = answer->bufLen;
    if (!fake.answer.empty())
        std::memcpy(answer->lpBuf, fake.answer.data(), std::min<std::size_t>(fake.answer.size(), answer->bufLen));
    answer->datLen = fake.datLen;
    answer->ackCode = fake.ackCode;
    return fake.rc;
}

BridgeEntries fakeEntries() {
    BridgeEntries e;
    e.EnumDevPath = fakeEnumDevPath;
    e.EnumProtoCode = fakeEnumProtoCode;
    e.OpenDev = fakeOpenDev;
    e.CloseDev = fakeCloseDev;
    e.GetDevType = fakeGetDevType;
    e.GetDevPars = fakeGetDevPars;
    e.SetDevCfgInfo = fakeSetDevCfgInfo;
    e.DevIoCtrl = fakeDevIoCtrl;
    return e;
}

class ControlMethodsTest : public ::testing::Test {
protected:
    void SetUp() override { fake = Fake{}; }
    ControlMethods methods_{fakeEntries()};
};

TEST_F(ControlMethodsTest, EnumDevPath) {
    const struct {
        const char* what;
        std::int32_t rc;
        std::uint16_t count;
        std::u16string paths;
        std::string text;
    } cases[] = {
        {"no device", DE_OK, 0, u"", R"({"RtnCode":20000000})"},
        {"two paths, backslashes doubled, CR LF escaped", DE_OK, 2,
         u"\\\\?\\usb#vid_0483&pid_5720#1\r\n127.0.0.2:9100",
         R"({"RtnCode":0,"RtnVal":2,"pathStr":"\\\\?\\usb#vid_0483&pid_5720#1\r\n127.0.0.2:9100"})"},
        {"a bridge failure whatever it was", DE_ERR_BUFSIZE, 3, u"x", R"({"RtnCode":20000000})"},
        {"a wrong port type", DE_ERR_PORTTYPE, 0, u"", R"({"RtnCode":20000000})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.rc = c.rc;
        fake.count = c.count;
        fake.paths = c.paths;
        EXPECT_EQ(u8(methods_.enumDevPath(0x10401, u"ignored", 0x12345, 0xFFFF5720)), c.text);
        EXPECT_EQ(fake.portType, 0x0401);  // low 16 bits of each number
        EXPECT_EQ(fake.vID, 0x2345);
        EXPECT_EQ(fake.pID, 0x5720);
        EXPECT_EQ(fake.sizeIn, 4096u);
        EXPECT_TRUE(fake.bufferZeroed);
    }
    // A list that fills the whole area without its NUL is read no further than the area.
    fake = Fake{};
    fake.count = 1;
    fake.fillWithoutNul = true;
    EXPECT_EQ(u8(methods_.enumDevPath(0x401, u"", 0, 0)),
              R"({"RtnCode":0,"RtnVal":1,"pathStr":")" + std::string(4096, 'x') + R"("})");
}

TEST_F(ControlMethodsTest, EnumProtoCode) {
    const struct {
        const char* what;
        std::int32_t rc;
        bool hasDescription;
        std::u16string description;
        std::uint16_t code;
        std::string text;
    } cases[] = {
        {"row 0", DE_OK, true, u"CTRL_CMDGET_MODEL", 1, R"({"RtnCode":0,"RtnVal":"CTRL_CMDGET_MODEL","code":1})"},
        {"code in decimal, name escaped", DE_OK, true, u"A\"B/C", 0x80, R"({"RtnCode":0,"RtnVal":"A\"B\/C","code":128})"},
        {"past the last row", DE_OK, false, u"", 0, R"({"Result":0})"},
        {"a bridge failure", DE_ERR_DEVICE, true, u"X", 0, R"({"Result":20000000})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.rc = c.rc;
        fake.hasDescription = c.hasDescription;
        fake.description = toBridge(c.description);
        fake.code = c.code;
        EXPECT_EQ(u8(methods_.enumProtoCode(0x10003)), c.text);
        EXPECT_EQ(fake.idx, 3);
    }
}

TEST_F(ControlMethodsTest, OpenDevAndCloseDev) {
    fake.handleOut = 4;
    EXPECT_EQ(methods_.openDev(u"127.0.0.2:9100", 500, 2000, 0x10401, 0x10003), 4);
    EXPECT_EQ(u8(fake.text1), "127.0.0.2:9100");
    EXPECT_EQ(fake.readTimeout, 500);
    EXPECT_EQ(fake.writeTimeout, 2000);
    EXPECT_EQ(fake.openType, 0x0401);
    EXPECT_EQ(fake.openMode, 3);
    // The handle as the bridge left it, whatever its return code.
    fake.handleOut = -1;
    fake.rc = DE_ERR_DEVICE;
    EXPECT_EQ(methods_.openDev(u"no-such-device", 0, 0, 0x401, 3), -1);

    fake.rc = DE_OK;
    EXPECT_TRUE(methods_.closeDev(6));
    EXPECT_EQ(fake.handle, 6);
    fake.rc = DE_ERR_DEVICE;
    EXPECT_FALSE(methods_.closeDev(6));
}

TEST_F(ControlMethodsTest, DevIoCtrl) {
    const struct {
        const char* what;
        std::u16string inDats;
        std::int32_t rc;
        Bytes answer;
        std::uint16_t datLen;
        std::uint8_t ackCode;
        bool called;
        Bytes sent;
        std::string text;
    } cases[] = {
        {"an answer with data", u"01 a0,FF", DE_OK, {0x01, 0xAB}, 2, 0, true, {0x01, 0xA0, 0xFF},
         R"({"Result":1,"lpBuf":"0x01 0xab "})"},
        {"no digits: a command without data", u"--", DE_OK, {0x7F}, 1, 0, true, {}, R"({"Result":1,"lpBuf":"0x7f "})"},
        {"empty input: nothing sent", u"", DE_OK, {0x01}, 1, 0, false, {}, R"({"Result":0})"},
        {"odd digits: nothing sent", u"123", DE_OK, {0x01}, 1, 0, false, {}, R"({"Result":0})"},
        {"more digits than the area: nothing sent", std::u16string(8194, u'0'), DE_OK, {0x01}, 1, 0, false, {},
         R"({"Result":0})"},
        {"an empty answer", u"01", DE_OK, {}, 0, 0, true, {0x01}, R"({"Result":0})"},
        {"a non-zero acknowledge code", u"01", DE_OK, {0x05}, 1, 5, true, {0x01}, R"({"Result":0})"},
        {"a failed exchange", u"01", DE_ERR_DEVICE, {0x01}, 1, 0, true, {0x01}, R"({"Result":0})"},
        {"a length past the answer area", u"01", DE_OK, {0x01}, 4097, 0, true, {0x01}, R"({"Result":0})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake = Fake{};
        fake.rc = c.rc;
        fake.answer = c.answer;
        fake.datLen = c.datLen;
        fake.ackCode = c.ackCode;
        EXPECT_EQ(u8(methods_.devIoCtrl(u"CTRL_CMDGET_MODEL", c.inDats, 2)), c.text);
        EXPECT_EQ(fake.calls, c.called ? 1 : 0);
        if (c.called) {
            EXPECT_EQ(u8(fake.text1), "CTRL_CMDGET_MODEL");
            EXPECT_EQ(fake.handle, 2);
            EXPECT_EQ(fake.sent, c.sent);
            EXPECT_EQ(fake.bufLen, 4096);
        }
    }
    // The whole area both ways: 8192 digits go out as 4096 bytes; 4096 answer bytes come back.
    fake = Fake{};
    fake.answer = Bytes(4096, 0xEE);
    fake.datLen = 4096;
    const std::u16string text = methods_.devIoCtrl(u"CTRL_DEVCMD_ST", std::u16string(8192, u'f'), 0);
    EXPECT_EQ(fake.sent, Bytes(4096, 0xFF));
    EXPECT_EQ(text.size(), std::u16string(uR"({"Result":1,"lpBuf":""})").size() + 4096 * 5);
}

TEST_F(ControlMethodsTest, GetDevType) {
    const std::string chinese = platform::toThreadCodePage(u"\u6253\u5370\u673a");
    const struct {
        const char* what;
        std::int32_t rc;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"class byte 0x85 is negative", DE_OK, "\x85TV-N58", R"({"RtnCode":0,DevClass:-123,"DevType":"TV-N58"})"},
        {"class byte 0x01", DE_OK, "\x01P80", R"({"RtnCode":0,DevClass:1,"DevType":"P80"})"},
        {"the type text up to its first zero, escaped", DE_OK, std::string("\x02" "a\"b\\c\0tail", 10),
         R"({"RtnCode":0,DevClass:2,"DevType":"a\"b\\c"})"},
        {"no answer bytes", DE_OK, "", R"({"RtnCode":0,DevClass:0,"DevType":""})"},
        {"the code page's text", DE_OK, "\x03" + chinese,
         "{\"RtnCode\":0,DevClass:3,\"DevType\":\"\u6253\u5370\u673a\"}"},
        {"a bridge failure", DE_ERR_BUFSIZE, "\x01X", R"({"RtnCode":10000001})"},
        {"a parameter failure", DE_ERR_PARAM, "", R"({"RtnCode":10000002})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.rc = c.rc;
        fake.typeBytes = c.bytes;
        EXPECT_EQ(u8(methods_.getDevType(3)), c.text);
        EXPECT_EQ(fake.handle, 3);
        EXPECT_EQ(fake.nLen, 4096);
    }
    // An answer that fills the whole buffer without a zero ends at the buffer.
    fake.rc = DE_OK;
    fake.typeBytes = "\x01" + std::string(4095, 'y') + "overflow";
    EXPECT_EQ(u8(methods_.getDevType(3)), R"({"RtnCode":0,DevClass:1,"DevType":")" + std::string(4095, 'y') + R"("})");
}

TEST_F(ControlMethodsTest, GetCfgInfoAndSetCfgInfo) {
    const struct {
        const char* what;
        std::int32_t rc;
        std::vector<std::u16string> items;
        std::string text;
    } cases[] = {
        {"no items", DE_OK, {}, R"({"RtnCode":0,"Info":[]})"},
        {"the Speed item", DE_OK, {u"Name=Speed,Type=1,MaxVal=255,MinVal=0,Tag=0,CurVal=7"},
         R"({"RtnCode":0,"Info":[{"Name":"Speed","Type":"1","MaxVal":"255","MinVal":"0","Tag":"0","CurVal":"7"}]})"},
        {"two items", DE_OK, {u"Name=Label,Type=2,CharNums=2,Tag=0,CurVal=null", u"Name=X,CurVal=\"q\""},
         R"({"RtnCode":0,"Info":[{"Name":"Label","Type":"2","CharNums":"2","Tag":"0","CurVal":"null"},)"
         R"({"Name":"X","CurVal":"\"q\""}]})"},
        {"the connect failed", DE_ERR_DEVICE, {u"A=1,B=2"}, R"({"RtnCode":20000000})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.rc = c.rc;
        fake.items = c.items;
        EXPECT_EQ(u8(methods_.getCfgInfo(1)), c.text);
        EXPECT_TRUE(fake.listEmptyOnEntry);
        EXPECT_EQ(fake.handle, 1);
    }

    for (const std::int32_t rc : {DE_OK, DE_ERR_DEVICE}) {
        fake.rc = rc;
        EXPECT_EQ(u8(methods_.setCfgInfo(5, u"Speed", u"\u4e5d")), rc == DE_OK ? R"({"RtnCode":0})" : R"({"RtnCode":20000000})");
        EXPECT_EQ(fake.handle, 5);
        EXPECT_EQ(u8(fake.text1), "Speed");
        EXPECT_EQ(u8(fake.text2), "\u4e5d");
    }
}

TEST(ControlMethodsUnbound, MissingEntriesGiveEachMethodsFailureWithoutACall) {
    // No entry at all (the bridge did not load), and a table where only one entry is missing.
    const ControlMethods none{BridgeEntries{}};
    EXPECT_EQ(u8(none.enumDevPath(0x401, u"", 0, 0)), R"({"RtnCode":20000000})");
    EXPECT_EQ(u8(none.enumProtoCode(0)), R"({"Result":0})");
    EXPECT_EQ(none.openDev(u"127.0.0.1:9100", 0, 0, 0x401, 3), -1);
    EXPECT_EQ(u8(none.devIoCtrl(u"CTRL_CMDGET_MODEL", u"01", 0)), R"({"Result":0})");
    EXPECT_FALSE(none.closeDev(0));
    EXPECT_EQ(u8(none.getDevType(0)), R"({"RtnCode":20000000})");
    EXPECT_EQ(u8(none.getCfgInfo(0)), R"({"RtnCode":20000000})");
    EXPECT_EQ(u8(none.setCfgInfo(0, u"Speed", u"1")), R"({"RtnCode":20000000})");

    fake = Fake{};
    BridgeEntries partial = fakeEntries();
    partial.DevIoCtrl = nullptr;
    const ControlMethods some{partial};
    EXPECT_EQ(u8(some.devIoCtrl(u"CTRL_CMDGET_MODEL", u"01", 0)), R"({"Result":0})");
    EXPECT_EQ(fake.calls, 0);
    EXPECT_TRUE(some.closeDev(0));
}

}  // namespace
}  // namespace tavrin::ocx
