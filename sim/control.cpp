#include "sim/control.h"

#include <sstream>
#include <vector>

#include "sim/options.h"

namespace tavrin::sim {
namespace {

const char kHelp[] =
    "status DEV WORD...|N   ready paper-out paper-near-end cover-open cutter-jammed overheated offline\n"
    "answer DEV CODE=status:N|text:TEXT|hex:BYTES   answer DEV CODE=off\n"
    "fault DEV no-reply|split|bad-checksum|together on|off\n"
    "fault DEV noise|redundant|delay|long-reply|pause|split-at|close-after|noise-for N\n"
    "silent DEV on|off   drop DEV   refuse DEV MS   rate DEV BYTES_PER_S   summary   help\n";

bool number(const std::string& text, unsigned long max, unsigned long& out) {
    if (text.empty() || text[0] == '-') return false;
    try {
        std::size_t used = 0;
        const unsigned long v = std::stoul(text, &used, 0);
        if (used != text.size() || v > max) return false;
        out = v;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

ControlReply ok(const std::string& text) { return {true, "ok " + text}; }
ControlReply bad(const std::string& text) { return {false, "error: " + text}; }

struct StatusWord {
    const char* word;
    std::uint8_t bit;
};
const StatusWord kStatusWords[] = {
    {"ready", 0},
    {"paper-out", status_bit::kPaperOut},
    {"paper-near-end", status_bit::kPaperNearEnd},
    {"cover-open", status_bit::kCoverOpen},
    {"cutter-jammed", status_bit::kCutterJammed},
    {"overheated", status_bit::kOverheated},
    {"offline", status_bit::kOffline},
};

bool onOff(const std::string& word, bool& out) {
    if (word == "on") out = true;
    else if (word == "off") out = false;
    else return false;
    return true;
}

ControlReply setFault(SimDevice& device, const std::vector<std::string>& w) {
    if (w.size() != 4) return bad("usage: fault DEV NAME on|off|N");
    FaultPlan f = device.model().faults();
    const std::string& name = w[2];
    bool flag = false;
    unsigned long n = 0;
    struct Flag {
        const char* name;
        bool FaultPlan::*field;
    };
    const Flag flags[] = {{"no-reply", &FaultPlan::noReply},
                          {"split", &FaultPlan::split},
                          {"bad-checksum", &FaultPlan::badChecksum},
                          {"together", &FaultPlan::together}};
    for (const Flag& fl : flags) {
        if (name != fl.name) continue;
        if (!onOff(w[3], flag)) return bad("fault " + name + " takes on or off");
        f.*fl.field = flag;
        device.setFaults(f);
        return ok("fault " + name + " " + w[3]);
    }
    if (!number(w[3], 600000, n)) return bad("fault " + name + " takes a number");
    if (name == "noise" && n <= 0xFFFF) f.noise = static_cast<std::uint16_t>(n);
    else if (name == "redundant" && n <= 0xFFFF) f.redundant = static_cast<std::uint16_t>(n);
    else if (name == "delay") f.delayMs = static_cast<std::uint32_t>(n);
    else if (name == "long-reply" && n <= kMaxPayload) f.longReply = static_cast<std::uint16_t>(n);
    else if (name == "pause") f.pauseMs = static_cast<std::uint32_t>(n);
    else if (name == "split-at" && n < kHeader + kMaxPayload) f.splitAt = static_cast<std::uint16_t>(n);
    else if (name == "close-after" && n <= 0xFFFF) f.closeAfter = static_cast<std::uint16_t>(n);
    else if (name == "noise-for") f.noiseForMs = static_cast<std::uint32_t>(n);
    else return bad("no fault " + name + " takes " + w[3]);
    device.setFaults(f);
    return ok("fault " + name + " " + w[3]);
}

}  // namespace

const char* controlHelp() { return kHelp; }

ControlReply runControl(Simulator& simulator, const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string word; in >> word;) w.push_back(word);
    if (w.empty()) return {true, ""};
    if (w[0] == "help") return {true, kHelp};
    if (w[0] == "summary") return {true, simulator.summary()};

    unsigned long index = 0;
    if (w.size() < 2 || !number(w[1], 1000, index) || index >= simulator.size())
        return bad(w.size() < 2 ? w[0] + " needs a device index" : "no device " + w[1]);
    SimDevice& device = simulator.device(index);
    const std::string dev = "device " + w[1];

    if (w[0] == "status") {
        if (w.size() < 3) return bad("usage: status DEV WORD...|N");
        unsigned long n = 0;
        std::uint8_t status = 0;
        if (w.size() == 3 && number(w[2], 0xFF, n)) {
            status = static_cast<std::uint8_t>(n);
        } else {
            for (std::size_t i = 2; i < w.size(); ++i) {
                bool known = false;
                for (const StatusWord& s : kStatusWords)
                    if (w[i] == s.word) {
                        status = static_cast<std::uint8_t>(status | s.bit);
                        known = true;
                    }
                if (!known) return bad("unknown status word " + w[i]);
            }
        }
        device.model().setDeviceStatus(status);
        return ok(dev + " status " + std::to_string(status));
    }
    if (w[0] == "answer") {
        if (w.size() != 3) return bad("usage: answer DEV CODE=status:N|text:TEXT|hex:BYTES");
        const std::size_t eq = w[2].find('=');
        unsigned long code = 0;
        if (eq != std::string::npos && w[2].substr(eq + 1) == "off" && number(w[2].substr(0, eq), 0xFF, code)) {
            device.model().clearAnswer(static_cast<std::uint8_t>(code));
            return ok(dev + " answer " + w[2]);
        }
        DeviceConfig parsed;
        if (!parseAnswerSpec(w[2], parsed) || parsed.answers.size() != 1) return bad("bad answer " + w[2]);
        device.model().setAnswer(parsed.answers.begin()->first, parsed.answers.begin()->second);
        return ok(dev + " answer " + w[2]);
    }
    if (w[0] == "fault") return setFault(device, w);
    if (w[0] == "silent") {
        bool on = false;
        if (w.size() != 3 || !onOff(w[2], on)) return bad("usage: silent DEV on|off");
        FaultPlan f = device.model().faults();
        f.noReply = on;
        device.setFaults(f);
        return ok(dev + " silent " + w[2]);
    }
    if (w[0] == "drop" || w[0] == "refuse") {
        if (!device.isNetwork()) return bad(dev + " is a stand-in device: it has no connection of its own");
        unsigned long ms = 0;
        if (w[0] == "drop") {
            if (w.size() != 2) return bad("usage: drop DEV");
            device.dataChannel()->drop();
            device.controlChannel()->drop();
            return ok(dev + " dropped its connections");
        }
        if (w.size() != 3 || !number(w[2], 600000, ms) || ms == 0) return bad("usage: refuse DEV MS");
        device.dataChannel()->refuseFor(static_cast<std::uint32_t>(ms));
        device.controlChannel()->refuseFor(static_cast<std::uint32_t>(ms));
        return ok(dev + " refuses connections for " + w[2] + " ms");
    }
    if (w[0] == "rate") {
        unsigned long rate = 0;
        if (w.size() != 3 || !number(w[2], 1000000000, rate)) return bad("usage: rate DEV BYTES_PER_S");
        device.setDataRate(static_cast<std::uint32_t>(rate));
        return ok(dev + " takes " + w[2] + " bytes per second");
    }
    return bad("unknown control command " + w[0] + " (try help)");
}

}  // namespace tavrin::sim
