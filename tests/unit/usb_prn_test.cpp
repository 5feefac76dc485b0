// The USB printer port on a stand-in device: opening, the record's rules and synchronous I/O.
#include "devicelib/ports/usb_prn.h"

#include <gtest/gtest.h>

#include <chrono>

#include "devicelib/core/dev_app.h"
#include "devicelib/ports/export_text.h"
#include "platform/device_peer.h"

namespace tavrin {
namespace {

class UsbPrnTest : public ::testing::Test {
protected:
    void SetUp() override {
        theLog().createTextBuffer();
        peer_ = platform::DevicePeer::create("usbprn");
        ASSERT_NE(peer_, nullptr);
        path_ = peer_->path();
    }
    void TearDown() override { theLog().logFlush(); }

    _DEVOPEN_INFO record(std::int32_t readTimeout, std::int32_t writeTimeout,
                         std::uint16_t type = PORT_USBPRN) const {
        return {toExport(path_.c_str()), readTimeout, writeTimeout, type, MODE_DATA};
    }
    std::u16string logged() { return theLog().collectedText(); }

    std::unique_ptr<platform::DevicePeer> peer_;
    std::u16string path_;
};

TEST_F(UsbPrnTest, OpensOnceAndTakesTheRecordsTimeouts) {
    CUSBPrn port(theApp());
    const _DEVOPEN_INFO info = record(250, 700);
    ASSERT_EQ(port.openPort(&info, 0), 1);
    EXPECT_NE(port.osHandle(), platform::kNoHandle);
    EXPECT_EQ(port.readTimeout(), 250);
    EXPECT_EQ(port.writeTimeout(), 700);
    EXPECT_NE(logged().find(u"#CBPort::openPort : path = " + path_ + u"\r\n"), std::u16string::npos);

    const platform::OsHandle handle = port.osHandle();
    EXPECT_EQ(port.openPort(&info, 0), 0);  // already open: the handle stays
    EXPECT_EQ(port.osHandle(), handle);
}

TEST_F(UsbPrnTest, TimeoutsBelowOneKeepTheDefaults) {
    CUSBPrn port(theApp());
    const _DEVOPEN_INFO info = record(0, -5);
    ASSERT_EQ(port.openPort(&info, 0), 1);
    EXPECT_EQ(port.readTimeout(), 100);
    EXPECT_EQ(port.writeTimeout(), 2000);
}

TEST_F(UsbPrnTest, RefusesARecordOfAnotherTypeOrWithoutPath) {
    CUSBPrn port(theApp());
    const _DEVOPEN_INFO hid = record(0, 0, PORT_HID);
    EXPECT_EQ(port.openPort(&hid, 0), 0);
    EXPECT_NE(logged().find(u"#CUSBPrn::openPort : Fail(1)\r\n"), std::u16string::npos);
    _DEVOPEN_INFO noPath = record(0, 0);
    noPath.path = nullptr;
    EXPECT_EQ(port.openPort(&noPath, 0), 0);
    EXPECT_EQ(port.osHandle(), platform::kNoHandle);
}

TEST_F(UsbPrnTest, ResolveOnlyOpensNothing) {
    CUSBPrn port(theApp());
    const _DEVOPEN_INFO info = record(0, 0, PORT_HID);  // the type is not even looked at
    EXPECT_EQ(port.openPort(&info, kOpenResolveOnly), 1);
    EXPECT_EQ(port.osHandle(), platform::kNoHandle);
    EXPECT_EQ(port.openUsbPort(path_.c_str(), kOpenResolveOnly, 0), 1);
    EXPECT_EQ(port.osHandle(), platform::kNoHandle);
}

TEST_F(UsbPrnTest, SecondOpenOfTheSameDeviceFails) {
    CUSBPrn first(theApp()), second(theApp());
    const _DEVOPEN_INFO info = record(0, 0);
    ASSERT_EQ(first.openPort(&info, 0), 1);
    EXPECT_EQ(second.openPort(&info, 0), 0);
    first.closePort();
    EXPECT_TRUE(peer_->released(1000));
    EXPECT_EQ(second.openPort(&info, 0), 1);
}

TEST_F(UsbPrnTest, ClosedPortRefusesTransfersAndZeroLengthTouchesNothing) {
    CUSBPrn port(theApp());
    char buf[4] = {};
    std::uint32_t n = 77;
    EXPECT_EQ(port.readPort(buf, sizeof buf, &n, nullptr), 0);
    EXPECT_EQ(port.writePort(buf, sizeof buf, &n, nullptr), 0);
    n = 77;
    EXPECT_EQ(port.syncIOAccess(0, nullptr, buf, 0, &n, 100), 1);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(port.closePort(), 1);  // not open: nothing to close
}

TEST_F(UsbPrnTest, WritesAndReadsReachTheDevice) {
    CUSBPrn port(theApp());
    const _DEVOPEN_INFO info = record(1000, 1000);
    ASSERT_EQ(port.openPort(&info, 0), 1);
    std::uint32_t n = 0;
    ASSERT_EQ(port.writePort("\x1b@print", 7, &n, nullptr), 1);
    EXPECT_EQ(n, 7u);
    char got[16] = {};
    ASSERT_EQ(peer_->read(got, sizeof got, 1000), 7);
    EXPECT_EQ(std::string(got, 7), "\x1b@print");

    ASSERT_TRUE(peer_->write("ok", 2));
    char answer[8] = {};
    ASSERT_EQ(port.readPort(answer, sizeof answer, &n, nullptr), 1);
    EXPECT_EQ(std::string(answer, n), "ok");
}

TEST_F(UsbPrnTest, PortInfoCarriesTheFieldsOfTheRecord) {
    CUSBPrn port(theApp());
    const _DEVOPEN_INFO info = record(300, 400);
    ASSERT_EQ(port.openPort(&info, 0), 1);
    PortInfoEx ex{};
    ex.portMode = 0x55;
    port.getPortInfoEx(&ex);
    EXPECT_EQ(ex.reserved, 0u);
    EXPECT_EQ(ex.readTimeout, 300);
    EXPECT_EQ(ex.writeTimeout, 400);
    EXPECT_EQ(ex.portType, PORT_USBPRN);
    EXPECT_EQ(ex.portMode, 0x55);  // left alone
    EXPECT_EQ(ex.interfaceNumber, 0xFFFF);
    port.getPortInfoEx(nullptr);

    const std::uint16_t table[] = {11, 22, 33};
    EXPECT_EQ(port.selectPortValue(table, 2), 1);
    EXPECT_EQ(port.selectedValue(), 22);
    EXPECT_EQ(port.selectPortValue(table, 0), 1);
    EXPECT_EQ(port.selectedValue(), 22);
}

}  // namespace
}  // namespace tavrin
