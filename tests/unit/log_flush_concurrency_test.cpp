// The log under threads that log and flush at once: a flush writes its text after letting the log
// lock go, and the file must still hold every line whole, each thread's lines in their order.
#include "devicelib/core/log_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/library_under_test.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    int threads;
    int linesPerThread;
    int flushEvery;  // a thread asks for a flush with every n-th line (0: only when full)
    bool flusher;    // one more thread does nothing but flush
};

class LogFlushConcurrency : public ::testing::TestWithParam<Case> {};

TEST_P(LogFlushConcurrency, FileHoldsEveryLineWholeInEachThreadsOrder) {
    const Case c = GetParam();
    const fs::path folder = test::makeTempFolder("logmt");
    const fs::path path = folder / "mt.log";
    {
        CLogFile log;
        log.createTextBuffer();
        ASSERT_EQ(log.openLog(path.u16string().c_str()), 1);
        std::atomic<bool> done{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < c.threads; ++t) {
            threads.emplace_back([&log, &c, t] {
                // Lines of varying length, so that the buffer fills at different places.
                for (int i = 0; i < c.linesPerThread; ++i) {
                    const std::u16string text = formatWide(u"T%d L%d ", t, i) + std::u16string(static_cast<std::size_t>(i % 61), u'x');
                    const bool flush = c.flushEvery != 0 && i % c.flushEvery == 0;
                    log.setLogRecord(text.c_str(), 1, 0, flush ? 1 : 0);
                }
            });
        }
        std::thread flusher;
        if (c.flusher)
            flusher = std::thread([&] {
                while (!done.load()) log.logFlush();
            });
        for (std::thread& t : threads) t.join();
        done.store(true);
        if (flusher.joinable()) flusher.join();
        log.closeLog();
    }
    const std::string bytes = test::readFileBytes(path);
    std::istringstream in(bytes);
    std::map<int, int> next;  // thread -> the line number expected next
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r') << "line " << lines;
        line.pop_back();
        int t = -1, i = -1;
        char rest[128] = {};
        ASSERT_GE(std::sscanf(line.c_str(), "T%d L%d %127s", &t, &i, rest), 2) << line;
        ASSERT_EQ(line, "T" + std::to_string(t) + " L" + std::to_string(i) + " " + std::string(static_cast<std::size_t>(i % 61), 'x'));
        ASSERT_EQ(i, next[t]) << "thread " << t;
        next[t] = i + 1;
        ++lines;
    }
    EXPECT_EQ(lines, c.threads * c.linesPerThread);
    for (int t = 0; t < c.threads; ++t) EXPECT_EQ(next[t], c.linesPerThread) << "thread " << t;
    std::error_code ec;
    fs::remove_all(folder, ec);
}

INSTANTIATE_TEST_SUITE_P(Log, LogFlushConcurrency,
                         ::testing::Values(Case{"FlushWhenFull", 4, 6000, 0, false},
                                           Case{"FlushOnRequest", 3, 4000, 50, false},
                                           Case{"FlushFromAnotherThread", 3, 4000, 0, true}),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A caller polls the record with reset while a firmware update records from its own thread: the
// text it was handed must stay whole until it fetches again, although the next record is written
// meanwhile. The recording thread keeps at most a few lines ahead of the reader, so the record
// buffer never overflows and every line must arrive exactly once, in order.
TEST(LogRecordConcurrency, FetchedTextStaysWholeWhileAnotherThreadRecords) {
    CLogFile log;
    constexpr int kLines = 20000;
    std::atomic<int> received{0};
    std::atomic<bool> readerDone{false};
    std::thread recorder([&] {
        for (int i = 0; i < kLines; ++i) {
            while (i - received.load() > 20 && !readerDone.load()) std::this_thread::yield();
            const std::u16string text = formatWide(u"PHDL(0)#line %d ", i) + std::u16string(static_cast<std::size_t>(i % 37), u'y');
            log.setLogRecord(text.c_str(), 1, 0, 0);
        }
    });
    std::u16string all;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (received.load() < kLines && std::chrono::steady_clock::now() < deadline) {
        std::uint32_t count = 0;
        const char16_t* text = log.getLogRecord(&count, 1);
        if (text == nullptr) {
            std::this_thread::yield();
            continue;
        }
        // The caller reads the text after the log lock was let go, and takes its time over it
        // (converting it, writing it to a window) while the other thread records on.
        std::u16string fetched;
        for (std::uint32_t k = 0; k < count; ++k) {
            fetched += text[k];
            if (k % 8 == 7) std::this_thread::yield();
        }
        int lines = 0;
        for (std::size_t at = fetched.find(u"\r\n"); at != std::u16string::npos; at = fetched.find(u"\r\n", at + 2)) ++lines;
        all += fetched;
        received.fetch_add(lines);
    }
    readerDone.store(true);
    recorder.join();
    int expected = 0;
    std::size_t pos = 0;
    for (; expected < kLines; ++expected) {
        const std::u16string line =
            formatWide(u"PHDL(0)#line %d ", expected) + std::u16string(static_cast<std::size_t>(expected % 37), u'y') + u"\r\n";
        if (all.compare(pos, line.size(), line) != 0) break;
        pos += line.size();
    }
    EXPECT_EQ(expected, kLines) << "the record is lost or torn after line " << expected;
    EXPECT_EQ(pos, all.size());
}

}  // namespace
}  // namespace tavrin
