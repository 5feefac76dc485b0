#include "cli.h"

#include <cstdio>
#include <utility>

#include "platform/text_utf.h"

namespace tavrin::cli {
namespace {

const char kUsage[] =
    "usage: tavrin [OPTIONS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  list [--port N] [--timeout MS]\n"
    "                           search the network for devices (UDP port N, default 9000)\n"
    "                           and list their paths, then the USB printer interfaces; the\n"
    "                           search ends MS ms (1..10000) after the last answer\n"
    "  info PATH                print the device's model, device number and protocol version\n"
    "  send PATH NAME [HEX...]  send the command NAME with the data bytes HEX; print the\n"
    "                           acknowledge code and the answer in hex (and as text)\n"
    "  write PATH FILE          write FILE as raw data to the device's data port\n"
    "  commands                 list the command names and their codes\n"
    "  config PATH [NAME=VALUE] list the device's configuration items and their values,\n"
    "                           or set the item NAME to VALUE on the device; a PATH that\n"
    "                           ends in .xml is a description file: offline, the values\n"
    "                           come from and go to devCfg.dat in the user data folder\n"
    "\n"
    "Options:\n"
    "  --log FILE   write the library log to FILE during the run\n"
    "  --records    print the library's log records at the end\n"
    "  --help       show this text and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "PATH \"a.b.c.d:port\" is a network device: raw data on that TCP port, commands on\n"
    "port + 100. Any other PATH is a USB printer interface.\n"
    "HEX is bytes as pairs of hexadecimal digits: 01 02 ff, 0102ff or 0x01. A command\n"
    "takes at most 255 data bytes; TAVR_DUMP writes its data unframed and reads once.\n"
    "The search waits 2 seconds after the last answer (DiscoveryTimeout in DevDllCfg.ini,\n"
    "or --timeout) and goes to the address that the library's settings name\n"
    "(DiscoveryAddress in DevDllCfg.ini).\n"
    "A network device is given 3 seconds to take a command or data, since its\n"
    "connection is made in the background after the open.\n"
    "\n"
    "Exit codes: 0 success, 1 device or I/O failure, 2 usage error.\n";

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

std::optional<Command> commandNamed(std::string_view word) {
    if (word == "list") return Command::List;
    if (word == "info") return Command::Info;
    if (word == "send") return Command::Send;
    if (word == "write") return Command::Write;
    if (word == "commands") return Command::Commands;
    if (word == "config") return Command::Config;
    return std::nullopt;
}

// The arguments each command takes besides its name: at least, at most.
struct Arity {
    std::size_t least, most;
    const char* form;
};

Arity arityOf(Command c) {
    switch (c) {
    case Command::List: return {0, 0, "list [--port N]"};
    case Command::Info: return {1, 1, "info PATH"};
    case Command::Send: return {2, SIZE_MAX, "send PATH NAME [HEX...]"};
    case Command::Write: return {2, 2, "write PATH FILE"};
    case Command::Commands: return {0, 0, "commands"};
    case Command::Config: return {1, 2, "config PATH [NAME=VALUE]"};
    case Command::None: break;
    }
    return {0, 0, ""};
}

// Takes the options out of args; the rest, in order, into words. An empty text when all is well.
std::string readOptions(const std::vector<std::string>& args, Invocation& inv, std::vector<std::string>& words,
                        std::string& listOption) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        auto value = [&](const char* option) -> std::optional<std::string> {
            const std::string withEquals = std::string(option) + "=";
            if (startsWith(arg, withEquals)) return arg.substr(withEquals.size());
            if (arg == option && i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            inv.help = true;
        } else if (arg == "--version") {
            inv.version = true;
        } else if (arg == "--records") {
            inv.records = true;
        } else if (startsWith(arg, "--log")) {
            const auto file = value("--log");
            if (!file || file->empty()) return "--log needs a FILE";
            inv.logFile = *file;
        } else if (startsWith(arg, "--port")) {
            const auto text = value("--port");
            const auto port = text ? decimal(*text, 5) : std::nullopt;
            if (!port || *port == 0 || *port > 65535) return "--port needs a UDP port 1..65535";
            inv.searchPort = static_cast<std::uint16_t>(*port);
            if (listOption.empty()) listOption = "--port";
        } else if (startsWith(arg, "--timeout")) {
            const auto text = value("--timeout");
            const auto ms = text ? decimal(*text, 5) : std::nullopt;
            if (!ms || *ms == 0 || *ms > 10000) return "--timeout needs a wait in ms 1..10000";
            inv.searchTimeoutMs = static_cast<std::uint32_t>(*ms);
            if (listOption.empty()) listOption = "--timeout";
        } else {
            return "unknown option " + arg;
        }
    }
    return {};
}

}  // namespace

const char* usageText() { return kUsage; }

ParseResult parseCommandLine(const std::vector<std::string>& args) {
    ParseResult r;
    Invocation& inv = r.invocation;
    std::vector<std::string> words;
    std::string listOption;  // the first option given that only the command list takes
    r.error = readOptions(args, inv, words, listOption);
    if (inv.help || inv.version) {
        r.error.clear();
        return r;
    }
    if (!r.error.empty()) return r;
    if (words.empty()) {
        r.error = "no command given";
        return r;
    }
    const auto command = commandNamed(words[0]);
    if (!command) {
        r.error = "unknown command " + words[0];
        return r;
    }
    inv.command = *command;
    const Arity arity = arityOf(inv.command);
    const std::size_t given = words.size() - 1;
    if (given < arity.least || given > arity.most) {
        r.error = std::string("usage: tavrin ") + arity.form;
        return r;
    }
    if (!listOption.empty() && inv.command != Command::List) {
        r.error = listOption + " belongs to the command list";
        return r;
    }
    if (given >= 1) inv.path = words[1];
    if (inv.command == Command::Write) inv.file = words[2];
    if (inv.command == Command::Config && given == 2) {
        const std::size_t eq = words[2].find('=');
        if (eq == std::string::npos || eq == 0) {
            r.error = "config: write the setting as NAME=VALUE";
            return r;
        }
        inv.assign = true;
        inv.name = words[2].substr(0, eq);
        inv.value = words[2].substr(eq + 1);
    }
    if (inv.command == Command::Send) inv.name = words[2];
    // The library takes these as UTF-16: a text that is not well-formed UTF-8 would name something
    // else. (FILE of write is opened by the tool itself, byte for byte.)
    const std::pair<const std::string*, const char*> named[] = {
        {&inv.path, "PATH"}, {&inv.name, "NAME"}, {&inv.value, "VALUE"}, {&inv.logFile, "--log FILE"}};
    for (const auto& [text, what] : named) {
        if (!utf::isWellFormed(*text)) {
            r.error = std::string(what) + " is not valid UTF-8";
            return r;
        }
    }
    if (inv.command == Command::Send) {
        const auto data = parseHex(std::vector<std::string>(words.begin() + 3, words.end()));
        if (!data) {
            r.error = "bad hex data (write bytes as pairs of digits: 01 02 ff or 0102ff)";
            return r;
        }
        if (inv.name != kRawCommand && data->size() > kMaxCommandData) {
            r.error = "a command takes at most 255 data bytes";
            return r;
        }
        inv.data = *data;
    }
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
    std::string_view address = path.substr(0, colon);
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? address.find('.') : address.size();
        if (dot == std::string_view::npos) return false;
        const auto byte = decimal(address.substr(0, dot), 3);
        if (!byte || *byte > 255) return false;
        address.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return true;
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
