// The browser control's methods over the built bridge, bound the way the control binds it, against
// a simulated network device on loopback: the texts a page receives for each method and the bytes
// the device receives.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/text_utf.h"
#include "sim/simulator.h"
#include "tavrinocx/control_methods.h"
#include "tests/support/bound_bridge.h"
#include "tests/support/config_packet.h"
#include "tests/support/device_fixture.h"
#include "tests/support/hex_bytes.h"

namespace tavrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

std::string u8(const std::u16string& s) { return utf::utf16ToUtf8Lossy(s); }

class ControlBridgeTest : public DeviceFixture {
protected:
    std::string settings() const override {
        return "[General]\r\nCfgID=1684418609\r\n[Port]\r\nDiscoveryAddress=127.0.0.2\r\n";
    }
    void SetUp() override {
        DeviceFixture::SetUp();  // the device library first, with the settings of the test
        ASSERT_TRUE(binding().bound());
        ASSERT_NE(binding().entries().DevIoCtrl, nullptr);
        methods_ = ocx::ControlMethods(binding().entries());
    }
    void TearDown() override {
        for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        sim_.stop();
        lib_->CloseLog();
        DeviceFixture::TearDown();
    }
    // A network device of the simulator, opened through the methods, its control channel up.
    std::int32_t openDevice(sim::DeviceConfig config = {}) {
        dev_ = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
        EXPECT_NE(dev_, nullptr);
        if (dev_ == nullptr) return -1;
        const std::int32_t h = methods_.openDev(dev_->networkPath(), 500, 500, 0x401, 3);
        EXPECT_GE(h, 0);
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < end && methods_.devIoCtrl(u"CTRL_CMDGET_PROTVER", u"--", h) == u"{\"Result\":0}")
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return h;
    }

    ocx::ControlMethods methods_{ocx::BridgeEntries{}};
    sim::Simulator sim_;
    sim::SimDevice* dev_ = nullptr;
};

TEST_F(ControlBridgeTest, QueriesAndCommandsOfAnOpenDevice) {
    sim::DeviceConfig config;
    config.model = "\x85TV-N58 \"58\"";  // the class byte 0x85, then the type text
    config.answers[0x15] = sim::Answer{0, {0x01, 0xAB, 0x00}};  // CTRL_CMDGET_VERINFO
    config.answers[0x04] = sim::Answer{7, {}};                    // CTRL_CMD_CONNT: status 7, no data
    const std::int32_t h = openDevice(config);
    ASSERT_GE(h, 0);

    EXPECT_EQ(u8(methods_.getDevType(h)), R"({"RtnCode":0,DevClass:-123,"DevType":"TV-N58 \"58\""})");

    // Data given as hexadecimal text goes out as bytes; the answer comes back as text.
    dev_->received().clear();
    EXPECT_EQ(u8(methods_.devIoCtrl(u"CTRL_CMDGET_VERINFO", u"01 a0,FF", h)), R"({"Result":1,"lpBuf":"0x01 0xab 0x00 "})");
    ASSERT_EQ(dev_->received().packets().size(), 1u);
    const Bytes packet = dev_->received().packets()[0];  // sync, code, length, checksum, data
    ASSERT_EQ(packet.size(), 7u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 3), hexBytes("10 15 03"));
    EXPECT_EQ(Bytes(packet.begin() + 4, packet.end()), hexBytes("01 A0 FF"));
    // No answer data, a non-zero acknowledge code, malformed input: {"Result":0}; the malformed
    // input never reaches the device.
    EXPECT_EQ(u8(methods_.devIoCtrl(u"CTRL_CMD_CONNT", u"", h)), R"({"Result":0})");
    EXPECT_EQ(u8(methods_.devIoCtrl(u"CTRL_CMD_CONNT", u"123", h)), R"({"Result":0})");
    EXPECT_EQ(u8(methods_.devIoCtrl(u"CTRL_CMD_CONNT", u"--", h)), R"({"Result":0})");  // sent: status 7
    EXPECT_EQ(u8(methods_.devIoCtrl(u"CTRL_NO_SUCH_COMMAND", u"00", h)), R"({"Result":0})");
    EXPECT_EQ(dev_->received().packets().size(), 2u);

    EXPECT_TRUE(methods_.closeDev(h));
    EXPECT_FALSE(methods_.closeDev(h));
    EXPECT_EQ(u8(methods_.getDevType(h)), R"({"RtnCode":20000000})");
    EXPECT_EQ(u8(methods_.getDevType(-1)), R"({"RtnCode":10000002})");
}

TEST_F(ControlBridgeTest, CommandNamesAndOpenFailures) {
    EXPECT_EQ(u8(methods_.enumProtoCode(0)), R"({"RtnCode":0,"RtnVal":"CTRL_CMD_NOUSE","code":0})");
    EXPECT_EQ(u8(methods_.enumProtoCode(24)), R"({"RtnCode":0,"RtnVal":"CTRL_DEVCMD_ST","code":128})");
    EXPECT_EQ(u8(methods_.enumProtoCode(25)), R"({"Result":0})");
    EXPECT_EQ(u8(methods_.enumProtoCode(0x10018)), R"({"RtnCode":0,"RtnVal":"CTRL_DEVCMD_ST","code":128})");

    EXPECT_EQ(methods_.openDev(u"no-such-device", 100, 100, 0x401, 3), -1);
    EXPECT_EQ(methods_.openDev(u"127.0.0.1:1", 100, 100, 0x999, 3), -1);
    // No USB device of the stand-in tree: the search lists nothing.
    EXPECT_EQ(u8(methods_.enumDevPath(0x0100, u"", 0, 0)), R"({"RtnCode":20000000})");
    EXPECT_EQ(u8(methods_.enumDevPath(0x0500, u"", 0, 0)), R"({"RtnCode":20000000})");
}

TEST_F(ControlBridgeTest, ConfigurationItems) {
    const std::int32_t h = openDevice(configuredDevice(
        R"(<CfgItem Name="Speed" Bits="8" Type="1" MaxVal="200" MinVal="0"/>)", hexBytes("07")));
    ASSERT_GE(h, 0);
    const std::string speed = R"({"Name":"Speed","Type":"1","MaxVal":"200","MinVal":"0","Tag":"0","CurVal":")";
    EXPECT_EQ(u8(methods_.getCfgInfo(h)), R"({"RtnCode":0,"Info":[)" + speed + R"(7"}]})");
    EXPECT_EQ(u8(methods_.setCfgInfo(h, u"Speed", u"9")), R"({"RtnCode":0})");
    EXPECT_EQ(u8(methods_.getCfgInfo(h)), R"({"RtnCode":0,"Info":[)" + speed + R"(9"}]})");
    EXPECT_EQ(u8(methods_.setCfgInfo(h, u"Speed", u"201")), R"({"RtnCode":20000000})");  // beyond MaxVal
    EXPECT_EQ(u8(methods_.getCfgInfo(7)), R"({"RtnCode":20000000})");
}

TEST_F(ControlBridgeTest, ADeviceWithoutItems) {
    const std::int32_t h = openDevice(configuredDevice("", {}));
    ASSERT_GE(h, 0);
    EXPECT_EQ(u8(methods_.getCfgInfo(h)), R"({"RtnCode":0,"Info":[]})");
}

TEST_F(ControlBridgeTest, TheSearchListsTwoDevices) {
#ifdef _WIN32
    GTEST_SKIP() << "no loopback responder on the search port under Wine (see the network tests)";
#endif
    ASSERT_NE(sim_.addNetDevice({}, {{127, 0, 0, 2}, 0}), nullptr);
    ASSERT_NE(sim_.addNetDevice({}, {{127, 0, 0, 3}, 0}), nullptr);
    const auto port = static_cast<std::uint16_t>(42000 + (Clock::now().time_since_epoch().count() % 9000));
    ASSERT_NE(sim_.startDiscovery({{127, 0, 0, 2}, port}), nullptr);
    EXPECT_EQ(u8(methods_.enumDevPath(0x401, u"ignored", port, 0)),
              R"({"RtnCode":0,"RtnVal":2,"pathStr":")" + u8(sim_.device(0).networkPath()) + R"(\r\n)" +
                  u8(sim_.device(1).networkPath()) + R"("})");
}

}  // namespace
}  // namespace tavrin::test
