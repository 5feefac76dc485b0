// Which library BridgeBinding takes: the one in the folder it is given before one of the same name
// relative to the current directory; a library that lacks the bridge's functions leaves them null
// and the methods then answer their failures. A program of its own: each binding here is the only
// one of its library in the process, so that unloading it really unloads it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/text_utf.h"
#include "tavrinocx/bridge_binding.h"

#if !defined(TAVRIN_BRIDGE_FOLDER) || !defined(TAVRIN_STAND_IN_FOLDER)
#error "TAVRIN_BRIDGE_FOLDER and TAVRIN_STAND_IN_FOLDER must name the folders of the bridge and of its stand-in"
#endif

namespace tavrin::ocx {
namespace {

std::string u8(const std::u16string& s) { return utf::utf16ToUtf8Lossy(s); }

// Runs in the folder given while it lives.
class InFolder {
public:
    explicit InFolder(const std::filesystem::path& folder) : before_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(before_); }

private:
    std::filesystem::path before_;
};

TEST(BridgeBindingTest, AStandInUnderTheBridgesName) {
    BridgeBinding standIn;
    ASSERT_TRUE(standIn.bind(TAVRIN_STAND_IN_FOLDER));
    EXPECT_EQ(standIn.entries().OpenDev, nullptr);
    ASSERT_NE(standIn.entries().EnumProtoCode, nullptr);
    const ControlMethods methods{standIn.entries()};
    EXPECT_EQ(u8(methods.enumProtoCode(0)), R"({"Result":7777})");
    EXPECT_EQ(methods.openDev(u"127.0.0.1:9100", 0, 0, 0x401, 3), -1);
    EXPECT_EQ(u8(methods.getCfgInfo(0)), R"({"RtnCode":20000000})");
    EXPECT_EQ(u8(methods.devIoCtrl(u"CTRL_CMDGET_MODEL", u"01", 0)), R"({"Result":0})");
}

#ifdef _WIN32
// The current directory holds a library of the bridge's name that is not the bridge (a page's
// process may run anywhere): the bridge in the binder's own folder is the one bound. The bridge
// comes last: once loaded it stays in the process (a DLL with thread exit work of its runtime),
// and a load by the same name would find it.
TEST(BridgeBindingTest, TheOwnFolderBeforeTheCurrentDirectory) {
    {
        // Without the library in its own folder, the name relative to the current directory.
        const InFolder planted(TAVRIN_STAND_IN_FOLDER);
        BridgeBinding relative;
        ASSERT_TRUE(relative.bind(TAVRIN_BRIDGE_FOLDER "\\missing"));
        EXPECT_EQ(relative.entries().OpenDev, nullptr);
        EXPECT_EQ(u8(ControlMethods(relative.entries()).enumProtoCode(0)), R"({"Result":7777})");
    }
    {
        // Neither the folder nor the current directory has it: nothing is bound.
        BridgeBinding none;
        EXPECT_FALSE(none.bind(TAVRIN_BRIDGE_FOLDER "\\missing"));
        EXPECT_FALSE(none.bound());
        EXPECT_EQ(none.entries().EnumProtoCode, nullptr);
    }
    const InFolder planted(TAVRIN_STAND_IN_FOLDER);
    BridgeBinding own;
    ASSERT_TRUE(own.bind(TAVRIN_BRIDGE_FOLDER));
    EXPECT_NE(own.entries().OpenDev, nullptr);
    EXPECT_EQ(u8(ControlMethods(own.entries()).enumProtoCode(24)), R"({"RtnCode":0,"RtnVal":"CTRL_DEVCMD_ST","code":128})");
}
#endif

}  // namespace
}  // namespace tavrin::ocx
