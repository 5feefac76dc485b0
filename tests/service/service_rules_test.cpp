// The service's rules as pure functions: which origins and Host headers are taken, which page
// paths are served, how a call's parameters are read, and the settings and command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "service/method_calls.h"
#include "service/request_rules.h"
#include "service/service_settings.h"
#include "tests/support/library_under_test.h"

namespace tavrin::service {
namespace {

TEST(ServiceOrigins, AllowListEntriesAndTheDefault) {
    const OriginPolicy defaults(splitOriginList(kDefaultAllowedOrigins));
    const OriginPolicy listed({"https://Shop.Example", "http://localhost:8080", "http://127.0.0.5:*", "null"});
    const struct {
        const char* origin;
        bool byDefault, byList;
    } cases[] = {
        {"http://localhost:8080", true, true},
        {"http://localhost", true, false},
        {"HTTP://LOCALHOST:3000", true, false},
        {"https://127.0.0.1:8443", true, false},
        {"http://[::1]:9000", true, false},
        {"http://localhost.evil.example", false, false},
        {"http://localhost:80.evil.example", false, false},
        {"http://evil.example", false, false},
        {"http://127.0.0.2:8080", false, false},
        {"https://shop.example", false, true},
        {"https://shop.example:444", false, false},
        {"http://shop.example", false, false},
        {"http://127.0.0.5", false, true},
        {"http://127.0.0.5:1", false, true},
        {"http://127.0.0.5:1/x", false, false},
        {"http://127.0.0.50:1", false, false},
        {"null", false, true},
        {"", false, false},
        {"localhost:8080", false, false},
        {"http://localhost:*", false, false},
        {"http://127.0.0.5:*", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(defaults.allows(c.origin), c.byDefault) << c.origin;
        EXPECT_EQ(listed.allows(c.origin), c.byList) << c.origin;
    }
}

TEST(ServiceOrigins, HostHeadersNameTheLoopbackAndThePort) {
    const struct {
        const char* host;
        std::uint16_t port;
        bool taken;
    } cases[] = {
        {"127.0.0.1:19100", 19100, true},  {"localhost:19100", 19100, true}, {"LocalHost:19100", 19100, true},
        {"[::1]:19100", 19100, true},      {"localhost:19101", 19100, false}, {"localhost", 19100, false},
        {"localhost", 80, true},           {"evil.example:19100", 19100, false},
        {"127.0.0.2:19100", 19100, false}, {"", 19100, false},               {"localhost:19100.evil", 19100, false},
        {"127.0.0.1:019100", 19100, false},
    };
    for (const auto& c : cases) EXPECT_EQ(isServiceHost(c.host, c.port), c.taken) << c.host;
}

TEST(ServicePages, OnlyPlainNamesUnderTheRoot) {
    const struct {
        const char* target;
        const char* file;
    } cases[] = {
        {"/", "index.html"},
        {"/index.html", "index.html"},
        {"/pages/test-page.html?x=1", "pages/test-page.html"},
        {"/pages/", "pages/index.html"},
        {"/../etc/passwd", ""},
        {"/pages/../../x", ""},
        {"/.hidden", ""},
        {"/a//b", ""},
        {"/a\\b", ""},
        {"/C:/x", ""},
        {"/a%2e%2e/b", ""},
        {"relative", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(pageFileOf(c.target), c.file) << c.target;
}

TEST(ServiceCalls, ParametersByNameWithTheirTypes) {
    const struct {
        Method method;
        const char* body;
        const char* error;  // a part of the message, or "" when taken
    } cases[] = {
        {Method::EnumDevPath, R"({"portType":1025,"pathStr":"","vID":9000,"pID":0})", ""},
        {Method::EnumDevPath, R"({"portType":1025,"vID":9000,"pID":0})", ""},
        {Method::OpenDev, R"({"path":"127.0.0.1:9100","readTimeout":500,"writeTimeout":500,"portType":1025,"portMode":3})", ""},
        {Method::DevIoCtrl, R"({"ctrlCode":"CTRL_CMDGET_MODEL","inDats":"","handle":0})", ""},
        {Method::CloseDev, R"({"pHandle":-1})", ""},
        {Method::SetCfgInfo, R"({"hDev":0,"name":"\u901f\u5ea6","val":"9"})", ""},
        {Method::GetDevType, R"({"hDev":2147483647})", ""},
        {Method::GetDevType, R"({"hDev":-2147483648})", ""},
        {Method::GetDevType, R"({"hDev":"1"})", "parameter \"hDev\" must be an integer, not a string"},
        {Method::GetDevType, R"({"hDev":1.5})", "must be an integer, not a fractional number"},
        {Method::GetDevType, R"({"hDev":true})", "must be an integer, not a boolean"},
        {Method::GetDevType, R"({"hDev":null})", "must be an integer, not null"},
        {Method::GetDevType, R"({"hDev":2147483648})", "outside the 32-bit signed range"},
        {Method::GetDevType, R"({"hDev":-2147483649})", "outside the 32-bit signed range"},
        {Method::GetDevType, R"({})", "parameter \"hDev\" is missing"},
        {Method::GetDevType, R"({"hDev":0,"extra":1})", "unknown parameter \"extra\""},
        {Method::GetDevType, R"([0])", "must be a JSON object, not an array"},
        {Method::GetDevType, R"("0")", "must be a JSON object, not a string"},
        {Method::GetDevType, R"({"hDev":0)", "not well-formed JSON"},
        {Method::GetDevType, "", "not well-formed JSON"},
        {Method::GetDevType, R"({"hDev":1e5000})", "not well-formed JSON (number overflow"},
        {Method::OpenDev, R"({"path":7,"readTimeout":0,"writeTimeout":0,"portType":1025,"portMode":3})",
         "parameter \"path\" must be a string, not an integer"},
        {Method::OpenDev, R"({"path":"a\u0000b","readTimeout":0,"writeTimeout":0,"portType":1025,"portMode":3})",
         "must not contain a NUL"},
        {Method::OpenDev, R"({"path":"\ud800","readTimeout":0,"writeTimeout":0,"portType":1025,"portMode":3})",
         "not well-formed"},
        {Method::DevIoCtrl, R"({"ctrlCode":"CTRL_CMDGET_MODEL","inDats":["01"],"handle":0})",
         "parameter \"inDats\" must be a string, not an array"},
    };
    for (const auto& c : cases) {
        const ParsedCall parsed = parseCallBody(c.method, c.body);
        if (std::string(c.error).empty()) {
            EXPECT_TRUE(parsed.call.has_value()) << c.body << ": " << parsed.error;
        } else {
            EXPECT_FALSE(parsed.call.has_value()) << c.body;
            EXPECT_NE(parsed.error.find(c.error), std::string::npos) << c.body << ": " << parsed.error;
            EXPECT_EQ(parsed.error.rfind(methodName(c.method), 0), 0u) << parsed.error;
        }
    }
}

TEST(ServiceCalls, ArgumentsLandInTheControlsOrder) {
    ParsedCall p = parseCallBody(Method::OpenDev,
                                 R"({"portMode":3,"portType":1025,"writeTimeout":700,"readTimeout":600,"path":"1.2.3.4:5"})");
    ASSERT_TRUE(p.call);
    EXPECT_EQ(p.call->path, u"1.2.3.4:5");
    EXPECT_EQ(p.call->readTimeout, 600);
    EXPECT_EQ(p.call->writeTimeout, 700);
    EXPECT_EQ(p.call->portType, 1025);
    EXPECT_EQ(p.call->portMode, 3);
    p = parseCallBody(Method::SetCfgInfo, R"({"val":"\u00e9\ud83d\ude00","name":"Speed","hDev":4})");
    ASSERT_TRUE(p.call);
    EXPECT_EQ(p.call->handle, 4);
    EXPECT_EQ(p.call->name, u"Speed");
    EXPECT_EQ(p.call->val, u"\u00e9\U0001F600");
    for (const char* name : {"EnumDevPath", "EnumProtoCode", "OpenDev", "DevIoCtrl", "CloseDev", "GetDevType",
                             "GetCfgInfo", "SetCfgInfo"}) {
        const auto m = methodByName(name);
        ASSERT_TRUE(m) << name;
        EXPECT_STREQ(methodName(*m), name);
    }
    EXPECT_FALSE(methodByName("AboutBox"));
    EXPECT_FALSE(methodByName("getdevtype"));
}

TEST(ServiceSettings, SectionServiceOfTheSdkSettingsFile) {
    const std::filesystem::path folder = test::makeTempFolder("service-settings");
    const std::filesystem::path file = folder / "DevDllCfg.ini";
    const auto load = [&](const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
        return loadSettings(file.u16string());
    };
    Settings s = load("[General]\nCfgID=1684418609\n[Service]\nPort=18000\nAllowedOrigins=https://a.example, "
                      "http://localhost:*\nAllowNoOrigin=1\nIdleTimeout=5000\nMaxConnections=8\n");
    EXPECT_EQ(s.port, 18000);
    EXPECT_EQ(s.allowedOrigins, (std::vector<std::string>{"https://a.example", "http://localhost:*"}));
    EXPECT_TRUE(s.allowNoOrigin);
    EXPECT_EQ(s.idleTimeoutMs, 5000);
    EXPECT_EQ(s.maxConnections, 8);

    // Without the file's identifier, as for the device library, nothing of it counts.
    s = load("[Service]\nPort=18000\nAllowNoOrigin=1\n");
    EXPECT_EQ(s.port, kDefaultPort);
    EXPECT_FALSE(s.allowNoOrigin);
    EXPECT_EQ(s.allowedOrigins, splitOriginList(kDefaultAllowedOrigins));

    // Values out of range keep their defaults.
    s = load("[General]\nCfgID=1684418609\n[Service]\nPort=70000\nIdleTimeout=5\nMaxConnections=0\n");
    EXPECT_EQ(s.port, kDefaultPort);
    EXPECT_EQ(s.idleTimeoutMs, 30000);
    EXPECT_EQ(s.maxConnections, 32);
    std::filesystem::remove_all(folder);
}

TEST(ServiceSettings, CommandLineOverrides) {
    CommandLineResult r = parseCommandLine({"--port", "0", "--allowed-origins=http://localhost:1 null", "--allow-no-origin",
                                            "1", "--settings", "/tmp/x.ini", "--web-root", "pages"});
    ASSERT_EQ(r.error, "");
    Settings s;
    applyCommandLine(r.line, s);
    EXPECT_EQ(s.port, 0);
    EXPECT_EQ(s.allowedOrigins, (std::vector<std::string>{"http://localhost:1", "null"}));
    EXPECT_TRUE(s.allowNoOrigin);
    EXPECT_EQ(s.webRoot, "pages");
    EXPECT_EQ(r.line.settingsFile, "/tmp/x.ini");
    const struct {
        std::vector<std::string> args;
        const char* error;
    } bad[] = {
        {{"--port", "65536"}, "--port takes"}, {{"--port", "x"}, "--port takes"},    {{"--port"}, "needs a value"},
        {{"--allow-no-origin", "yes"}, "0 or 1"}, {{"--bogus"}, "unknown option"}, {{"--idle-timeout", "5"}, "100"},
    };
    for (const auto& c : bad) {
        const CommandLineResult e = parseCommandLine(c.args);
        EXPECT_NE(e.error.find(c.error), std::string::npos) << c.args[0] << ": " << e.error;
    }
}

}  // namespace
}  // namespace tavrin::service
