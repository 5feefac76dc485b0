// Replies reassembled from a byte stream that the control port cuts at random: whatever arrives,
// a reply handed out is a valid packet that stands whole in the stream, and feeding bytes never
// reports more than it was given.
//
// Input: byte 0 the code and byte 1 the data length of the command sent before (its length byte
// stays in the protocol object's buffer); then the arrivals, each a count byte N and N bytes
// (fewer at the end of the input). An arrival of N = 0 is a read that times out. A read takes
// what it asks for of the current arrival and leaves the rest for the next read.
#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "devicelib/core/dev_app.h"
#include "devicelib/core/dev_emul.h"
#include "devicelib/ports/b_port.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/scripted_port.h"

namespace tavrin::fuzz {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The scripted port, with a bound on its reads: a wait over a finite stream ends.
class ScriptedPort : public test::ScriptedPort {
public:
    using test::ScriptedPort::ScriptedPort;
    std::int32_t readPort(void* buffer, std::uint32_t length, std::uint32_t* count, void* overlapped) override {
        FUZZ_CHECK(asked.size() + 1 < 100000);
        return test::ScriptedPort::readPort(buffer, length, count, overlapped);
    }
};

// The reply as the bytes of its packet.
Bytes packetOf(const Reply& reply) {
    Bytes p = {kPacketSync, reply.code, static_cast<std::uint8_t>(reply.length), reply.ackCode};
    if (reply.payload != nullptr) {
        unsigned sum = 0;
        for (std::uint16_t i = 0; i < reply.length; ++i) sum += reply.payload[i];
        p[3] = static_cast<std::uint8_t>(sum);
        p.insert(p.end(), reply.payload, reply.payload + reply.length);
    }
    return p;
}

void checkReply(const Reply& reply, const Bytes& stream) {
    FUZZ_CHECK(reply.length <= kMaxPayload);
    FUZZ_CHECK((reply.payload != nullptr) == (reply.length != 0));
    FUZZ_CHECK(reply.payload == nullptr || reply.ackCode == 0);
    const Bytes packet = packetOf(reply);
    FUZZ_CHECK(checkPacket(packet.data(), packet.size()));
    FUZZ_CHECK(std::search(stream.begin(), stream.end(), packet.begin(), packet.end()) != stream.end());
}

}  // namespace

int packetReassembly(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t sentCode = data[0];
    const Bytes sentData(data[1], 0x5A);
    std::deque<Bytes> arrivals;
    Bytes stream;
    for (std::size_t at = 2; at < size;) {
        const std::size_t wanted = data[at++];
        const std::size_t n = std::min(wanted, size - at);
        arrivals.emplace_back(data + at, data + at + n);
        stream.insert(stream.end(), data + at, data + at + n);
        at += n;
    }

    // The reply wait, through a port.
    {
        CDevEmul emul;
        emul.buildPacket(sentCode, sentData.empty() ? nullptr : sentData.data(),
                         static_cast<std::uint16_t>(sentData.size()));
        ScriptedPort port(arrivals);
        if (const auto reply = readReply(port, emul)) checkReply(*reply, stream);
    }

    // The same arrivals fed one by one.
    CDevEmul emul;
    emul.buildPacket(sentCode, sentData.empty() ? nullptr : sentData.data(), static_cast<std::uint16_t>(sentData.size()));
    bool restart = true;
    for (const Bytes& arrival : arrivals) {
        const auto count = static_cast<std::uint16_t>(arrival.size());
        const Accepted fed = emul.acceptBytes(arrival.empty() ? nullptr : arrival.data(), count, restart);
        FUZZ_CHECK(fed.used <= count);
        FUZZ_CHECK(emul.collected() <= kMaxPacket);
        const auto reply = emul.takeReply();
        if (fed.complete) {
            FUZZ_CHECK(reply.has_value());
            checkReply(*reply, stream);
        }
        restart = fed.complete;
    }
    return 0;
}

}  // namespace tavrin::fuzz
