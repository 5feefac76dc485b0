// The service over real sockets on loopback, with a recording stand-in for the device methods:
// the security rules (origins, Host, calls without Origin, sizes, limits, time-outs), what reaches
// a device and what never does, handle ownership across origins and WebSockets, and the events.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "service/server.h"
#include "tests/service/service_client.h"
#include "tests/support/library_under_test.h"

namespace tavrin::service {
namespace {

using test::HttpAnswer;
using test::HttpCall;
using test::WsClient;
using Json = nlohmann::json;

std::string narrow(const std::u16string& text) { return toWire(text); }
std::u16string wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Records every call; device handles count up from 0 and are "open" until closed.
class RecordingMethods final : public DeviceMethods {
public:
    std::u16string enumDevPath(std::int32_t portType, const std::u16string& pathStr, std::int32_t vID,
                               std::int32_t pID) override {
        record("EnumDevPath(" + std::to_string(portType) + "," + narrow(pathStr) + "," + std::to_string(vID) + "," +
               std::to_string(pID) + ")");
        std::lock_guard<std::mutex> lock(mutex_);
        return wide(devices_);
    }
    std::u16string enumProtoCode(std::int32_t idx) override {
        record("EnumProtoCode(" + std::to_string(idx) + ")");
        return u"{\"RtnCode\":0,\"RtnVal\":\"CTRL_CMD_NOUSE\",\"code\":0}";
    }
    std::int32_t openDev(const std::u16string& path, std::int32_t readTimeout, std::int32_t writeTimeout,
                         std::int32_t portType, std::int32_t portMode) override {
        record("OpenDev(" + narrow(path) + "," + std::to_string(readTimeout) + "," + std::to_string(writeTimeout) + "," +
               std::to_string(portType) + "," + std::to_string(portMode) + ")");
        std::lock_guard<std::mutex> lock(mutex_);
        std::int32_t h = 0;
        while (open_.count(h) != 0) ++h;
        open_.insert(h);
        return h;
    }
    std::u16string devIoCtrl(const std::u16string& ctrlCode, const std::u16string& inDats,
                             std::int32_t handle) override {
        record("DevIoCtrl(" + narrow(ctrlCode) + "," + narrow(inDats) + "," + std::to_string(handle) + ")");
        return u"{\"Result\":1,\"lpBuf\":\"0x54 0x56 \"}";
    }
    bool closeDev(std::int32_t pHandle) override {
        record("CloseDev(" + std::to_string(pHandle) + ")");
        std::lock_guard<std::mutex> lock(mutex_);
        return open_.erase(pHandle & 0xFFFF) == 1;
    }
    std::u16string getDevType(std::int32_t hDev) override {
        record("GetDevType(" + std::to_string(hDev) + ")");
        {
            // A slow device: the call lasts until the test lets it go.
            std::unique_lock<std::mutex> lock(mutex_);
            released_.wait(lock, [this] { return !hold_; });
        }
        return u"{\"RtnCode\":0,DevClass:1,\"DevType\":\"TV-P80 \\\"\u00e9\\\"\"}";
    }
    std::u16string getCfgInfo(std::int32_t hDev) override {
        record("GetCfgInfo(" + std::to_string(hDev) + ")");
        return u"{\"RtnCode\":0,\"Info\":[]}";
    }
    std::u16string setCfgInfo(std::int32_t hDev, const std::u16string& name, const std::u16string& val) override {
        record("SetCfgInfo(" + std::to_string(hDev) + "," + narrow(name) + "," + narrow(val) + ")");
        return u"{\"RtnCode\":0}";
    }

    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }
    void hold(bool on) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hold_ = on;
        }
        released_.notify_all();
    }
    void setDevices(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        devices_ = text;
    }
    // Waits until a call was recorded (calls run on the service's worker thread).
    bool waitFor(const std::string& call, int ms = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            for (const std::string& c : calls())
                if (c == call) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    void record(std::string call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::condition_variable released_;
    bool hold_ = false;
    std::vector<std::string> calls_;
    std::set<std::int32_t> open_;
    std::string devices_ = "{\"RtnCode\":20000000}";
};

constexpr const char* kPage = "http://localhost:8080";
constexpr const char* kShop = "https://shop.example";
constexpr const char* kEvil = "http://evil.example";

class ServiceServerTest : public ::testing::Test {
protected:
    virtual void adjust(Settings&) {}

    void SetUp() override {
        Settings s;
        s.port = 0;
        s.allowedOrigins = {kPage, kShop};
        s.maxBodyBytes = 65536;
        adjust(s);
        server_ = std::make_unique<Server>(s, methods_, [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            log_.push_back(line);
        });
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
        port_ = server_->port();
    }
    void TearDown() override { server_.reset(); }

    HttpAnswer post(const std::string& method, const std::string& body, const std::optional<std::string>& origin = kPage) {
        HttpCall c;
        c.target = "/" + method;
        c.body = body;
        c.origin = origin;
        return test::httpCall(port_, c);
    }
    bool logged(const std::string& part) {
        std::lock_guard<std::mutex> lock(logMutex_);
        for (const std::string& line : log_)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }
    static Json reply(WsClient& ws, int ms = 20000) {
        for (;;) {
            auto m = ws.receive(ms);
            if (!m) return Json();
            Json j = Json::parse(*m, nullptr, false);
            if (!j.contains("event")) return j;  // events are looked at by their own tests
        }
    }

    RecordingMethods methods_;
    std::unique_ptr<Server> server_;
    std::uint16_t port_ = 0;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

TEST_F(ServiceServerTest, RefusedRequestsNeverReachADevice) {
    const std::string host = "127.0.0.1:" + std::to_string(port_);
    const struct {
        const char* what;
        std::string method, target, body;
        std::optional<std::string> origin, hostHeader;
        int status;
        const char* message;  // part of the answer's error
        const char* logLine;  // part of a log line, or ""
    } cases[] = {
        {"forbidden origin", "POST", "/GetDevType", R"({"hDev":0})", kEvil, std::nullopt, 403, "origin http://evil.example is not allowed",
         "refused origin http://evil.example: POST /GetDevType"},
        {"forbidden origin, other port of an allowed host", "POST", "/OpenDev", "{}", std::string("http://localhost:8081"),
         std::nullopt, 403, "not allowed", "refused origin http://localhost:8081"},
        {"origin null", "POST", "/EnumProtoCode", R"({"idx":0})", std::string("null"), std::nullopt, 403, "not allowed", "refused origin null"},
        {"forbidden origin on a GET", "GET", "/health", "", kEvil, std::nullopt, 403, "not allowed", "refused origin"},
        {"DNS rebinding: another host name", "POST", "/EnumProtoCode", R"({"idx":0})", kPage,
         "evil.example:" + std::to_string(port_), 403, "is not this service", "refused Host \"evil.example:"},
        {"Host with another port", "POST", "/EnumProtoCode", R"({"idx":0})", kPage, std::string("localhost:1"), 403,
         "is not this service", "refused Host \"localhost:1\""},
        {"Host of another loopback address", "GET", "/health", "", std::nullopt, "127.0.0.2:" + std::to_string(port_), 403,
         "is not this service", "refused Host"},
        {"a call without Origin", "POST", "/EnumProtoCode", R"({"idx":0})", std::nullopt, std::nullopt, 403,
         "without an Origin header are not allowed", "refused a call without Origin: POST /EnumProtoCode"},
        {"malformed JSON", "POST", "/GetDevType", R"({"hDev":)", kPage, std::nullopt, 400,
         "GetDevType: the body is not well-formed JSON (parse error", ""},
        {"a number too large for any type", "POST", "/GetDevType", R"({"hDev":1e5000})", kPage, std::nullopt, 400,
         "GetDevType: the body is not well-formed JSON (number overflow", ""},
        {"wrong type", "POST", "/GetDevType", R"({"hDev":"0"})", kPage, std::nullopt, 400,
         "parameter \"hDev\" must be an integer, not a string", ""},
        {"missing parameter", "POST", "/OpenDev", R"({"path":"x"})", kPage, std::nullopt, 400, "is missing", ""},
        {"unknown method", "POST", "/AboutBox", "{}", kPage, std::nullopt, 404, "no such method: /AboutBox", ""},
        {"other verb", "PUT", "/GetDevType", R"({"hDev":0})", kPage, std::nullopt, 405, "only GET, POST and OPTIONS", ""},
    };
    for (const auto& c : cases) {
        HttpCall call;
        call.method = c.method;
        call.target = c.target;
        call.body = c.body;
        call.origin = c.origin;
        call.host = c.hostHeader.value_or(host);
        const HttpAnswer a = test::httpCall(port_, call);
        EXPECT_EQ(a.status, c.status) << c.what;
        const Json body = Json::parse(a.body, nullptr, false);
        ASSERT_TRUE(body.is_object()) << c.what << ": " << a.body;
        EXPECT_NE(body.value("error", std::string()).find(c.message), std::string::npos) << c.what << ": " << a.body;
        if (*c.logLine) {
            EXPECT_TRUE(logged(c.logLine)) << c.what;
        }
        if (c.origin && c.origin != kPage) {
            EXPECT_EQ(a.header("access-control-allow-origin"), "") << c.what;
        }
    }
    EXPECT_TRUE(methods_.calls().empty());
}

TEST_F(ServiceServerTest, EachEndpointCallsItsMethodAndAnswersItsText) {
    const struct {
        const char* method;
        const char* body;
        const char* call;
        const char* answer;
    } cases[] = {
        {"EnumDevPath", R"({"portType":1025,"pathStr":"ignored","vID":9000,"pID":7})", "EnumDevPath(1025,ignored,9000,7)",
         "{\"RtnCode\":20000000}"},
        {"EnumProtoCode", R"({"idx":0})", "EnumProtoCode(0)", "{\"RtnCode\":0,\"RtnVal\":\"CTRL_CMD_NOUSE\",\"code\":0}"},
        {"OpenDev", R"({"path":"127.0.0.1:9100","readTimeout":500,"writeTimeout":600,"portType":1025,"portMode":3})",
         "OpenDev(127.0.0.1:9100,500,600,1025,3)", "0"},
        {"DevIoCtrl", R"({"ctrlCode":"CTRL_CMDGET_MODEL","inDats":"01 a0","handle":0})", "DevIoCtrl(CTRL_CMDGET_MODEL,01 a0,0)",
         "{\"Result\":1,\"lpBuf\":\"0x54 0x56 \"}"},
        {"GetDevType", R"({"hDev":0})", "GetDevType(0)", "{\"RtnCode\":0,DevClass:1,\"DevType\":\"TV-P80 \\\"\xc3\xa9\\\"\"}"},
        {"GetCfgInfo", R"({"hDev":0})", "GetCfgInfo(0)", "{\"RtnCode\":0,\"Info\":[]}"},
        {"SetCfgInfo", R"({"hDev":0,"name":"Speed","val":"9"})", "SetCfgInfo(0,Speed,9)", "{\"RtnCode\":0}"},
        {"CloseDev", R"({"pHandle":0})", "CloseDev(0)", "true"},
        {"CloseDev", R"({"pHandle":0})", "CloseDev(0)", "false"},
    };
    for (const auto& c : cases) {
        methods_.clear();
        const HttpAnswer a = post(c.method, c.body);
        EXPECT_EQ(a.status, 200) << c.method << ": " << a.body;
        EXPECT_EQ(a.body, c.answer) << c.method;
        EXPECT_EQ(a.header("access-control-allow-origin"), kPage) << c.method;
        EXPECT_EQ(a.header("vary"), "Origin") << c.method;
        EXPECT_EQ(methods_.calls(), std::vector<std::string>{c.call}) << c.method;
    }
}

TEST_F(ServiceServerTest, PreflightNamesOnlyAnAllowedOrigin) {
    HttpCall c;
    c.method = "OPTIONS";
    c.target = "/OpenDev";
    c.origin = kShop;
    c.headers = {{"Access-Control-Request-Method", "POST"},
                 {"Access-Control-Request-Headers", "content-type"},
                 {"Access-Control-Request-Private-Network", "true"}};
    HttpAnswer a = test::httpCall(port_, c);
    EXPECT_EQ(a.status, 204);
    EXPECT_EQ(a.header("access-control-allow-origin"), kShop);
    EXPECT_EQ(a.header("access-control-allow-methods"), "GET, POST, OPTIONS");
    EXPECT_EQ(a.header("access-control-allow-headers"), "Content-Type");
    EXPECT_EQ(a.header("access-control-allow-private-network"), "true");
    c.origin = kEvil;
    a = test::httpCall(port_, c);
    EXPECT_EQ(a.status, 403);
    EXPECT_EQ(a.header("access-control-allow-origin"), "");
    EXPECT_EQ(a.header("access-control-allow-private-network"), "");
}

TEST_F(ServiceServerTest, OversizeRequestsAreRefusedWhole) {
    // A body past the limit, announced by its length (the refusal may come before all is sent)
    // and sent in chunks without a length.
    const std::string big(70000, ' ');
    HttpAnswer a = post("SetCfgInfo", R"({"hDev":0,"name":"x","val":")" + big + "\"}");
    EXPECT_EQ(a.status, 413);
    EXPECT_NE(a.body.find("larger than 65536 bytes"), std::string::npos) << a.body;
    std::string chunked = "POST /SetCfgInfo HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                          "\r\nOrigin: http://localhost:8080\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 20; ++i) chunked += "1000\r\n" + std::string(4096, 'a') + "\r\n";
    chunked += "0\r\n\r\n";
    a = test::rawHttp(port_, chunked);
    EXPECT_EQ(a.status, 413);
    // A header past its limit.
    a = test::rawHttp(port_, "GET /health HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\nX-Big: " +
                                 std::string(10000, 'b') + "\r\n\r\n");
    EXPECT_EQ(a.status, 431);
    a = test::rawHttp(port_, "NOT HTTP AT ALL\r\n\r\n");
    EXPECT_EQ(a.status, 400);
    EXPECT_TRUE(methods_.calls().empty());
    // The service still answers.
    EXPECT_EQ(post("EnumProtoCode", R"({"idx":1})").status, 200);
}

TEST_F(ServiceServerTest, AHandleBelongsToTheOriginThatOpenedIt) {
    const std::string open = R"({"path":"p","readTimeout":0,"writeTimeout":0,"portType":1025,"portMode":3})";
    ASSERT_EQ(post("OpenDev", open, kPage).body, "0");
    ASSERT_EQ(post("OpenDev", open, kShop).body, "1");
    methods_.clear();
    // The device library looks at the low 16 bits only: 65536 is handle 0 too.
    for (const char* body : {R"({"hDev":0})", R"({"hDev":65536})", R"({"hDev":-65536})"}) {
        const HttpAnswer a = post("GetDevType", body, kShop);
        EXPECT_EQ(a.status, 403) << body;
        EXPECT_NE(a.body.find("was opened by another page"), std::string::npos) << a.body;
    }
    EXPECT_EQ(post("CloseDev", R"({"pHandle":0})", kShop).status, 403);
    EXPECT_EQ(post("SetCfgInfo", R"({"hDev":0,"name":"a","val":"b"})", kShop).status, 403);
    EXPECT_EQ(post("DevIoCtrl", R"({"ctrlCode":"CTRL_CMDGET_MODEL","inDats":"","handle":0})", kShop).status, 403);
    EXPECT_EQ(post("GetCfgInfo", R"({"hDev":1})", kPage).status, 403);
    EXPECT_TRUE(methods_.calls().empty());
    EXPECT_EQ(post("GetDevType", R"({"hDev":0})", kPage).status, 200);
    EXPECT_EQ(post("CloseDev", R"({"pHandle":0})", kPage).body, "true");
    // Once closed the slot is nobody's: the next opener owns it.
    EXPECT_EQ(post("OpenDev", open, kShop).body, "0");
    EXPECT_EQ(post("GetDevType", R"({"hDev":0})", kShop).status, 200);
    EXPECT_EQ(post("GetDevType", R"({"hDev":0})", kPage).status, 403);
}

TEST_F(ServiceServerTest, WebSocketCallsWithIdsAndItsDevicesClosedWithIt) {
    EXPECT_EQ(test::wsHandshakeStatus(port_, std::string(kEvil)), 403);
    EXPECT_TRUE(logged("refused origin http://evil.example: GET /ws"));
    EXPECT_EQ(test::wsHandshakeStatus(port_, std::nullopt), 403);
    EXPECT_TRUE(logged("refused a call without Origin: GET /ws"));
    WsClient refused;
    EXPECT_EQ(refused.connect(port_, std::string(kEvil)), 0);

    WsClient page, other;
    ASSERT_EQ(page.connect(port_, std::string(kPage)), 101);
    ASSERT_EQ(other.connect(port_, std::string(kPage)), 101);
    const std::string open = R"("params":{"path":"p","readTimeout":0,"writeTimeout":0,"portType":1025,"portMode":3})";
    ASSERT_TRUE(page.send(R"({"id":1,"method":"OpenDev",)" + open + "}"));
    EXPECT_EQ(reply(page), Json::parse(R"({"id":1,"result":0})"));
    ASSERT_TRUE(other.send(R"({"id":"x","method":"OpenDev",)" + open + "}"));
    EXPECT_EQ(reply(other), Json::parse(R"({"id":"x","result":1})"));
    ASSERT_TRUE(page.send(R"({"id":2,"method":"GetDevType","params":{"hDev":0}})"));
    const Json type = reply(page);
    EXPECT_EQ(type["id"], 2);
    EXPECT_EQ(type["result"], "{\"RtnCode\":0,DevClass:1,\"DevType\":\"TV-P80 \\\"\xc3\xa9\\\"\"}");

    // Bad messages are answered and the socket goes on.
    const struct {
        const char* message;
        Json id;
        int status;
        const char* error;
    } bad[] = {
        {"not json", nullptr, 400, "must be a JSON object"},
        {R"({"id":3,"method":"GetDevType","params":{"hDev":"0"}})", 3, 400, "must be an integer, not a string"},
        {R"({"id":4,"method":"GetDevType","params":[]})", 4, 400, "must be a JSON object, not an array"},
        {R"({"id":5,"method":"Format"})", 5, 404, "unknown method \"Format\""},
        {R"({"id":6})", 6, 400, "\"method\" must be a string"},
        {R"({"id":[7],"method":"GetDevType"})", nullptr, 400, "\"id\" must be an integer or a string"},
        {R"({"id":9,"method":"subscribe","params":{"event":5}})", 9, 400, "must name the event \"devices\""},
        {R"({"id":10,"method":"GetDevType","params":{"hDev":1e5000}})", nullptr, 400, "must be a JSON object"},
    };
    for (const auto& b : bad) {
        ASSERT_TRUE(page.send(b.message));
        const Json r = reply(page);
        EXPECT_EQ(r["id"], b.id) << b.message;
        EXPECT_EQ(r["error"]["status"], b.status) << b.message;
        EXPECT_NE(r["error"]["message"].get<std::string>().find(b.error), std::string::npos) << r.dump();
    }
    EXPECT_EQ(methods_.calls(), (std::vector<std::string>{"OpenDev(p,0,0,1025,3)", "OpenDev(p,0,0,1025,3)", "GetDevType(0)"}));

    // The page goes away: its device is closed, the other socket's is not.
    page.close();
    EXPECT_TRUE(methods_.waitFor("CloseDev(0)"));
    ASSERT_TRUE(other.send(R"({"id":8,"method":"GetDevType","params":{"hDev":1}})"));
    EXPECT_EQ(reply(other)["id"], 8);
    for (const std::string& c : methods_.calls()) EXPECT_NE(c, "CloseDev(1)");
    EXPECT_TRUE(logged("closed device 0 of a WebSocket of http://localhost:8080"));
    EXPECT_EQ(server_->openDevices(), 1u);
    other.close();
    EXPECT_TRUE(methods_.waitFor("CloseDev(1)"));
}

TEST_F(ServiceServerTest, WebSocketDeviceListEvents) {
    WsClient ws;
    ASSERT_EQ(ws.connect(port_, std::string(kShop)), 101);
    methods_.setDevices("{\"RtnCode\":0,\"RtnVal\":1,\"pathStr\":\"127.0.0.1:9100\"}");
    ASSERT_TRUE(ws.send(R"({"id":1,"method":"subscribe","params":{"event":"devices","portType":1025,"vID":9000,"intervalMs":500}})"));
    Json first, ack;
    for (int i = 0; i < 2; ++i) {
        auto m = ws.receive();
        ASSERT_TRUE(m);
        Json j = Json::parse(*m);
        (j.contains("event") ? first : ack) = j;
    }
    EXPECT_EQ(ack, Json::parse(R"({"id":1,"result":true})"));
    EXPECT_EQ(first["event"], "devices");
    EXPECT_EQ(first["portType"], 1025);
    EXPECT_EQ(first["result"], "{\"RtnCode\":0,\"RtnVal\":1,\"pathStr\":\"127.0.0.1:9100\"}");
    // A change is pushed.
    methods_.setDevices("{\"RtnCode\":20000000}");
    std::optional<std::string> change;
    for (int i = 0; i < 10 && !change; ++i) {
        auto m = ws.receive(5000);
        ASSERT_TRUE(m);
        if (Json::parse(*m)["result"] == "{\"RtnCode\":20000000}") change = m;
    }
    EXPECT_TRUE(change);
    ASSERT_TRUE(ws.send(R"({"id":2,"method":"subscribe","params":{"event":"firmware"}})"));
    EXPECT_EQ(reply(ws)["error"]["status"], 400);
    EXPECT_EQ(methods_.calls().front(), "EnumDevPath(1025,,9000,0)");
}

TEST_F(ServiceServerTest, ASlowDeviceDelaysOtherCallsButNoConnection) {
    methods_.hold(true);
    HttpAnswer slow, queued;
    std::thread first([&] { slow = post("GetDevType", R"({"hDev":0})"); });
    ASSERT_TRUE(methods_.waitFor("GetDevType(0)"));
    std::thread second([&] { queued = post("EnumProtoCode", R"({"idx":3})"); });
    // While the device call lasts, the service still answers what needs no device.
    HttpCall health;
    health.method = "GET";
    health.target = "/health";
    const auto start = std::chrono::steady_clock::now();
    const HttpAnswer a = test::httpCall(port_, health, 5000);
    EXPECT_EQ(a.status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // The next device call waits its turn.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(methods_.calls(), std::vector<std::string>{"GetDevType(0)"});
    methods_.hold(false);
    first.join();
    second.join();
    EXPECT_EQ(slow.status, 200);
    EXPECT_EQ(queued.status, 200);
    EXPECT_EQ(methods_.calls(), (std::vector<std::string>{"GetDevType(0)", "EnumProtoCode(3)"}));
}

class ServiceLimitsTest : public ServiceServerTest {
protected:
    void adjust(Settings& s) override {
        s.maxConnections = 2;
        s.idleTimeoutMs = 300;
        s.allowNoOrigin = true;
        s.webRoot = pages_.string();
        std::filesystem::create_directories(pages_ / "sub");
        std::ofstream(pages_ / "index.html") << "<p>index</p>";
        std::ofstream(pages_ / "sub" / "page.js") << "export const x = 1;";
        std::ofstream(pages_ / ".secret") << "secret";
    }
    void TearDown() override {
        ServiceServerTest::TearDown();
        std::filesystem::remove_all(pages_);
    }
    std::filesystem::path pages_ = test::makeTempFolder("service-pages");
};

TEST_F(ServiceLimitsTest, IdleConnectionsAreClosed) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(test::closedByPeerWithin(port_, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

TEST_F(ServiceLimitsTest, ConnectionsBeyondTheLimitAreRefused) {
    WsClient a, b;
    ASSERT_EQ(a.connect(port_, std::string(kPage)), 101);
    ASSERT_EQ(b.connect(port_, std::string(kPage)), 101);
    HttpCall c;
    c.method = "GET";
    c.target = "/health";
    EXPECT_EQ(test::httpCall(port_, c).status, 503);
    EXPECT_TRUE(logged("refused a connection: 2 connections are open"));
    a.close();
    HttpAnswer ok;
    for (int i = 0; i < 100 && ok.status != 200; ++i) {
        ok = test::httpCall(port_, c);
        if (ok.status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(ok.status, 200);
}

TEST_F(ServiceLimitsTest, ProgramsWithoutOriginWhenAllowedAndTheServedFiles) {
    EXPECT_EQ(post("EnumProtoCode", R"({"idx":2})", std::nullopt).status, 200);
    const struct {
        const char* target;
        int status;
        const char* type;
        const char* part;
    } cases[] = {
        {"/health", 200, "application/json", "\"status\":\"ok\""},
        {"/version", 200, "application/json", "\"service\":\"tavrin-service\""},
        {"/tavrin-client.js", 200, "text/javascript; charset=utf-8", "export class TavrinClient"},
        {"/", 200, "text/html; charset=utf-8", "<p>index</p>"},
        {"/sub/page.js", 200, "text/javascript; charset=utf-8", "export const x"},
        {"/.secret", 404, "application/json", "no such page"},
        {"/sub/../.secret", 404, "application/json", "no such page"},
        {"/missing.html", 404, "application/json", "no such page"},
    };
    for (const auto& c : cases) {
        HttpCall call;
        call.method = "GET";
        call.target = c.target;
        call.origin = kPage;
        const HttpAnswer a = test::httpCall(port_, call);
        EXPECT_EQ(a.status, c.status) << c.target;
        EXPECT_EQ(a.header("content-type"), c.type) << c.target;
        EXPECT_NE(a.body.find(c.part), std::string::npos) << c.target << ": " << a.body;
    }
}

TEST_F(ServiceServerTest, ListensOnBothLoopbackAddresses) {
    HttpCall c;
    c.method = "GET";
    c.target = "/health";
    EXPECT_EQ(test::httpCall(port_, c).status, 200);
    if (!server_->listensOnIpv6()) GTEST_SKIP() << "no IPv6 loopback on this machine";
    c.address = "::1";
    c.host = "[::1]:" + std::to_string(port_);
    EXPECT_EQ(test::httpCall(port_, c).status, 200);
}

}  // namespace
}  // namespace tavrin::service
