// A simulated composite USB printer through the exports: either interface's path opens both
// ports, command packets travel in HID reports, raw data goes to the printer interface.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/device_peer.h"
#include "platform/notify_window.h"
#include "sim/simulator.h"
#include "tests/dfu/firmware_file.h"
#include "tests/support/library_under_test.h"
#include "tests/usb/usb_tree_fixture.h"

namespace tavrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class UsbSimDevice : public UsbTreeFixture {
protected:
    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) dllFunc_CloseDev(h);
        sim_.stop();
        UsbTreeFixture::TearDown();
    }
    std::int32_t open(const std::u16string& path, std::uint16_t type, std::uint16_t mode,
                      std::int32_t readTimeout = 300) {
        const _DEVOPEN_INFO info{toExport(path.c_str()), readTimeout, 1000, type, mode};
        return dllFunc_OpenDev(&info);
    }
    // A stand-in device that was open a moment ago is ready again once its server has seen the
    // close (a named pipe is made ready anew): the open is tried for a while.
    std::int32_t openAgain(const std::u16string& path, std::uint16_t type, std::uint16_t mode) {
        std::int32_t h = -1;
        for (int tries = 0; tries < 60 && h < 0; ++tries) {
            h = open(path, type, mode);
            if (h < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return h;
    }
    // One command exchange; the answer's bytes, or "failed".
    static std::string query(std::int32_t h, const char16_t* name) {
        std::uint8_t buffer[1024] = {};
        _DEVACK_INFO ack{buffer, sizeof buffer, 0, 0};
        if (dllFunc_DevIoCtrl(h, toExport(name), nullptr, 0, &ack) == 0) return "failed";
        return std::string(reinterpret_cast<char*>(buffer), ack.datLen);
    }

    sim::Simulator sim_;
};

TEST_F(UsbSimDevice, EitherPathOpensBothInterfacesOfTheDevice) {
    sim::DeviceConfig config;
    config.model = "TV-U80";
    sim::SimDevice* dev = sim_.addUsbDevice(config, *tree_, {});
    ASSERT_NE(dev, nullptr);
    const struct {
        std::u16string path;
        std::uint16_t type;
    } cases[] = {{dev->usbPrinterPath(), PORT_USBPRN}, {dev->usbHidPath(), PORT_HID}};
    std::size_t dataSoFar = 0;
    for (const auto& c : cases) {
        const std::int32_t h = openAgain(c.path, c.type, MODE_DATA | MODE_CTRL);
        ASSERT_EQ(h, 0) << c.type;
        EXPECT_NE(dllFunc_GetDevHandle(h, 0), -1);
        EXPECT_NE(dllFunc_GetDevHandle(h, 1), -1);
        EXPECT_EQ(query(h, u"CTRL_CMDGET_MODEL"), "TV-U80");
        EXPECT_EQ(query(h, u"CTRL_CMDGET_DEVNO"), "TV0000000001");
        const std::string job = "\x1b@receipt " + std::string(300, 'x') + "\n";
        std::uint32_t written = 0;
        ASSERT_NE(dllFunc_Write(h, job.data(), static_cast<std::uint32_t>(job.size()), &written, nullptr), 0);
        EXPECT_EQ(written, job.size());
        dataSoFar += job.size();
        ASSERT_TRUE(dev->receivedData().waitForBytes(dataSoFar, 5000));
        EXPECT_EQ(dllFunc_CloseDev(h), 1);
        EXPECT_TRUE(logHas(u"打 开 设 备(handle = 0,type = 0x" + std::u16string(c.type == PORT_USBPRN ? u"302" : u"301") +
                           u",mode = 0x3) 成 功\r\n"));
    }
    // The requests arrived as whole output reports of the device's layout.
    const auto reports = dev->hidChannel()->reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0].size(), 65u);
    EXPECT_EQ(reports[0][0], 0xA6);
    EXPECT_EQ(reports[0][3], 4);  // the four bytes of 10 01 00 00
    EXPECT_EQ(Bytes(reports[0].begin() + 4, reports[0].begin() + 8), (Bytes{0x10, 0x01, 0x00, 0x00}));
}

TEST_F(UsbSimDevice, LongRepliesComeOverSeveralReportsInBothLayouts) {
    const struct {
        sim::HidLayout layout;
    } cases[] = {{{0xA6, 65, 65}}, {{0xA5, 64, 64}}, {{0xA5, 9, 33}}};
    int port = 1;
    for (const auto& c : cases) {
        sim::DeviceConfig config;
        config.faults.longReply = 200;
        sim::UsbPlug plug;
        plug.port = std::to_string(port++);
        plug.layout = c.layout;
        sim::SimDevice* dev = sim_.addUsbDevice(config, *tree_, plug);
        ASSERT_NE(dev, nullptr);
        const std::int32_t h = open(dev->usbHidPath(), PORT_HID, MODE_CTRL);
        ASSERT_GE(h, 0);
        const std::string answer = query(h, u"CTRL_CMDGET_MODEL");
        EXPECT_EQ(answer.size(), 200u) << int(c.layout.reportId) << " " << c.layout.inputLength;
        EXPECT_EQ(answer.substr(0, 6), "TV-P80");
        EXPECT_EQ(dllFunc_GetDevHandle(h, 1), -1);  // no data port was asked for
        dllFunc_CloseDev(h);
        tree_->unplug(plug.port);  // one HID layout in the tree at a time
    }
}

TEST_F(UsbSimDevice, TheLongestPacketsTravelWholeInTheLongestReports) {
    // 255 bytes of user data: a 259-byte packet each way, more than one 0xA5 report can say.
    const sim::HidLayout layouts[] = {{0xA5, 265, 265}, {0xA6, 265, 265}, {0xA5, 258, 258}, {0xA5, 64, 64}};
    Bytes data(255);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    int port = 1;
    for (const auto& layout : layouts) {
        sim::UsbPlug plug;
        plug.port = std::to_string(port++);
        plug.layout = layout;
        sim::SimDevice* dev = sim_.addUsbDevice(sim::DeviceConfig{}, *tree_, plug);
        ASSERT_NE(dev, nullptr);
        const std::int32_t h = open(dev->usbHidPath(), PORT_HID, MODE_CTRL);
        ASSERT_GE(h, 0);
        const std::string what = std::to_string(layout.reportId) + " " + std::to_string(layout.outputLength);
        _DEVACK_INFO set{nullptr, 0, 0, 0xEE};
        EXPECT_EQ(dllFunc_DevIoCtrl(h, toExport(u"CTRL_CMDSET_USERDAT"), data.data(), 255, &set), 1) << what;
        EXPECT_EQ(set.ackCode, 0) << what;
        std::uint8_t buffer[300] = {};
        _DEVACK_INFO get{buffer, sizeof buffer, 0, 0};
        EXPECT_EQ(dllFunc_DevIoCtrl(h, toExport(u"CTRL_CMDGET_USERDAT"), nullptr, 0, &get), 1) << what;
        EXPECT_EQ(Bytes(buffer, buffer + get.datLen), data) << what;
        dllFunc_CloseDev(h);
        tree_->unplug(plug.port);  // one HID layout in the tree at a time
    }
}

TEST_F(UsbSimDevice, ThePrinterPathOpensOnlyTheHidSiblingForMode2) {
    sim::SimDevice* dev = sim_.addUsbDevice({}, *tree_, {});
    ASSERT_NE(dev, nullptr);
    const std::int32_t h = open(dev->usbPrinterPath(), PORT_USBPRN, MODE_CTRL);
    ASSERT_EQ(h, 0);
    EXPECT_EQ(dllFunc_GetDevHandle(h, 1), -1);
    EXPECT_NE(dllFunc_GetDevHandle(h, 0), -1);
    EXPECT_EQ(query(h, u"CTRL_CMDGET_MODEL"), "TV-P80");
    std::uint8_t b[4];
    std::uint32_t n = 0;
    EXPECT_EQ(dllFunc_Read(h, b, sizeof b, &n, nullptr), 0);  // no data port
}

// A reply that comes in its input report after its exchange gave up is drained from the HID
// port before the next command goes out: it answers neither the same command again nor another.
TEST_F(UsbSimDevice, ALateReplyInAReportNeverAnswersALaterCommand) {
    const struct {
        const char* what;
        sim::HidLayout layout;
    } cases[] = {{"0xA6 reports", {0xA6, 65, 65}}, {"0xA5 reports", {0xA5, 64, 64}}};
    int port = 1;
    for (const auto& c : cases) {
        sim::UsbPlug plug;
        plug.port = std::to_string(port++);
        plug.layout = c.layout;
        sim::SimDevice* dev = sim_.addUsbDevice({}, *tree_, plug);
        ASSERT_NE(dev, nullptr) << c.what;
        // The model's answers are numbered, so that a reply tells which request it answers.
        auto asked = std::make_shared<int>(0);
        dev->model().setHandler(0x01, [asked](const sim::Request&) {
            const std::string t = "M#" + std::to_string(++*asked);
            return sim::Answer{0, Bytes(t.begin(), t.end())};
        });
        sim::FaultPlan late;
        late.setLate(0x01, 1500);  // long after the exchange gave up (four read time-outs, 600 ms)
        dev->setFaults(late);
        const std::int32_t h = open(dev->usbHidPath(), PORT_HID, MODE_CTRL, 150);
        ASSERT_GE(h, 0) << c.what;
        theLog().createTextBuffer();

        EXPECT_EQ(query(h, u"CTRL_CMDGET_MODEL"), "failed") << c.what;
        for (int waited = 0; dev->served() < 1 && waited < 5000; waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_GE(dev->served(), 1u) << c.what;  // the late reply has gone out since
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        dev->setFaults({});

        EXPECT_EQ(query(h, u"CTRL_CMDGET_MODEL"), "M#2") << c.what;
        EXPECT_EQ(query(h, u"CTRL_CMDGET_DEVNO"), "TV0000000001") << c.what;
        EXPECT_TRUE(logHas(u"#DevIoCtrl : 丢 弃 残 留 数 据(")) << c.what;
        EXPECT_FALSE(logHas(u"冗 余")) << c.what;
        EXPECT_EQ(dev->received().packets().size(), 3u) << c.what;
        dllFunc_CloseDev(h);
        tree_->unplug(plug.port);
    }
}

TEST_F(UsbSimDevice, AnInterfaceWithoutItsSiblingFailsTheOpenOfBoth) {
    auto printer = platform::DevicePeer::create("usb#vid_0483&pid_5740#p7");
    auto hid = platform::DevicePeer::create("hid#vid_0fe6&pid_8120#p8");
    ASSERT_NE(printer, nullptr);
    ASSERT_NE(hid, nullptr);
    ASSERT_TRUE(tree_->plug(usbDevice(0x0483, 0x5740, "7", {printerInterface(0, printer->path())})));
    ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x8120, "8", {hidInterface(0, hid->path())})));
    const struct {
        std::u16string path;
        std::uint16_t type;
        std::u16string line;
    } cases[] = {
        {path("7", 0), PORT_USBPRN, u"#dllFunc_OpenDev : 打 开 控 制 口 失 败2(0x301)\r\n"},
        {path("8", 0), PORT_HID, u"#dllFunc_OpenDev : 打 开 数 据 口 失 败2(0x302)\r\n"},
    };
    for (const auto& c : cases) {
        theLog().createTextBuffer();
        EXPECT_EQ(open(c.path, c.type, MODE_DATA | MODE_CTRL), -1);
        EXPECT_TRUE(logHas(c.line)) << c.type;
        // The port type of the last port tried: the missing sibling's.
        EXPECT_TRUE(logHas(u"#dllFunc_OpenDev : 打 开 设 备(" + std::u16string(c.type == PORT_USBPRN ? u"302" : u"301") +
                           u") 失 败\r\n"));
        // The first interface was closed again: it opens on its own.
        ASSERT_TRUE((c.type == PORT_USBPRN ? printer : hid)->released(3000));
        const std::int32_t h = open(c.path, c.type, c.type == PORT_USBPRN ? MODE_DATA : MODE_CTRL);
        EXPECT_EQ(h, 0) << c.type;
        dllFunc_CloseDev(h);
    }
}

// A firmware update over the HID interface: the device restarts into its boot mode and comes
// back in the same place on the bus as a new HID path, where the library finds it again and sends
// it the image.
TEST_F(UsbSimDevice, AFirmwareUpdateFindsTheRestartedDeviceAtItsNewPath) {
    sim::DeviceConfig config;
    config.firmware.restartWait = 2;  // 50 ms
    sim::SimDevice* dev = sim_.addUsbDevice(config, *tree_, {});
    ASSERT_NE(dev, nullptr);
    const std::u16string before = dev->usbHidPath();
    const std::int32_t h = open(before, PORT_HID, MODE_CTRL);
    ASSERT_GE(h, 0);
    ASSERT_EQ(query(h, u"CTRL_CMDGET_MODEL"), "TV-P80");

    const std::filesystem::path folder = makeTempFolder("usb-dfu");
    const FwBytes file = makeFirmware(128, 1000);
    writeFile(folder / "fw.udf", file);
    platform::NotifyWindow window;
    ASSERT_TRUE(window.valid());
    ASSERT_EQ(dllFunc_OpenDfu(h, exportText(folder / "fw.udf").c_str(), window.target()), 1);
    ASSERT_EQ(dllFunc_DFUStart(h, 0), 1);
    // Without a log the update's progress is all it reports: 100 once the device took the image.
    bool done = false;
    for (const auto start = std::chrono::steady_clock::now();
         !done && std::chrono::steady_clock::now() - start < std::chrono::seconds(20);) {
        window.pump(50);
        for (const auto& n : window.received()) done = done || n.wParam == DFU_NOTIFY_PROGRESS + 100;
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(dllFunc_CloseDfu(h), 1);

    const sim::FirmwareRecord got = dev->firmware().record();
    EXPECT_EQ(got.bootRestarts, 1u);
    EXPECT_TRUE(got.finished);
    EXPECT_EQ(got.image, FwBytes(file.begin() + 128, file.end()));
    EXPECT_NE(dev->usbHidPath(), before) << "enumerated anew";
    EXPECT_FALSE(logHas(u"reOpenPort : Fail")) << std::string(logged().begin(), logged().end());
    // The device answers at its new path through the handle it was found again for.
    EXPECT_EQ(query(h, u"CTRL_CMDGET_MODEL"), "TV-P80");
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

}  // namespace
}  // namespace tavrin::test
