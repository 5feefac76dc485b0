// The service over the real bridge and device library against the simulator's network device on
// loopback: every endpoint over HTTP and over a WebSocket answers with exactly the browser
// control's text, and a page's devices are closed with its WebSocket.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/text_utf.h"
#include "service/bridge_methods.h"
#include "service/server.h"
#include "sim/simulator.h"
#include "tests/service/service_client.h"
#include "tests/support/bound_bridge.h"
#include "tests/support/config_packet.h"
#include "tests/support/device_fixture.h"
#include "tests/support/hex_bytes.h"

namespace tavrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

constexpr const char* kPage = "http://localhost:5173";
constexpr const char* kOtherPage = "http://127.0.0.1:5174";

// A device whose configuration has one item, Speed = 7 (DEVID 1, CFGID 2, CFGVer 1).
sim::DeviceConfig speedDevice() {
    sim::DeviceConfig config =
        configuredDevice(R"(<CfgItem Name="Speed" Bits="8" Type="1" MaxVal="200" MinVal="0"/>)", {7});
    config.model = "\x85TV-N58 \"58\"/\\";  // class byte 0x85, then a type text that needs escaping
    config.answers[0x15] = sim::Answer{0, {0x01, 0xAB, 0x00}};  // CTRL_CMDGET_VERINFO
    return config;
}

class ServiceDeviceTest : public DeviceFixture {
protected:
    std::string settings() const override {
        return "[General]\r\nCfgID=1684418609\r\n[Port]\r\nDiscoveryAddress=127.0.0.2\r\n";
    }
    void SetUp() override {
        DeviceFixture::SetUp();
        ASSERT_TRUE(binding().bound());
        methods_ = std::make_unique<service::BridgeMethods>(binding().entries());
        control_ = std::make_unique<ocx::ControlMethods>(binding().entries());
        service::Settings s;
        s.port = 0;
        s.allowedOrigins = {kPage, kOtherPage};
        server_ = std::make_unique<service::Server>(s, *methods_, [](const std::string&) {});
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
    }
    void TearDown() override {
        server_.reset();
        for (std::int32_t h = 0; h < 10; ++h) lib_->CloseDev(h);
        sim_.stop();
        lib_->CloseLog();
        DeviceFixture::TearDown();
    }

    HttpAnswer post(const std::string& method, const Json& params, const char* origin = kPage) {
        HttpCall c;
        c.target = "/" + method;
        c.body = params.dump();
        c.origin = std::string(origin);
        return httpCall(server_->port(), c, 60000);
    }
    std::string text(const std::string& method, const Json& params, const char* origin = kPage) {
        const HttpAnswer a = post(method, params, origin);
        EXPECT_EQ(a.status, 200) << method << ": " << a.body;
        return a.body;
    }
    // Waits until the device takes commands (its connections are made in the background).
    void waitUntilUp(std::int32_t h, const char* origin = kPage) {
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < end &&
               text("DevIoCtrl", {{"ctrlCode", "CTRL_CMDGET_PROTVER"}, {"inDats", "--"}, {"handle", h}}, origin) ==
                   R"({"Result":0})")
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Json openParams() const {
        return {{"path", utf::utf16ToUtf8Lossy(dev_->networkPath())}, {"readTimeout", 500}, {"writeTimeout", 500},
                {"portType", 0x401}, {"portMode", 3}};
    }

    sim::Simulator sim_;
    sim::SimDevice* dev_ = nullptr;
    std::unique_ptr<service::BridgeMethods> methods_;
    std::unique_ptr<ocx::ControlMethods> control_;
    std::unique_ptr<service::Server> server_;
};

TEST_F(ServiceDeviceTest, EveryEndpointOverHttpAnswersTheControlsText) {
    dev_ = sim_.addNetDevice(speedDevice(), {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev_, nullptr);
    EXPECT_EQ(text("EnumProtoCode", {{"idx", 0}}), R"({"RtnCode":0,"RtnVal":"CTRL_CMD_NOUSE","code":0})");
    EXPECT_EQ(text("EnumProtoCode", {{"idx", 25}}), R"({"Result":0})");
    EXPECT_EQ(text("OpenDev", {{"path", "no-such-device"}, {"readTimeout", 100}, {"writeTimeout", 100},
                               {"portType", 0x401}, {"portMode", 3}}),
              "-1");

    const std::string opened = text("OpenDev", openParams());
    const std::int32_t h = std::stoi(opened);
    ASSERT_GE(h, 0);
    waitUntilUp(h);

    const std::string type = text("GetDevType", {{"hDev", h}});
    EXPECT_EQ(type, R"({"RtnCode":0,DevClass:-123,"DevType":"TV-N58 \"58\"\/\\"})");
    EXPECT_EQ(type, utf::utf16ToUtf8Lossy(control_->getDevType(h)));

    dev_->received().clear();
    EXPECT_EQ(text("DevIoCtrl", {{"ctrlCode", "CTRL_CMDGET_VERINFO"}, {"inDats", "01 a0,FF"}, {"handle", h}}),
              R"({"Result":1,"lpBuf":"0x01 0xab 0x00 "})");
    ASSERT_EQ(dev_->received().packets().size(), 1u);
    const Bytes packet = dev_->received().packets()[0];
    EXPECT_EQ(Bytes(packet.begin() + 4, packet.end()), hexBytes("01 A0 FF"));
    // Text the control refuses (an odd count of digits) goes nowhere either.
    EXPECT_EQ(text("DevIoCtrl", {{"ctrlCode", "CTRL_CMDGET_VERINFO"}, {"inDats", "123"}, {"handle", h}}), R"({"Result":0})");
    EXPECT_EQ(dev_->received().packets().size(), 1u);

    const std::string speed = R"({"Name":"Speed","Type":"1","MaxVal":"200","MinVal":"0","Tag":"0","CurVal":")";
    EXPECT_EQ(text("GetCfgInfo", {{"hDev", h}}), R"({"RtnCode":0,"Info":[)" + speed + R"(7"}]})");
    EXPECT_EQ(text("SetCfgInfo", {{"hDev", h}, {"name", "Speed"}, {"val", "9"}}), R"({"RtnCode":0})");
    EXPECT_EQ(text("GetCfgInfo", {{"hDev", h}}), R"({"RtnCode":0,"Info":[)" + speed + R"(9"}]})");
    EXPECT_EQ(text("SetCfgInfo", {{"hDev", h}, {"name", "Speed"}, {"val", "201"}}), R"({"RtnCode":20000000})");

    // Another page may not use the handle; the page that opened it closes it.
    EXPECT_EQ(post("GetDevType", {{"hDev", h}}, kOtherPage).status, 403);
    EXPECT_EQ(post("CloseDev", {{"pHandle", h}}, kOtherPage).status, 403);
    EXPECT_EQ(text("CloseDev", {{"pHandle", h}}), "true");
    EXPECT_EQ(text("CloseDev", {{"pHandle", h}}), "false");
    EXPECT_EQ(text("GetDevType", {{"hDev", h}}), R"({"RtnCode":20000000})");
}

TEST_F(ServiceDeviceTest, TheSearchOverHttp) {
#ifdef _WIN32
    GTEST_SKIP() << "no loopback responder on the search port under Wine (see the network tests)";
#endif
    dev_ = sim_.addNetDevice({}, {{127, 0, 0, 2}, 0});
    ASSERT_NE(dev_, nullptr);
    const auto port = static_cast<std::uint16_t>(42000 + (Clock::now().time_since_epoch().count() % 9000));
    ASSERT_NE(sim_.startDiscovery({{127, 0, 0, 2}, port}), nullptr);
    EXPECT_EQ(text("EnumDevPath", {{"portType", 0x401}, {"pathStr", ""}, {"vID", port}, {"pID", 0}}),
              R"({"RtnCode":0,"RtnVal":1,"pathStr":")" + utf::utf16ToUtf8Lossy(dev_->networkPath()) + R"("})");
    EXPECT_EQ(text("EnumDevPath", {{"portType", 0x500}, {"pathStr", ""}, {"vID", 0}, {"pID", 0}}),
              R"({"RtnCode":20000000})");
}

TEST_F(ServiceDeviceTest, AWebSocketsDevicesAreClosedWithIt) {
    dev_ = sim_.addNetDevice(speedDevice(), {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev_, nullptr);
    WsClient ws;
    ASSERT_EQ(ws.connect(server_->port(), std::string(kPage)), 101);
    ASSERT_TRUE(ws.send(Json{{"id", 1}, {"method", "OpenDev"}, {"params", openParams()}}.dump()));
    auto m = ws.receive(60000);
    ASSERT_TRUE(m);
    const std::int32_t h = Json::parse(*m)["result"].get<std::int32_t>();
    ASSERT_GE(h, 0);
    waitUntilUp(h);
    ASSERT_TRUE(ws.send(Json{{"id", 2}, {"method", "GetDevType"}, {"params", {{"hDev", h}}}}.dump()));
    m = ws.receive(60000);
    ASSERT_TRUE(m);
    EXPECT_EQ(Json::parse(*m), (Json{{"id", 2}, {"result", R"({"RtnCode":0,DevClass:-123,"DevType":"TV-N58 \"58\"\/\\"})"}}));
    EXPECT_EQ(server_->openDevices(), 1u);

    ws.close();
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < end && server_->openDevices() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(server_->openDevices(), 0u);
    // Closed in the device library: the handle names no device any more.
    EXPECT_EQ(text("GetDevType", {{"hDev", h}}), R"({"RtnCode":20000000})");
    EXPECT_FALSE(control_->closeDev(h));
}

}  // namespace
}  // namespace tavrin::test
