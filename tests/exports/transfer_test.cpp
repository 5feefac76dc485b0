// Raw transfers on the data port through the exports: time-outs measured on real waits, the busy
// bit, and closing a device while another thread is inside a transfer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "platform/caller_block.h"
#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

class TransferTest : public DeviceFixture {
protected:
    std::int32_t open(StandInDevice& dev, std::int32_t readTimeout, std::int32_t writeTimeout) {
        const _DEVOPEN_INFO info = openRecord(dev.path(), PORT_USBPRN, MODE_DATA, readTimeout, writeTimeout);
        return lib_->OpenDev(&info);
    }
    // Writes until the device stops taking data (nobody reads its side); returns how long the
    // write that failed took, or -1 when the device never filled up.
    long long fillUntilAWriteFails(std::int32_t handle) {
        static const std::string chunk(4096, 'p');
        for (int i = 0; i < 4096; ++i) {
            std::uint32_t n = 0;
            const auto start = Clock::now();
            if (!lib_->Write(handle, chunk.data(), static_cast<std::uint32_t>(chunk.size()), &n, nullptr))
                return msSince(start);
        }
        return -1;
    }
};

TEST_F(TransferTest, BytesTravelBothWays) {
    auto dev = device("xfer");
    const std::int32_t h = open(*dev, 1000, 1000);
    ASSERT_EQ(h, 0);
    std::uint32_t n = 0;
    ASSERT_NE(lib_->Write(h, "\x1b@hello", 7, &n, nullptr), 0);
    EXPECT_EQ(n, 7u);
    char got[16] = {};
    ASSERT_EQ(dev->peer().read(got, sizeof got, 1000), 7);
    EXPECT_EQ(std::string(got, 7), "\x1b@hello");

    ASSERT_TRUE(dev->peer().write("status", 6));
    char answer[16] = {};
    ASSERT_NE(lib_->Read(h, answer, sizeof answer, &n, nullptr), 0);
    EXPECT_EQ(std::string(answer, n), "status");

    n = 5;
    EXPECT_NE(lib_->Write(h, "", 0, &n, nullptr), 0);  // nothing to move
    EXPECT_EQ(n, 0u);
}

TEST_F(TransferTest, ReadTimesOutAfterOneWaitWithoutALogLine) {
    auto dev = device("rto");
    const std::int32_t h = open(*dev, 300, 0);
    ASSERT_EQ(h, 0);
    char buf[8];
    std::uint32_t n = 9;
    const auto start = Clock::now();
    EXPECT_EQ(lib_->Read(h, buf, sizeof buf, &n, nullptr), 0);
    const long long took = msSince(start);
    EXPECT_GE(took, 280);
    EXPECT_LT(took, 600);
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(logHas(flushLog(), u"syncIOAccess"));
}

TEST_F(TransferTest, DefaultReadTimeoutIs100Ms) {
    auto dev = device("rdef");
    const std::int32_t h = open(*dev, 0, 0);
    ASSERT_EQ(h, 0);
    char buf[8];
    std::uint32_t n = 0;
    const auto start = Clock::now();
    EXPECT_EQ(lib_->Read(h, buf, sizeof buf, &n, nullptr), 0);
    const long long took = msSince(start);
    EXPECT_GE(took, 90);
    EXPECT_LT(took, 400);
}

// A wait never ends before its time-out, however short: the time left is not rounded down to
// whole milliseconds (which made a 1 ms read time-out no wait at all). Windows waits follow the
// system's timer and may end early by part of a tick, so only the POSIX build holds them to it.
TEST_F(TransferTest, ShortReadTimeoutsWaitTheirFullTime) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows waits follow the system timer";
#endif
    for (const std::int32_t timeoutMs : {1, 2, 5}) {
        SCOPED_TRACE(timeoutMs);
        auto dev = device("rshort");
        const std::int32_t h = open(*dev, timeoutMs, 0);
        ASSERT_EQ(h, 0);
        for (int i = 0; i < 5; ++i) {
            char buf[8];
            std::uint32_t n = 9;
            const auto start = Clock::now();
            EXPECT_EQ(lib_->Read(h, buf, sizeof buf, &n, nullptr), 0);
            const auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
            EXPECT_GE(took, timeoutMs * 1000LL);
            EXPECT_EQ(n, 0u);
        }
        ASSERT_NE(lib_->CloseDev(h), 0);
    }
}

TEST_F(TransferTest, WriteThatNeverCompletesGivesUpAfterFourWaitsAndThreePauses) {
    auto dev = device("wto");
    const std::int32_t h = open(*dev, 0, 200);
    ASSERT_EQ(h, 0);
    const long long took = fillUntilAWriteFails(h);
    ASSERT_GE(took, 0) << "the stand-in device never stopped taking data";
    EXPECT_GE(took, 4 * 200 + 3 * 100 - 30);
    EXPECT_LT(took, 4 * 200 + 3 * 100 + 700);
    EXPECT_EQ(logCount(flushLog(), u"#CBPort::syncIOAccess : syncIOAccess write timeout \r\n"), 1u);
}

TEST_F(TransferTest, TransferOnAnUnknownHandleIsLogged) {
    char buf[4] = {};
    std::uint32_t n = 0;
    EXPECT_EQ(lib_->Read(5, buf, sizeof buf, &n, nullptr), 0);
    EXPECT_EQ(lib_->Write(7, buf, sizeof buf, &n, nullptr), 0);
    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u"#dllFunc_Read : 获 取 设 备 端 口(5) 失 败 \r\n"));
    EXPECT_TRUE(logHas(log, u"#dllFunc_Write : 获 取 设 备 端 口(7) 失 败 \r\n"));
}

TEST_F(TransferTest, ReadDuringAWriteOnTheSameDeviceFailsAtOnce) {
    auto dev = device("busy");
    const std::int32_t h = open(*dev, 2000, 400);
    ASSERT_EQ(h, 0);
    std::atomic<bool> writeFailed{false};
    std::thread writer([&] { writeFailed = fillUntilAWriteFails(h) >= 0; });
    // Wait until the writer is stuck in its last write, then read on the same device.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    char buf[4];
    std::uint32_t n = 0;
    const auto start = Clock::now();
    EXPECT_EQ(lib_->Read(h, buf, sizeof buf, &n, nullptr), 0);
    EXPECT_LT(msSince(start), 100);
    writer.join();
    EXPECT_TRUE(writeFailed);
}

TEST_F(TransferTest, CloseDuringARunningReadEndsItAndReleasesTheDevice) {
    auto dev = device("closeread");
    const std::int32_t h = open(*dev, 5000, 0);
    ASSERT_EQ(h, 0);
    std::atomic<long long> readTook{-1};
    std::atomic<int> readResult{-1};
    std::thread reader([&] {
        char buf[16];
        std::uint32_t n = 0;
        const auto start = Clock::now();
        readResult = lib_->Read(h, buf, sizeof buf, &n, nullptr);
        readTook = msSince(start);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = Clock::now();
    EXPECT_EQ(lib_->CloseDev(h), 1);
    EXPECT_LT(msSince(start), 200);  // the close does not wait for the transfer
    reader.join();
    EXPECT_EQ(readResult, 0);
    EXPECT_LT(readTook, 2000);
    EXPECT_TRUE(dev->peer().released(2000));
    EXPECT_EQ(open(*dev, 0, 0), 0);  // the handle and the device are free again
}

TEST_F(TransferTest, CloseDuringAPendingWriteEndsIt) {
    auto dev = device("closewrite");
    const std::int32_t h = open(*dev, 0, 3000);
    ASSERT_EQ(h, 0);
    std::atomic<long long> lastWrite{-2};
    std::thread writer([&] { lastWrite = fillUntilAWriteFails(h); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(lib_->CloseDev(h), 1);
    writer.join();
    EXPECT_GE(lastWrite, 0);
    EXPECT_LT(lastWrite, 3000);  // far less than four waits of 3 s
    EXPECT_TRUE(dev->peer().released(2000));
}

// A device that has gone away refuses every transfer at its start; such a transfer still waits
// out its time-out, but a close ends that wait as it ends a pending one.
TEST_F(TransferTest, CloseEndsATransferToADeviceThatHasGoneAway) {
    for (const bool write : {false, true}) {
        SCOPED_TRACE(write ? "write" : "read");
        auto dev = device(write ? "gonew" : "goner");
        const std::int32_t h = open(*dev, 4000, 4000);
        ASSERT_EQ(h, 0);
        dev->peer().close();
        std::atomic<long long> took{-1};
        std::atomic<int> result{-1};
        std::thread transfer([&] {
            char buf[16] = "gone";
            std::uint32_t n = 0;
            const auto start = Clock::now();
            result = write ? lib_->Write(h, buf, sizeof buf, &n, nullptr) : lib_->Read(h, buf, sizeof buf, &n, nullptr);
            took = msSince(start);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(lib_->CloseDev(h), 1);
        transfer.join();
        EXPECT_EQ(result, 0);
        EXPECT_LT(took, 1500);  // not the time-out of 4000 ms (a write: four of them)
    }
}

// A close that lands while a transfer is just starting ends it as surely as one that finds it
// waiting: the abort is not missed between the transfer's look at it and the start of the I/O.
TEST_F(TransferTest, CloseRacingTheStartOfATransferEndsItPromptly) {
    auto dev = device("race");
    std::mt19937 random(20240611);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        const std::int32_t h = open(*dev, 5000, 0);
        ASSERT_EQ(h, 0);
        std::atomic<bool> going{false};
        std::atomic<long long> took{-1};
        std::thread transfer([&] {
            char buf[8] = {};
            std::uint32_t n = 0;
            going = true;
            const auto start = Clock::now();
            lib_->Read(h, buf, sizeof buf, &n, nullptr);
            took = msSince(start);
        });
        while (!going) std::this_thread::yield();
        // Somewhere between right away and well inside the transfer's wait.
        const auto until = Clock::now() + std::chrono::microseconds(random() % 400);
        while (Clock::now() < until) {
        }
        EXPECT_EQ(lib_->CloseDev(h), 1);
        transfer.join();
        EXPECT_LT(took, 2000);
        ASSERT_TRUE(dev->peer().released(3000));
    }
}

// A caller's overlapped block has one meaning, the same on every call, the first one included.
// Windows: the transfer runs on the block; one that cannot complete at once is left pending on it
// (the call returns 0 at once) and ends into the caller's buffer; a block without an event is
// refused. Elsewhere the block is ignored: the call is the one without a block.
TEST_F(TransferTest, AnOverlappedBlockMeansTheSameOnEveryCall) {
#ifdef _WIN32
    constexpr bool kBlockIsUsed = true;
#else
    constexpr bool kBlockIsUsed = false;
#endif
    auto dev = device("ovl");
    const std::int32_t h = open(*dev, 300, 300);
    ASSERT_EQ(h, 0);
    platform::CallerBlock block(true);
    for (int call = 0; call < 3; ++call) {
        SCOPED_TRACE(call);
        std::uint32_t n = 0;
        EXPECT_EQ(lib_->Write(h, "abc", 3, &n, block.get()), 1);
        EXPECT_EQ(n, 3u);
        char got[8] = {};
        EXPECT_EQ(dev->peer().read(got, sizeof got, 1000), 3);
        EXPECT_EQ(std::string(got, 3), "abc");

        ASSERT_TRUE(dev->peer().write("xyz", 3));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        char answer[8] = {};
        EXPECT_EQ(lib_->Read(h, answer, sizeof answer, &n, block.get()), 1);
        EXPECT_EQ(std::string(answer, n), "xyz");

        // Nothing to read.
        char late[8] = {};
        const auto start = Clock::now();
        EXPECT_EQ(lib_->Read(h, late, sizeof late, &n, block.get()), 0);
        const long long took = msSince(start);
        EXPECT_EQ(n, 0u);
        if (kBlockIsUsed) {
            EXPECT_LT(took, 250);  // left pending on the block, not waited for
            ASSERT_TRUE(dev->peer().write("late", 4));
            std::uint32_t moved = 0;
            EXPECT_TRUE(block.awaitResult(lib_->GetDevHandle(h, 1), 2000, &moved));
            EXPECT_EQ(std::string(late, moved), "late");
        } else {
            EXPECT_GE(took, 280);  // the read time-out, as without a block
            EXPECT_TRUE(block.untouched());
        }
    }
    // A block without an event: Windows refuses it, on every call; elsewhere it is ignored too.
    platform::CallerBlock noEvent(false);
    for (int call = 0; call < 2; ++call) {
        std::uint32_t n = 0;
        EXPECT_EQ(lib_->Write(h, "abc", 3, &n, noEvent.get()), kBlockIsUsed ? 0 : 1) << call;
        EXPECT_EQ(n, kBlockIsUsed ? 0u : 3u);
    }
    // The two writes may reach the device's end in one read or in two: what arrives within the
    // wait is counted.
    char rest[16] = {};
    long arrived = 0;
    const auto readUntil = Clock::now() + std::chrono::milliseconds(300);
    while (arrived < 6 && Clock::now() < readUntil) {
        const long r = dev->peer().read(rest + arrived, sizeof rest - static_cast<std::size_t>(arrived), 100);
        if (r < 0) break;
        arrived += r;
    }
    EXPECT_EQ(arrived, kBlockIsUsed ? 0 : 6);
}

TEST_F(TransferTest, TransfersOnTwoDevicesRunSideBySide) {
    auto a = device("pa");
    auto b = device("pb");
    const std::int32_t ha = open(*a, 400, 0);
    const std::int32_t hb = open(*b, 400, 0);
    ASSERT_EQ(ha, 0);
    ASSERT_EQ(hb, 1);
    const auto start = Clock::now();
    std::thread ta([&] {
        char buf[4];
        std::uint32_t n = 0;
        lib_->Read(ha, buf, sizeof buf, &n, nullptr);
    });
    char buf[4];
    std::uint32_t n = 0;
    lib_->Read(hb, buf, sizeof buf, &n, nullptr);
    ta.join();
    EXPECT_LT(msSince(start), 750);  // both waited at the same time
}

}  // namespace
}  // namespace tavrin::test
