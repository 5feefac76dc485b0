// The bridge loaded on its own, as a program that knows only TavrinDll loads it: it must find the
// device library installed beside it by itself (on Linux its RUNPATH, also where a sanitizer's
// runtime makes the load on the bridge's behalf) and bind every function.
#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "tavrin/bridge.h"

namespace {

TEST(BridgeAlone, FindsTheDeviceLibraryBesideItAndBindsIt) {
    tavrin::platform::DynamicLibrary library;
    ASSERT_TRUE(library.open(TAVRIN_BRIDGE_FILE));
    auto enumProtoCode = reinterpret_cast<decltype(&DEEnumProtoCode)>(library.symbol("DEEnumProtoCode"));
    ASSERT_NE(enumProtoCode, nullptr);
    const tavrin_wchar_t* name = nullptr;
    std::uint16_t code = 0xFFFF;  // row 0 of the command name table: "CTRL_CMD_NOUSE", 0x00
    // Unbound, the bridge would answer DE_ERR_DEVICE and leave both alone.
    EXPECT_EQ(enumProtoCode(name, 0, code), DE_OK);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), u"CTRL_CMD_NOUSE");
    EXPECT_EQ(code, 0x00);
    library.release();  // the bridge never unloads the device library; it stays too
}

}  // namespace
