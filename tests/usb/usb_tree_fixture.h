// A fixture with a stand-in USB device tree that the library sees (and only it), the library's
// log collected in memory, and the devices most tests need:
//   port 1: composite printer 0FE6:811E, MI_00 printer, MI_01 HID
//   port 2: composite printer of another vendor, 1FC9:2016, MI_00 printer, MI_01 HID
//   port 3: a printer-only device 0483:5740 (not composite)
//   port 4: a HID-only device 0FE6:8120 (not composite), beside it on the hub
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "devicelib/core/dev_app.h"
#include "devicelib/ports/export_text.h"
#include "platform/usb_stand_in.h"
#include "tests/support/log_text.h"
#include "tavrin/tavrin.h"

namespace tavrin::test {

using platform::StandInInterface;
using platform::StandInUsbDevice;

inline StandInInterface printerInterface(std::uint8_t number, std::u16string devicePath = {}) {
    StandInInterface i;
    i.kind = StandInInterface::Kind::Printer;
    i.number = number;
    i.devicePath = std::move(devicePath);
    return i;
}

inline StandInInterface hidInterface(std::uint8_t number, std::u16string devicePath = {}, std::uint8_t reportId = 0xA6,
                                     std::uint16_t inLength = 65, std::uint16_t outLength = 65) {
    StandInInterface i;
    i.kind = StandInInterface::Kind::Hid;
    i.number = number;
    i.devicePath = std::move(devicePath);
    i.reportId = reportId;
    i.inputReportLength = inLength;
    i.outputReportLength = outLength;
    return i;
}

inline StandInUsbDevice usbDevice(std::uint16_t vid, std::uint16_t pid, std::string port,
                                  std::vector<StandInInterface> interfaces) {
    StandInUsbDevice d;
    d.vendorId = vid;
    d.productId = pid;
    d.instance = "SN" + port;
    d.port = std::move(port);
    d.interfaces = std::move(interfaces);
    return d;
}

class UsbTreeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        theLog().createTextBuffer();
        tree_ = platform::StandInUsbTree::create("usb");
        ASSERT_NE(tree_, nullptr);
        tree_->install();
        savedLevel_ = theApp().osLevel;
        theApp().osLevel = 2;
        theApp().settings.UsbVID = 0;
        theApp().settings.UsbPID = 0;
    }
    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) dllFunc_CloseDev(h);
        theApp().osLevel = savedLevel_;
        theApp().settings.UsbVID = 0;
        theApp().settings.UsbPID = 0;
        // Every device information set and report description was released.
        EXPECT_EQ(tree_->unreleased(), 0);
        tree_->uninstall();
        tree_.reset();
    }

    void plugStandardDevices() {
        ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x811E, "1", {printerInterface(0), hidInterface(1)})));
        ASSERT_TRUE(tree_->plug(usbDevice(0x1FC9, 0x2016, "2", {printerInterface(0), hidInterface(1)})));
        ASSERT_TRUE(tree_->plug(usbDevice(0x0483, 0x5740, "3", {printerInterface(0)})));
        ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x8120, "4", {hidInterface(0)})));
    }
    std::u16string path(const std::string& port, std::uint8_t number) const {
        return tree_->interfacePath(port, number);
    }
    static std::u16string logged() { return theLog().collectedText(); }
    static bool logHas(const std::u16string& text) { return occurrences(logged(), text) > 0; }

    std::unique_ptr<platform::StandInUsbTree> tree_;
    std::uint16_t savedLevel_ = 0;
};

}  // namespace tavrin::test
