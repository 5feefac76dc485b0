#include "sim/options.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

namespace tavrin::sim {

namespace {

bool parseNumber(const std::string& text, unsigned long max, unsigned long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (end == nullptr || *end != 0 || text[0] == '-' || v > max) return false;
    out = v;
    return true;
}

bool parseHex(const std::string& text, Bytes& out) {
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':') digits += c;
    if (digits.empty() || digits.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        unsigned long v = 0;
        if (!parseNumber("0x" + digits.substr(i, 2), 0xFF, v)) return false;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

// CODE=status:N | CODE=text:TEXT | CODE=hex:BYTES
bool parseAnswer(const std::string& text, DeviceConfig& device) {
    const auto eq = text.find('=');
    const auto colon = text.find(':', eq == std::string::npos ? 0 : eq);
    unsigned long code = 0;
    if (eq == std::string::npos || colon == std::string::npos || !parseNumber(text.substr(0, eq), 0xFF, code))
        return false;
    const std::string kind = text.substr(eq + 1, colon - eq - 1);
    const std::string value = text.substr(colon + 1);
    Answer answer;
    unsigned long status = 0;
    if (kind == "status" && parseNumber(value, 0xFF, status)) {
        answer.status = static_cast<std::uint8_t>(status);
    } else if (kind == "text" && !value.empty() && value.size() <= kMaxPayload) {
        answer.payload.assign(value.begin(), value.end());
    } else if (kind == "hex" && parseHex(value, answer.payload) && answer.payload.size() <= kMaxPayload) {
    } else {
        return false;
    }
    device.answers[static_cast<std::uint8_t>(code)] = answer;
    return true;
}

// CODE:MS
bool parseLate(const std::string& text, DeviceConfig& device) {
    const auto colon = text.find(':');
    unsigned long code = 0, ms = 0;
    if (colon == std::string::npos || !parseNumber(text.substr(0, colon), 0xFF, code) ||
        !parseNumber(text.substr(colon + 1), 600000, ms) || ms == 0)
        return false;
    device.faults.setLate(static_cast<std::uint8_t>(code), static_cast<std::uint32_t>(ms));
    return true;
}

// no-answer[:N] | vanish[:N] | busy-forever: a fault of the firmware update (N: the piece, 0-based,
// that goes unanswered / the pieces taken before the device vanishes; default 1).
bool parseFirmwareFault(const std::string& text, DeviceConfig& device) {
    const std::size_t colon = text.find(':');
    const std::string kind = text.substr(0, colon);
    unsigned long piece = 1;
    if (colon != std::string::npos && !parseNumber(text.substr(colon + 1), 0x7FFFFFFF, piece)) return false;
    FirmwareConfig& fw = device.firmware;
    if (kind == "no-answer") {
        fw.silentPiece = static_cast<std::int32_t>(piece);
    } else if (kind == "vanish") {
        fw.vanishAfter = static_cast<std::int32_t>(piece);
    } else if (kind == "busy-forever" && colon == std::string::npos) {
        fw.busyForever = true;
    } else {
        return false;
    }
    return true;
}

// "a.b.c.d" or "a.b.c.d:port"
bool parseEndpoint(const std::string& text, platform::Ipv4Endpoint& out) {
    const std::size_t colon = text.find(':');
    std::string host = text.substr(0, colon);
    unsigned long port = 0;
    if (colon != std::string::npos && !parseNumber(text.substr(colon + 1), 65535, port)) return false;
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = host.find('.');
        if ((i < 3) == (dot == std::string::npos)) return false;
        unsigned long v = 0;
        if (!parseNumber(host.substr(0, dot), 255, v)) return false;
        out.address[i] = static_cast<std::uint8_t>(v);
        host = dot == std::string::npos ? std::string() : host.substr(dot + 1);
    }
    out.port = static_cast<std::uint16_t>(port);
    return true;
}

// The description document a device hands out: the file's bytes as they are.
bool readDescriptionFile(const std::string& path, DeviceConfig& device) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.size() > 0xFFFF) return false;
    device.configSide.description = std::move(bytes);
    device.configSide.enabled = true;
    return true;
}

// The command line as it is read: the defaults of every device, the devices so far, and the one
// that device options configure now (the defaults until the first --device).
struct Reader {
    Options options;
    DeviceConfig defaults;
    DeviceTransport defaultTransport;
    std::vector<DeviceConfig> devices;
    std::vector<DeviceTransport> transports;

    DeviceConfig& device() { return devices.empty() ? defaults : devices.back(); }
    DeviceTransport& transport() { return transports.empty() ? defaultTransport : transports.back(); }
    // --device: the next device, starting from the defaults.
    void startDevice() {
        devices.push_back(defaults);
        transports.push_back(defaultTransport);
    }
    // The options read; without --device, one device of the defaults.
    Options finish() {
        if (devices.empty()) startDevice();
        options.devices = std::move(devices);
        options.transports = std::move(transports);
        return std::move(options);
    }
};

using Setter = std::function<bool(const std::string&, DeviceConfig&)>;

Setter number(unsigned long max, std::function<void(DeviceConfig&, unsigned long)> assign) {
    return [max, assign](const std::string& v, DeviceConfig& d) {
        unsigned long n = 0;
        if (!parseNumber(v, max, n)) return false;
        assign(d, n);
        return true;
    };
}

Setter text(std::string DeviceConfig::*field) {
    return [field](const std::string& v, DeviceConfig& d) {
        if (v.size() > kMaxPayload) return false;
        d.*field = v;
        return true;
    };
}

// The options with a value that configure a device: its answers, faults, configuration side and
// firmware side.
const std::map<std::string, Setter>& deviceOptions() {
    static const std::map<std::string, Setter> options = {
        {"--model", text(&DeviceConfig::model)},
        {"--devno", text(&DeviceConfig::deviceNumber)},
        {"--protver", text(&DeviceConfig::protocolVersion)},
        {"--fwver", text(&DeviceConfig::firmwareVersion)},
        {"--connect-status", number(0xFF, [](DeviceConfig& d, unsigned long n) { d.connectStatus = static_cast<std::uint8_t>(n); })},
        {"--answer", [](const std::string& v, DeviceConfig& d) { return parseAnswer(v, d); }},
        {"--noise", number(0xFFFF, [](DeviceConfig& d, unsigned long n) { d.faults.noise = static_cast<std::uint16_t>(n); })},
        {"--redundant", number(0xFFFF, [](DeviceConfig& d, unsigned long n) { d.faults.redundant = static_cast<std::uint16_t>(n); })},
        {"--delay", number(600000, [](DeviceConfig& d, unsigned long n) { d.faults.delayMs = static_cast<std::uint32_t>(n); })},
        {"--long-reply", number(kMaxPayload, [](DeviceConfig& d, unsigned long n) { d.faults.longReply = static_cast<std::uint16_t>(n); })},
        {"--pause", number(600000, [](DeviceConfig& d, unsigned long n) { d.faults.pauseMs = static_cast<std::uint32_t>(n); })},
        {"--config-xml", [](const std::string& v, DeviceConfig& d) { return readDescriptionFile(v, d); }},
        {"--config-packet", [](const std::string& v, DeviceConfig& d) {
             d.configSide.enabled = true;
             return parseHex(v, d.configSide.packet) && d.configSide.packet.size() <= 4096;
         }},
        {"--config-piece", [](const std::string& v, DeviceConfig& d) {
             unsigned long n = 0;
             if (!parseNumber(v, kMaxPayload, n) || n == 0) return false;
             d.configSide.piece = static_cast<std::uint16_t>(n);
             return true;
         }},
        {"--config-take", number(0xFFFF, [](DeviceConfig& d, unsigned long n) { d.configSide.takeAtMost = static_cast<std::uint16_t>(n); })},
        {"--config-refuse", number(0xFFFF, [](DeviceConfig& d, unsigned long n) { d.configSide.refuseChunk = static_cast<std::uint16_t>(n); })},
        {"--split-at", number(kHeader + kMaxPayload - 1, [](DeviceConfig& d, unsigned long n) { d.faults.splitAt = static_cast<std::uint16_t>(n); })},
        {"--late", [](const std::string& v, DeviceConfig& d) { return parseLate(v, d); }},
        {"--data-rate", number(1000000000, [](DeviceConfig& d, unsigned long n) { d.dataRate = static_cast<std::uint32_t>(n); })},
        {"--noise-for", number(600000, [](DeviceConfig& d, unsigned long n) { d.faults.noiseForMs = static_cast<std::uint32_t>(n); })},
        {"--restart-wait", number(0xFFFF, [](DeviceConfig& d, unsigned long n) { d.firmware.restartWait = static_cast<std::uint16_t>(n); })},
        {"--restart-away", number(600000, [](DeviceConfig& d, unsigned long n) { d.firmware.awayMs = static_cast<std::uint32_t>(n); })},
        {"--work-mode-status", number(0xFF, [](DeviceConfig& d, unsigned long n) { d.firmware.workModeStatus = static_cast<std::uint8_t>(n); })},
        {"--fw-busy", number(0xFFFF, [](DeviceConfig& d, unsigned long n) { d.firmware.busyAnswers = static_cast<std::uint16_t>(n); })},
        {"--fw-busy-wait", number(0xFFFF, [](DeviceConfig& d, unsigned long n) { d.firmware.busyWait = static_cast<std::uint16_t>(n); })},
        {"--fw-piece-delay", number(600000, [](DeviceConfig& d, unsigned long n) { d.firmware.pieceDelayMs = static_cast<std::uint32_t>(n); })},
        {"--fw-fault", [](const std::string& v, DeviceConfig& d) { return parseFirmwareFault(v, d); }},
        {"--save-firmware", [](const std::string& v, DeviceConfig& d) {
             if (v.empty()) return false;
             d.firmware.saveImageTo = v;
             return true;
         }},
    };
    return options;
}

// The switches without a value that configure a device.
const std::map<std::string, std::function<void(DeviceConfig&)>>& deviceSwitches() {
    static const std::map<std::string, std::function<void(DeviceConfig&)>> switches = {
        {"--split", [](DeviceConfig& d) { d.faults.split = true; }},
        {"--bad-checksum", [](DeviceConfig& d) { d.faults.badChecksum = true; }},
        {"--no-reply", [](DeviceConfig& d) { d.faults.noReply = true; }},
        {"--config-count", [](DeviceConfig& d) { d.configSide.countAnswer = true; }},
        {"--config-short", [](DeviceConfig& d) { d.configSide.shortDocument = true; }},
        {"--config-bad-crc", [](DeviceConfig& d) { d.configSide.badCrc = true; }},
        {"--data-close", [](DeviceConfig& d) { d.dataClose = true; }},
        {"--together", [](DeviceConfig& d) { d.faults.together = true; }},
        {"--boot-mode", [](DeviceConfig& d) { d.firmware.inBootMode = true; }},
    };
    return switches;
}

// The network options (each with a value): of the device's transport (--net, --refuse), of the
// search (--discovery, --reply-to, --bad-reply) and of the device on the network (--close-after,
// --data-answer).
using NetworkSetter = std::function<bool(const std::string&, Reader&)>;
const std::map<std::string, NetworkSetter>& networkOptions() {
    static const std::map<std::string, NetworkSetter> options = {
        {"--net", [](const std::string& v, Reader& r) {
             platform::Ipv4Endpoint e;
             const bool ok = parseEndpoint(v, e);
             r.transport().network = true;
             r.transport().at = e;
             return ok;
         }},
        {"--refuse", [](const std::string& v, Reader& r) {
             unsigned long n = 0;
             const bool ok = parseNumber(v, 600000, n);
             r.transport().refuseMs = static_cast<std::uint32_t>(n);
             return ok;
         }},
        {"--discovery", [](const std::string& v, Reader& r) {
             platform::Ipv4Endpoint e;
             const bool ok = parseEndpoint(v, e) && e.port != 0;
             r.options.discovery = e;
             return ok;
         }},
        {"--reply-to", [](const std::string& v, Reader& r) {
             platform::Ipv4Endpoint e;
             const bool ok = parseEndpoint(v, e) && e.port != 0;
             r.options.replyTo = e;
             return ok;
         }},
        {"--bad-reply", [](const std::string& v, Reader& r) {
             DiscoveryFaults& f = r.options.discoveryFaults;
             if (v == "checksum") f.badChecksum = true;
             else if (v == "kind") f.badKind = true;
             else if (v == "signature") f.badSignature = true;
             else if (v == "short") f.tooShort = true;
             else return false;
             return true;
         }},
        {"--close-after", [](const std::string& v, Reader& r) {
             unsigned long n = 0;
             const bool ok = parseNumber(v, 0xFFFF, n);
             r.device().faults.closeAfter = static_cast<std::uint16_t>(n);
             return ok;
         }},
        {"--data-answer", [](const std::string& v, Reader& r) { return parseHex(v, r.device().dataAnswer); }},
    };
    return options;
}

// The options of the program itself: true when arg is one (then error may be set).
bool takeProgramOption(const std::vector<std::string>& args, std::size_t& i, Reader& r) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
        r.options.help = true;
    } else if (arg == "--until-killed") {
        r.options.untilKilled = true;
    } else if (arg == "--save-data") {
        if (i + 1 >= args.size() || args[i + 1].empty()) r.options.error = arg + " needs a folder";
        else r.options.saveData = args[++i];
    } else {
        return false;
    }
    return true;
}

// One option at args[i] (i moves past its value): an error text, or empty.
std::string readOption(const std::vector<std::string>& args, std::size_t& i, Reader& r) {
    const std::string& arg = args[i];
    if (takeProgramOption(args, i, r)) return r.options.error;
    if (arg == "--device") {
        r.startDevice();
        return {};
    }
    const auto network = networkOptions().find(arg);
    const auto setter = deviceOptions().find(arg);
    if (network != networkOptions().end() || setter != deviceOptions().end()) {
        if (i + 1 >= args.size()) return arg + " needs a value";
        const std::string& v = args[++i];
        const bool ok = network != networkOptions().end() ? network->second(v, r) : setter->second(v, r.device());
        return ok ? std::string() : "bad value for " + arg + ": " + v;
    }
    if (const auto flag = deviceSwitches().find(arg); flag != deviceSwitches().end()) {
        flag->second(r.device());
        return {};
    }
    return "unknown option: " + arg;
}

}  // namespace

bool parseAnswerSpec(const std::string& text, DeviceConfig& device) { return parseAnswer(text, device); }

Options parseOptions(const std::vector<std::string>& args) {
    Reader reader;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string error = readOption(args, i, reader);
        if (!error.empty()) {
            reader.options.error = error;
            return reader.options;
        }
    }
    return reader.finish();
}

const char* usageText() {
    return R"(Usage: tavrin-sim [options] [--device [device options]]...

Plays one or more devices that answer the device library's command packets. Each device gets a
stand-in device (Linux: a pseudo-terminal; Windows: a named pipe); its path is printed as
"device <index> <path>", then "ready". Open that path with dllFunc_OpenDev as a USB printer
interface (port type 0x301). The simulator runs until standard input closes, until SIGINT or
SIGTERM (Ctrl+C), or until it is killed; then it prints what each device received.

Standard input is its control channel, one command a line (answered with "ok ..." or
"error: ..."): status DEV WORD...|N, answer DEV CODE=..., fault DEV NAME on|off|N,
silent DEV on|off, drop DEV, refuse DEV MS, rate DEV BYTES_PER_S, summary, help.

  --device               start the next device; the options after it configure that device,
                         those before the first --device are the defaults of all devices.
                         Without --device: one device.
  --until-killed         do not watch standard input; run until killed or stopped by a signal
  --save-data DIR        the raw data each device receives into DIR/device-<index>.prn,
                         written through as it arrives (stand-in devices: all bytes received)
  --help                 this text

Network:
  --net ADDR[:PORT]      serve the device over TCP on the loopback address ADDR: raw data at
                         PORT, command packets at PORT + 100 (no PORT: a free one); its path
                         "ADDR:PORT" is what the library opens (port type 0x401)
  --refuse MS            network: refuse connections for the first MS milliseconds
  --close-after N        network: drop the connection after every N commands
  --data-answer HEX      network: bytes sent back for each chunk of raw data
  --data-close           network: close the data connection after each such answer (the
                         answer goes first)
  --discovery ADDR:PORT  answer the library's search (UDP) at ADDR and PORT for every network
                         device; point the library's DiscoveryAddress setting at ADDR
  --reply-to ADDR:PORT   send the search replies there instead of to the searcher
  --bad-reply KIND       also send a bad reply: checksum, kind, signature or short (repeatable)

Device options:
  --model TEXT           answer of CTRL_CMDGET_MODEL (0x01)           default TV-P80
  --devno TEXT           answer of CTRL_CMDGET_DEVNO (0x02)           default TV0000000001
  --protver TEXT         answer of CTRL_CMDGET_PROTVER (0x03)         default 1.00
  --fwver TEXT           answer of CTRL_CMDGET_VERINFO (0x15)         default FW 1.0.0
  --connect-status N     acknowledge code of CTRL_CMD_CONNT (0x04)    default 0
  --data-rate N          a slow printer: it takes in N bytes of data per second (default: no limit)
  --answer CODE=status:N | CODE=text:TEXT | CODE=hex:BYTES
                         a fixed answer for a command code (repeatable), e.g. --answer 0x09=hex:0102
  Codes without an answer of their own get status 0 and no payload.

Faults (each per device; numbers may be given as 0x..):
  --noise N              N noise bytes (never 0x10) before each reply
  --split                each reply with payload in two writes: the header and half the payload,
                         a pause, then the rest
  --redundant N          N replies to another code (the code + 1) before each reply, a pause after
                         each
  --bad-checksum         each reply with payload first goes out with a broken checksum, followed
                         in the same write by the intact reply
  --no-reply             take requests and never answer
  --delay MS             wait MS milliseconds before each reply
  --long-reply N         every reply carries N payload bytes (1..255): its own, cut or filled up
                         with '.'
  --pause MS             the pause of --split, --split-at and --redundant  default 100
  --split-at N           each reply in two writes, cut after its first N bytes (2: inside the
                         header), a pause between
  --together             the replies of --redundant go out in the same write as the reply
  --late CODE:MS         the reply to CODE goes out MS milliseconds after its request, longer
                         than the library waits (repeatable); nothing is answered meanwhile
  --noise-for MS         instead of each reply: noise (never 0x10), a few bytes every 10 ms,
                         for MS milliseconds

Configuration (per device; either of the first two turns it on):
  --config-xml FILE      the description document the device hands out (0x1A), FILE's bytes as
                         they are: in the ANSI code page the library reads it in (UTF-8 on Linux)
  --config-packet HEX    the configuration packet the device stores (0x17; at most 4096 bytes);
                         a write (0x18, ended by FF FF) replaces it
  --config-piece N       bytes per answer of 0x1A and 0x17 (1..255)                default 200
  --config-count         answer each written chunk with the 2-byte count taken
  --config-take N        take at most N bytes of each chunk (and answer the count)
  --config-refuse N      refuse the N-th chunk of each write (acknowledge code 1)
  --config-short         the document header announces 16 bytes more than are served
  --config-bad-crc       the document header's check value is off by one

Firmware update (per device):
  --boot-mode            the device is in its boot mode already: 0x16 answers 02 00 00
  --restart-wait N       else 0x16 answers 01 and this wait (N x 25 ms) and the device restarts
                         into its boot mode                        default 4 (100 ms)
  --restart-away MS      network: while it restarts the device drops its connections and
                         refuses new ones for MS milliseconds      default 50
  --work-mode-status N   the status answered to the work-mode switch 0x14 (after
                         --connect-status 5)                         default 0
  --fw-busy N            0x62 (finish) is answered "busy" N times before the success
  --fw-busy-wait N       the wait each busy answer names (N x 25 ms)  default 4 (100 ms)
  --fw-piece-delay MS    each 0x61 piece of the image is answered after MS milliseconds
  --fw-fault no-answer[:N]|vanish[:N]|busy-forever
                         the piece N (0-based, default 1) goes unanswered; or after N pieces
                         (default 1) the device vanishes for good (network: drops and refuses
                         its connections); or 0x62 is answered "busy" every time
  --save-firmware FILE   the image the device received (what the 0x61 pieces carried) goes to
                         FILE each time the device reports success to 0x62
)";
}

}  // namespace tavrin::sim
