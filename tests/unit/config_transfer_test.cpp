// The configuration transfers against a scripted device: what goes out for the description
// document (0x1A), the packet read (0x17) and written (0x18), and what each answer leads to;
// "devCfg.dat" in a folder of the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "devicelib/config/cfg_codec.h"
#include "devicelib/config/cfg_transfer.h"
#include "devicelib/core/dev_app.h"
#include "tests/support/hex_bytes.h"
#include "tests/support/library_under_test.h"

namespace tavrin::config {
namespace {

using test::hexBytes;
using test::hexText;
using Bytes = std::vector<std::uint8_t>;

struct Sent {
    std::uint8_t code;
    Bytes payload;
};

// A device answer: a status alone (data empty) or data; nothing makes the exchange fail.
struct Reply {
    std::uint8_t status = 0;
    Bytes data;
};

// Answers as DevIoCtrl does: data that does not fit the answer space fails the exchange.
class ScriptedDevice {
public:
    std::function<std::optional<Reply>(const Sent&)> answer;
    std::vector<Sent> sent;

    CfgExchange exchange() {
        return [this](std::uint8_t code, const std::uint8_t* data, std::uint16_t length, _DEVACK_INFO& ack) {
            sent.push_back({code, Bytes(data, data + length)});
            const std::optional<Reply> r = answer(sent.back());
            if (!r) return false;
            ack.datLen = static_cast<std::uint16_t>(r->data.size());
            ack.ackCode = r->data.empty() ? r->status : 0;
            if (r->data.empty()) return true;
            if (ack.lpBuf == nullptr || r->data.size() > ack.bufLen) return false;
            std::copy(r->data.begin(), r->data.end(), ack.lpBuf);
            return true;
        };
    }
    std::vector<std::string> payloads(std::uint8_t code, std::size_t prefix = 2) const {
        std::vector<std::string> out;
        for (const Sent& s : sent)
            if (s.code == code)
                out.push_back(hexText(Bytes(s.payload.begin(), s.payload.begin() + static_cast<std::ptrdiff_t>(std::min(prefix, s.payload.size())))));
        return out;
    }
};

std::size_t offsetOf(const Bytes& payload) { return std::size_t{payload[0]} << 8 | payload[1]; }

Bytes header(std::uint16_t length, std::uint16_t check) {
    Bytes h = {'x', 'm', 'l', 'C', 'f', 'g', 'D', 'o', 'c', '0', '1', 0x00};
    h.push_back(static_cast<std::uint8_t>(length));
    h.push_back(static_cast<std::uint8_t>(length >> 8));
    h.push_back(static_cast<std::uint8_t>(check));
    h.push_back(static_cast<std::uint8_t>(check >> 8));
    return h;
}

// Serves a document in pieces of piece bytes at the offsets asked for.
std::optional<Reply> serveDocument(const Sent& s, const Bytes& head, const Bytes& document, std::size_t piece) {
    if (s.payload.empty()) return Reply{0, head};
    const std::size_t at = offsetOf(s.payload);
    if (at >= document.size()) return Reply{0, {}};
    const std::size_t n = std::min(piece, document.size() - at);
    return Reply{0, Bytes(document.begin() + static_cast<std::ptrdiff_t>(at), document.begin() + static_cast<std::ptrdiff_t>(at + n))};
}

class ConfigTransferTest : public ::testing::Test {
protected:
    void SetUp() override { theLog().createTextBuffer(); }
    void TearDown() override { theLog().freeTextBuffer(); }
    static bool logHas(const std::u16string& text) { return theLog().collectedText().find(text) != std::u16string::npos; }

    ScriptedDevice device_;
};

TEST_F(ConfigTransferTest, DescriptionInPiecesCheckedOverItsLengthInBits) {
    Bytes document(1024);
    std::iota(document.begin(), document.end(), std::uint8_t{7});
    // 0x0400 little-endian: 1,024 bytes, checked over their first 1,024 bits.
    const Bytes head = header(0x0400, crc16Bits(document.data(), 1024));
    EXPECT_EQ(hexText(Bytes(head.begin() + 12, head.begin() + 14)), "00 04");
    device_.answer = [&](const Sent& s) { return serveDocument(s, head, document, 200); };

    const auto got = readDescription(device_.exchange());
    ASSERT_TRUE(got);
    EXPECT_EQ(Bytes(got->begin(), got->end()), document);
    EXPECT_EQ(device_.payloads(kCmdReadDescription),
              (std::vector<std::string>{"", "00 00", "00 C8", "01 90", "02 58", "03 20", "03 E8"}));

    // A check value stepped over all 8,192 bits is not the device's.
    const Bytes byteWise = header(0x0400, crc16Bits(document.data(), 1024 * 8));
    device_.answer = [&](const Sent& s) { return serveDocument(s, byteWise, document, 200); };
    EXPECT_FALSE(readDescription(device_.exchange()));
}

TEST_F(ConfigTransferTest, DescriptionFailures) {
    const Bytes document = {'<', 'R', '/', '>', ' ', ' ', ' '};
    const Bytes good = header(7, crc16Bits(document.data(), 7));
    const struct {
        const char* what;
        std::function<std::optional<Reply>(const Sent&)> answer;
    } cases[] = {
        {"the header refused", [&](const Sent& s) { return s.payload.empty() ? Reply{5, {}} : serveDocument(s, good, document, 3); }},
        {"no header at all", [&](const Sent& s) { return s.payload.empty() ? Reply{0, {}} : serveDocument(s, good, document, 3); }},
        {"a header of 15 bytes", [&](const Sent& s) { return serveDocument(s, Bytes(good.begin(), good.end() - 1), document, 3); }},
        {"another signature", [&](const Sent& s) { Bytes h = good; h[0] = 'X'; return serveDocument(s, h, document, 3); }},
        {"length 0", [&](const Sent& s) { return serveDocument(s, header(0, 0xFFFF), document, 3); }},
        {"a wrong check value", [&](const Sent& s) { return serveDocument(s, header(7, static_cast<std::uint16_t>(good[14] | good[15] << 8) ^ 1), document, 3); }},
        {"a short document", [&](const Sent& s) { return serveDocument(s, header(8, 0), document, 3); }},
        {"a piece beyond the length", [&](const Sent& s) { return serveDocument(s, header(5, crc16Bits(document.data(), 5)), document, 3); }},
        {"a piece refused", [&](const Sent& s) -> std::optional<Reply> { if (!s.payload.empty() && offsetOf(s.payload) == 3) return Reply{2, {}}; return serveDocument(s, good, document, 3); }},
        {"an exchange failed", [&](const Sent& s) -> std::optional<Reply> { if (!s.payload.empty() && offsetOf(s.payload) == 3) return std::nullopt; return serveDocument(s, good, document, 3); }},
    };
    for (const auto& c : cases) {
        device_.answer = c.answer;
        EXPECT_FALSE(readDescription(device_.exchange())) << c.what;
    }
    device_.answer = [&](const Sent& s) { return serveDocument(s, good, document, 3); };
    ASSERT_TRUE(readDescription(device_.exchange()));
}

TEST_F(ConfigTransferTest, PacketReadInPieces) {
    const struct {
        const char* what;
        std::vector<std::optional<Reply>> replies;
        std::size_t total;
        std::vector<std::string> offsets;
    } cases[] = {
        {"three pieces and the end", {Reply{0, Bytes(100, 1)}, Reply{0, Bytes(50, 2)}, Reply{0, {}}}, 150, {"00 00", "00 64", "00 96"}},
        {"no data at once", {Reply{0, {}}}, 0, {"00 00"}},
        {"a refusal after a piece", {Reply{0, Bytes(10, 1)}, Reply{4, {}}}, 0, {"00 00", "00 0A"}},
        {"a failed exchange", {Reply{0, Bytes(10, 1)}, std::nullopt}, 0, {"00 00", "00 0A"}},
    };
    for (const auto& c : cases) {
        device_.sent.clear();
        std::size_t next = 0;
        device_.answer = [&](const Sent&) { return c.replies.at(next++); };
        theLog().createTextBuffer();
        Bytes buffer(4096, 0);
        EXPECT_EQ(readPacket(device_.exchange(), buffer.data(), 4096, theLog()), c.total) << c.what;
        EXPECT_EQ(device_.payloads(kCmdReadPacket), c.offsets) << c.what;
        const std::string total = std::to_string(c.total);
        EXPECT_TRUE(logHas(u"#RefreshDevCfgDat : 读 配 置 数 据 从 设 备(" + std::u16string(total.begin(), total.end()) + u")\r\n"))
            << c.what;
        if (c.total == 150) {
            EXPECT_EQ(buffer[99], 1);
            EXPECT_EQ(buffer[100], 2);
            EXPECT_EQ(buffer[150], 0);
        }
    }
    // A device that keeps sending past the buffer fails inside the exchange.
    device_.answer = [&](const Sent&) { return Reply{0, Bytes(255, 3)}; };
    Bytes small(300, 0);
    EXPECT_EQ(readPacket(device_.exchange(), small.data(), 300, theLog()), 0u);
}

TEST_F(ConfigTransferTest, PacketWrittenInChunks) {
    Bytes packet(300);
    std::iota(packet.begin(), packet.end(), std::uint8_t{0});
    const struct {
        const char* what;
        std::function<std::optional<Reply>(const Sent&)> answer;
        bool ok;
        std::vector<std::string> offsets;  // each 0x18 sent: its first two bytes
        std::vector<std::size_t> sizes;    // and the packet bytes it carried
    } cases[] = {
        {"whole chunks", [](const Sent&) { return Reply{0, {}}; }, true, {"00 00", "00 FD", "FF FF"}, {253, 47, 0}},
        {"counts given", [](const Sent& s) { return Reply{0, s.payload.size() == 2 ? Bytes{} : Bytes{0x00, static_cast<std::uint8_t>(s.payload.size() == 255 ? 253 : 47), 0xEE}}; },
         true, {"00 00", "00 FD", "FF FF"}, {253, 47, 0}},
        {"100 of 253 taken", [](const Sent& s) { return offsetOf(s.payload) == 0 ? Reply{0, {0x00, 0x64}} : Reply{0, {}}; },
         true, {"00 00", "00 64", "FF FF"}, {253, 200, 0}},
        {"a chunk refused", [](const Sent& s) { return offsetOf(s.payload) == 253 ? Reply{3, {}} : Reply{0, {}}; },
         false, {"00 00", "00 FD"}, {253, 47}},
        {"nothing taken", [](const Sent&) { return Reply{0, {0x00, 0x00}}; }, false, {"00 00"}, {253}},
        {"more taken than offered", [](const Sent&) { return Reply{0, {0x01, 0x00}}; }, false, {"00 00"}, {253}},
        {"a count of one byte", [](const Sent&) { return Reply{0, {0x05}}; }, false, {"00 00"}, {253}},
        {"an exchange failed", [](const Sent& s) -> std::optional<Reply> { if (offsetOf(s.payload) == 253) return std::nullopt; return Reply{0, {}}; },
         false, {"00 00", "00 FD"}, {253, 47}},
        {"the end refused", [](const Sent& s) { return s.payload.size() == 2 ? Reply{9, {}} : Reply{0, {}}; }, true, {"00 00", "00 FD", "FF FF"}, {253, 47, 0}},
    };
    for (const auto& c : cases) {
        device_.sent.clear();
        device_.answer = c.answer;
        theLog().createTextBuffer();
        EXPECT_EQ(writePacket(device_.exchange(), packet, theLog()), c.ok) << c.what;
        EXPECT_EQ(device_.payloads(kCmdWritePacket), c.offsets) << c.what;
        std::vector<std::size_t> sizes;
        for (const Sent& s : device_.sent) {
            sizes.push_back(s.payload.size() - 2);
            if (s.payload.size() > 2) {
                const std::size_t at = offsetOf(s.payload);
                EXPECT_EQ(Bytes(s.payload.begin() + 2, s.payload.end()),
                          Bytes(packet.begin() + static_cast<std::ptrdiff_t>(at), packet.begin() + static_cast<std::ptrdiff_t>(at + s.payload.size() - 2)))
                    << c.what << " at " << at;
            }
        }
        EXPECT_EQ(sizes, c.sizes) << c.what;
    }
    EXPECT_TRUE(logHas(u"#RefreshDevCfgDat : 写 配 置 数 据(9)\r\n"));
    device_.sent.clear();
    device_.answer = [](const Sent& s) { return offsetOf(s.payload) == 253 ? Reply{3, {}} : Reply{0, {}}; };
    EXPECT_FALSE(writePacket(device_.exchange(), packet, theLog()));
    EXPECT_TRUE(logHas(u"#RefreshDevCfgDat : 写 配 置 数 据 应 答 错 误1(3)\r\n"));
    EXPECT_FALSE(writePacket(device_.exchange(), {}, theLog()));
}

TEST_F(ConfigTransferTest, TheDataFile) {
    const auto folder = test::makeTempFolder("cfgdat");
    const std::u16string f = folder.u16string();
    std::vector<std::uint8_t> bytes = hexBytes("01 02 00 04 01 84 77 88 12 35 5A 00");
    ASSERT_TRUE(DBG_LoadDevCfgDat(f, bytes, true, theLog()));
    EXPECT_TRUE(logHas(u"#DBG_LoadDevCfgDat : 写 设 备 配 置 数 据 到 devCfg.dat\r\n"));
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(DBG_LoadDevCfgDat(f, back, false, theLog()));
    EXPECT_EQ(hexText(back), hexText(bytes));
    EXPECT_EQ(test::readFileBytes(folder / "devCfg.dat").size(), 12u) << "the packet and nothing else";

    std::vector<std::uint8_t> shorter = {0xAA};
    ASSERT_TRUE(DBG_LoadDevCfgDat(f, shorter, true, theLog()));
    ASSERT_TRUE(DBG_LoadDevCfgDat(f, back, false, theLog()));
    EXPECT_EQ(hexText(back), "AA") << "the file is replaced, not overwritten in place";

    std::ofstream(folder / "devCfg.dat", std::ios::binary | std::ios::trunc).close();
    EXPECT_FALSE(DBG_LoadDevCfgDat(f, back, false, theLog())) << "empty";
    std::filesystem::remove(folder / "devCfg.dat");
    EXPECT_FALSE(DBG_LoadDevCfgDat(f, back, false, theLog())) << "missing";
    EXPECT_FALSE(DBG_LoadDevCfgDat(u"", back, false, theLog())) << "no user data folder";
    EXPECT_FALSE(DBG_LoadDevCfgDat(u"", bytes, true, theLog()));
    EXPECT_FALSE(DBG_LoadDevCfgDat((folder / "no-such-folder").u16string(), bytes, true, theLog()));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tavrin::config
