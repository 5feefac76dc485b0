// Firmware updates through the loaded library against the simulator's network device: the file
// checks, the start with its boot-mode restart, the update thread with its pieces and progress
// notifications (posted to a message-only window on Windows, the caller's record elsewhere), the
// failures of the device, and stops at any moment.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/notify_window.h"
#include "sim/simulator.h"
#include "tests/dfu/firmware_file.h"
#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

namespace fs = std::filesystem;

const std::u16string kDone = u"#更 新 完 成 OK...";
// The lines after which the update thread ends (the restart's line follows the success when asked).
const std::u16string kThreadEnds[] = {u"#更 新 完 成 OK...", u"#启 动 设 备 失 败(", u"#同 步 设 备 失 败(", u"#发 送 数 据 失 败(",
                                      u"#设 备 更 新 失 败(", u"#更 新 操 作 被 取 消", u"#设 备 重 新 启 动(",
                                      u"更 新 线 程 正 常 关 闭", u"更 新 线 程 异 常 关 闭", u"更 新 线 程 无 法 关 闭"};

class DfuTest : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        folder_ = makeTempFolder("dfu");
    }
    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        sim_.stop();
        DeviceFixture::TearDown();
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    sim::SimDevice* netDevice(sim::DeviceConfig config = {}) {
        sim::SimDevice* dev = sim_.addNetDevice(std::move(config), {{127, 0, 0, 1}, 0});
        EXPECT_NE(dev, nullptr);
        return dev;
    }

    // A simulated device of this description, its control channel open and answering.
    void connectDevice(sim::DeviceConfig config, sim::SimDevice*& dev, std::int32_t& h) {
        dev = netDevice(std::move(config));
        ASSERT_NE(dev, nullptr);
        h = openConnected(*dev);
        ASSERT_GE(h, 0);
    }

    // Opens the device's control channel and waits until it answers a command.
    std::int32_t openConnected(sim::SimDevice& dev) {
        path_ = exportText(dev.networkPath());
        const _DEVOPEN_INFO info = openRecord(path_.c_str(), PORT_NET_DATA, MODE_CTRL, 200, 1000);
        const std::int32_t h = lib_->OpenDev(&info);
        if (h < 0) return h;
        return awaitControl(h, u"CTRL_CMDGET_DEVNO") ? h : -1;
    }

    fs::path firmwareFile(const FwBytes& bytes, const std::string& name = "fw.udf") {
        const fs::path p = folder_ / name;
        writeFile(p, bytes);
        return p;
    }

    bool openDfu(std::int32_t h, const fs::path& file) {
        return lib_->OpenDfu(h, exportText(file).c_str(), window_.target()) == 1;
    }

    // Pumps notifications and collects records until one of the texts has appeared (or timeoutMs).
    bool runUntil(const std::vector<std::u16string>& texts, int timeoutMs) {
        for (const auto start = Clock::now(); msSince(start) < timeoutMs;) {
            window_.pump(20);
            records_ += lib_.takeRecords(true);
            for (const auto& t : texts)
                if (records_.find(t) != std::u16string::npos) return true;
        }
        return false;
    }
    bool runToEnd(int timeoutMs = 20000) {
        const bool ended = runUntil(std::vector<std::u16string>(std::begin(kThreadEnds), std::end(kThreadEnds)), timeoutMs);
        // The notifications posted with the last line.
        window_.pump(100);
        records_ += lib_.takeRecords(true);
        return ended;
    }
    bool recordsHave(const std::u16string& t) const { return records_.find(t) != std::u16string::npos; }

    std::vector<std::uint32_t> progress() {
        std::vector<std::uint32_t> out;
        for (const auto& n : window_.received())
            if ((n.wParam & 0xFFFF0000u) == 0x20000u) {
                EXPECT_EQ(n.lParam, 0);
                out.push_back(n.wParam - 0x20000u);
            }
        return out;
    }
    std::size_t textNotices(std::int32_t h) {
        std::size_t n = 0;
        for (const auto& m : window_.received())
            if (m.wParam == 0x10000u) {
                EXPECT_EQ(m.lParam, h);
                ++n;
            }
        return n;
    }

    // The simulator received the file: the header body and the image, byte for byte.
    static void expectReceived(sim::SimDevice& dev, const FwBytes& file) {
        const sim::FirmwareRecord r = dev.firmware().record();
        const std::size_t h = file[4];
        EXPECT_EQ(r.headerBody, FwBytes(file.begin() + 8, file.begin() + static_cast<std::ptrdiff_t>(h)));
        EXPECT_EQ(r.image, FwBytes(file.begin() + static_cast<std::ptrdiff_t>(h), file.end()));
        EXPECT_TRUE(r.finished);
    }

    std::u16string phdl(std::int32_t h, const std::u16string& rest) {
        return u"PHDL(" + std::u16string(1, static_cast<char16_t>(u'0' + h)) + u")#" + rest;
    }

    sim::Simulator sim_;
    platform::NotifyWindow window_;
    std::basic_string<tavrin_wchar_t> path_;
    fs::path folder_;
    std::u16string records_;
};

// The whole update: connect, model, device number, the request with a restart into boot mode
// (the device drops the connection and takes a new one), then the header body and the image in
// 255-byte pieces, progress 25, 51, 76, 87 and 100, and the device's success.
TEST_F(DfuTest, UpdateRunsEndToEnd) {
    ASSERT_TRUE(window_.valid());
    sim::DeviceConfig config;
    config.model = "TV-BOOT";
    config.firmware.restartWait = 4;  // 100 ms
    config.firmware.awayMs = 50;
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(connectDevice(config, dev, h));
    const FwBytes file = makeFirmware(128, 1000);
    ASSERT_TRUE(openDfu(h, firmwareFile(file)));
    ASSERT_EQ(lib_->DFUStart(h, 0), 1);
    ASSERT_TRUE(runToEnd()) << std::string(records_.begin(), records_.end());

    EXPECT_TRUE(recordsHave(phdl(h, kDone.substr(1))));
    for (const std::u16string& line : {std::u16string(u"加 载 固 件 文 件"), std::u16string(u"设 备 型 号 = V-BOOT\r\n") /* from payload byte 1 on */,
                                       std::u16string(u"设 备 机 号 = "), std::u16string(u" 重 启 设 备 进 入 Boot 模 式"),
                                       std::u16string(u" 打　开 设 备 成　功"), phdl(h, u"开 始 更 新"),
                                       phdl(h, u"发 送 数 据 完 成，等 待 设 备 更 新...")})
        EXPECT_TRUE(recordsHave(line)) << std::string(line.begin(), line.end());
    EXPECT_EQ(progress(), (std::vector<std::uint32_t>{25, 51, 76, 87, 100}));
    EXPECT_EQ(textNotices(h), 9u);  // one per record line: six of the start, three of the thread
    expectReceived(*dev, file);
    EXPECT_EQ(dev->firmware().record().pieceSizes, (std::vector<std::size_t>{255, 255, 255, 107}));
    EXPECT_EQ(dev->firmware().record().bootRestarts, 1u);
    EXPECT_GE(dev->controlChannel()->connections(), 2u);  // found again after its restart
    EXPECT_EQ(dev->firmware().record().restarts, 0u);

    // The thread has ended: the next start runs again (the device is in boot mode now), with
    // the restart asked for.
    records_.clear();
    ASSERT_EQ(lib_->DFUStart(h, DFU_OPTION_RESTART), 1);
    ASSERT_TRUE(runUntil({u"#设 备 重 新 启 动("}, 20000));
    EXPECT_TRUE(recordsHave(phdl(h, u"设 备 重 新 启 动(0)")));
    EXPECT_EQ(dev->firmware().record().restarts, 1u);
    EXPECT_EQ(dev->firmware().record().bootRestarts, 1u);
    expectReceived(*dev, file);
    EXPECT_EQ(lib_->CloseDfu(h), 1);
}

// A header longer than 128 bytes: its body comes from the file, never from past the 128-byte copy.
TEST_F(DfuTest, LongHeaderIsSentWhole) {
    sim::DeviceConfig config;
    config.firmware.inBootMode = true;
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(connectDevice(config, dev, h));
    const FwBytes file = makeFirmware(200, 700);
    ASSERT_TRUE(openDfu(h, firmwareFile(file)));
    ASSERT_EQ(lib_->DFUStart(h, 0), 1);
    ASSERT_TRUE(runToEnd());
    EXPECT_TRUE(recordsHave(phdl(h, kDone.substr(1))));
    expectReceived(*dev, file);
    EXPECT_EQ(dev->firmware().record().bootRestarts, 0u);
}

// How the start ends for each answer of the device before the thread runs.
TEST_F(DfuTest, StartOutcomes) {
    struct Case {
        const char* name;
        std::uint8_t connect;
        std::uint8_t workMode;
        std::map<std::uint8_t, sim::Answer> answers;
        std::int32_t result;
        std::u16string line;
    };
    const Case cases[] = {
        {"connect refused", 3, 0, {}, 0, u"连 接 请 求 失 败 "},
        {"work mode switched", 5, 0, {}, 1, kDone},
        {"work mode not switched", 5, 9, {}, 0, u"模　式　切　换 失 败 "},
        {"update request refused", 0, 0, {{0x16, sim::Answer{4, {}}}}, 0, u" UDF 请 求 失 败 "},
        {"model and number fail", 0, 0, {{0x01, sim::Answer{6, {}}}, {0x02, sim::Answer{6, {}}}}, 1, u" 获 取 设 备 机 号 失 败 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DeviceConfig config;
        config.connectStatus = c.connect;
        config.firmware.workModeStatus = c.workMode;
        config.firmware.inBootMode = true;
        config.answers = c.answers;
        sim::SimDevice* dev = nullptr;
        std::int32_t h = -1;
        ASSERT_NO_FATAL_FAILURE(connectDevice(config, dev, h));
        ASSERT_TRUE(openDfu(h, firmwareFile(makeFirmware(128, 300), std::string(c.name) + ".udf")));
        records_.clear();
        EXPECT_EQ(lib_->DFUStart(h, 0), c.result);
        if (c.result == 1) {
            EXPECT_TRUE(runToEnd());
        } else {
            records_ += lib_.takeRecords(true);
        }
        EXPECT_TRUE(recordsHave(c.line)) << std::string(records_.begin(), records_.end());
        if (c.connect == 5) {
            EXPECT_EQ(dev->firmware().record().workModes, (std::vector<std::uint8_t>{0}));
        }
        if (c.result == 0) {
            EXPECT_EQ(dev->firmware().record().begins, 0u);
        }
        lib_->CloseDfu(h);
        lib_->CloseDev(h);
    }
}

// Failures of the device while the thread runs, each ending with its line.
TEST_F(DfuTest, ThreadFailures) {
    struct Case {
        const char* name;
        sim::FirmwareConfig firmware;
        std::u16string line;
    };
    sim::FirmwareConfig busy;
    busy.busyForever = true;
    busy.busyWait = 4;  // 100 ms
    sim::FirmwareConfig silent;
    silent.silentPiece = 1;
    sim::FirmwareConfig vanish;
    vanish.vanishAfter = 2;
    const Case cases[] = {
        {"busy for ever", busy, u"设 备 更 新 失 败(-1)"},
        {"piece unanswered", silent, u"发 送 数 据 失 败(-1)"},
        {"device vanishes", vanish, u"发 送 数 据 失 败(-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DeviceConfig config;
        config.firmware = c.firmware;
        config.firmware.inBootMode = true;
        sim::SimDevice* dev = nullptr;
        std::int32_t h = -1;
        ASSERT_NO_FATAL_FAILURE(connectDevice(config, dev, h));
        ASSERT_TRUE(openDfu(h, firmwareFile(makeFirmware(128, 1000), std::string(c.name) + ".udf")));
        records_.clear();
        ASSERT_EQ(lib_->DFUStart(h, 0), 1);
        EXPECT_TRUE(runToEnd(30000));
        EXPECT_TRUE(recordsHave(c.line)) << std::string(records_.begin(), records_.end());
        EXPECT_FALSE(recordsHave(kDone));
        EXPECT_FALSE(dev->firmware().record().finished);
        if (c.firmware.busyForever) {
            EXPECT_EQ(dev->firmware().record().finishes, 1u);  // six busy answers to one request
        }
        lib_->CloseDfu(h);
        lib_->CloseDev(h);
    }
}

// 0x16 answered 01 00 28: the device restarts and each attempt to find it waits 1,000 ms first.
TEST_F(DfuTest, BootRestartWaitsBeforeEachAttempt) {
    sim::DeviceConfig config;
    config.firmware.restartWait = 0x28;
    config.firmware.awayMs = 1500;  // the first attempt, after 1,000 ms, finds it still away
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(connectDevice(config, dev, h));
    ASSERT_TRUE(openDfu(h, firmwareFile(makeFirmware(128, 300))));
    const auto start = Clock::now();
    ASSERT_EQ(lib_->DFUStart(h, 0), 1);
    const long long spent = msSince(start);
    EXPECT_GE(spent, 2000);
    EXPECT_LT(spent, 8000);
    ASSERT_TRUE(runToEnd());
    EXPECT_TRUE(recordsHave(u" 打　开 设 备 成　功"));
    EXPECT_TRUE(recordsHave(kDone));
}

#ifndef _WIN32
// A caller who has seen the update's last line starts the next one at once, while the update
// thread, descheduled right after that line, has not ended yet: the start waits for that end
// rather than refuse with "DFU 更 新 尚 未 完 成". The notification callback runs on the update
// thread, so holding it after the last text line keeps the thread between its line and its end.
TEST_F(DfuTest, AStartRightAfterTheLastLineWaitsForTheThreadsEnd) {
    sim::DeviceConfig config;
    config.model = "TV-BOOT";
    config.firmware.inBootMode = true;
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(connectDevice(config, dev, h));
    struct Hold {
        std::atomic<bool> complete{false};  // 100 percent was posted: the next text is the last line
        std::atomic<int> held{0};
    } hold;
    _DFU_NOTIFY record{[](void* context, std::uint32_t wParam, std::intptr_t) {
                           auto* hold = static_cast<Hold*>(context);
                           if (wParam == DFU_NOTIFY_PROGRESS + 100) hold->complete.store(true);
                           else if (wParam == DFU_NOTIFY_TEXT && hold->complete.exchange(false)) {
                               hold->held.fetch_add(1);
                               std::this_thread::sleep_for(std::chrono::milliseconds(300));
                           }
                       },
                       &hold};
    const FwBytes file = makeFirmware(128, 600);
    ASSERT_EQ(lib_->OpenDfu(h, exportText(firmwareFile(file)).c_str(), &record), 1);
    ASSERT_EQ(lib_->DFUStart(h, 0), 1);
    std::u16string records;
    for (const auto start = Clock::now(); records.find(kDone) == std::u16string::npos && msSince(start) < 20000;)
        records += lib_.takeRecords(true);
    ASSERT_NE(records.find(kDone), std::u16string::npos);
    EXPECT_EQ(lib_->DFUStart(h, 0), 1) << "refused while the finished thread was ending";
    EXPECT_EQ(hold.held.load(), 1);
    records = lib_.takeRecords(true);
    EXPECT_EQ(records.find(u"DFU 更 新 尚 未 完 成"), std::u16string::npos);
    for (const auto start = Clock::now(); records.find(kDone) == std::u16string::npos && msSince(start) < 20000;)
        records += lib_.takeRecords(true);
    EXPECT_NE(records.find(kDone), std::u16string::npos) << "the second update ran to its end";
    EXPECT_EQ(lib_->CloseDfu(h), 1);
}
#endif

// While an update runs: a second start changes nothing; a close stops it within one command,
// and the next update on the same connection is not confused by the answer to the abandoning
// 0x63, which nobody read.
TEST_F(DfuTest, StartWhileRunningAndCloseMidTransfer) {
    sim::DeviceConfig config;
    config.firmware.inBootMode = true;
    config.firmware.pieceDelayMs = 60;
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(connectDevice(config, dev, h));
    const FwBytes file = makeFirmware(128, 128 + 255 * 40);
    const fs::path path = firmwareFile(file);
    ASSERT_TRUE(openDfu(h, path));
    ASSERT_EQ(lib_->DFUStart(h, 0), 1);
    ASSERT_TRUE(runUntil({u"开 始 更 新"}, 10000));
    EXPECT_EQ(lib_->DFUStart(h, 0), 0);
    records_ += lib_.takeRecords(true);
    EXPECT_TRUE(recordsHave(u"DFU 更 新 尚 未 完 成"));
    for (const auto start = Clock::now(); dev->firmware().record().pieceSizes.size() < 3 && msSince(start) < 10000;)
        window_.pump(10);

    const auto start = Clock::now();
    EXPECT_EQ(lib_->CloseDfu(h), 1);
    EXPECT_LT(msSince(start), 3000);
    records_ += lib_.takeRecords(true);
    const std::size_t waiting = records_.find(u"等 待 更 新 线 程 关 闭");
    const std::size_t closed = records_.find(u"更 新 线 程 正 常 关 闭");
    ASSERT_NE(waiting, std::u16string::npos) << std::string(records_.begin(), records_.end());
    ASSERT_NE(closed, std::u16string::npos);
    const std::size_t cancelled = records_.find(phdl(h, u"更 新 操 作 被 取 消"));
    const std::size_t failed = records_.find(phdl(h, u"发 送 数 据 失 败(-1)"));
    const std::size_t outcome = cancelled != std::u16string::npos ? cancelled : failed;
    ASSERT_NE(outcome, std::u16string::npos);
    EXPECT_LT(waiting, outcome);
    EXPECT_LT(outcome, closed);
    EXPECT_LT(dev->firmware().record().image.size(), file.size() - 128);

    // At once the next update, on the same connection.
    records_.clear();
    ASSERT_TRUE(openDfu(h, path));
    ASSERT_EQ(lib_->DFUStart(h, 0), 1) << std::string(records_.begin(), records_.end());
    dev->firmware().setConfig([&] {
        sim::FirmwareConfig f = dev->firmware().config();
        f.pieceDelayMs = 0;
        return f;
    }());
    ASSERT_TRUE(runToEnd(30000));
    EXPECT_TRUE(recordsHave(kDone)) << std::string(records_.begin(), records_.end());
    expectReceived(*dev, file);
}

// Without an open log the update still runs to its end, with progress notifications only.
TEST_F(DfuTest, WithoutLogOnlyProgressIsPosted) {
    sim::DeviceConfig config;
    config.firmware.inBootMode = true;
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(connectDevice(config, dev, h));
    const FwBytes file = makeFirmware(128, 1000);
    ASSERT_TRUE(openDfu(h, firmwareFile(file)));
    lib_->CloseLog();
    ASSERT_EQ(lib_->DFUStart(h, 0), 1);
    for (const auto start = Clock::now(); !dev->firmware().record().finished && msSince(start) < 20000;) window_.pump(20);
    for (const auto start = Clock::now(); progress().size() < 5 && msSince(start) < 5000;) window_.pump(20);
    EXPECT_EQ(progress(), (std::vector<std::uint32_t>{25, 51, 76, 87, 100}));
    EXPECT_EQ(textNotices(h), 0u);
    EXPECT_EQ(window_.received().size(), 5u);
    EXPECT_EQ(lib_.takeRecords(), u"");
    expectReceived(*dev, file);
}

// The checks at open: short files, wrong check values (lowercase hex, no closing parenthesis),
// header lengths the file cannot carry; a refused file is closed again.
TEST_F(DfuTest, OpenRefusesBadFiles) {
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(connectDevice({}, dev, h));
    EXPECT_EQ(lib_->OpenDfu(7, exportText(firmwareFile(makeFirmware(128, 300), "x.udf")).c_str(), nullptr), 0);
    EXPECT_EQ(lib_->OpenDfu(h, nullptr, nullptr), 0);
    // A start without a file records the log object; the lines of a later open then reach the record.
    EXPECT_EQ(lib_->DFUStart(h, 0), 0);
    records_ = lib_.takeRecords(true);
    EXPECT_TRUE(recordsHave(u"文 件 加 载 失 败"));

    FwBytes shortFile = makeFirmware(64, 127);
    const fs::path shortPath = firmwareFile(shortFile, "short.udf");
    EXPECT_EQ(lib_->OpenDfu(h, exportText(shortPath).c_str(), nullptr), 0);
    writeFile(shortPath, makeFirmware(64, 128));  // the file was closed again: it can be opened now
    EXPECT_EQ(lib_->OpenDfu(h, exportText(shortPath).c_str(), nullptr), 1);
    EXPECT_EQ(lib_->OpenDfu(h, exportText(shortPath).c_str(), nullptr), 0);  // one at a time
    EXPECT_EQ(lib_->CloseDfu(h), 1);

    FwBytes bad = makeFirmware(128, 300);
    bad[10] ^= 0xFF;  // within the 128 bits the check covers
    FwBytes reference = bad;
    reference[5] = 0xE3;
    reference[6] = 0xD8;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", referenceCrc(reference, 128));
    EXPECT_EQ(lib_->OpenDfu(h, exportText(firmwareFile(bad, "bad.udf")).c_str(), nullptr), 0);
    records_ = lib_.takeRecords(true);
    const std::u16string expected = u"检 验 码 不 匹 配(0x" + std::u16string(hex, hex + std::strlen(hex)) + u"\r\n";
    EXPECT_TRUE(recordsHave(expected)) << std::string(records_.begin(), records_.end());

    for (std::uint8_t length : {0, 7, 255}) {
        const fs::path p = firmwareFile(makeFirmware(length, 200), "h" + std::to_string(length) + ".udf");
        EXPECT_EQ(lib_->OpenDfu(h, exportText(p).c_str(), nullptr), 0) << int(length);
    }
    EXPECT_EQ(logCount(flushLog(), u"固 件 头 长 度 错 误"), 3u);
}

// The information fields: read, written with a new check value, and not written when unchanged.
TEST_F(DfuTest, InformationFields) {
    sim::SimDevice* dev = nullptr;
    std::int32_t h = -1;
    ASSERT_NO_FATAL_FAILURE(connectDevice({}, dev, h));
    const FwBytes file = makeFirmware(128, 300);
    const fs::path path = firmwareFile(file);
    _FW_INFO info{};
    EXPECT_EQ(lib_->fwInfo(h, &info, 1), 0);  // no file
    const auto old = fs::last_write_time(path) - std::chrono::hours(1);
    fs::last_write_time(path, old);  // before the open: an open file is not shared
    ASSERT_TRUE(openDfu(h, path));
    ASSERT_EQ(lib_->fwInfo(h, &info, 1), 1);
    EXPECT_EQ(std::memcmp(info.magic, "udf1", 4), 0);
    EXPECT_EQ(std::memcmp(info.fieldA, file.data() + 24, 4), 0);
    EXPECT_EQ(std::memcmp(info.fieldB, file.data() + 39, 32), 0);

    EXPECT_EQ(lib_->fwInfo(h, &info, 0), 1);
    EXPECT_EQ(lib_->CloseDfu(h), 1);
    EXPECT_EQ(fs::last_write_time(path), old);  // unchanged: not written
    EXPECT_EQ(readFile(path), file);
    ASSERT_TRUE(openDfu(h, path));

    std::memcpy(info.fieldB, "TAVRIN-FW-2.0", 13);
    info.fieldA[0] ^= 0x5A;
    EXPECT_EQ(lib_->fwInfo(h, &info, 0), 1);
    _FW_INFO wrong = info;
    wrong.magic[0] = 'x';
    EXPECT_EQ(lib_->fwInfo(h, &wrong, 0), 0);
    EXPECT_EQ(lib_->CloseDfu(h), 1);
    const FwBytes written = readFile(path);
    ASSERT_EQ(written.size(), file.size());
    EXPECT_EQ(std::memcmp(written.data() + 39, "TAVRIN-FW-2.0", 13), 0);
    EXPECT_EQ(written[24], file[24] ^ 0x5A);
    EXPECT_EQ(FwBytes(written.begin() + 128, written.end()), FwBytes(file.begin() + 128, file.end()));
    ASSERT_TRUE(openDfu(h, path));  // the new check value holds
    _FW_INFO back{};
    ASSERT_EQ(lib_->fwInfo(h, &back, 1), 1);
    EXPECT_EQ(std::memcmp(&back, &info, sizeof info), 0);
}

}  // namespace
}  // namespace tavrin::test
