// Command packets on their own: framing, the checksum test, reassembly of replies fed piece by
// piece, and the reply wait on a port that plays back a scripted byte stream.
#include "devicelib/core/dev_app.h"
#include "devicelib/core/dev_emul.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <numeric>
#include <vector>

#include "devicelib/ports/b_port.h"
#include "tests/support/hex_bytes.h"
#include "tests/support/scripted_port.h"

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
        {"a length without data: nothing to frame", 0x08, {}, 3, {}},
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
        {"header cut after the sync byte",
         {{hexBytes("10"), true, false, -3, 1}, {hexBytes("01 00 06"), false, true, 0, 3}}, true, 0x01, 0x06, {}},
        {"header cut in the middle, the payload behind it",
         {{hexBytes("10 01"), true, false, -2, 2}, {hexBytes("03 06 01 02 03"), false, true, 0, 5}},
         true, 0x01, 0, hexBytes("01 02 03")},
        {"header over three feeds after noise",
         {{hexBytes("FF 55 10"), true, false, -3, 3}, {hexBytes("02"), false, false, -2, 1},
          {hexBytes("01 07"), false, false, -1, 2}, {hexBytes("07"), false, true, 0, 1}},
         true, 0x02, 0, hexBytes("07")},
        {"header cut before its checksum byte, bytes behind the packet",
         {{hexBytes("10 01 01"), true, false, -2, 3}, {hexBytes("07 07 10 05"), false, true, 1, 2}},
         true, 0x01, 0, hexBytes("07")},
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

using test::ScriptedPort;

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
        {"header cut over two reads", {hexBytes("10 01"), hexBytes("00 06")}, {259, 2}, true, {}},
        {"header cut, then the payload split", {hexBytes("10 01 02"), hexBytes("03 01"), hexBytes("02")},
         {259, 3, 1}, true, hexBytes("01 02")},
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

// Every way one reply can be cut into two or three reads, inside the header as well as in the
// payload, with the sent command leaving a short or a long length byte in the buffer.
TEST(ReadReply, ReassemblesAReplyCutAnywhere) {
    struct Case {
        const char* what;
        Bytes reply;
        std::uint8_t sentLength;
        std::uint8_t ackCode;
        Bytes payload;
    };
    const Case cases[] = {
        {"no payload, short command", hexBytes("10 01 00 06"), 0, 0x06, {}},
        {"payload, short command", hexBytes("10 01 03 06 01 02 03"), 0, 0, hexBytes("01 02 03")},
        {"payload, long command", hexBytes("10 01 03 06 01 02 03"), 200, 0, hexBytes("01 02 03")},
        {"sync bytes inside the payload", hexBytes("10 01 02 20 10 10"), 0, 0, hexBytes("10 10")},
        {"noise first", hexBytes("FF 00 10 01 01 07 07"), 0, 0, hexBytes("07")},
    };
    for (const Case& c : cases) {
        const Bytes sentData(c.sentLength, 0x55);
        for (std::size_t first = 1; first < c.reply.size(); ++first) {
            for (std::size_t second = first; second < c.reply.size(); ++second) {
                std::vector<Bytes> arrivals = {Bytes(c.reply.begin(), c.reply.begin() + static_cast<std::ptrdiff_t>(first))};
                if (second > first)
                    arrivals.emplace_back(c.reply.begin() + static_cast<std::ptrdiff_t>(first),
                                          c.reply.begin() + static_cast<std::ptrdiff_t>(second));
                arrivals.emplace_back(c.reply.begin() + static_cast<std::ptrdiff_t>(second), c.reply.end());
                const std::string where = std::string(c.what) + ", cut at " + std::to_string(first) + " and " +
                                          std::to_string(second);
                ScriptedPort port(arrivals);
                CDevEmul emul;
                emul.buildPacket(0x01, sentData.empty() ? nullptr : sentData.data(), c.sentLength);
                const auto reply = readReply(port, emul);
                ASSERT_TRUE(reply.has_value()) << where;
                EXPECT_EQ(reply->code, 0x01) << where;
                EXPECT_EQ(reply->ackCode, c.ackCode) << where;
                EXPECT_EQ(hexText(Bytes(reply->payload, reply->payload + reply->length)), hexText(c.payload)) << where;
                EXPECT_EQ(emul.leftover(), 0u) << where;
            }
        }
    }
}


// Replies that came in one read: what follows a taken reply is kept for the next wait of the
// same exchange and fed before anything is read.
TEST(ReadReply, KeepsWhatFollowsATakenReplyForTheNextWait) {
    struct Case {
        const char* what;
        std::vector<Bytes> arrivals;
        std::vector<std::uint32_t> askedByTheSecondWait;
        Bytes secondPayload;
        std::uint8_t secondAck;
    };
    const Case cases[] = {
        {"a reply to another code, then the right one, in one read",
         {hexBytes("10 02 00 00 10 01 01 07 07")}, {}, hexBytes("07"), 0},
        {"the right one cut behind the other", {hexBytes("10 02 00 00 10 01"), hexBytes("01 07 07")}, {2, 1},
         hexBytes("07"), 0},
        {"noise between the two", {hexBytes("10 02 00 00 FF 00 10 01 00 05")}, {}, {}, 5},
        {"a corrupted packet between the two", {hexBytes("10 02 00 00 10 03 01 00 07 10 01 00 05")}, {}, {}, 5},
    };
    for (const Case& c : cases) {
        ScriptedPort port(c.arrivals);
        CDevEmul emul;
        emul.buildPacket(0x01, nullptr, 0);
        const auto first = readReply(port, emul);
        ASSERT_TRUE(first.has_value()) << c.what;
        EXPECT_EQ(first->code, 0x02) << c.what;
        EXPECT_EQ(port.asked, std::vector<std::uint32_t>{259}) << c.what;
        port.asked.clear();
        const auto second = readReply(port, emul);
        EXPECT_EQ(port.asked, c.askedByTheSecondWait) << c.what;
        ASSERT_TRUE(second.has_value()) << c.what;
        EXPECT_EQ(second->code, 0x01) << c.what;
        EXPECT_EQ(second->ackCode, c.secondAck) << c.what;
        EXPECT_EQ(hexText(Bytes(second->payload, second->payload + second->length)), hexText(c.secondPayload)) << c.what;
    }
}

// A port that always has bytes to give: a device sending noise, or broken packets, without end.
class EndlessPort : public CBPort {
public:
    explicit EndlessPort(Bytes pattern) : CBPort(PORT_USBPRN, theApp()), pattern_(std::move(pattern)) {}
    std::int32_t readPort(void* buffer, std::uint32_t length, std::uint32_t* count, void*) override {
        ++reads;
        const std::uint32_t n = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(pattern_.size()));
        std::copy(pattern_.begin(), pattern_.begin() + n, static_cast<std::uint8_t*>(buffer));
        *count = n;
        return 1;
    }
    std::int32_t drainInput(void* buffer, std::uint32_t length, std::uint32_t* count) override {
        ++drains;
        return readPort(buffer, length, count, nullptr);
    }
    int reads = 0;
    int drains = 0;

private:
    Bytes pattern_;
};

TEST(ReadReply, EndsAtTheDeadlineOfItsExchange) {
    using Clock = CDevEmul::Clock;
    struct Case {
        const char* what;
        Bytes pattern;
    };
    const Case cases[] = {
        {"noise", hexBytes("FF 00 55 AA")},
        {"corrupted packets, each with a byte behind it", hexBytes("10 01 01 00 07 FF")},
    };
    for (const Case& c : cases) {
        EndlessPort port(c.pattern);
        CDevEmul emul;
        emul.buildPacket(0x01, nullptr, 0);
        const auto start = Clock::now();
        emul.setReplyDeadline(start + std::chrono::milliseconds(100));
        EXPECT_FALSE(readReply(port, emul).has_value()) << c.what;
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(took, 100) << c.what;
        EXPECT_LT(took, 5000) << c.what;
        EXPECT_GT(port.reads, 1) << c.what;

        // Past the deadline, a later wait of the same exchange does not read at all.
        port.reads = 0;
        EXPECT_FALSE(readReply(port, emul).has_value()) << c.what;
        EXPECT_EQ(port.reads, 0) << c.what;
    }
}

// A control port with bytes waiting to be drained, in the pieces one drain read takes.
class WaitingPort : public CBPort {
public:
    WaitingPort(std::vector<Bytes> waiting, bool failAtEnd)
        : CBPort(PORT_USBPRN, theApp()), waiting_(waiting.begin(), waiting.end()), failAtEnd_(failAtEnd) {}
    std::int32_t drainInput(void* buffer, std::uint32_t length, std::uint32_t* count) override {
        ++drains;
        *count = 0;
        if (waiting_.empty()) return failAtEnd_ ? 0 : 1;
        const Bytes next = waiting_.front();
        waiting_.pop_front();
        *count = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(next.size()));
        std::copy(next.begin(), next.begin() + *count, static_cast<std::uint8_t*>(buffer));
        return 1;
    }
    int drains = 0;

private:
    std::deque<Bytes> waiting_;
    bool failAtEnd_;
};

TEST(DiscardStaleInput, TakesWhatWaitsAndWhatWasKept) {
    struct Case {
        const char* what;
        Bytes kept;
        std::vector<Bytes> waiting;
        bool failAtEnd;
        std::uint32_t discarded;
        int drains;
    };
    const Case cases[] = {
        {"nothing", {}, {}, false, 0, 1},
        {"a late reply waiting", {}, {hexBytes("10 01 02 03 01 02")}, false, 6, 2},
        {"in several pieces", {}, {hexBytes("10 01"), hexBytes("00 06 10"), hexBytes("02 00 00")}, false, 8, 4},
        {"kept behind the last reply, and waiting", hexBytes("10 05 00 00"), {hexBytes("FF")}, false, 5, 2},
        {"a port that cannot be drained", hexBytes("10 05"), {}, true, 2, 1},
    };
    for (const Case& c : cases) {
        WaitingPort port(c.waiting, c.failAtEnd);
        CDevEmul emul;
        emul.keepLeftover(c.kept.data(), static_cast<std::uint16_t>(c.kept.size()));
        EXPECT_EQ(discardStaleInput(port, emul), c.discarded) << c.what;
        EXPECT_EQ(port.drains, c.drains) << c.what;
        EXPECT_EQ(emul.leftover(), 0u) << c.what;
    }

    // A device that never stops sending is drained a bounded number of times; the reply wait
    // and its deadline deal with the rest.
    EndlessPort endless(Bytes(300, 0xFF));
    CDevEmul emul;
    EXPECT_EQ(discardStaleInput(endless, emul), 16u * kReceiveBuffer);
    EXPECT_EQ(endless.drains, 16);
    EXPECT_EQ(endless.reads, 16);  // drains only: nothing waited
}

}  // namespace
}  // namespace tavrin
