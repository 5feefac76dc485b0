// The system's own device installation, configuration manager and HID services, reached by the
// library loaded as callers load it, on a system without USB printers (Wine, which has a virtual
// HID mouse and keyboard of its own): every structure the calls take must have the size this
// build's system expects, or the calls fail before they find anything.
#include <gtest/gtest.h>

#include "devicelib/ports/enum_device.h"
#include "tests/support/device_fixture.h"

namespace tavrin::test {
namespace {

class UsbOnTheSystem : public DeviceFixture {};

TEST_F(UsbOnTheSystem, NoPrinterInterfaceIsListed) {
    tavrin_wchar_t buffer[8];
    for (auto& c : buffer) c = 0x7777;
    std::uint32_t size = 8;
    EXPECT_EQ(lib_->EnumDevPath(PORT_USBPRN, buffer, &size, 0, 0), 0u);
    EXPECT_EQ(size, 0u);
    for (auto c : buffer) EXPECT_EQ(c, 0x7777);
}

TEST_F(UsbOnTheSystem, TheSystemsHidInterfacesAreListedByTheListRules) {
    std::uint32_t need = 0;
    EXPECT_EQ(lib_->EnumDevPath(PORT_HID, nullptr, &need, 0, 0), 0u);
    if (need == 0) GTEST_SKIP() << "this system has no HID interface";
    std::vector<tavrin_wchar_t> buffer(need, 0x7777);
    std::uint32_t size = need;
    const std::uint32_t count = lib_->EnumDevPath(PORT_HID, buffer.data(), &size, 0, 0);
    EXPECT_GE(count, 1u);
    EXPECT_EQ(size, need);
    ASSERT_EQ(buffer[need - 1], 0);
    ASSERT_EQ(buffer[need - 2], 0);
    std::vector<std::u16string> paths;
    for (std::size_t at = 0; buffer[at] != 0;) {
        std::u16string p(reinterpret_cast<const char16_t*>(buffer.data() + at));
        at += p.size() + 1;
        paths.push_back(p);
    }
    ASSERT_EQ(paths.size(), count);
    for (const auto& p : paths) {
        std::uint16_t vid = 0, pid = 0, mi = 0;
        EXPECT_TRUE(CEnumDevice::parseVidPidMi(&vid, &pid, &mi, p.c_str()));
        EXPECT_EQ(p.substr(p.size() - 38), u"{4d1e55b2-f16f-11cf-88cb-001111000030}");
    }
    size = need;
    EXPECT_EQ(lib_->EnumDevPath(PORT_HID, buffer.data(), &size, 0x0001, 0x0001), 0u);  // nobody's ids
    EXPECT_EQ(size, 0u);

    // Resolving the first one climbs the system's device tree; it has no printer sibling.
    const auto path = exportText(paths[0]);
    const _DEVOPEN_INFO info = openRecord(path.c_str(), PORT_HID, MODE_DATA);
    EXPECT_EQ(lib_->OpenDev(&info), -1);
    const std::string log = flushLog();
    EXPECT_TRUE(logHas(log, u"#dllFunc_OpenDev : 打 开 数 据 口 失 败2(0x302)\r\n"));
    EXPECT_FALSE(logHas(log, u"#CEnumDevice::enumDevSymLnk : Error"));
}

}  // namespace
}  // namespace tavrin::test
