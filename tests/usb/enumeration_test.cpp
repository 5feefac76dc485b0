// Listing USB interfaces through dllFunc_EnumDevPath and pairing the two interfaces of one device,
// against a stand-in device tree: the same cases on Linux (a sysfs tree) and Windows (the fake
// SetupDi/CM services, which check every structure size).
#include <gtest/gtest.h>

#include "devicelib/core/dev_app.h"
#include "devicelib/ports/enum_device.h"
#include "devicelib/ports/hid_port.h"
#include "devicelib/ports/usb_prn.h"
#include "tests/usb/usb_tree_fixture.h"

namespace tavrin::test {
namespace {

constexpr tavrin_wchar_t kUntouched = 0x7777;

struct Listing {
    std::uint32_t count;
    std::uint32_t size;
    std::u16string text;  // the buffer's contents, up to the capacity given
};

Listing list(std::uint16_t type, std::uint32_t capacity, std::uint32_t vid = 0, std::uint32_t pid = 0,
             bool withBuffer = true) {
    std::vector<tavrin_wchar_t> buffer(capacity + 1, kUntouched);
    std::uint32_t size = capacity;
    const std::uint32_t count = dllFunc_EnumDevPath(type, withBuffer ? buffer.data() : nullptr, &size, vid, pid);
    return {count, size, std::u16string(buffer.begin(), buffer.begin() + capacity)};
}

std::u16string joined(const std::vector<std::u16string>& paths) {
    std::u16string out;
    for (const auto& p : paths) out += p + u'\0';
    return out + u'\0';
}

class UsbEnumeration : public UsbTreeFixture {};

TEST_F(UsbEnumeration, NoDeviceListsNothingAndLeavesTheBufferAlone) {
    for (std::uint16_t type : {PORT_USBPRN, PORT_HID}) {
        const Listing l = list(type, 16);
        EXPECT_EQ(l.count, 0u);
        EXPECT_EQ(l.size, 0u);
        EXPECT_EQ(l.text, std::u16string(16, kUntouched));
    }
}

TEST_F(UsbEnumeration, ListsTheInterfacesOfEachClass) {
    plugStandardDevices();
    const std::u16string printers = joined({path("1", 0), path("2", 0), path("3", 0)});
    const std::u16string hids = joined({path("1", 1), path("2", 1), path("4", 0)});
    const struct {
        std::uint16_t type;
        std::u16string expected;
    } cases[] = {{PORT_USBPRN, printers}, {PORT_HID, hids}};
    for (const auto& c : cases) {
        const auto need = static_cast<std::uint32_t>(c.expected.size());
        const Listing asked = list(c.type, 0, 0, 0, false);  // the size first, then the list
        EXPECT_EQ(asked.count, 0u);
        EXPECT_EQ(asked.size, need);
        const Listing exact = list(c.type, need);
        EXPECT_EQ(exact.count, 3u) << c.type;
        EXPECT_EQ(exact.size, need);
        EXPECT_EQ(exact.text, c.expected);
    }
    // Every path carries its fields after the first '#', and the class at its end.
    std::uint16_t vid = 0, pid = 0, mi = 0xFFFF;
    ASSERT_TRUE(CEnumDevice::parseVidPidMi(&vid, &pid, &mi, path("1", 1).c_str()));
    EXPECT_EQ(vid, 0x0FE6);
    EXPECT_EQ(pid, 0x811E);
    EXPECT_EQ(mi, 1);
    mi = 0xFFFF;
    ASSERT_TRUE(CEnumDevice::parseVidPidMi(&vid, &pid, &mi, path("3", 0).c_str()));
    EXPECT_EQ(pid, 0x5740);
    EXPECT_EQ(mi, 0xFFFF);  // not composite: no interface number
}

TEST_F(UsbEnumeration, APathThatDoesNotFitIsSkippedAndAShorterOneStillWritten) {
    // The first device's path is longer than the second's.
    ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x811E, "12.3.4", {printerInterface(0), hidInterface(1)})));
    ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x5740, "5", {printerInterface(0)})));
    const std::u16string first = path("12.3.4", 0), second = path("5", 0);
    ASSERT_GT(first.size(), second.size());
    const auto need = static_cast<std::uint32_t>(first.size() + second.size() + 3);

    const struct {
        std::uint32_t capacity;
        std::uint32_t count;
        std::u16string text;
    } cases[] = {
        {need, 2, first + u'\0' + second + u'\0' + u'\0'},
        // Room for the second path and the closing zero, not for the first.
        {static_cast<std::uint32_t>(second.size() + 2), 1, second + u'\0' + u'\0'},
        // Room for the second path only: no closing zero.
        {static_cast<std::uint32_t>(second.size() + 1), 1, second + u'\0'},
        // Room for both paths, not for the closing zero.
        {need - 1, 2, first + u'\0' + second + u'\0'},
        {1, 0, std::u16string(1, u'\0')},
    };
    for (const auto& c : cases) {
        const Listing l = list(PORT_USBPRN, c.capacity);
        EXPECT_EQ(l.count, c.count) << c.capacity;
        EXPECT_EQ(l.size, need) << c.capacity;  // always the need of the whole list
        EXPECT_EQ(l.text, c.text) << c.capacity;
    }
}

TEST_F(UsbEnumeration, FiltersOnVendorAndProductFromArgumentsOrSettings) {
    plugStandardDevices();
    const struct {
        std::uint16_t type;
        std::uint32_t vid, pid;
        std::uint16_t settingVid, settingPid;
        std::vector<std::u16string> expected;
    } cases[] = {
        {PORT_USBPRN, 0x0FE6, 0, 0, 0, {path("1", 0)}},
        {PORT_HID, 0x0FE6, 0, 0, 0, {path("1", 1), path("4", 0)}},
        {PORT_HID, 0, 0x8120, 0, 0, {path("4", 0)}},             // PID only
        {PORT_HID, 0x1FC9, 0x8120, 0, 0, {}},                    // both must match
        {PORT_USBPRN, 0x0FE6 | 0xABCD0000u, 0, 0, 0, {path("1", 0)}},  // low 16 bits only
        {PORT_USBPRN, 0, 0, 0x0483, 0, {path("3", 0)}},          // the setting UsbVID
        {PORT_HID, 0, 0, 0, 0x2016, {path("2", 1)}},             // the setting UsbPID
        {PORT_USBPRN, 0x1FC9, 0, 0x0483, 0, {path("2", 0)}},     // the argument before the setting
        {PORT_USBPRN, 0xBEEF, 0, 0, 0, {}},
    };
    for (const auto& c : cases) {
        theApp().settings.UsbVID = c.settingVid;
        theApp().settings.UsbPID = c.settingPid;
        const Listing l = list(c.type, 2048, c.vid, c.pid);
        const std::string what = std::to_string(c.type) + " " + std::to_string(c.vid) + "/" + std::to_string(c.pid);
        EXPECT_EQ(l.count, c.expected.size()) << what;
        if (c.expected.empty()) {
            EXPECT_EQ(l.size, 0u) << what;
        } else {
            const std::u16string text = joined(c.expected);
            EXPECT_EQ(l.size, text.size()) << what;
            EXPECT_EQ(l.text.substr(0, text.size()), text) << what;
        }
    }
}

TEST_F(UsbEnumeration, OtherPortTypesListNothing) {
    plugStandardDevices();
    for (std::uint16_t type : {0x0000, 0x0300, 0x0303, 0x0500}) {
        const Listing l = list(type, 16);
        EXPECT_EQ(l.count, 0u) << type;
        EXPECT_EQ(l.size, 16u) << type;  // untouched
    }
}

TEST_F(UsbEnumeration, APathLongerThanTheLimitIsNeverListedOrCutIntoAnother) {
    plugStandardDevices();
    // A bus position long enough to make the interface path longer than 259 characters.
    const std::string port(200, '7');
    ASSERT_TRUE(tree_->plug(usbDevice(0x0FE6, 0x811E, port, {printerInterface(0), hidInterface(1)})));
    ASSERT_GE(path(port, 0).size(), kUsbPathChars);
    for (std::uint32_t vid : {0u, 0x0FE6u}) {
        const Listing l = list(PORT_USBPRN, 4096, vid);
        EXPECT_EQ(l.text.find(path(port, 0)), std::u16string::npos) << vid;
        EXPECT_EQ(l.count, vid == 0 ? 3u : 1u);
    }
    std::uint16_t v = 0, p = 0, m = 0;
    EXPECT_FALSE(CEnumDevice::parseVidPidMi(&v, &p, &m, path(port, 0).c_str()));
}

TEST(UsbPathFields, ReadsVendorProductAndInterface) {
    const struct {
        std::u16string path;
        bool ok;
        std::uint16_t vid, pid, mi;
    } cases[] = {
        {u"\\\\?\\usb#vid_0fe6&pid_811e&mi_00#6&1a&0&0000#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", true, 0x0FE6, 0x811E, 0},
        {u"\\\\?\\hid#vid_0fe6&pid_811e&mi_01#7&2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", true, 0x0FE6, 0x811E, 1},
        {u"/dev/hidraw3#vid_1fc9&pid_2016#0003:1FC9:2016.0007#{4d1e55b2-f16f-11cf-88cb-001111000030}", true, 0x1FC9,
         0x2016, 0xEEEE},
        {u"\\\\?\\usb#VID_12&PID_3&MI_2#x", true, 0x12, 0x3, 2},     // fewer digits
        {u"\\\\?\\usb#vid_12345&pid_0001#x", false, 0, 0, 0xEEEE},  // the fifth digit is no "&PID_"
        {u"\\\\?\\usb#vid_0fe6#x", false, 0, 0, 0xEEEE},            // one field
        {u"no separator vid_0fe6&pid_811e", false, 0, 0, 0xEEEE},
        {u"", false, 0, 0, 0xEEEE},
    };
    for (const auto& c : cases) {
        std::uint16_t vid = 0, pid = 0, mi = 0xEEEE;
        EXPECT_EQ(CEnumDevice::parseVidPidMi(&vid, &pid, &mi, c.path.c_str()), c.ok) << std::string(c.path.begin(), c.path.end());
        EXPECT_EQ(vid, c.vid);
        EXPECT_EQ(pid, c.pid);
        EXPECT_EQ(mi, c.mi);
    }
}

class UsbPairing : public UsbTreeFixture {};

TEST_F(UsbPairing, EachInterfaceOfACompositeDeviceFindsTheOther) {
    plugStandardDevices();
    for (const std::string port : {"1", "2"}) {
        CUSBPrn printer(theApp());
        ASSERT_EQ(printer.openUsbPort(path(port, 0).c_str(), kOpenResolveOnly, 0), 1);
        EXPECT_EQ(printer.isPortOpen(), 0);
        PortInfoEx info{};
        printer.getPortInfoEx(&info);
        EXPECT_EQ(info.interfaceNumber, 0);
        char16_t found[kUsbPathChars] = {};
        ASSERT_TRUE(printer.findSiblingInterface(1, hidClass(), nullptr, found, kUsbPathChars)) << port;
        EXPECT_EQ(std::u16string(found), path(port, 1));

        CHidPort hid(theApp());
        ASSERT_EQ(hid.openUsbPort(path(port, 1).c_str(), kOpenResolveOnly, 0), 1);
        EXPECT_EQ(hid.isPortOpen(), 0);
        EXPECT_EQ(hid.parentInstanceId(), tree_->deviceInstanceId(port));  // climbed past the interface
        EXPECT_FALSE(hid.locationPath().empty());
        EXPECT_EQ(hid.interfaceNumber(), 1);
        ASSERT_TRUE(hid.findSiblingInterface(0, kUsbPrinterClass, nullptr, found, kUsbPathChars)) << port;
        EXPECT_EQ(std::u16string(found), path(port, 0));
    }
}

TEST_F(UsbPairing, ADeviceThatIsNotCompositeIsPairedOnlyWithItself) {
    plugStandardDevices();
    char16_t found[kUsbPathChars] = {};
    // The printer-only device has no HID interface; the HID-only device beside it on the hub is
    // another device and no answer.
    CUSBPrn printer(theApp());
    ASSERT_EQ(printer.openUsbPort(path("3", 0).c_str(), kOpenResolveOnly, 0), 1);
    EXPECT_FALSE(printer.findSiblingInterface(1, hidClass(), nullptr, found, kUsbPathChars))
        << std::string(found, found + std::u16string(found).size());
    // Nor does the HID-only device have a printer interface.
    CHidPort hid(theApp());
    ASSERT_EQ(hid.openUsbPort(path("4", 0).c_str(), kOpenResolveOnly, 0), 1);
    EXPECT_FALSE(hid.findSiblingInterface(0, kUsbPrinterClass, nullptr, found, kUsbPathChars));
}

TEST_F(UsbPairing, APathTheTreeDoesNotKnowResolvesNothing) {
    plugStandardDevices();
    CUSBPrn printer(theApp());
    const std::u16string unknown = u"\\\\?\\usb#vid_0fe6&pid_811e&mi_00#9&99&0&0000#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    EXPECT_EQ(printer.openUsbPort(unknown.c_str(), kOpenResolveOnly, 0), 1);
    EXPECT_TRUE(logHas(u"#CUSBPort::enumUsbLocaPathFromSymLnk : Fail(1)\r\n"));
    char16_t found[kUsbPathChars] = {};
    EXPECT_FALSE(printer.findSiblingInterface(1, hidClass(), nullptr, found, kUsbPathChars));
    PortInfoEx info{};
    printer.getPortInfoEx(&info);
    EXPECT_EQ(info.vendorId, 0x0FE6);  // the fields still come from the path
    EXPECT_EQ(info.interfaceNumber, 0);
}

}  // namespace
}  // namespace tavrin::test
