// The command-line tool tavrin: how it reads its command line and data and writes bytes for
// people, and whole runs of it against a simulated device on a stand-in USB printer interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/usb_stand_in.h"
#include "sim/control.h"
#include "platform/system_info.h"
#include "sim/simulator.h"
#include "tavrin/tavrin.h"
#include "tests/dfu/firmware_file.h"
#include "tests/support/library_under_test.h"
#include "tools/tavrin/cli.h"
#include "tools/tavrin/tool.h"

namespace tavrin::cli {
namespace {

using Args = std::vector<std::string>;

std::string hexOf(const std::optional<Bytes>& bytes) { return bytes ? hexText(*bytes) : "none"; }

TEST(ToolCommandLine, ReadsEachCommand) {
    struct Case {
        Args args;
        Command command;
        std::string path, name, data, file;
        std::uint16_t port;
    };
    const Case cases[] = {
        {{"list"}, Command::List, "", "", "", "", kDefaultSearchPort},
        {{"list", "--port", "9100"}, Command::List, "", "", "", "", 9100},
        {{"--port=65535", "list"}, Command::List, "", "", "", "", 65535},
        {{"info", "127.0.0.2:9100"}, Command::Info, "127.0.0.2:9100", "", "", "", kDefaultSearchPort},
        {{"send", "p", "CTRL_CMDGET_MODEL"}, Command::Send, "p", "CTRL_CMDGET_MODEL", "", "", kDefaultSearchPort},
        {{"send", "p", "CTRL_CMDSET_USERDAT", "01 02", "ff", "0x1A2b"}, Command::Send, "p", "CTRL_CMDSET_USERDAT",
         "01 02 FF 1A 2B", "", kDefaultSearchPort},
        {{"write", "p", "job.prn"}, Command::Write, "p", "", "", "job.prn", kDefaultSearchPort},
        {{"write", "p", "--", "--odd-name"}, Command::Write, "p", "", "", "--odd-name", kDefaultSearchPort},
        {{"commands"}, Command::Commands, "", "", "", "", kDefaultSearchPort},
    };
    for (const Case& c : cases) {
        const ParseResult r = parseCommandLine(c.args);
        const std::string what = c.args[0] + " #" + std::to_string(c.args.size());
        ASSERT_EQ(r.error, "") << what;
        EXPECT_EQ(r.invocation.command, c.command) << what;
        EXPECT_EQ(r.invocation.path, c.path) << what;
        EXPECT_EQ(r.invocation.name, c.name) << what;
        EXPECT_EQ(hexText(r.invocation.data), c.data) << what;
        EXPECT_EQ(r.invocation.file, c.file) << what;
        EXPECT_EQ(r.invocation.searchPort, c.port) << what;
    }
}

TEST(ToolCommandLine, ListTakesTheSearchWait) {
    const struct {
        Args args;
        std::uint32_t timeoutMs;
    } cases[] = {{{"list"}, 0}, {{"list", "--timeout", "300"}, 300}, {{"--timeout=10000", "list", "--port", "9100"}, 10000}};
    for (const auto& c : cases) {
        const ParseResult r = parseCommandLine(c.args);
        ASSERT_EQ(r.error, "") << c.args.size();
        EXPECT_EQ(r.invocation.searchTimeoutMs, c.timeoutMs) << c.args.size();
    }
}

TEST(ToolCommandLine, TimeoutMeansTheSearchWaitOrTheDevicesComeUp) {
    const struct {
        Args args;
        std::uint32_t searchMs, deviceMs;
    } cases[] = {
        {{"info", "127.0.0.2:9100"}, 0, kDefaultDeviceTimeoutMs},
        {{"info", "127.0.0.2:9100", "--timeout", "250"}, 0, 250},
        {{"--timeout=600000", "write", "p", "f"}, 0, 600000},
        {{"status", "p", "--timeout", "40"}, 0, 40},
        {{"list", "--timeout", "40"}, 40, kDefaultDeviceTimeoutMs},
    };
    for (const auto& c : cases) {
        const ParseResult r = parseCommandLine(c.args);
        ASSERT_EQ(r.error, "") << c.args[0];
        EXPECT_EQ(r.invocation.searchTimeoutMs, c.searchMs) << c.args[0];
        EXPECT_EQ(r.invocation.deviceTimeoutMs, c.deviceMs) << c.args[0];
    }
    const ParseResult flags = parseCommandLine({"-q", "--json", "-v", "list", "--require"});
    ASSERT_EQ(flags.error, "");
    EXPECT_TRUE(flags.invocation.quiet && flags.invocation.json && flags.invocation.verbose && flags.invocation.require);
    EXPECT_EQ(parseCommandLine({"status", "/dev/pts/3"}).invocation.command, Command::Status);
    EXPECT_EQ(parseCommandLine({"write", "p", "-"}).invocation.file, "-");  // standard input, not an option
    EXPECT_EQ(parseCommandLine({"write", "C:\\jobs\\a.prn", "f"}).error, "");  // a drive letter is no port
}

TEST(ToolCauses, TheDecisiveLibraryLine) {
    const std::string refused = "TID(7)#CNetPort::transmitThread : workEvent.iErrorCode with error = 111";
    const std::string refusedWin = "TID(7)#CNetPort::transmitThread : workEvent.iErrorCode with error = 10061";
    const std::string sent = "TID(5)#DevIoCtrl : \xE5\x8F\x91 \xE9\x80\x81,\xE5\x91\xBD\xE4\xBB\xA4\xE7\xA0\x81(0x1) \xE9\x95\xBF\xE5\xBA\xA6(4)";
    const std::string writeFailed = "TID(5)#DevIoCtrl : \xE5\x86\x99 \xE6\x95\xB0 \xE6\x8D\xAE \xE5\xA4\xB1 \xE8\xB4\xA5\xEF\xBC\x81";
    const std::string readFailed = "TID(5)#DevIoCtrl : \xE8\xAF\xBB \xE6\x95\xB0 \xE6\x8D\xAE \xE5\xA4\xB1 \xE8\xB4\xA5\xEF\xBC\x81";
    const std::string opened = "TID(5)#10-00-00+0001 : \xE6\x89\x93 \xE5\xBC\x80 \xE8\xAE\xBE \xE5\xA4\x87(handle = 0) \xE6\x88\x90 \xE5\x8A\x9F";
    const std::string openFailed = "TID(5)#dllFunc_OpenDev : \xE6\x89\x93 \xE5\xBC\x80 \xE8\xAE\xBE \xE5\xA4\x87(302) \xE5\xA4\xB1 \xE8\xB4\xA5";
    const std::string writeTimeout = "TID(5)#CBPort::syncIOAccess : syncIOAccess write timeout ";
    const struct {
        std::vector<std::string> lines;
        std::string words, line;
    } cases[] = {
        {{}, "(none)", ""},
        {{opened, sent}, "(none)", ""},  // a successful open explains nothing
        {{opened, sent, writeFailed, refused, sent, writeFailed}, "connection refused", refused},
        {{refusedWin}, "connection refused", refusedWin},
        {{"x : workEvent.iErrorCode with error = 110"}, "connection timed out", "x : workEvent.iErrorCode with error = 110"},
        {{"x : workEvent.iErrorCode with error = 1110"}, "(none)", ""},  // not 111 nor 110
        {{"x : workEvent.iErrorCode with error = 0"}, "(none)", ""},
        {{opened, sent, readFailed}, "no answer from the device", readFailed},
        {{opened, sent, writeFailed}, "the device took no command", writeFailed},
        {{opened, writeTimeout}, "the device took no data within the write time-out", writeTimeout},
        {{openFailed}, "the device could not be opened", openFailed},
    };
    for (const auto& c : cases) {
        const auto cause = decisiveCause(c.lines);
        EXPECT_EQ(cause ? cause->words : "(none)", c.words) << c.lines.size();
        EXPECT_EQ(cause ? cause->line : "", c.line) << c.lines.size();
    }
}

TEST(ToolText, StatusWordsAndJson) {
    const struct {
        std::uint8_t status;
        std::vector<std::string> words;
    } cases[] = {
        {0x00, {"ready"}},
        {0x01, {"paper out"}},
        {0x05, {"paper out", "cover open"}},
        {0x3A, {"paper near end", "cutter jammed", "print head overheated", "offline"}},
        {0xC0, {"bit 0x40", "bit 0x80"}},  // no known meaning: raw
    };
    for (const auto& c : cases) EXPECT_EQ(statusWords(c.status), c.words) << int(c.status);

    Json doc = Json::object();
    doc.set("ok", Json::boolean(true)).set("n", Json::number(-3)).set("none", Json::null());
    doc.set("text", Json::text("a\"b\\c\n\x01\xE6\x89\x93"));
    doc.set("list", Json::array().add(Json::text("x")).add(Json::object()));
    doc.set("n", Json::number(4));  // set again: the value changes, the place stays
    EXPECT_EQ(doc.dump(), "{\"ok\":true,\"n\":4,\"none\":null,\"text\":\"a\\\"b\\\\c\\n\\u0001\xE6\x89\x93\","
                          "\"list\":[\"x\",{}]}");
    EXPECT_EQ(deliveredText(12288, 27000), "delivered 12288 of 27000 bytes");
}

TEST(ToolCommandLine, GlobalOptionsGoAnywhere) {
    const ParseResult r = parseCommandLine({"info", "--records", "p", "--log", "run.log"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.invocation.records);
    EXPECT_EQ(r.invocation.logFile, "run.log");
    EXPECT_EQ(r.invocation.path, "p");
    EXPECT_EQ(parseCommandLine({"--log=x.log", "commands"}).invocation.logFile, "x.log");
    // Help and version win over anything else on the line.
    EXPECT_TRUE(parseCommandLine({"send", "--help"}).invocation.help);
    EXPECT_TRUE(parseCommandLine({"--version", "bogus"}).invocation.version);
}

TEST(ToolCommandLine, RejectsBadLines) {
    const std::string longData(2 * 256, 'a');  // 256 bytes
    const struct {
        Args args;
        std::string error;
    } cases[] = {
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command frobnicate"},
        {{"--frobnicate", "list"}, "unknown option --frobnicate"},
        {{"info"}, "usage: tavrin info PATH"},
        {{"info", "a", "b"}, "usage: tavrin info PATH"},
        {{"send", "p"}, "usage: tavrin send PATH NAME [HEX...]"},
        {{"write", "p"}, "usage: tavrin write PATH FILE"},
        {{"list", "extra"}, "usage: tavrin list [--port N]"},
        {{"list", "--port"}, "--port needs a UDP port 1..65535"},
        {{"list", "--port", "0"}, "--port needs a UDP port 1..65535"},
        {{"list", "--port", "65536"}, "--port needs a UDP port 1..65535"},
        {{"list", "--port", "-5"}, "--port needs a UDP port 1..65535"},
        {{"info", "p", "--port", "9000"}, "--port belongs to the command list"},
        {{"list", "--timeout"}, "--timeout needs a wait in ms 1..10000"},
        {{"list", "--timeout", "0"}, "--timeout needs a wait in ms 1..10000"},
        {{"list", "--timeout", "10001"}, "--timeout needs a wait in ms 1..10000"},
        {{"list", "--timeout", "5s"}, "--timeout needs a wait in ms 1..10000"},
        {{"commands", "--timeout", "300"}, "--timeout does not apply to the command commands"},
        {{"info", "p", "--timeout", "0"}, "--timeout needs a wait in ms 1..600000"},
        {{"info", "p", "--timeout", "600001"}, "--timeout needs a wait in ms 1..600000"},
        {{"info", "p", "--require"}, "--require belongs to the command list"},
        {{"write", "p", "f", "--json"}, "--json does not apply to the command write"},
        {{"status"}, "usage: tavrin status PATH"},
        // Paths plainly meant as network devices that are not usable as such.
        {{"info", "127.0.0.9"}, "network PATH 127.0.0.9 has no port"},
        {{"info", "printer.local:9100"}, "network PATH printer.local:9100 names a host"},
        {{"send", "localhost:9100", "CTRL_CMDGET_MODEL"}, "network PATH localhost:9100 names a host"},
        {{"write", "127.0.0.1:0", "f"}, "the port of network PATH 127.0.0.1:0 must be 1..65535"},
        {{"status", "127.0.0.1:70000"}, "the port of network PATH 127.0.0.1:70000 must be 1..65535"},
        {{"info", "127.0.0.256:9100"}, "network PATH 127.0.0.256:9100 has no valid IPv4 address"},
        {{"commands", "--log"}, "--log needs a FILE"},
        {{"send", "p", "CTRL_CMDSET_USERDAT", "0g"}, "bad hex data"},
        {{"send", "p", "CTRL_CMDSET_USERDAT", longData}, "a command takes at most 255 data bytes"},
        // What the library is given must be well-formed UTF-8: a decoded overlong zero would cut
        // the path short, a lone surrogate would name another file.
        {{"info", "lp\xC0\x80X"}, "PATH is not valid UTF-8"},
        {{"write", "dev\xED\xA0\x80", "job.prn"}, "PATH is not valid UTF-8"},
        {{"send", "p", "CTRL_CMDGET_MODEL\xF4\x90\x80\x80"}, "NAME is not valid UTF-8"},
        {{"--log", "run\xE6\x89.log", "commands"}, "--log FILE is not valid UTF-8"},
        {{"config", "p", "Name\xC0\x80=1"}, "NAME is not valid UTF-8"},
        {{"config", "p", "Label=caf\xC3"}, "VALUE is not valid UTF-8"},
    };
    for (const auto& c : cases) {
        const std::string error = parseCommandLine(c.args).error;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << (c.args.empty() ? "(empty)" : c.args[0]);
    }
    // The raw pass-through is not limited to one packet's payload.
    const ParseResult raw = parseCommandLine({"send", "p", "TAVR_DUMP", longData});
    EXPECT_EQ(raw.error, "");
    EXPECT_EQ(raw.invocation.data.size(), 256u);
}

TEST(ToolCommandLine, ReadsTheConfigCommand) {
    const struct {
        Args args;
        std::string error, path;
        bool assign;
        std::string name, value;
    } cases[] = {
        {{"config", "127.0.0.2:9100"}, "", "127.0.0.2:9100", false, "", ""},
        {{"config", "p", "Speed=19"}, "", "p", true, "Speed", "19"},
        {{"config", "p", "Title="}, "", "p", true, "Title", ""},
        {{"config", "p", "Key=a=b"}, "", "p", true, "Key", "a=b"},
        {{"config"}, "usage: tavrin config PATH [NAME=VALUE]", "", false, "", ""},
        {{"config", "p", "a", "b"}, "usage: tavrin config PATH [NAME=VALUE]", "", false, "", ""},
        {{"config", "p", "Speed"}, "config: write the setting as NAME=VALUE", "", false, "", ""},
        {{"config", "p", "=19"}, "config: write the setting as NAME=VALUE", "", false, "", ""},
    };
    for (const auto& c : cases) {
        const ParseResult r = parseCommandLine(c.args);
        const std::string what = std::to_string(c.args.size()) + " words";
        EXPECT_EQ(r.error, c.error) << what;
        if (!c.error.empty()) continue;
        EXPECT_EQ(r.invocation.command, Command::Config) << what;
        EXPECT_EQ(r.invocation.path, c.path) << what;
        EXPECT_EQ(r.invocation.assign, c.assign) << what;
        EXPECT_EQ(r.invocation.name, c.name) << what;
        EXPECT_EQ(r.invocation.value, c.value) << what;
    }
    for (const char* file : {"devCfg.xml", "C:\\cfg\\A.XML", "/tmp/x.Xml", ".xml"}) EXPECT_TRUE(isDescriptionFile(file)) << file;
    for (const char* device : {"127.0.0.2:9100", "xml", "/dev/usb/lp0", "a.xml.bak"}) EXPECT_FALSE(isDescriptionFile(device)) << device;

    // The name of a description line, as the bridge takes it.
    const struct {
        const char* line;
        const char* name;
    } names[] = {
        {"Name=Speed,Type=1,MaxVal=255,MinVal=0,Tag=0", "Speed"},
        {"Name=Mode,Type=3,SlctCnts=2,Tag=0,Datas=Off;On", "Mode"},
        {"Name=Alone", "Alone"},
        {"First,Name=X", "X"},  // a comma before the "=": everything after the "="
        {"a,b=c,d", "c,d"},
        {"NoEquals,x", "NoEquals"},
    };
    for (const auto& n : names) EXPECT_EQ(itemNameOf(n.line), n.name) << n.line;
}

TEST(ToolHex, ParsesPairsOfDigits) {
    const struct {
        Args words;
        std::string bytes;
    } cases[] = {
        {{}, ""},
        {{"01 02 ff"}, "01 02 FF"},
        {{"0102ff"}, "01 02 FF"},
        {{"0x10", "0X0a", "Bc"}, "10 0A BC"},
        {{"  7f,80\t"}, "7F 80"},
        {{"1"}, "none"},        // a lone digit is ambiguous
        {{"012"}, "none"},
        {{"0x"}, "none"},
        {{"zz"}, "none"},
        {{"01", ""}, "none"},   // an empty word is a slip, not "no data"
        {{"-1"}, "none"},
    };
    for (const auto& c : cases) EXPECT_EQ(hexOf(parseHex(c.words)), c.bytes) << (c.words.empty() ? "" : c.words[0]);
}

TEST(ToolPaths, NetworkPathsAndPathLists) {
    const struct {
        const char* path;
        bool network;
    } cases[] = {
        {"127.0.0.2:9100", true}, {"0.0.0.0:1", true},       {"255.255.255.255:65535", true},
        {"127.0.0.1:0", false},   {"127.0.0.1:65536", false}, {"127.0.0.256:9100", false},
        {"127.0.0:9100", false},  {"127.0.0.1.5:9100", false}, {"127.0.0.1", false},
        {"127.0.0.1:", false},    {"127..0.1:9100", false},   {"/dev/pts/3", false},
        {"\\\\?\\usb#vid_1234&pid_5678#6&1a&0&0000#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isNetworkPath(c.path), c.network) << c.path;
    const struct {
        const char* path;
        bool hid;
    } usbCases[] = {
        {"\\\\?\\hid#vid_0fe6&pid_811e&mi_01#7&2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", true},
        {"/dev/hidraw2#vid_0fe6&pid_811e&mi_01#0003:0FE6:811E.0004#{4D1E55B2-F16F-11CF-88CB-001111000030}", true},
        {"\\\\?\\usb#vid_1234&pid_5678#6&1a&0&0000#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", false},
        {"{4d1e55b2-f16f-11cf-88cb-00111100003}", false},
        {"/dev/pts/3", false},
    };
    for (const auto& c : usbCases) EXPECT_EQ(isHidPath(c.path), c.hid) << c.path;
    // The help names the class by which the tool tells a HID interface from a printer interface.
    const std::string help = usageText();
    const std::size_t open = help.find('{'), close = help.find('}', open);
    ASSERT_NE(close, std::string::npos) << "the help names no interface class";
    EXPECT_TRUE(isHidPath("/dev/hidraw0#" + help.substr(open, close - open + 1))) << help.substr(open);

    const std::u16string zero(1, u'\0');
    const std::u16string text = u"127.0.0.2:9100" + zero + u"127.0.0.3:9100" + zero + zero;
    const char16_t* list = text.c_str();
    EXPECT_EQ(splitPathList(list, 31), (std::vector<std::u16string>{u"127.0.0.2:9100", u"127.0.0.3:9100"}));
    EXPECT_EQ(splitPathList(list, 15), (std::vector<std::u16string>{u"127.0.0.2:9100"}));
    EXPECT_EQ(splitPathList(list, 20), (std::vector<std::u16string>{u"127.0.0.2:9100", u"127.0"}));  // cut short
    EXPECT_TRUE(splitPathList(list, 0).empty());
}

TEST(ToolText, BytesForPeople) {
    const struct {
        Bytes bytes;
        std::string hex, display, printable;
    } cases[] = {
        {{}, "", "", "(none)"},
        {{'T', 'V', '-', '1'}, "54 56 2D 31", "TV-1", "TV-1"},
        {{'1', '.', '0', 0, 0}, "31 2E 30 00 00", "1.0", "1.0"},  // trailing zeros end a text
        {{'a', 0, 'b'}, "61 00 62", "a\\x00b", "(none)"},
        {{'\\', 0x10, 0xFF}, "5C 10 FF", "\\x5C\\x10\\xFF", "(none)"},
        {{0}, "00", "", "(none)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hexText(c.bytes), c.hex);
        EXPECT_EQ(displayText(c.bytes), c.display) << c.hex;
        EXPECT_EQ(printableText(c.bytes).value_or("(none)"), c.printable) << c.hex;
    }
    Bytes seventeen(17, 0xAB);
    std::string row = "AB";
    for (int i = 1; i < 16; ++i) row += " AB";
    EXPECT_EQ(hexText(seventeen), row + "\nAB");
    EXPECT_EQ(progressText(0, 27000), "0% (0 of 27000 bytes)");
    EXPECT_EQ(progressText(26999, 27000), "99% (26999 of 27000 bytes)");
    EXPECT_EQ(progressText(0, 0), "100% (0 of 0 bytes)");
}

TEST(ToolText, Utf8AndUtf16) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } both[] = {
        {"", u""}, {"COM3", u"COM3"}, {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"}, {"\xE6\x89\x93", u"\u6253"},
        {"\xF0\x9F\x96\xA8", u"\U0001F5A8"},
    };
    for (const auto& c : both) {
        EXPECT_EQ(fromUtf8(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(toUtf8(c.utf16), c.utf8) << c.utf8;
    }
    // What cannot be converted becomes U+FFFD, one for each byte or lone surrogate.
    EXPECT_EQ(fromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(fromUtf8("\xE6\x89"), u"\uFFFD\uFFFD");       // cut short
    EXPECT_EQ(fromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");       // longer than needed
    EXPECT_EQ(fromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // a surrogate
    EXPECT_EQ(toUtf8(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
}

// Whole runs of the tool, its output and exit code.
struct Outcome {
    int code;
    std::string out, err;
};

Outcome run(const Args& args) {
    std::ostringstream out, err;
    const int code = runTool(args, out, err);
    return {code, out.str(), err.str()};
}

class ToolRun : public ::testing::Test {
protected:
    void SetUp() override { folder_ = test::makeTempFolder("tool"); }
    void TearDown() override {
        sim_.stop();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    std::string file(const std::string& name, const std::string& content) const {
        const auto p = folder_ / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

    sim::Simulator sim_;
    std::filesystem::path folder_;
};

TEST_F(ToolRun, WritesAFileToTheDevice) {
    sim::SimDevice* device = sim_.addDevice({}, "tool");
    ASSERT_NE(device, nullptr);
    const std::u16string path16 = device->controlPath();
    const std::string path = toUtf8(path16);
    std::string job;
    for (int line = 0; job.size() < 100000; ++line) job += "line " + std::to_string(line) + " of the job\n";
    const std::string jobFile = file("job.txt", job);
    const std::string logFile = (folder_ / "run.log").string();

    const Outcome r = run({"--log", logFile, "--records", "write", path, jobFile});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    ASSERT_TRUE(device->received().waitForBytes(job.size(), 5000));
    const Bytes got = device->received().bytes();
    EXPECT_EQ(std::string(got.begin(), got.end()), job);
    EXPECT_NE(r.out.find("wrote " + std::to_string(job.size()) + " bytes to " + path + "\n"), std::string::npos);
    EXPECT_NE(r.err.find("100% (" + std::to_string(job.size()) + " of "), std::string::npos);
    // The run's steps, in the records printed at the end and in the library log.
    for (const std::string& step : {"tavrin: opened " + path + " as device ", std::string("tavrin: closed device ")})
        EXPECT_NE(r.out.find(step), std::string::npos) << step;
    std::ifstream log(logFile, std::ios::binary);
    const std::string logText((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(logText.find("tavrin: wrote " + std::to_string(job.size()) + " of "), std::string::npos);
}

TEST_F(ToolRun, FailuresAndTheirExitCodes) {
    const std::string missingDevice = (folder_ / "no-such-device").string();
    const std::string job = file("job.txt", "x");
    const struct {
        Args args;
        int code;
        std::string err;
    } cases[] = {
        {{"info", missingDevice}, kExitFailed, "tavrin: cannot open " + missingDevice + ": no device at this path\n"},
        {{"write", missingDevice, job}, kExitFailed, "tavrin: cannot open " + missingDevice},
        {{"write", missingDevice, (folder_ / "no-such-file").string()}, kExitFailed, "tavrin: cannot read "},
        {{"write", missingDevice, folder_.string()}, kExitFailed, "tavrin: cannot read " + folder_.string() + ": it is a directory\n"},
        {{"status", missingDevice}, kExitFailed, "tavrin: cannot open " + missingDevice + ": no device at this path\n"},
        {{"info", "printer.local:9100"}, kExitUsage, "tavrin: network PATH printer.local:9100 names a host"},
        {{"send", missingDevice, "CTRL_CMDGET_model"}, kExitUsage, "tavrin: unknown command name CTRL_CMDGET_model"},
        {{"send", missingDevice}, kExitUsage, "tavrin: usage: tavrin send"},
        {{"--log", (folder_ / "no-such-folder" / "x.log").string(), "commands"}, kExitFailed,
         "tavrin: cannot open the log file "},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(r.out, "") << c.args[0];
    }
}

TEST_F(ToolRun, QueriesAndWritesToANetworkDevice) {
    sim::DeviceConfig config;
    config.model = "TV-N58";
    sim::SimDevice* dev = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    const std::string path = toUtf8(dev->networkPath());

    const Outcome info = run({"info", path});
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("model: TV-N58"), std::string::npos) << info.out;
    const Outcome send = run({"send", path, "CTRL_CMDGET_DEVNO"});
    EXPECT_EQ(send.code, 0) << send.err;
    EXPECT_NE(send.out.find("text: TV0000000001"), std::string::npos) << send.out;
    const Outcome write = run({"write", path, file("job.prn", "\x1b@network job\n")});
    EXPECT_EQ(write.code, 0) << write.err;
    ASSERT_TRUE(dev->receivedData().waitForBytes(14, 2000));
    const Bytes data = dev->receivedData().bytes();
    EXPECT_EQ(std::string(data.begin(), data.end()), "\x1b@network job\n");
    // Commands went to the control channel only.
    ASSERT_EQ(dev->received().packets().size(), 4u);  // model, device number, version, device number
    EXPECT_EQ(dev->received().packets()[0], (Bytes{0x10, 0x01, 0x00, 0x00}));
}

TEST_F(ToolRun, QueriesAndWritesToAUsbDevice) {
    // The simulated device sits in a stand-in USB tree of its own; the tool's library opens its
    // interfaces by their paths (where the tree is seen by this process only, there is nothing to
    // run).
    auto tree = platform::StandInUsbTree::create("tool");
    ASSERT_NE(tree, nullptr);
    if (tree->systemRoot().empty()) GTEST_SKIP() << "the stand-in USB tree is seen by this process only";
    sim::DeviceConfig config;
    config.model = "TV-U58";
    sim::SimDevice* dev = sim_.addUsbDevice(config, *tree, {});
    ASSERT_NE(dev, nullptr);
    const std::string hid = toUtf8(dev->usbHidPath());
    const std::string printer = toUtf8(dev->usbPrinterPath());

    const Outcome info = run({"info", hid});
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("model: TV-U58"), std::string::npos) << info.out;
    const Outcome send = run({"send", hid, "CTRL_CMDGET_DEVNO"});
    EXPECT_EQ(send.code, 0) << send.err;
    EXPECT_NE(send.out.find("text: TV0000000001"), std::string::npos) << send.out;
    const Outcome write = run({"write", printer, file("job.prn", "\x1b@usb job\n")});
    EXPECT_EQ(write.code, 0) << write.err;
    ASSERT_TRUE(dev->receivedData().waitForBytes(10, 2000));
    const Bytes data = dev->receivedData().bytes();
    EXPECT_EQ(std::string(data.begin(), data.end()), "\x1b@usb job\n");
    // The commands came in HID reports.
    ASSERT_FALSE(dev->hidChannel()->reports().empty());
    EXPECT_EQ(dev->hidChannel()->reports()[0][0], 0xA6);
    sim_.stop();
}

const char kConfigDescription[] = R"(<TavrCfg VTAG="100">
  <CfgInfo DEVID="1" CFGID="2" CFGLen="4" CFGVer="1" Counts="8">
    <CfgItem Name="A" Bits="8" Type="1" MaxVal="255" MinVal="0"/>
    <CfgItem Name="B" Bits="4" Type="3" Datas="a;b;c;d"/>
    <CfgItem Name="Gap" Bits="4" Type="0"/>
    <CfgItem Name="D" Bits="16" Type="2"/>
  </CfgInfo>
</TavrCfg>
)";
const char kConfigListing[] = "A=18  (Type=1,MaxVal=255,MinVal=0,Tag=0)\n"
                              "B=3  (Type=3,SlctCnts=4,Tag=0,Datas=a;b;c;d)\n"
                              "D=Z  (Type=2,CharNums=2,Tag=0)\n";
// 18, 3 and an unused nibble, "Z": CRC-8 0x84 over 12 35 5A 00 (the gap's bits are 5).
const Bytes kConfigPacket = {0x01, 0x02, 0x00, 0x04, 0x01, 0x84, 0x77, 0x88, 0x12, 0x35, 0x5A, 0x00};

TEST_F(ToolRun, ConfiguresANetworkDevice) {
    sim::DeviceConfig config;
    config.configSide.enabled = true;
    config.configSide.description.assign(std::begin(kConfigDescription), std::end(kConfigDescription) - 1);
    config.configSide.packet = kConfigPacket;
    sim::SimDevice* dev = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    const std::string path = toUtf8(dev->networkPath());

    const Outcome list = run({"config", path});
    EXPECT_EQ(list.code, kExitOk) << list.err;
    EXPECT_EQ(list.out, kConfigListing);

    const Outcome set = run({"config", path, "A=200"});
    EXPECT_EQ(set.code, kExitOk) << set.err;
    EXPECT_EQ(set.out, "A=200\n");
    const Bytes stored = dev->configSide()->storedPacket();
    ASSERT_EQ(stored.size(), 12u);
    EXPECT_EQ(stored[8], 200);
    EXPECT_EQ(std::vector<std::uint8_t>(stored.begin() + 9, stored.end()), (Bytes{0x35, 0x5A, 0x00})) << "the rest as it was";

    const struct {
        Args args;
        std::string err;
    } refused[] = {
        {{"config", path, "B=4"}, "tavrin: B=4 was refused or could not be written to " + path},
        {{"config", path, "Gap=1"}, "tavrin: no configuration item Gap"},
        {{"config", path, "E=1"}, "tavrin: no configuration item E"},
    };
    for (const auto& r : refused) {
        const Outcome o = run(r.args);
        EXPECT_EQ(o.code, kExitFailed) << r.args[2];
        EXPECT_EQ(o.err.substr(0, r.err.size()), r.err) << r.args[2];
    }
    EXPECT_EQ(dev->configSide()->storedPacket(), stored) << "nothing written by the refused ones";

    // The same as JSON documents, the keys in their documented order; a failure names its cause.
    const std::string head = "{\"ok\":true,\"command\":\"config\",\"path\":\"" + path +
                             "\",\"offline\":false,\"dataSource\":\"" + path + "\",\"dataRead\":true,";
    const Outcome listJson = run({"--json", "config", path, "--timeout", "5000"});
    EXPECT_EQ(listJson.code, kExitOk) << listJson.err;
    EXPECT_EQ(listJson.out, head + "\"items\":[{\"name\":\"A\",\"value\":\"200\",\"details\":\"Type=1,MaxVal=255,"
                                  "MinVal=0,Tag=0\"},{\"name\":\"B\",\"value\":\"3\",\"details\":\"Type=3,SlctCnts=4,"
                                  "Tag=0,Datas=a;b;c;d\"},{\"name\":\"D\",\"value\":\"Z\",\"details\":\"Type=2,"
                                  "CharNums=2,Tag=0\"}]}\n");
    const Outcome setJson = run({"--json", "config", path, "A=201"});
    EXPECT_EQ(setJson.code, kExitOk) << setJson.err;
    EXPECT_EQ(setJson.out, head + "\"name\":\"A\",\"value\":\"201\"}\n");
    const Outcome unknownJson = run({"--json", "config", path, "E=1"});
    EXPECT_EQ(unknownJson.code, kExitFailed);
    EXPECT_EQ(unknownJson.out, "{\"ok\":false," + head.substr(std::string("{\"ok\":true,").size()) + "\"name\":\"E\",\"exitCode\":1,\"error\":\"no configuration item E: "
                                      "see 'tavrin config " + path + "'\",\"cause\":\"see 'tavrin config " + path +
                                      "'\",\"logLine\":null}\n");
    EXPECT_EQ(dev->configSide()->storedPacket()[8], 201);
}

TEST_F(ToolRun, ConfiguresOfflineFromFiles) {
    std::u16string dataFile;
    ASSERT_TRUE(platform::joinPath(platform::localAppDataFolder(), u"Tavrin", dataFile));
    ASSERT_TRUE(platform::joinPath(dataFile, u"devCfg.dat", dataFile));
    const std::filesystem::path dat(dataFile);
    std::filesystem::remove(dat);
    const std::string xml = file("printer.xml", kConfigDescription);

    const Outcome unknown = run({"config", xml});
    EXPECT_EQ(unknown.code, kExitFailed);
    EXPECT_EQ(unknown.out, "A=?  (Type=1,MaxVal=255,MinVal=0,Tag=0)\nB=?  (Type=3,SlctCnts=4,Tag=0,Datas=a;b;c;d)\n"
                           "D=?  (Type=2,CharNums=2,Tag=0)\n");
    EXPECT_NE(unknown.err.find("cannot read the configuration data from devCfg.dat in the user data folder"), std::string::npos);
    EXPECT_EQ(run({"config", xml, "A=1"}).code, kExitFailed);
    EXPECT_FALSE(std::filesystem::exists(dat)) << "nothing to write without data";

    std::ofstream(dat, std::ios::binary).write(reinterpret_cast<const char*>(kConfigPacket.data()), 12);
    const Outcome list = run({"config", xml});
    EXPECT_EQ(list.code, kExitOk) << list.err;
    EXPECT_EQ(list.out, kConfigListing);
    const Outcome set = run({"config", xml, "D=Q"});
    EXPECT_EQ(set.code, kExitOk) << set.err;
    EXPECT_EQ(set.out, "D=Q\n");
    const std::string written = test::readFileBytes(dat);
    EXPECT_EQ(written.substr(8), std::string("\x12\x35\x51\x00", 4));
    EXPECT_EQ(run({"config", (folder_ / "missing.xml").string()}).code, kExitFailed);
    std::filesystem::remove(dat);
}

TEST_F(ToolRun, ListsTheCommandNames) {
    const Outcome r = run({"commands"});
    ASSERT_EQ(r.code, kExitOk);
    std::istringstream lines(r.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 26u);  // the 25 names and the raw pass-through
    EXPECT_EQ(rows[0], "0x00  CTRL_CMD_NOUSE");
    EXPECT_EQ(rows[22], "0x21  CTRL_CMDGET_FEAT");
    EXPECT_EQ(rows[25].substr(0, 15), "      TAVR_DUMP");
}

// A run with its own standard input and a terminal or not on err.
Outcome runWith(const Args& args, const std::string& input, bool terminal) {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int code = runTool(args, ToolStreams{in, out, err, terminal});
    return {code, out.str(), err.str()};
}

// Points the process's temporary folder at a folder of its own while it lives, so that what a run
// leaves there is told apart from the files of other programs in the shared one.
class OwnTemporaryFolder {
public:
    explicit OwnTemporaryFolder(const std::filesystem::path& folder) : previous_(std::filesystem::temp_directory_path()) {
        std::filesystem::create_directories(folder);
        point(folder);
    }
    ~OwnTemporaryFolder() { point(previous_); }
    OwnTemporaryFolder(const OwnTemporaryFolder&) = delete;
    OwnTemporaryFolder& operator=(const OwnTemporaryFolder&) = delete;

private:
    static void point(const std::filesystem::path& folder) {
        platform::setEnvironmentVariable(kVariable, folder.string().c_str());
    }
#ifdef _WIN32
    static constexpr const char* kVariable = "TMP";
#else
    static constexpr const char* kVariable = "TMPDIR";
#endif
    std::filesystem::path previous_;
};

std::string contentOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(ToolRun, FailuresSayWhyInOneLine) {
    // A network device that refuses every connection: the library logs the refusal at each try.
    sim::SimDevice* dev = sim_.addNetDevice({}, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    dev->dataChannel()->refuseFor(60000);
    dev->controlChannel()->refuseFor(60000);
    const std::string path = toUtf8(dev->networkPath());
    sim::SimDevice* standIn = sim_.addDevice({}, "cause");
    ASSERT_NE(standIn, nullptr);
    const std::string usbPath = toUtf8(standIn->controlPath());
    const std::string job = file("job.prn", std::string(100, 'x'));
    const auto runFolder = folder_ / "temporary";
    const OwnTemporaryFolder temporary(runFolder);
    ASSERT_EQ((std::filesystem::temp_directory_path() / "x").parent_path(), runFolder);  // Windows: it ends in a separator
    const struct {
        Args args;
        std::string err;
    } cases[] = {
        {{"info", path, "--timeout", "400"},
         "tavrin: no answer to CTRL_CMDGET_MODEL from " + path + ": connection refused (library: "},
        {{"status", path, "--timeout", "400"}, "tavrin: no answer to CTRL_CMDGET_DEVSTAT from " + path + ": connection refused"},
        {{"send", path, "CTRL_CMDGET_DEVNO", "--timeout", "400"}, "tavrin: CTRL_CMDGET_DEVNO failed on " + path + ": connection refused"},
        {{"--quiet", "write", path, job, "--timeout", "400"},  // quiet: no progress, the error all the same
         "tavrin: writing to " + path + " stopped, delivered 0 of 100 bytes: connection refused"},
        // A USB path whose command interface this build cannot open.
        {{"info", usbPath}, "tavrin: cannot open " + usbPath + ": its command interface"},
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const Outcome r = run(c.args);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(r.code, kExitFailed) << c.args[0];
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;  // one line, the log only with -v
        EXPECT_LT(took, std::chrono::milliseconds(2500)) << c.args[0];  // --timeout, not the 3 s default
    }
    // -v adds every library line of the run.
    const Outcome verbose = run({"-v", "info", path, "--timeout", "300"});
    EXPECT_GT(std::count(verbose.err.begin(), verbose.err.end(), '\n'), 3) << verbose.err;
    EXPECT_NE(verbose.err.find("  | TID("), std::string::npos) << verbose.err;
    // The run's log goes away with it (other programs' runs may come and go in the shared folder
    // meanwhile: the runs here had a folder of their own).
    for (const auto& entry : std::filesystem::directory_iterator(runFolder))
        EXPECT_EQ(entry.path().filename().string().rfind("tavrin-run-", 0), std::string::npos) << entry.path();
}

TEST_F(ToolRun, ABusyDeviceIsNamedSo) {
    sim::SimDevice* standIn = sim_.addDevice({}, "busy");
    ASSERT_NE(standIn, nullptr);
    const std::string path = toUtf8(standIn->controlPath());
    const auto widePath = fromUtf8(path);
    const std::basic_string<tavrin_wchar_t> p(widePath.begin(), widePath.end());
    _DEVOPEN_INFO info{p.c_str(), 0, 0, PORT_USBPRN, MODE_DATA};
    const std::int32_t held = dllFunc_OpenDev(&info);  // another user of the device
    ASSERT_GE(held, 0);
    const Outcome r = run({"write", path, file("job.prn", "x")});
    dllFunc_CloseDev(held);
    EXPECT_EQ(r.code, kExitFailed);
    const std::string busy = "tavrin: cannot open " + path + ": the device is busy";
#ifndef _WIN32
    EXPECT_EQ(r.err.substr(0, busy.size()), busy) << r.err;
#else
    EXPECT_EQ(r.err.substr(0, 21 + path.size()), "tavrin: cannot open " + path + ":") << r.err;
#endif
}

TEST_F(ToolRun, JsonDocumentsAndExitCodes) {
    sim::DeviceConfig config;
    config.model = "TV-N58";
    config.deviceStatus = 0x05;  // paper out, cover open
    sim::SimDevice* dev = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    const std::string path = toUtf8(dev->networkPath());
    const struct {
        Args args;
        int code;
        std::string json;  // the whole document, or its beginning when it ends in "..."
    } cases[] = {
        {{"--json", "info", path},
         0,
         "{\"ok\":true,\"command\":\"info\",\"path\":\"" + path +
             "\",\"model\":\"TV-N58\",\"deviceNumber\":\"TV0000000001\",\"protocolVersion\":\"1.00\"}"},
        {{"--json", "send", path, "CTRL_CMDGET_MODEL"},
         0,
         "{\"ok\":true,\"command\":\"send\",\"path\":\"" + path +
             "\",\"name\":\"CTRL_CMDGET_MODEL\",\"ackCode\":0,\"data\":\"54 56 2D 4E 35 38\",\"text\":\"TV-N58\"}"},
        {{"--json", "status", path},
         0,
         "{\"ok\":true,\"command\":\"status\",\"path\":\"" + path +
             "\",\"ackCode\":0,\"raw\":\"05\",\"status\":5,\"words\":[\"paper out\",\"cover open\"]}"},
        {{"--json", "commands"}, 0, "{\"ok\":true,\"command\":\"commands\",\"commands\":[{\"name\":\"CTRL_CMD_NOUSE\",\"code\":0},..."},
        // Nothing answers on this port: with --require that is a failure.
        {{"--json", "list", "--port", "9", "--timeout", "100", "--require"},
         1,
         "{\"ok\":false,\"command\":\"list\",\"searchPort\":9,\"network\":[],\"usb\":[],\"hid\":[],\"exitCode\":1,\"error\":\"no device "
         "found: nothing answered the search\",\"cause\":\"nothing answered the search\",\"logLine\":null}"},
        {{"--json", "list", "--port", "9", "--timeout", "100"},
         0,
         "{\"ok\":true,\"command\":\"list\",\"searchPort\":9,\"network\":[],\"usb\":[],\"hid\":[]}"},
        {{"--json", "info", "localhost:1"}, 2, "{\"ok\":false,\"exitCode\":2,\"error\":\"network PATH localhost:1 names a host..."},
    };
    // The system's own HID interfaces (Wine has two virtual ones) are listed too: they are not this
    // test's devices, and the list of them is compared as empty.
    const auto withoutSystemHid = [](std::string out) {
        const std::string key = "\"hid\":[";
        const std::size_t at = out.find(key);
        if (at != std::string::npos) {
            const std::size_t end = out.find(']', at + key.size());
            if (end != std::string::npos) out.erase(at + key.size(), end - at - key.size());
        }
        return out;
    };
    for (const auto& c : cases) {
        const Outcome r0 = run(c.args);
        Outcome r = r0;
        r.out = withoutSystemHid(r0.out);
        EXPECT_EQ(r.code, c.code) << c.args[1] << " " << r.err;
        ASSERT_FALSE(r.out.empty()) << c.args[1];
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;  // one document, one line
        const bool prefix = c.json.size() > 3 && c.json.compare(c.json.size() - 3, 3, "...") == 0;
        if (prefix) {
            EXPECT_EQ(r.out.substr(0, c.json.size() - 3), c.json.substr(0, c.json.size() - 3));
        } else {
            EXPECT_EQ(r.out, c.json + "\n");
        }
    }
    // The status in words; a status byte that the device does not send is shown raw.
    EXPECT_EQ(run({"status", path}).out, "status: paper out, cover open (0x05)\n");
    dev->model().setAnswer(0x09, sim::Answer{6, {}});
    EXPECT_EQ(run({"status", path}).out, "status: no data, acknowledge code 0x06\n");
    dev->model().setAnswer(0x09, sim::Answer{0, {0x40, 0x12, 0x34}});
    EXPECT_EQ(run({"status", path}).out, "status: bit 0x40 (0x40)\nmore: 12 34\n");
}

TEST_F(ToolRun, WritesFromStandardInputWithProgressOnlyOnATerminal) {
    sim::SimDevice* device = sim_.addDevice({}, "stdin");
    ASSERT_NE(device, nullptr);
    const std::string path = toUtf8(device->controlPath());
    std::string job;
    for (int i = 0; job.size() < 40000; ++i) job += std::string("\x1b@\r\n\x00\x10", 6) + std::to_string(i);
    const struct {
        Args args;
        bool terminal;
        bool carriageReturns;
        std::string err;
    } cases[] = {
        {{"write", path, "-"}, false, false, "standard input: 100% (" + std::to_string(job.size()) + " of "},
        {{"write", path, "-"}, true, true, "\rstandard input: 0% (0 of "},
        {{"--quiet", "write", path, "-"}, true, false, ""},
    };
    for (const auto& c : cases) {
        device->received().clear();
        const Outcome r = runWith(c.args, job, c.terminal);
        ASSERT_EQ(r.code, kExitOk) << r.err;
        ASSERT_TRUE(device->received().waitForBytes(job.size(), 5000));
        const Bytes got = device->received().bytes();
        EXPECT_EQ(std::string(got.begin(), got.end()), job);  // byte for byte, line ends and all
        EXPECT_EQ(r.err.find('\r') != std::string::npos, c.carriageReturns) << c.terminal;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        if (c.err.empty()) {
            EXPECT_EQ(r.err, "");
        }
        EXPECT_EQ(r.out, "wrote " + std::to_string(job.size()) + " bytes to " + path + "\n");
    }
}

TEST_F(ToolRun, ASlowPrinterGetsTheWholeFileOnceAndTheSimulatorKeepsIt) {
    // The stand-in device takes 40,000 bytes a second: single library writes take fewer bytes
    // than they are given, and the tool goes on with the rest.
    sim::DeviceConfig slow;
    slow.dataRate = 40000;
    sim::SimDevice* standIn = sim_.addDevice(slow, "slow");
    sim::SimDevice* net = sim_.addNetDevice(slow, {{127, 0, 0, 1}, 0});
    ASSERT_NE(standIn, nullptr);
    ASSERT_NE(net, nullptr);
    std::filesystem::path failed;
    ASSERT_TRUE(sim_.saveDataIn(folder_ / "saved", failed)) << failed;
    std::string job;
    for (int line = 0; job.size() < 60000; ++line) job += "line " + std::to_string(line) + "\n";
    const std::string jobFile = file("slow.txt", job);
    const std::string logFile = (folder_ / "slow.log").string();

    const auto start = std::chrono::steady_clock::now();
    const Outcome r = run({"--log", logFile, "write", toUtf8(standIn->controlPath()), jobFile});
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(r.code, kExitOk) << r.err;
    ASSERT_TRUE(standIn->received().waitForBytes(job.size(), 10000));
    const Bytes got = standIn->received().bytes();
    EXPECT_EQ(std::string(got.begin(), got.end()), job);
    EXPECT_GT(took, std::chrono::milliseconds(600));  // it was slow: 1.5 s at the rate, less the buffers
    const Outcome viaNet = run({"write", toUtf8(net->networkPath()), jobFile});
    ASSERT_EQ(viaNet.code, kExitOk) << viaNet.err;
    ASSERT_TRUE(net->receivedData().waitForBytes(job.size(), 10000));

    // What each device received is in its file, as it arrived.
    EXPECT_EQ(contentOf(folder_ / "saved" / "device-0.prn"), job);
    EXPECT_EQ(contentOf(folder_ / "saved" / "device-1.prn"), job);
    const std::string count = std::to_string(job.size());
    EXPECT_EQ(sim_.summary(), "device 0 received 0 command packets and " + count +
                                  " bytes of raw data\ndevice 1 received 0 command packets and " + count +
                                  " bytes of raw data\n");
}

TEST_F(ToolRun, ControlCommandsChangeTheDeviceTheToolSees) {
    sim::SimDevice* dev = sim_.addNetDevice({}, {{127, 0, 0, 1}, 0});
    ASSERT_NE(dev, nullptr);
    const std::string path = toUtf8(dev->networkPath());
    const struct {
        std::string control;
        Args args;
        int code;
        std::string out, err;
    } steps[] = {
        {"status 0 paper-out", {"status", path}, 0, "status: paper out (0x01)\n", ""},
        {"status 0 ready", {"status", path}, 0, "status: ready (0x00)\n", ""},
        {"answer 0 0x01=text:TV-X1", {"info", path}, 0, "model: TV-X1\ndevice number: TV0000000001\nprotocol version: 1.00\n", ""},
        {"answer 0 0x01=off", {"send", path, "CTRL_CMDGET_MODEL"}, 0, "ack 0x00\n6 byte(s):\n54 56 2D 50 38 30\ntext: TV-P80\n", ""},
        {"silent 0 on", {"info", path, "--timeout", "300"}, 1, "", "tavrin: no answer to CTRL_CMDGET_MODEL from " + path + ": no answer from the device"},
        {"silent 0 off", {"status", path}, 0, "status: ready (0x00)\n", ""},
    };
    for (const auto& s : steps) {
        const sim::ControlReply reply = sim::runControl(sim_, s.control);
        ASSERT_TRUE(reply.ok) << s.control << ": " << reply.text;
        const Outcome r = run(s.args);
        EXPECT_EQ(r.code, s.code) << s.control << ": " << r.err;
        EXPECT_EQ(r.out, s.out) << s.control;
        EXPECT_EQ(r.err.substr(0, s.err.size()), s.err) << s.control;
    }
}
}  // namespace
}  // namespace tavrin::cli

namespace tavrin::cli {
namespace {

TEST(ToolCommandLine, ReadsTheUpdateCommand) {
    const struct {
        Args args;
        std::string error, file;
        bool restart;
        std::uint32_t updateMs, deviceMs;
    } cases[] = {
        {{"update", "127.0.0.2:9100", "fw.udf"}, "", "fw.udf", false, kDefaultUpdateTimeoutMs, kDefaultDeviceTimeoutMs},
        {{"update", "p", "fw.udf", "--restart"}, "", "fw.udf", true, kDefaultUpdateTimeoutMs, kDefaultDeviceTimeoutMs},
        // The whole update's limit; the device's come-up gets no longer than that.
        {{"--timeout", "3600000", "update", "p", "f"}, "", "f", false, 3600000, kDefaultDeviceTimeoutMs},
        {{"update", "p", "f", "--timeout=500"}, "", "f", false, 500, 500},
        {{"update", "p"}, "usage: tavrin update PATH FILE [--restart]", "", false, 0, 0},
        {{"update", "p", "f", "g"}, "usage: tavrin update PATH FILE [--restart]", "", false, 0, 0},
        {{"update", "p", "f", "--timeout", "3600001"}, "--timeout needs a wait in ms 1..3600000", "", false, 0, 0},
        {{"update", "p", "-"}, "update: FILE must name a file (the library opens it itself)", "", false, 0, 0},
        {{"update", "p", "fw\xC0\x80.udf"}, "FILE is not valid UTF-8", "", false, 0, 0},
        {{"info", "p", "--restart"}, "--restart does not apply to the command info", "", false, 0, 0},
        // Seven digits are no wait for the other commands either.
        {{"info", "p", "--timeout", "1000000"}, "--timeout needs a wait in ms 1..600000", "", false, 0, 0},
    };
    for (const auto& c : cases) {
        const ParseResult r = parseCommandLine(c.args);
        const std::string what = c.args[0] + " #" + std::to_string(c.args.size()) + " " + c.args.back();
        EXPECT_EQ(r.error, c.error) << what;
        if (!c.error.empty()) continue;
        EXPECT_EQ(r.invocation.command, Command::Update) << what;
        EXPECT_EQ(r.invocation.path, c.args[0] == "update" ? c.args[1] : c.args[3]) << what;
        EXPECT_EQ(r.invocation.file, c.file) << what;
        EXPECT_EQ(r.invocation.restart, c.restart) << what;
        EXPECT_EQ(r.invocation.updateTimeoutMs, c.updateMs) << what;
        EXPECT_EQ(r.invocation.deviceTimeoutMs, c.deviceMs) << what;
    }
}

TEST(ToolUpdateText, FirmwareFileMistakes) {
    const auto file = [](std::uint8_t h, std::size_t size) {
        Bytes b(size, 0);
        const char magic[] = "udf1";
        std::copy(magic, magic + 4, b.begin());
        if (size > 4) b[4] = h;
        return b;
    };
    Bytes noMagic = file(128, 400);
    noMagic[3] = '2';
    const struct {
        Bytes bytes;
        std::string mistake;
    } cases[] = {
        {file(128, 1000), "(none)"},
        {file(8, 128), "(none)"},
        {file(255, 255), "(none)"},
        {file(128, 127), "it is shorter than a firmware header (127 of 128 bytes)"},
        {{}, "it is shorter than a firmware header (0 of 128 bytes)"},
        {noMagic, "it is no firmware file (it does not begin with \"udf1\")"},
        {file(7, 300), "its header length 7 is below 8"},
        {file(0, 300), "its header length 0 is below 8"},
        {file(200, 150), "its header length 200 is beyond its 150 bytes"},
    };
    for (const auto& c : cases) {
        const Bytes head(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(c.bytes.size(), 128)));
        EXPECT_EQ(firmwareFileMistake(head, c.bytes.size()).value_or("(none)"), c.mistake) << c.bytes.size();
    }
    EXPECT_EQ(progressBar(0, 10), "[----------]   0%");
    EXPECT_EQ(progressBar(51, 10), "[#####-----]  51%");
    EXPECT_EQ(progressBar(100, 10), "[##########] 100%");
    EXPECT_EQ(progressBar(250, 4), "[####] 100%");
}

TEST(ToolUpdateText, RecordLinesWithoutTheirStamps) {
    // Each case: the texts of successive record reads, and the lines that come out of them (the
    // last read's lines after finish()).
    const struct {
        std::vector<std::string> reads;
        std::vector<std::string> lines;
    } cases[] = {
        {{"12-00-01+0042 : PHDL(0)#a\r\n"}, {"PHDL(0)#a"}},
        {{"12-00-01+0042 : one\r\n12-00-01+0043 : two\r\n"}, {"one", "two"}},
        // A line cut between two reads comes out whole.
        {{"12-00-01+0042 : par", "t\r\n"}, {"part"}},
        // A record without its line end ends where the next stamp begins.
        {{"12-00-01+0042 : number = 12-00-01+0050 :  next\r\n"}, {"number = ", " next"}},
        {{"12-00-01+0042 : number = ", "12-00-01+0050 : next\r\n"}, {"number = ", "next"}},
        // Lines without a stamp stay as they are; digits that only look like one at the start.
        {{"no stamp\r\n1-00-01+0042 : x\n"}, {"no stamp", "1-00-01+0042 : x"}},
        // The last line without its line end comes with finish(); empty lines do not come at all.
        {{"12-00-01+0042 : a\r\n\r\n", "12-00-01+0043 : tail"}, {"a", "tail"}},
    };
    for (const auto& c : cases) {
        RecordLines lines;
        std::vector<std::string> got;
        for (const std::string& r : c.reads)
            for (const std::string& l : lines.add(r)) got.push_back(l);
        for (const std::string& l : lines.finish()) got.push_back(l);
        EXPECT_EQ(got, c.lines) << c.reads[0];
    }
    EXPECT_EQ(withoutTimeStamp("23-59-59+0999 : x"), "x");
    EXPECT_EQ(withoutTimeStamp("23-59-59+0999 :x"), "23-59-59+0999 :x");
}

TEST(ToolUpdateText, TheLinesThatEndAnUpdate) {
    const struct {
        const char* line;
        UpdateLine kind;
    } cases[] = {
        {"PHDL(0)#更 新 完 成 OK...", UpdateLine::Done},
        {"PHDL(3)#设 备 重 新 启 动(0)", UpdateLine::Restarted},
        {"PHDL(0)#启 动 设 备 失 败(-1)", UpdateLine::Failed},
        {"PHDL(0)#同 步 设 备 失 败(4)", UpdateLine::Failed},
        {"PHDL(0)#发 送 数 据 失 败(-2)", UpdateLine::Failed},
        {"PHDL(0)#设 备 更 新 失 败(-1)", UpdateLine::Failed},
        {"PHDL(0)#更 新 操 作 被 取 消", UpdateLine::Failed},
        {"PHDL(0)#开 始 更 新", UpdateLine::Step},
        {"PHDL(0)#命 令 读 取 超 时(3)", UpdateLine::Step},  // retries go on
        {"PHDL(0)#发 送 数 据 完 成，等 待 设 备 更 新...", UpdateLine::Step},
        {"加 载 固 件 文 件", UpdateLine::Step},
        {"tavrin: PHDL(0)#更 新 完 成 OK...", UpdateLine::Step},  // only the library's own lines count
    };
    for (const auto& c : cases) EXPECT_EQ(classifyUpdateLine(c.line), c.kind) << c.line;
}

// Updates by the tool against the simulator's network device.
class ToolUpdate : public ToolRun {
protected:
    sim::SimDevice* device(sim::FirmwareConfig firmware, std::uint8_t connectStatus = 0) {
        sim::DeviceConfig config;
        config.firmware = firmware;
        config.connectStatus = connectStatus;
        sim::SimDevice* dev = sim_.addNetDevice(config, {{127, 0, 0, 1}, 0});
        EXPECT_NE(dev, nullptr);
        return dev;
    }
    std::string firmware(const test::FwBytes& bytes, const std::string& name = "fw.udf") {
        test::writeFile(folder_ / name, bytes);
        return (folder_ / name).string();
    }
    static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
};

TEST_F(ToolUpdate, UpdatesTheDeviceAndShowsItsSteps) {
    sim::FirmwareConfig fw;  // not in boot mode: it restarts into it and is found again
    sim::SimDevice* dev = device(fw);
    ASSERT_NE(dev, nullptr);
    const std::string path = toUtf8(dev->networkPath());
    const test::FwBytes file = test::makeFirmware(128, 1000);
    const std::string fwFile = firmware(file);

    const Outcome r = run({"update", path, fwFile});
    ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
    const sim::FirmwareRecord got = dev->firmware().record();
    EXPECT_EQ(got.image, test::FwBytes(file.begin() + 128, file.end()));
    EXPECT_EQ(got.headerBody, test::FwBytes(file.begin() + 8, file.begin() + 128));
    EXPECT_TRUE(got.finished);
    EXPECT_EQ(got.bootRestarts, 1u);
    EXPECT_EQ(got.restarts, 0u);
    // The steps, one a line without their time stamps, in their order.
    std::size_t at = 0;
    for (const char* step : {"加 载 固 件 文 件\n", " 重 启 设 备 进 入 Boot 模 式\n", "#开 始 更 新\n",
                                    "#发 送 数 据 完 成，等 待 设 备 更 新...\n", "#更 新 完 成 OK...\n"}) {
        const std::size_t found = r.out.find(step, at);
        ASSERT_NE(found, std::string::npos) << step << " in\n" << r.out;
        at = found;
    }
    EXPECT_FALSE(has(r.out, " : ")) << r.out;  // no stamps
    EXPECT_FALSE(has(r.out, "tavrin: ")) << r.out;  // not the tool's own records
    // Not a terminal: the progress once at the end, no bar.
    EXPECT_TRUE(has(r.err, fwFile + ": 100%\n")) << r.err;
    EXPECT_FALSE(has(r.err, "\r")) << r.err;
    EXPECT_TRUE(has(r.err, "tavrin: the firmware of " + path + " was updated from " + fwFile)) << r.err;

    // Again with the restart, on a terminal: the bar, and the restart's line after the success.
    const Outcome again = runWith({"update", path, fwFile, "--restart"}, "", true);
    ASSERT_EQ(again.code, kExitOk) << again.err << again.out;
    EXPECT_TRUE(has(again.out, "#设 备 重 新 启 动(0)\n")) << again.out;
    EXPECT_LT(again.out.find("#更 新 完 成 OK..."), again.out.find("#设 备 重 新 启 动(0)"));
    EXPECT_TRUE(has(again.err, "\r" + fwFile + ": [")) << again.err;
    EXPECT_TRUE(has(again.err, "##] 100%")) << again.err;
    EXPECT_EQ(dev->firmware().record().restarts, 1u);
    EXPECT_EQ(dev->firmware().record().image, test::FwBytes(file.begin() + 128, file.end()));
}

TEST_F(ToolUpdate, JsonDocument) {
    sim::FirmwareConfig fw;
    fw.inBootMode = true;
    sim::SimDevice* dev = device(fw);
    ASSERT_NE(dev, nullptr);
    const std::string path = toUtf8(dev->networkPath());
    const std::string fwFile = firmware(test::makeFirmware(128, 1000));
    const Outcome r = run({"--json", "update", path, fwFile});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const auto quoted = [](const std::string& t) { return Json::text(t).dump(); };  // backslashes escaped
    const std::string head = "{\"ok\":true,\"command\":\"update\",\"path\":" + quoted(path) + ",\"file\":" +
                             quoted(fwFile) + ",\"restart\":false,\"steps\":[\"";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r.out;
    EXPECT_TRUE(has(r.out, "#更 新 完 成 OK...\"],\"percent\":100}\n")) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;

    const std::string refusedFile = firmware(test::FwBytes(127, 'u'), "short.udf");
    const Outcome refused = run({"--json", "update", path, refusedFile});
    EXPECT_EQ(refused.code, kExitFileRefused);
    EXPECT_EQ(refused.out, "{\"ok\":false,\"command\":\"update\",\"path\":" + quoted(path) + ",\"file\":" +
                               quoted(refusedFile) + ",\"restart\":false,\"steps\":[],\"percent\":null,\"exitCode\":3,"
                               "\"error\":" +
                               quoted("the library refused the firmware file " + refusedFile +
                                      ": it is shorter than a firmware header (127 of 128 bytes)") +
                               ",\"cause\":\"it is shorter than a firmware header (127 of 128 bytes)\",\"logLine\":null}\n");
}

TEST_F(ToolUpdate, FailuresHaveTheirOwnExitCodes) {
    test::FwBytes badCheck = test::makeFirmware(128, 1000);
    badCheck[5] ^= 0x01;
    test::FwBytes noMagic = test::makeFirmware(128, 1000);
    noMagic[0] = 'U';
    sim::FirmwareConfig boot;
    boot.inBootMode = true;
    sim::FirmwareConfig busy = boot;
    busy.busyForever = true;
    sim::FirmwareConfig vanishing = boot;
    vanishing.vanishAfter = 2;
    sim::FirmwareConfig slow = boot;
    slow.pieceDelayMs = 400;
    const struct {
        const char* what;
        sim::FirmwareConfig fw;
        std::uint8_t connectStatus;
        test::FwBytes file;
        Args options;
        int code;
        std::string err;   // the failure line's beginning (after "tavrin: ")
        std::string step;  // a step line that must be shown
    } cases[] = {
        {"a good file", boot, 0, test::makeFirmware(128, 1000, 3), {}, kExitOk, "", "#更 新 完 成 OK..."},
        {"127 bytes", boot, 0, test::FwBytes(127, 'u'), {}, kExitFileRefused,
         "the library refused the firmware file FILE: it is shorter than a firmware header (127 of 128 bytes)", ""},
        {"no magic", boot, 0, noMagic, {}, kExitFileRefused,
         "the library refused the firmware file FILE: it is no firmware file", ""},
        {"header length", boot, 0, test::makeFirmware(4, 300), {}, kExitFileRefused,
         "the library refused the firmware file FILE: its header length 4 is below 8", ""},
        {"check value", boot, 0, badCheck, {}, kExitFileRefused,
         "the library refused the firmware file FILE: its header's check value does not match", ""},
        {"connect refused", boot, 3, test::makeFirmware(128, 1000), {}, kExitStartFailed,
         "the update did not start on PATH: 连 接 请 求 失 败 ", "连 接 请 求 失 败 "},
        {"busy for ever", busy, 0, test::makeFirmware(128, 1000), {}, kExitUpdateFailed,
         "the update of PATH failed: PHDL(", "#设 备 更 新 失 败(-1)"},
        {"vanishes", vanishing, 0, test::makeFirmware(128, 1000), {}, kExitUpdateFailed,
         "the update of PATH failed: PHDL(", "#发 送 数 据 失 败(-"},  // -1 or -2: unanswered, or not sent
        {"time-out", slow, 0, test::makeFirmware(128, 1000), {"--timeout", "500"}, kExitTimedOut,
         "the update of PATH did not end within 500 ms: it was stopped", "更 新 线 程 正 常 关 闭"},
    };
    for (const auto& c : cases) {
        sim::SimDevice* dev = device(c.fw, c.connectStatus);
        ASSERT_NE(dev, nullptr);
        const std::string path = toUtf8(dev->networkPath());
        const std::string fwFile = firmware(c.file, std::string("case-") + std::to_string(c.code) + ".udf");
        Args args = {"update", path, fwFile};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto start = std::chrono::steady_clock::now();
        const Outcome r = run(args);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.err << r.out;
        EXPECT_LT(took, std::chrono::seconds(30)) << c.what;
        if (!c.step.empty()) {
            EXPECT_TRUE(has(r.out, c.step)) << c.what << "\n" << r.out;
        }
        if (c.code == kExitOk) continue;
        std::string err = "tavrin: " + c.err;
        if (const auto p = err.find("FILE"); p != std::string::npos) err.replace(p, 4, fwFile);
        if (const auto p = err.find("PATH"); p != std::string::npos) err.replace(p, 4, path);
        // One failure line, the last (the progress reached comes before it).
        const std::size_t last = r.err.rfind('\n', r.err.size() - 2);
        const std::string lastLine = r.err.substr(last == std::string::npos ? 0 : last + 1);
        EXPECT_EQ(lastLine.substr(0, err.size()), err) << c.what;
        EXPECT_EQ(r.err.find("tavrin: "), r.err.rfind("tavrin: ")) << c.what << ": " << r.err;
        if (c.code == kExitUpdateFailed) {
            // The failure line is the step the device's failure gave.
            EXPECT_TRUE(has(r.err, c.step)) << r.err;
            EXPECT_FALSE(dev->firmware().record().finished) << c.what;
        }
        if (c.code == kExitFileRefused) {
            EXPECT_EQ(dev->firmware().record().begins, 0u) << c.what << ": nothing sent";
        }
    }
    EXPECT_EQ(run({"update", "127.0.0.1:9", (folder_ / "none.udf").string()}).err,
              "tavrin: cannot read " + (folder_ / "none.udf").string() + ": no such file\n");
}

}  // namespace
}  // namespace tavrin::cli
