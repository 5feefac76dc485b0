#include "cli.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/text_utf.h"

namespace tavrin::cli {
namespace {

const char kUsage[] =
    "usage: tavrin [OPTIONS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  list [--port N] [--timeout MS] [--require]\n"
    "                           search the network for devices (UDP port N, default 9000)\n"
    "                           and list their paths, then the USB printer interfaces and\n"
    "                           the HID interfaces; the search ends MS ms (1..10000) after\n"
    "                           the last answer; with --require finding no network device\n"
    "                           and no USB printer interface is a failure (exit code 1)\n"
    "  info PATH                print the device's model, device number and protocol version\n"
    "  send PATH NAME [HEX...]  send the command NAME with the data bytes HEX; print the\n"
    "                           acknowledge code and the answer in hex (and as text)\n"
    "  write PATH FILE          write FILE (- for standard input) as raw data to the device's\n"
    "                           data port\n"
    "  status PATH              print the device's status (CTRL_CMDGET_DEVSTAT) in words\n"
    "  commands                 list the command names and their codes\n"
    "  config PATH [NAME=VALUE] list the device's configuration items and their values,\n"
    "                           or set the item NAME to VALUE on the device; a PATH that\n"
    "                           ends in .xml is a description file: offline, the values\n"
    "                           come from and go to devCfg.dat in the user data folder\n"
    "  update PATH FILE [--restart]\n"
    "                           update the device's firmware from FILE (a \"udf1\" file):\n"
    "                           prints each step the library reports, draws a progress bar\n"
    "                           on a terminal; --restart restarts the device afterwards\n"
    "\n"
    "Options:\n"
    "  --timeout MS list: the search's wait after the last answer (1..10000); info, send,\n"
    "               write, status, config: how long a network device may take to come up\n"
    "               and take a command or data (1..600000, default 3000); update: how\n"
    "               long the whole update may take (1..3600000, default 600000)\n"
    "  --json       list, info, send, status, commands, config, update: one JSON\n"
    "               document on standard output\n"
    "  --restart    update: restart the device after a successful update\n"
    "  --quiet, -q  no progress and no summaries, only errors\n"
    "  -v, --verbose\n"
    "               on failure, print every library log line of the run\n"
    "  --log FILE   write the library log to FILE during the run\n"
    "  --records    print the library's log records at the end\n"
    "  --help, -h   show this text and exit\n"
    "  --version    print the version and exit\n"
    "An option with a value may also be written --timeout=MS, --port=N, --log=FILE.\n"
    "\n"
    "PATH \"a.b.c.d:port\" is a network device: raw data on that TCP port, commands on\n"
    "port + 100 (an IPv4 address: host names are not looked up). A PATH that ends in the\n"
    "HID class {4d1e55b2-f16f-11cf-88cb-001111000030} is a USB HID interface, any other\n"
    "PATH a USB printer interface.\n"
    "HEX is bytes as pairs of hexadecimal digits: 01 02 ff, 0102ff or 0x01. A command\n"
    "takes at most 255 data bytes; TAVR_DUMP writes its data unframed and reads once.\n"
    "The search waits 2 seconds after the last answer (DiscoveryTimeout in DevDllCfg.ini,\n"
    "or --timeout) and goes to the address that the library's settings name\n"
    "(DiscoveryAddress in DevDllCfg.ini).\n"
    "A failure is explained in one line with the cause the library logged; the tool keeps\n"
    "the library log of the run in a temporary file of its own when no log is open.\n"
    "\n"
    "Exit codes: 0 success, 1 device or I/O failure (list --require: nothing found),\n"
    "2 usage error; update: 3 the library refused the firmware file, 4 the update did\n"
    "not start, 5 the device reported a failure of the update, 6 time-out.\n";

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// A decimal number of at most maxDigits digits, no sign.
std::optional<unsigned long> decimal(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == ','; }

// One run of hex digits, an optional 0x in front.
bool appendHexToken(std::string_view token, Bytes& out) {
    if (startsWith(token, "0x") || startsWith(token, "0X")) token.remove_prefix(2);
    if (token.empty() || token.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < token.size(); i += 2) {
        const int high = hexDigit(token[i]), low = hexDigit(token[i + 1]);
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

Bytes withoutTrailingZeros(const Bytes& bytes) {
    Bytes b = bytes;
    while (!b.empty() && b.back() == 0) b.pop_back();
    return b;
}

bool printable(std::uint8_t b) { return b >= 0x20 && b < 0x7F; }

// What a command takes besides its arguments.
enum : unsigned {
    kTakesSearch = 1u << 0,   // --port, --require
    kTakesTimeout = 1u << 1,  // --timeout
    kTakesJson = 1u << 2,     // --json
    kTakesRestart = 1u << 3,  // --restart
};

// The command table: the command's word, its arguments (at least, at most), its usage form and
// the options it takes. A new command is a new row here and a run in tool.cpp.
struct CommandSpec {
    const char* word;
    Command command;
    std::size_t least, most;
    const char* form;
    unsigned takes;
};

const CommandSpec kCommands[] = {
    {"list", Command::List, 0, 0, "list [--port N] [--timeout MS] [--require]", kTakesSearch | kTakesTimeout | kTakesJson},
    {"info", Command::Info, 1, 1, "info PATH", kTakesTimeout | kTakesJson},
    {"send", Command::Send, 2, SIZE_MAX, "send PATH NAME [HEX...]", kTakesTimeout | kTakesJson},
    {"write", Command::Write, 2, 2, "write PATH FILE", kTakesTimeout},
    {"commands", Command::Commands, 0, 0, "commands", kTakesJson},
    {"status", Command::Status, 1, 1, "status PATH", kTakesTimeout | kTakesJson},
    {"config", Command::Config, 1, 2, "config PATH [NAME=VALUE]", kTakesTimeout | kTakesJson},
    {"update", Command::Update, 2, 2, "update PATH FILE [--restart]", kTakesTimeout | kTakesJson | kTakesRestart},
};

const CommandSpec* commandNamed(std::string_view word) {
    for (const CommandSpec& spec : kCommands)
        if (word == spec.word) return &spec;
    return nullptr;
}

// The options given that only some commands take, in the order first given.
struct GivenOptions {
    std::string search;                      // "--port" or "--require"
    std::optional<unsigned long> timeoutMs;  // --timeout, checked against the command
    bool timeout = false;
    bool json = false;
    bool restart = false;
};

// A switch without a value: true when arg is one (it is taken into inv).
bool takeSwitch(const std::string& arg, Invocation& inv, GivenOptions& given) {
    if (arg == "--help" || arg == "-h") {
        inv.help = true;
    } else if (arg == "--version") {
        inv.version = true;
    } else if (arg == "--records") {
        inv.records = true;
    } else if (arg == "--quiet" || arg == "-q") {
        inv.quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
        inv.verbose = true;
    } else if (arg == "--json") {
        inv.json = true;
        given.json = true;
    } else if (arg == "--restart") {
        inv.restart = true;
        given.restart = true;
    } else if (arg == "--require") {
        inv.require = true;
        if (given.search.empty()) given.search = "--require";
    } else {
        return false;
    }
    return true;
}

// An option with a value, "--x VALUE" or "--x=VALUE", at args[i] (i then moves past the value):
// nothing when args[i] is none, else an error text (empty when the option is good).
std::optional<std::string> takeValuedOption(const std::vector<std::string>& args, std::size_t& i, Invocation& inv,
                                            GivenOptions& given) {
    const std::string& arg = args[i];
    auto value = [&](const char* option) -> std::optional<std::string> {
        const std::string withEquals = std::string(option) + "=";
        if (startsWith(arg, withEquals)) return arg.substr(withEquals.size());
        if (arg == option && i + 1 < args.size()) return args[++i];
        return std::nullopt;
    };
    if (startsWith(arg, "--log")) {
        const auto file = value("--log");
        if (!file || file->empty()) return "--log needs a FILE";
        inv.logFile = *file;
    } else if (startsWith(arg, "--port")) {
        const auto text = value("--port");
        const auto port = text ? decimal(*text, 5) : std::nullopt;
        if (!port || *port == 0 || *port > 65535) return "--port needs a UDP port 1..65535";
        inv.searchPort = static_cast<std::uint16_t>(*port);
        if (given.search.empty()) given.search = "--port";
    } else if (startsWith(arg, "--timeout")) {
        const auto text = value("--timeout");
        const auto ms = text ? decimal(*text, 7) : std::nullopt;
        // Its range depends on the command, which may come later on the line.
        given.timeout = true;
        given.timeoutMs = ms && *ms != 0 ? ms : std::optional<unsigned long>(0);
    } else {
        return std::nullopt;
    }
    return std::string();
}

// Takes the options out of args; the rest, in order, into words. An empty text when all is well.
std::string readOptions(const std::vector<std::string>& args, Invocation& inv, std::vector<std::string>& words,
                        GivenOptions& given) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (takeSwitch(arg, inv, given)) {
        } else if (const auto error = takeValuedOption(args, i, inv, given)) {
            if (!error->empty()) return *error;
        } else {
            return "unknown option " + arg;
        }
    }
    return {};
}

// The options given that only some commands take must belong to the command: an error text, or
// empty (and --timeout's value goes where the command wants it).
std::string applyCommandOptions(const CommandSpec& spec, const GivenOptions& given, Invocation& inv) {
    if (!given.search.empty() && (spec.takes & kTakesSearch) == 0) return given.search + " belongs to the command list";
    if (given.timeout) {
        if ((spec.takes & kTakesTimeout) == 0) return std::string("--timeout does not apply to the command ") + spec.word;
        const unsigned long most = spec.command == Command::List     ? kMaxSearchTimeoutMs
                                   : spec.command == Command::Update ? kMaxUpdateTimeoutMs
                                                                     : kMaxDeviceTimeoutMs;
        if (*given.timeoutMs == 0 || *given.timeoutMs > most) return "--timeout needs a wait in ms 1.." + std::to_string(most);
        const auto ms = static_cast<std::uint32_t>(*given.timeoutMs);
        if (spec.command == Command::List) {
            inv.searchTimeoutMs = ms;
        } else if (spec.command == Command::Update) {
            inv.updateTimeoutMs = ms;
            inv.deviceTimeoutMs = std::min(ms, kDefaultDeviceTimeoutMs);
        } else {
            inv.deviceTimeoutMs = ms;
        }
    }
    if (given.restart && (spec.takes & kTakesRestart) == 0)
        return std::string("--restart does not apply to the command ") + spec.word;
    if (given.json && (spec.takes & kTakesJson) == 0) return std::string("--json does not apply to the command ") + spec.word;
    return {};
}

// The command's arguments (words after the command's own) into inv: an error text, or empty.
std::string takeArguments(const std::vector<std::string>& words, Invocation& inv) {
    const std::size_t count = words.size() - 1;
    if (count >= 1) inv.path = words[1];
    if (inv.command == Command::Write || inv.command == Command::Update) inv.file = words[2];
    if (inv.command == Command::Update && inv.file == "-") return "update: FILE must name a file (the library opens it itself)";
    if (inv.command == Command::Config && count == 2) {
        const std::size_t eq = words[2].find('=');
        if (eq == std::string::npos || eq == 0) return "config: write the setting as NAME=VALUE";
        inv.assign = true;
        inv.name = words[2].substr(0, eq);
        inv.value = words[2].substr(eq + 1);
    }
    if (inv.command == Command::Send) inv.name = words[2];
    return {};
}

// The texts that go to the library must name what they say: an error text, or empty.
std::string checkTexts(const Invocation& inv) {
    // The library takes these as UTF-16: a text that is not well-formed UTF-8 would name something
    // else. (FILE of write is opened by the tool itself, byte for byte.)
    const std::pair<const std::string*, const char*> named[] = {
        {&inv.path, "PATH"}, {&inv.name, "NAME"}, {&inv.value, "VALUE"}, {&inv.logFile, "--log FILE"}};
    for (const auto& [text, what] : named)
        if (!utf::isWellFormed(*text)) return std::string(what) + " is not valid UTF-8";
    // The firmware file goes to the library by name as well.
    if (inv.command == Command::Update && !utf::isWellFormed(inv.file)) return "FILE is not valid UTF-8";
    if (!inv.path.empty())
        if (const auto mistake = networkPathMistake(inv.path)) return *mistake;
    return {};
}

// send: the data bytes after PATH and NAME: an error text, or empty.
std::string takeCommandData(const std::vector<std::string>& words, Invocation& inv) {
    if (inv.command != Command::Send) return {};
    const auto data = parseHex(std::vector<std::string>(words.begin() + 3, words.end()));
    if (!data) return "bad hex data (write bytes as pairs of digits: 01 02 ff or 0102ff)";
    if (inv.name != kRawCommand && data->size() > kMaxCommandData) return "a command takes at most 255 data bytes";
    inv.data = *data;
    return {};
}

// Four decimal fields of 0..255 joined by dots, nothing else.
bool isDottedQuad(std::string_view address) {
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? address.find('.') : address.size();
        if (dot == std::string_view::npos) return false;
        const auto byte = decimal(address.substr(0, dot), 3);
        if (!byte || *byte > 255) return false;
        address.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return true;
}

}  // namespace

const char* usageText() { return kUsage; }

ParseResult parseCommandLine(const std::vector<std::string>& args) {
    ParseResult r;
    Invocation& inv = r.invocation;
    std::vector<std::string> words;
    GivenOptions given;
    r.error = readOptions(args, inv, words, given);
    if (inv.help || inv.version) {
        r.error.clear();
        return r;
    }
    if (!r.error.empty()) return r;
    if (words.empty()) {
        r.error = "no command given";
        return r;
    }
    const CommandSpec* spec = commandNamed(words[0]);
    if (spec == nullptr) {
        r.error = "unknown command " + words[0];
        return r;
    }
    inv.command = spec->command;
    const std::size_t count = words.size() - 1;
    if (count < spec->least || count > spec->most) {
        r.error = std::string("usage: tavrin ") + spec->form;
        return r;
    }
    // The first error of the steps is the one told.
    r.error = applyCommandOptions(*spec, given, inv);
    if (r.error.empty()) r.error = takeArguments(words, inv);
    if (r.error.empty()) r.error = checkTexts(inv);
    if (r.error.empty()) r.error = takeCommandData(words, inv);
    return r;
}

std::optional<Bytes> parseHex(const std::vector<std::string>& words) {
    Bytes out;
    for (const std::string& word : words) {
        std::size_t at = 0;
        bool any = false;
        while (at < word.size()) {
            if (isBlank(word[at])) {
                ++at;
                continue;
            }
            std::size_t end = at;
            while (end < word.size() && !isBlank(word[end])) ++end;
            if (!appendHexToken(std::string_view(word).substr(at, end - at), out)) return std::nullopt;
            any = true;
            at = end;
        }
        if (!any) return std::nullopt;  // an empty word is a mistake, not "no data"
    }
    return out;
}

bool isHidPath(std::string_view path) {
    constexpr std::string_view hid = "{4d1e55b2-f16f-11cf-88cb-001111000030}";
    if (path.size() < hid.size()) return false;
    const std::string_view end = path.substr(path.size() - hid.size());
    for (std::size_t i = 0; i < hid.size(); ++i) {
        char c = end[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != hid[i]) return false;
    }
    return true;
}

bool isNetworkPath(std::string_view path) {
    const std::size_t colon = path.find(':');
    if (colon == std::string_view::npos) return false;
    const auto port = decimal(path.substr(colon + 1), 5);
    if (!port || *port == 0 || *port > 65535) return false;
    return isDottedQuad(path.substr(0, colon));
}

bool isDescriptionFile(std::string_view path) {
    if (path.size() < 4) return false;
    std::string tail(path.substr(path.size() - 4));
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".xml";
}

std::string itemNameOf(std::string_view line) {
    const std::size_t eq = line.find('=');
    const std::size_t comma = line.find(',');
    if (eq == std::string_view::npos) return std::string(line.substr(0, comma));
    if (comma == std::string_view::npos || comma < eq) return std::string(line.substr(eq + 1));
    return std::string(line.substr(eq + 1, comma - eq - 1));
}

std::string hexText(const Bytes& bytes, std::size_t perLine) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) out += (perLine != 0 && i % perLine == 0) ? '\n' : ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

std::optional<std::string> printableText(const Bytes& bytes) {
    const Bytes b = withoutTrailingZeros(bytes);
    if (b.empty()) return std::nullopt;
    for (std::uint8_t c : b)
        if (!printable(c)) return std::nullopt;
    return std::string(b.begin(), b.end());
}

std::string displayText(const Bytes& bytes) {
    std::string out;
    for (std::uint8_t c : withoutTrailingZeros(bytes)) {
        if (printable(c) && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        }
    }
    return out;
}

std::string progressText(std::uint64_t done, std::uint64_t total) {
    const unsigned percent = total == 0 ? 100u : static_cast<unsigned>(done * 100 / total);
    return std::to_string(percent) + "% (" + std::to_string(done) + " of " + std::to_string(total) + " bytes)";
}

std::string progressBar(unsigned percent, std::size_t width) {
    percent = std::min(percent, 100u);
    const std::size_t marks = width * percent / 100;
    char number[8];
    std::snprintf(number, sizeof number, "%3u%%", percent);
    return "[" + std::string(marks, '#') + std::string(width - marks, '-') + "] " + number;
}

std::optional<std::string> firmwareFileMistake(const Bytes& head, std::uint64_t size) {
    constexpr std::uint64_t kHeader = 128;
    if (size < kHeader || head.size() < 8)
        return "it is shorter than a firmware header (" + std::to_string(size) + " of 128 bytes)";
    if (head[0] != 'u' || head[1] != 'd' || head[2] != 'f' || head[3] != '1')
        return std::string("it is no firmware file (it does not begin with \"udf1\")");
    const unsigned h = head[4];
    if (h < 8) return "its header length " + std::to_string(h) + " is below 8";
    if (h > size) return "its header length " + std::to_string(h) + " is beyond its " + std::to_string(size) + " bytes";
    return std::nullopt;
}

namespace {

// The length of the time stamp "hh-mm-ss+mmmm : " at text[at], or 0 when there is none.
std::size_t stampAt(std::string_view text, std::size_t at) {
    constexpr std::string_view shape = "00-00-00+0000 : ";
    if (text.size() - at < shape.size() || at > text.size()) return 0;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = text[at + i];
        if (shape[i] == '0' ? (c < '0' || c > '9') : c != shape[i]) return 0;
    }
    return shape.size();
}

}  // namespace

std::string withoutTimeStamp(std::string_view line) { return std::string(line.substr(stampAt(line, 0))); }

std::vector<std::string> RecordLines::add(std::string_view utf8) {
    pending_.append(utf8);
    return take(false);
}

std::vector<std::string> RecordLines::finish() { return take(true); }

std::vector<std::string> RecordLines::take(bool all) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    auto emit = [&](std::size_t end) {
        std::string line = pending_.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        line = withoutTimeStamp(line);
        if (!line.empty()) lines.push_back(line);
    };
    for (std::size_t at = 0; at < pending_.size(); ++at) {
        if (pending_[at] == '\n') {
            emit(at);
            start = at + 1;
        } else if (at > start && stampAt(pending_, at) != 0) {
            emit(at);  // a record without its line end, and the next one after it
            start = at;
        }
    }
    if (all && start < pending_.size()) {
        emit(pending_.size());
        start = pending_.size();
    }
    pending_.erase(0, start);
    return lines;
}

UpdateLine classifyUpdateLine(std::string_view line) {
    // The texts of the update thread's last lines (after "PHDL(n)#").
    static const char* const kFailures[] = {
        "#\xE5\x90\xAF \xE5\x8A\xA8 \xE8\xAE\xBE \xE5\xA4\x87 \xE5\xA4\xB1 \xE8\xB4\xA5(",  // 启 动 设 备 失 败(
        "#\xE5\x90\x8C \xE6\xAD\xA5 \xE8\xAE\xBE \xE5\xA4\x87 \xE5\xA4\xB1 \xE8\xB4\xA5(",  // 同 步 设 备 失 败(
        "#\xE5\x8F\x91 \xE9\x80\x81 \xE6\x95\xB0 \xE6\x8D\xAE \xE5\xA4\xB1 \xE8\xB4\xA5(",  // 发 送 数 据 失 败(
        "#\xE8\xAE\xBE \xE5\xA4\x87 \xE6\x9B\xB4 \xE6\x96\xB0 \xE5\xA4\xB1 \xE8\xB4\xA5(",  // 设 备 更 新 失 败(
        "#\xE6\x9B\xB4 \xE6\x96\xB0 \xE6\x93\x8D \xE4\xBD\x9C \xE8\xA2\xAB \xE5\x8F\x96 \xE6\xB6\x88",  // 更 新 操 作 被 取 消
    };
    constexpr std::string_view kDone = "#\xE6\x9B\xB4 \xE6\x96\xB0 \xE5\xAE\x8C \xE6\x88\x90 OK...";  // 更 新 完 成 OK...
    constexpr std::string_view kRestart = "#\xE8\xAE\xBE \xE5\xA4\x87 \xE9\x87\x8D \xE6\x96\xB0 \xE5\x90\xAF \xE5\x8A\xA8(";  // 设 备 重 新 启 动(
    if (line.rfind("PHDL(", 0) != 0) return UpdateLine::Step;
    if (line.find(kDone) != std::string_view::npos) return UpdateLine::Done;
    if (line.find(kRestart) != std::string_view::npos) return UpdateLine::Restarted;
    for (const char* failure : kFailures)
        if (line.find(failure) != std::string_view::npos) return UpdateLine::Failed;
    return UpdateLine::Step;
}

std::u16string fromUtf8(std::string_view text) { return utf::utf8ToUtf16Lossy(text); }

std::string toUtf8(std::u16string_view text) { return utf::utf16ToUtf8Lossy(text); }

std::vector<std::u16string> splitPathList(const char16_t* list, std::size_t count) {
    std::vector<std::u16string> paths;
    std::size_t at = 0;
    while (list != nullptr && at < count && list[at] != 0) {
        std::size_t end = at;
        while (end < count && list[end] != 0) ++end;
        paths.emplace_back(list + at, end - at);
        at = end + 1;
    }
    return paths;
}

}  // namespace tavrin::cli

namespace tavrin::cli {
namespace {

bool allOf(std::string_view text, bool (*test)(char)) {
    for (char c : text)
        if (!test(c)) return false;
    return !text.empty();
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isDigitOrDot(char c) { return isDigit(c) || c == '.'; }
bool isHostChar(char c) {
    return isDigitOrDot(c) || c == '-' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The numbers in "... error = N" of the library's connection lines, Windows and POSIX codes.
struct ErrorMeaning {
    long code;
    const char* words;
};
const ErrorMeaning kConnectionErrors[] = {
    {10061, "connection refused"},        {111, "connection refused"},
    {10060, "connection timed out"},      {110, "connection timed out"},
    {10065, "no route to host"},          {113, "no route to host"},
    {10051, "network unreachable"},       {101, "network unreachable"},
    {10054, "connection reset by the device"}, {104, "connection reset by the device"},
    {10049, "address not available"},     {99, "address not available"},
};

std::optional<long> errorNumber(std::string_view line) {
    const std::string_view key = "error = ";
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(at + key.size());
    std::size_t n = 0;
    while (n < rest.size() && isDigit(rest[n])) ++n;
    const auto value = decimal(rest.substr(0, n), 9);
    if (!value) return std::nullopt;
    return static_cast<long>(*value);
}

// Lines that explain a failure, most telling first: a rule's line found anywhere among the lines
// beats the lines of every later rule (the refused connection explains the failed writes that
// follow it). Texts without ideographs are matched wherever the log is; the others where the log
// is UTF-8 (POSIX), since elsewhere it is in the system's ANSI code page.
struct LineRule {
    const char* contains;
    const char* words;
    const char* alsoContains = nullptr;
};
const LineRule kLineRules[] = {
    {"syncIOAccess write timeout", "the device took no data within the write time-out"},
    {"\xE8\xAF\xBB \xE6\x95\xB0 \xE6\x8D\xAE \xE5\xA4\xB1 \xE8\xB4\xA5", "no answer from the device"},  // read failed
    {"\xE5\x86\x99 \xE6\x95\xB0 \xE6\x8D\xAE \xE5\xA4\xB1 \xE8\xB4\xA5", "the device took no command"},  // write failed
    {"\xE6\x95\xB0 \xE6\x8D\xAE \xE7\xBC\x93 \xE5\x86\xB2 \xE5\xA4\xAA \xE5\xB0\x8F", "the answer was too long for the tool"},
    {"\xE6\x97\xA0 \xE6\x95\x88 \xE7\x9A\x84 \xE5\x91\xBD \xE4\xBB\xA4 \xE7\xA0\x81", "the library does not know the command name"},
    {"\xE6\x89\x93 \xE5\xBC\x80", "the device could not be opened", "\xE5\xA4\xB1 \xE8\xB4\xA5"},  // open ... failed
};

}  // namespace

std::optional<std::string> networkPathMistake(std::string_view path) {
    if (isNetworkPath(path)) return std::nullopt;
    const std::size_t colon = path.find(':');
    if (colon == std::string_view::npos) {
        if (isDottedQuad(path))
            return "network PATH " + std::string(path) + " has no port: write it a.b.c.d:PORT";
        return std::nullopt;
    }
    const std::string_view host = path.substr(0, colon), port = path.substr(colon + 1);
    if (!allOf(host, isHostChar) || (!port.empty() && !allOf(port, isDigit))) return std::nullopt;
    if (isDottedQuad(host)) return "the port of network PATH " + std::string(path) + " must be 1..65535";
    if (allOf(host, isDigitOrDot)) return "network PATH " + std::string(path) + " has no valid IPv4 address";
    if (port.empty()) return std::nullopt;  // "COM3:" and the like are not meant as network paths
    return "network PATH " + std::string(path) +
           " names a host: host names are not looked up, give the device's IPv4 address (a.b.c.d:PORT)";
}

std::optional<LogCause> decisiveCause(const std::vector<std::string>& lines) {
    std::optional<LogCause> connection;
    for (const std::string& line : lines) {
        const auto number = errorNumber(line);
        if (!number || *number == 0) continue;
        for (const ErrorMeaning& m : kConnectionErrors)
            if (m.code == *number) connection = LogCause{m.words, line};
    }
    if (connection) return connection;
    for (const LineRule& rule : kLineRules) {
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (it->find(rule.contains) != std::string::npos &&
                (rule.alsoContains == nullptr || it->find(rule.alsoContains) != std::string::npos))
                return LogCause{rule.words, *it};
    }
    return std::nullopt;
}

std::vector<std::string> causeTexts() {
    std::vector<std::string> texts;
    for (const LineRule& rule : kLineRules) {
        bool ascii = true;
        for (unsigned char c : std::string_view(rule.contains)) ascii = ascii && c < 0x80;
        if (ascii) continue;
        texts.push_back(rule.contains);
        if (rule.alsoContains != nullptr) texts.push_back(rule.alsoContains);
    }
    texts.push_back("\xE6\x8E\xA7 \xE5\x88\xB6 \xE5\x8F\xA3");  // control port
    return texts;
}

std::vector<std::string> statusWords(std::uint8_t status) {
    static const char* const kBits[8] = {"paper out", "paper near end", "cover open", "cutter jammed",
                                         "print head overheated", "offline", nullptr, nullptr};
    std::vector<std::string> words;
    if (status == 0) return {"ready"};
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((status & (1u << bit)) == 0) continue;
        if (kBits[bit] != nullptr) {
            words.push_back(kBits[bit]);
        } else {
            char raw[16];
            std::snprintf(raw, sizeof raw, "bit 0x%02X", 1u << bit);
            words.push_back(raw);
        }
    }
    return words;
}

std::string deliveredText(std::uint64_t done, std::uint64_t total) {
    return "delivered " + std::to_string(done) + " of " + std::to_string(total) + " bytes";
}

Json Json::text(std::string_view utf8) {
    Json j(Kind::Scalar);
    j.scalar_ = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"': j.scalar_ += "\\\""; break;
        case '\\': j.scalar_ += "\\\\"; break;
        case '\n': j.scalar_ += "\\n"; break;
        case '\r': j.scalar_ += "\\r"; break;
        case '\t': j.scalar_ += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04X", c);
                j.scalar_ += escape;
            } else {
                j.scalar_ += static_cast<char>(c);
            }
        }
    }
    j.scalar_ += "\"";
    return j;
}

Json Json::number(long long value) {
    Json j(Kind::Scalar);
    j.scalar_ = std::to_string(value);
    return j;
}

Json Json::boolean(bool value) {
    Json j(Kind::Scalar);
    j.scalar_ = value ? "true" : "false";
    return j;
}

Json& Json::set(const std::string& key, Json value) {
    for (auto& member : members_) {
        if (member.first == key) {
            member.second = std::move(value);
            return *this;
        }
    }
    members_.emplace_back(key, std::move(value));
    return *this;
}

Json& Json::add(Json value) {
    members_.emplace_back(std::string(), std::move(value));
    return *this;
}

std::string Json::dump() const {
    switch (kind_) {
    case Kind::Null: return "null";
    case Kind::Scalar: return scalar_;
    case Kind::Object:
    case Kind::Array: break;
    }
    const bool object = kind_ == Kind::Object;
    std::string out = object ? "{" : "[";
    for (std::size_t i = 0; i < members_.size(); ++i) {
        if (i != 0) out += ",";
        if (object) out += Json::text(members_[i].first).dump() + ":";
        out += members_[i].second.dump();
    }
    return out + (object ? "}" : "]");
}

}  // namespace tavrin::cli
