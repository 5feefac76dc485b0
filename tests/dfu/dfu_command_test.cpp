// One firmware command against a scripted control port: what is waiting before the command goes
// out (the unread answer to an abandoning 0x63) is discarded, so that an answer arriving in the
// same read behind it is not lost.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "devicelib/core/dev_app.h"
#include "devicelib/dfu/w_dfu.h"
#include "devicelib/ports/b_port.h"

namespace tavrin::test {
namespace {

// A control port whose device answers each command at once; every read returns all that waits.
class ScriptedPort : public CBPort {
public:
    ScriptedPort() : CBPort(PORT_NET_CTRL, theApp()) {}
    std::vector<std::uint8_t> waiting;
    std::vector<std::vector<std::uint8_t>> answers;  // one per command written, in order
    std::size_t writes = 0;

    std::int32_t readPort(void* buffer, std::uint32_t length, std::uint32_t* count, void*) override {
        const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(length, waiting.size()));
        if (n != 0) std::memcpy(buffer, waiting.data(), n);
        waiting.erase(waiting.begin(), waiting.begin() + n);
        *count = n;
        return 1;
    }
    std::int32_t drainInput(void* buffer, std::uint32_t length, std::uint32_t* count) override {
        return readPort(buffer, length, count, nullptr);
    }
    std::int32_t writePort(const void*, std::uint32_t length, std::uint32_t* count, void*) override {
        *count = length;
        if (writes < answers.size()) waiting.insert(waiting.end(), answers[writes].begin(), answers[writes].end());
        ++writes;
        return 1;
    }
    std::int32_t isPortOpen() override { return 1; }
};

TEST(DfuCommandTest, StaleAnswerBeforeTheCommandIsDiscarded) {
    ScriptedPort port;
    port.waiting = {0x10, 0x63, 0x00, 0x00};        // the answer nobody read
    port.answers = {{0x10, 0x04, 0x00, 0x00}};      // CTRL_CMD_CONNT: success
    DfuRun run;
    run.port = &port;
    EXPECT_EQ(dfuCommand(run, 0x04, nullptr, nullptr), 0);
    EXPECT_EQ(port.writes, 1u);
}

TEST(DfuCommandTest, AnswersAndRetries) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> answer;
        std::int16_t result;
    };
    const Case cases[] = {
        {"status", {0x10, 0x61, 0x00, 0x07}, 7},
        {"payload", {0x10, 0x61, 0x02, 0x03, 0x01, 0x02}, 0},
        {"bad checksum then nothing", {0x10, 0x61, 0x02, 0x09, 0x01, 0x02}, -1},
        {"other code then nothing", {0x10, 0x60, 0x00, 0x00}, -1},
        {"nothing", {}, -1},
        {"behind a late answer in the same read", {0x10, 0x60, 0x00, 0x00, 0x10, 0x61, 0x00, 0x05}, 5},
    };
    for (const Case& c : cases) {
        ScriptedPort port;
        port.answers = {c.answer};
        DfuRun run;
        run.port = &port;
        std::uint8_t piece[300] = {};
        std::uint32_t length = sizeof piece;
        EXPECT_EQ(dfuCommand(run, 0x61, piece, &length), c.result) << c.name;
        EXPECT_EQ(length, 255u) << c.name;  // a piece carries at most 255 bytes
    }
}

}  // namespace
}  // namespace tavrin::test
