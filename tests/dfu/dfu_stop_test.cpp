// Stops of a firmware update racing its thread: a close at any moment around the thread's own
// end, the device closed mid-image, the library unloaded mid-image. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "sim/simulator.h"
#include "tests/dfu/firmware_file.h"
#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

class DfuStopTest : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        folder_ = makeTempFolder("dfu-stop");
    }
    void TearDown() override {
        if (lib_->CloseDev != nullptr)
            for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        sim_.stop();
        DeviceFixture::TearDown();
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    sim::SimDevice* device(std::uint32_t pieceDelayMs) {
        sim::DeviceConfig config;
        config.firmware.inBootMode = true;
        config.firmware.pieceDelayMs = pieceDelayMs;
        return sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
    }
    std::int32_t openConnected(sim::SimDevice& dev) {
        path_ = exportText(dev.networkPath());
        const _DEVOPEN_INFO info = openRecord(path_.c_str(), PORT_NET_DATA, MODE_CTRL, 200, 1000);
        const std::int32_t h = lib_->OpenDev(&info);
        return h >= 0 && awaitControl(h, u"CTRL_CMDGET_DEVNO") ? h : -1;
    }
    // An update of 50 pieces started on a device that takes 20 ms for each; returns once its third
    // piece is in (or after 10 s).
    void startSlowUpdate(sim::SimDevice*& dev, std::int32_t& h) {
        dev = device(20);
        ASSERT_NE(dev, nullptr);
        h = openConnected(*dev);
        ASSERT_GE(h, 0);
        ASSERT_EQ(lib_->OpenDfu(h, fileFor(makeFirmware(128, 128 + 255 * 50)).c_str(), nullptr), 1);
        ASSERT_EQ(lib_->DFUStart(h, 0), 1);
        for (const auto start = Clock::now(); dev->firmware().record().pieceSizes.size() < 3 && msSince(start) < 10000;)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::basic_string<tavrin_wchar_t> fileFor(const FwBytes& bytes) {
        const fs::path p = folder_ / ("fw" + std::to_string(++files_) + ".udf");
        writeFile(p, bytes);
        return exportText(p);
    }

    sim::Simulator sim_;
    std::basic_string<tavrin_wchar_t> path_;
    fs::path folder_;
    int files_ = 0;
};

// A close at any moment around the natural end of a short update: the thread's end and the stop
// agree on who collects the thread; every update starts again afterwards.
TEST_F(DfuStopTest, CloseRacesTheNaturalEnd) {
    sim::SimDevice* dev = device(0);
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = openConnected(*dev);
    ASSERT_GE(h, 0);
    const auto file = fileFor(makeFirmware(16, 140));
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(lib_->OpenDfu(h, file.c_str(), nullptr), 1);
        ASSERT_EQ(lib_->DFUStart(h, 0), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
        const auto start = Clock::now();
        EXPECT_EQ(lib_->CloseDfu(h), 1);
        EXPECT_LT(msSince(start), 5000);
        lib_.takeRecords(true);
    }
    // After all of it, an update still runs to its end.
    ASSERT_EQ(lib_->OpenDfu(h, file.c_str(), nullptr), 1);
    ASSERT_EQ(lib_->DFUStart(h, 0), 1);
    for (const auto start = Clock::now(); !dev->firmware().record().finished && msSince(start) < 10000;)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(dev->firmware().record().finished);
}

// Closing the device during an update stops the update before the ports go; closing it from
// another thread while the caller also closes the update.
TEST_F(DfuStopTest, CloseDeviceMidImage) {
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(startSlowUpdate(dev, h));
    std::thread other([&] { lib_->CloseDfu(h); });
    const auto start = Clock::now();
    EXPECT_EQ(lib_->CloseDev(h), 1);
    other.join();
    EXPECT_LT(msSince(start), 8000);
    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u"等 待 更 新 线 程 关 闭"));
    EXPECT_FALSE(dev->firmware().record().finished);
    EXPECT_EQ(lib_->CloseDfu(h), 0);  // no device any more
}

// Unloading the library during an update: process detach stops it before the ports go.
TEST_F(DfuStopTest, UnloadMidImage) {
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(startSlowUpdate(dev, h));
    const auto start = Clock::now();
    lib_.unload();
    EXPECT_LT(msSince(start), 12000);
    EXPECT_FALSE(dev->firmware().record().finished);
    const std::string log = readFileBytes(logFile_);
    EXPECT_TRUE(logHas(log, u"更 新 线 程 正 常 关 闭"));
}

}  // namespace
}  // namespace tavrin::test
