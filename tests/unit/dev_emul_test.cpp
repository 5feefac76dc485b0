// Command packets on their own: framing, the checksum test, reassembly of replies fed piece by
// piece, and the reply wait on a port that plays back a scripted byte stream.
#include "devicelib/core/dev_emul.h"

#include <gtest/gtest.h>

#include <deque>
#include <numeric>
#include <vector>

#include "devicelib/ports/b_port.h"
#include "tests/support/hex_bytes.h"

namespace tavrin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::hexBytes;
using test::hexText;

Bytes packetBytes(const PacketView& v) { return Bytes(v.data, v.data + v.length); }

TEST(BuildPacket, FramesCodeLengthChecksumAndPayload) {
    Bytes long300(300);
    std::iota(long300.begin(), long300.end(), std::uint8_t{0});
    unsigned sum255 = 0;
    for (int i = 0; i < 255; ++i) sum255 += long300[static_cast<std::size_t>(i)];

    struct Case {
        const char* what;
        std::uint8_t code;
        Bytes data;
        std::uint16_t length;
        Bytes expected;
    };
    Bytes cut = {0x10, 0x07, 0xFF, static_cast<std::uint8_t>(sum255)};
    cut.insert(cut.end(), long300.begin(), long300.begin() + 255);
    const Case cases[] = {
        {"no data", 0x01, {}, 0, hexBytes("10 01 00 00")},
        {"checksum modulo 256", 0x08, hexBytes("01 02 FF"), 3, hexBytes("10 08 03 02 01 02 FF")},
        {"sync byte inside the payload", 0x10, hexBytes("10 10"), 2, hexBytes("10 10 02 20 10 10")},
        {"300 bytes cut to 255", 0x07, long300, 300, cut},
    };
    for (const Case& c : cases) {
        CDevEmul emul;
        const PacketView v = emul.buildPacket(c.code, c.data.empty() ? nullptr : c.data.data(), c.length);
        EXPECT_EQ(hexText(packetBytes(v)), hexText(c.expected)) << c.what;
    }
}

TEST(CheckPacket, SyncByteAndChecksum) {
    struct Case {
        Bytes packet;
        bool valid;
    };
    const Case cases[] = {
        {hexBytes("10 01 02 03 01 02"), true},
        {hexBytes("10 01 02 04 01 02"), false},  // sum wrong
        {hexBytes("11 01 02 03 01 02"), false},  // no sync byte
        {hexBytes("10 01 00 06"), true},         // no payload: byte 3 is the acknowledge code
        {hexBytes("10 01 03 03 01 02"), false},  // shorter than it says
        {hexBytes("10 01"), false},
    };
    for (const Case& c : cases) EXPECT_EQ(checkPacket(c.packet.data(), c.packet.size()), c.valid) << hexText(c.packet);
}

// Feeds in order, each with what acceptBytes must report, and the reply left at the end.
struct Feed {
    Bytes bytes;
    bool restart;
    bool complete;
    std::int32_t r;
    std::uint16_t used;
};
struct ReassemblyCase {
    const char* what;
    std::vector<Feed> feeds;
    bool replied;
    std::uint8_t code;
    std::uint8_t ackCode;
    Bytes payload;
};

TEST(AcceptBytes, ReassemblesRepliesFedPieceByPiece) {
    const ReassemblyCase cases[] = {
        {"reply without payload", {{hexBytes("10 01 00 06"), true, true, 0, 4}}, true, 0x01, 0x06, {}},
        {"reply with payload", {{hexBytes("10 01 02 03 01 02"), true, true, 0, 6}}, true, 0x01, 0x00, hexBytes("01 02")},
        {"noise before the sync byte is skipped",
         {{hexBytes("FF 00 55 10 02 01 07 07"), true, true, 0, 8}}, true, 0x02, 0, hexBytes("07")},
        {"only noise: a whole packet is still awaited", {{hexBytes("FF 00 55"), true, false, -259, 3}}, false, 0, 0, {}},
        {"header whole, payload over three feeds",
         {{hexBytes("10 03 03 06"), true, false, -3, 4},
          {hexBytes("01 02"), false, false, -1, 2},
          {hexBytes("03"), false, true, 0, 1}},
         true, 0x03, 0, hexBytes("01 02 03")},
        {"bytes behind a complete reply: r counts the bytes that completed it",
         {{hexBytes("10 01 02 03 01 02 10 01"), true, true, 2, 6}}, true, 0x01, 0, hexBytes("01 02")},
        {"bad checksum ending with the bytes: dropped, nothing lacking",
         {{hexBytes("10 01 02 00 01 02"), true, false, 0, 6}}, false, 0, 0, {}},
        {"bad checksum with bytes behind it",
         {{hexBytes("10 01 02 00 01 02 10 01 00 05"), true, false, 2, 6}}, false, 0, 0, {}},
        {"restart forgets what was collected",
         {{hexBytes("10 01 02 03 01"), true, false, -1, 5}, {hexBytes("10 04 00 00"), true, true, 0, 4}},
         true, 0x04, 0, {}},
    };
    for (const ReassemblyCase& c : cases) {
        CDevEmul emul;
        for (std::size_t i = 0; i < c.feeds.size(); ++i) {
            const Feed& f = c.feeds[i];
            const Accepted a = emul.acceptBytes(f.bytes.data(), static_cast<std::uint16_t>(f.bytes.size()), f.restart);
            EXPECT_EQ(a.complete, f.complete) << c.what << ", feed " << i;
            EXPECT_EQ(a.r, f.r) << c.what << ", feed " << i;
            EXPECT_EQ(a.used, f.used) << c.what << ", feed " << i;
        }
        const auto reply = emul.takeReply();
        ASSERT_EQ(reply.has_value(), c.replied) << c.what;
        if (!reply) continue;
        EXPECT_EQ(reply->code, c.code) << c.what;
        EXPECT_EQ(reply->ackCode, c.ackCode) << c.what;
        EXPECT_EQ(hexText(Bytes(reply->payload, reply->payload + reply->length)), hexText(c.payload)) << c.what;
        EXPECT_EQ(reply->payload == nullptr, c.payload.empty()) << c.what;
    }
}

TEST(AcceptBytes, UntilItsLengthByteArrivesAReplyIsMeasuredByThePacketBefore) {
    CDevEmul emul;
    const Bytes data = hexBytes("AA BB CC DD EE");
    emul.buildPacket(0x08, data.data(), 5);  // the sent packet leaves length 5 in the buffer
    const Bytes start = hexBytes("10 08");
    const Accepted a = emul.acceptBytes(start.data(), 2, true);
    EXPECT_FALSE(a.complete);
    EXPECT_EQ(a.r, 2 - 5 - 4);
}

// A control port that plays back a byte stream: each arrival is what the device has sent by the
// time of one read; an empty arrival is a read that times out. Records what each read asked for.
class ScriptedPort : public CBPort {
public:
    explicit ScriptedPort(std::vector<Bytes> arrivals) : CBPort(PORT_USBPRN), arrivals_(arrivals.begin(), arrivals.end()) {}

    std::int32_t readPort(void* buffer, std::uint32_t length, std::uint32_t* count, void*) override {
        asked.push_back(length);
        *count = 0;
        if (length == 0) return 1;  // as a real port: nothing to wait for
        if (arrivals_.empty()) return 0;
        Bytes& next = arrivals_.front();
        if (next.empty()) {
            arrivals_.pop_front();
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(length, next.size());
        std::copy(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(n), static_cast<std::uint8_t*>(buffer));
        next.erase(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(n));
        if (next.empty()) arrivals_.pop_front();
        *count = static_cast<std::uint32_t>(n);
        return 1;
    }

    std::vector<std::uint32_t> asked;

private:
    std::deque<Bytes> arrivals_;
};

TEST(ReadReply, RetriesWantedSizesAndRefeeding) {
    struct Case {
        const char* what;
        std::vector<Bytes> arrivals;
        std::vector<std::uint32_t> asked;
        bool replied;
        Bytes payload;
    };
    const Bytes none;
    const Case cases[] = {
        {"no answer: four reads in all", {}, {259, 259, 259, 259}, false, {}},
        {"three time-outs, then the reply", {none, none, none, hexBytes("10 01 00 00")}, {259, 259, 259, 259}, true, {}},
        {"retries count over the whole wait",
         {none, hexBytes("10 01 03 06 01"), none, none, none}, {259, 259, 2, 2, 2}, false, {}},
        {"payload split: the second read asks for exactly the missing bytes",
         {hexBytes("10 01 03 06 01"), hexBytes("02 03")}, {259, 2}, true, hexBytes("01 02 03")},
        {"noise alone, then the reply", {hexBytes("FF 00"), hexBytes("10 01 01 07 07")}, {259, 259}, true, hexBytes("07")},
        {"a valid reply right behind a corrupted one in the same read",
         {hexBytes("10 01 01 00 07 10 01 01 07 07")}, {259}, true, hexBytes("07")},
        {"noise behind a corrupted reply, the valid one in the next read",
         {hexBytes("10 01 01 00 07 FF FF"), hexBytes("10 01 01 07 07")}, {259, 259}, true, hexBytes("07")},
        {"a corrupted reply ending the read leaves nothing wanted",
         {hexBytes("10 01 01 00 07"), hexBytes("10 01 00 00")}, {259, 0, 0, 0, 0}, false, {}},
    };
    for (const Case& c : cases) {
        ScriptedPort port(c.arrivals);
        CDevEmul emul;
        emul.buildPacket(0x01, nullptr, 0);
        const auto reply = readReply(port, emul);
        EXPECT_EQ(port.asked, c.asked) << c.what;
        ASSERT_EQ(reply.has_value(), c.replied) << c.what;
        if (reply) {
            EXPECT_EQ(hexText(Bytes(reply->payload, reply->payload + reply->length)), hexText(c.payload)) << c.what;
        }
    }
}

}  // namespace
}  // namespace tavrin
