#include "tool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "cli.h"
#include "platform/notify_window.h"
#include "tavrin/tavrin.h"

#ifndef TAVRIN_TOOL_VERSION
#define TAVRIN_TOOL_VERSION "unknown"
#endif

namespace tavrin::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using WideText = std::basic_string<tavrin_wchar_t>;

constexpr auto kRetryPause = std::chrono::milliseconds(50);
constexpr std::uint32_t kWriteChunk = 16 * 1024;
constexpr std::uint16_t kAnswerCapacity = 1024;

WideText wide(std::string_view utf8) {
    const std::u16string text = fromUtf8(utf8);
    return WideText(text.begin(), text.end());
}

std::string narrow(const tavrin_wchar_t* text, std::size_t count) {
    return toUtf8(std::u16string(text, text + count));
}

std::string pathText(const fs::path& p) {
    const auto u8 = p.u8string();
    return std::string(u8.begin(), u8.end());
}

// A line of the tool's own in the library log and its records.
void note(const std::string& text) { dllFunc_SetLogRecord(wide("tavrin: " + text).c_str(), 1, 1, 0); }
void flushLog() { dllFunc_SetLogRecord(nullptr, 0, 0, 1); }

// The library log of the run, where the tool can read it back: the --log FILE, or a temporary
// file of the tool's own when the library has no log open. (A log the settings opened stays as
// it is; the tool then cannot show its lines.)
class LogCapture {
public:
    LogCapture() = default;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    ~LogCapture() {
        if (opened_) dllFunc_CloseLog();
        if (temporary_) {
            std::error_code ec;
            fs::remove(file_, ec);
        }
    }

    // False (and why) when the --log FILE cannot be opened.
    bool open(const std::string& logFile, std::string& error) {
        temporary_ = logFile.empty();
        file_ = temporary_ ? temporaryName() : fs::u8path(logFile);
        if (file_.empty()) return true;
        const bool open = dllFunc_OpenLog(wide(pathText(file_)).c_str()) != 0;
        logOpen_ = open;
        if (!open && !temporary_) {
            error = "cannot open the log file " + logFile;
            return false;
        }
        // A file the library just created is there and empty; one it did not create (it kept a
        // log it had open already) is another file.
        std::error_code ec;
        capturing_ = open && fs::exists(file_, ec) && fs::file_size(file_, ec) == 0 && !ec;
        opened_ = open && capturing_;
        if (!capturing_ && temporary_) file_.clear();
        if (capturing_) learnTexts();
        return true;
    }

    bool capturing() const { return capturing_; }
    // Whether the library has a log open (the tool's, the --log FILE or one the settings opened):
    // only then do the firmware update's steps reach the records.
    bool logOpen() const { return logOpen_; }

    // The run's lines start here.
    void mark() {
        if (!capturing_) return;
        flushLog();
        std::error_code ec;
        start_ = fs::file_size(file_, ec);
        if (ec) start_ = 0;
    }

    // The library's lines since the mark (the tool's own records left out).
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        if (!capturing_) return out;
        flushLog();
        std::ifstream in(file_, std::ios::binary);
        if (!in) return out;
        in.seekg(static_cast<std::streamoff>(start_));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || isToolRecord(line)) continue;
            for (const auto& [inLog, utf8] : texts_) {
                for (std::size_t at = 0; (at = line.find(inLog, at)) != std::string::npos; at += utf8.size())
                    line.replace(at, inLog.size(), utf8);
            }
            out.push_back(line);
        }
        return out;
    }

private:
    // The texts looked for, logged once: their bytes in the file are what the library's lines
    // hold of them (the system's ANSI code page; the same as UTF-8 on POSIX).
    void learnTexts() {
        const std::vector<std::string> texts = causeTexts();
        std::string line = "tavrin: texts looked for:";
        for (const std::string& t : texts) line += "\t" + t;
        dllFunc_SetLogRecord(wide(line).c_str(), 1, 0, 1);
        std::ifstream in(file_, std::ios::binary);
        std::string logged, last;
        while (std::getline(in, logged))
            if (logged.rfind("tavrin: texts looked for:", 0) == 0) last = logged;
        if (!last.empty() && last.back() == '\r') last.pop_back();
        std::vector<std::string> parts;
        for (std::size_t at = last.find('\t'); at != std::string::npos;) {
            const std::size_t end = last.find('\t', at + 1);
            parts.push_back(last.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1));
            at = end;
        }
        if (parts.size() != texts.size()) return;
        // A code page without these characters writes '?' for them: such forms tell nothing.
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const bool lost = parts[i].empty() || parts[i].find('?') != std::string::npos ||
                              std::count(parts.begin(), parts.end(), parts[i]) != 1;
            if (!lost && parts[i] != texts[i]) texts_.emplace_back(parts[i], texts[i]);
        }
    }
    static bool isToolRecord(const std::string& line) {
        return line.find("TID(") == std::string::npos && line.find("tavrin") != std::string::npos;
    }
    static fs::path temporaryName() {
        std::error_code ec;
        const fs::path folder = fs::temp_directory_path(ec);
        if (ec) return {};
        const auto stamp = Clock::now().time_since_epoch().count();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path p = folder / ("tavrin-run-" + std::to_string(stamp) + "-" + std::to_string(attempt) + ".log");
            if (!fs::exists(p, ec)) return p;
        }
        return {};
    }

    fs::path file_;
    bool temporary_ = false;
    bool opened_ = false;
    bool logOpen_ = false;
    bool capturing_ = false;
    std::uintmax_t start_ = 0;
    std::vector<std::pair<std::string, std::string>> texts_;  // as logged, as UTF-8
};

// One run: its invocation, streams, log and result (the JSON document of --json, or what the
// text output is written from). Commands to come (config, update) use the same pieces: fail()
// for every failure, progress() for long transfers, summary() for lines that --quiet silences.
// Where a failure's cause comes from: the library's lines of the run, or (for a mistake the tool
// finds itself, after library calls that went well) only the hint given.
enum class Cause { FromLog, NotFromLog };

struct Run {
    const Invocation& inv;
    const ToolStreams& io;
    LogCapture& log;
    Json result = Json::object();
    // Records a command took from the library while it ran (the update follows its steps there),
    // for --records at the end.
    std::vector<std::string> records;

    std::ostream& out() const { return io.out; }
    // Text output, which --json replaces by the document.
    bool text() const { return !inv.json; }
    void summary(const std::string& line) const {
        if (!inv.quiet) io.err << "tavrin: " << line << "\n";
    }

    // A failure: what failed, why (the decisive library line, or hint when none explains it),
    // in one line on err; with -v every library line of the run.
    int fail(const std::string& what, const std::string& hint = {}, int code = kExitFailed,
             Cause from = Cause::FromLog) {
        const std::vector<std::string> lines = log.lines();
        const std::optional<LogCause> cause = from == Cause::FromLog ? decisiveCause(lines) : std::nullopt;
        std::string message = what;
        if (cause) {
            std::string line = cause->line;
            if (line.rfind("TID(", 0) == 0 && line.find('#') != std::string::npos) line.erase(0, line.find('#') + 1);
            message += ": " + cause->words + " (library: " + line + ")";
        } else if (!hint.empty()) {
            message += ": " + hint;
        } else if (!log.capturing()) {
            message += " (see the library log)";
        }
        io.err << "tavrin: " << message << "\n";
        if (inv.verbose)
            for (const std::string& line : lines) io.err << "  | " << line << "\n";
        result.set("ok", Json::boolean(false));
        result.set("exitCode", Json::number(code));
        result.set("error", Json::text(message));
        result.set("cause", cause ? Json::text(cause->words) : hint.empty() ? Json::null() : Json::text(hint));
        result.set("logLine", cause ? Json::text(cause->line) : Json::null());
        if (inv.verbose) {
            Json all = Json::array();
            for (const std::string& line : lines) all.add(Json::text(line));
            result.set("log", std::move(all));
        }
        return code;
    }
};

struct Answer {
    std::uint8_t ackCode = 0;
    Bytes data;
};

// What a command needs of the device: its control port (commands) or its data port (raw data).
enum class Use { Commands, Data };

// An open device, closed when it goes.
class Device {
public:
    Device(const std::string& path, Use use, std::chrono::milliseconds patience)
        : network_(isNetworkPath(path)), patience_(patience) {
        const WideText widePath = wide(path);
        _DEVOPEN_INFO info{};
        info.path = widePath.c_str();
        if (network_) {
            info.portType = PORT_NET_DATA;
            info.portMode = MODE_DATA | MODE_CTRL;
        } else {
            // A USB device takes commands on its HID interface and raw data on its printer
            // interface; either path opens the other interface of the same device when needed.
            info.portType = isHidPath(path) ? PORT_HID : PORT_USBPRN;
            info.portMode = use == Use::Commands ? MODE_CTRL : MODE_DATA;
        }
        handle_ = dllFunc_OpenDev(&info);
        lastProgress_ = Clock::now();
        if (handle_ >= 0) note("opened " + path + " as device " + std::to_string(handle_));
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() {
        if (handle_ < 0) return;
        dllFunc_CloseDev(handle_);
        note("closed device " + std::to_string(handle_));
    }

    bool isOpen() const { return handle_ >= 0; }
    bool isNetwork() const { return network_; }
    std::int32_t handle() const { return handle_; }

    // A call that may fail while a network device's connections are still being made: tried
    // again, as exchanges are, until it succeeds or the device has made no progress for a while.
    template <typename Call>
    bool retry(Call call) {
        for (;;) {
            if (call()) {
                lastProgress_ = Clock::now();
                return true;
            }
            if (!keepTrying()) return false;
        }
    }

    // One command exchange; false when no valid answer came.
    bool exchange(const std::string& name, const Bytes& data, Answer& answer) {
        const WideText wideName = wide(name);
        std::uint8_t buffer[kAnswerCapacity];
        for (;;) {
            _DEVACK_INFO ack{buffer, kAnswerCapacity, 0, 0};
            if (dllFunc_DevIoCtrl(handle_, wideName.c_str(), data.empty() ? nullptr : data.data(),
                                  static_cast<std::uint32_t>(data.size()), &ack) != 0) {
                answer.ackCode = ack.ackCode;
                answer.data.assign(buffer, buffer + std::min<std::uint16_t>(ack.datLen, kAnswerCapacity));
                lastProgress_ = Clock::now();
                return true;
            }
            if (!keepTrying()) return false;
        }
    }

    // Writes some of the bytes; the count taken (a write may take fewer bytes than it was
    // given), 0 when the device took nothing in its time.
    std::uint32_t writeSome(const std::uint8_t* bytes, std::uint32_t length) {
        for (;;) {
            std::uint32_t written = 0;
            const bool ok = dllFunc_Write(handle_, bytes, length, &written, nullptr) != 0;
            // Bytes counted by a write that then failed went out all the same: sending them
            // again would print them twice.
            if (written != 0 && written <= length) {
                lastProgress_ = Clock::now();
                return written;
            }
            if (ok && length == 0) return 0;
            if (!keepTrying()) return 0;
        }
    }

private:
    // After a failure: whether to try again, after a pause.
    bool keepTrying() const {
        if (!network_ || Clock::now() - lastProgress_ >= patience_) return false;
        std::this_thread::sleep_for(kRetryPause);
        return true;
    }

    bool network_;
    std::chrono::milliseconds patience_;
    std::int32_t handle_ = -1;
    Clock::time_point lastProgress_;
};

std::chrono::milliseconds patienceOf(const Invocation& inv) { return std::chrono::milliseconds(inv.deviceTimeoutMs); }

// The library's line for a control port (on USB: the HID interface) that could not be opened.
// Matched where the log is UTF-8; elsewhere the hint below says both.
constexpr const char* kControlPortLine = "\xE6\x8E\xA7 \xE5\x88\xB6 \xE5\x8F\xA3";

int cannotOpen(Run& run, const std::string& path, Use use) {
    const std::vector<std::string> lines = run.log.lines();
    const auto cause = decisiveCause(lines);
    std::string hint;
    if (!isNetworkPath(path)) {
        std::error_code ec;
        // Names in the device namespace (\\.\pipe\..., \\?\usb#...) are not files the
        // file system can look up: their absence says nothing.
        const bool deviceName = path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\\\?\\", 0) == 0;
        const bool there = deviceName || fs::exists(fs::u8path(path), ec);
        bool controlFailed = false;
        for (const std::string& line : lines) controlFailed = controlFailed || line.find(kControlPortLine) != std::string::npos;
        if (ec) {
        } else if (!there) {
            hint = "no device at this path";
        } else if (controlFailed) {
            hint = "its command interface (the USB device's HID interface) could not be found or opened";
        } else if (use == Use::Commands) {
            hint = "the device is busy (another program has it open), or its command interface (HID) could not be "
                   "opened";
        } else {
            hint = "the device is busy (another program has it open) or cannot be accessed";
        }
    }
    // The open line of the library only says that the open failed: the tool knows more.
    if (!hint.empty() && (!cause || cause->words == "the device could not be opened")) {
        const std::string message = "cannot open " + path + ": " + hint;
        run.io.err << "tavrin: " << message << "\n";
        if (run.inv.verbose)
            for (const std::string& line : lines) run.io.err << "  | " << line << "\n";
        run.result.set("ok", Json::boolean(false));
        run.result.set("exitCode", Json::number(kExitFailed));
        run.result.set("error", Json::text(message));
        run.result.set("cause", Json::text(hint));
        run.result.set("logLine", cause ? Json::text(cause->line) : Json::null());
        return kExitFailed;
    }
    return run.fail("cannot open " + path);
}

// Why an exchange failed when the library logged nothing about it.
std::string silentExchangeHint(const Device& device) {
    if (device.isNetwork()) return {};
    return "the library opened no command channel for this USB path (commands on USB go to the device's HID "
           "interface)";
}

std::vector<std::string> enumeratePaths(std::uint16_t portType, std::uint16_t selector, std::uint32_t second = 0) {
    std::vector<tavrin_wchar_t> buffer(16 * 1024, 0);
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    dllFunc_EnumDevPath(portType, buffer.data(), &size, selector, second);
    const std::u16string list(buffer.begin(), buffer.begin() + std::min<std::size_t>(size, buffer.size()));
    std::vector<std::string> paths;
    for (const std::u16string& p : splitPathList(list.data(), list.size())) paths.push_back(toUtf8(p));
    return paths;
}

Json textArray(const std::vector<std::string>& items) {
    Json a = Json::array();
    for (const std::string& s : items) a.add(Json::text(s));
    return a;
}

int runList(Run& run) {
    const Invocation& inv = run.inv;
    // The second selector of a network search is its wait after the last reply (0: the setting).
    const std::vector<std::string> network = enumeratePaths(PORT_NET_DATA, inv.searchPort, inv.searchTimeoutMs);
    const std::vector<std::string> usb = enumeratePaths(PORT_USBPRN, 0);
    const std::vector<std::string> hid = enumeratePaths(PORT_HID, 0);
    if (run.text()) {
        for (const std::string& p : network) run.out() << p << "\n";
        for (const std::string& p : usb) run.out() << p << "\n";
        for (const std::string& p : hid) run.out() << p << "\n";
    }
    run.result.set("searchPort", Json::number(inv.searchPort));
    run.result.set("network", textArray(network));
    run.result.set("usb", textArray(usb));
    run.result.set("hid", textArray(hid));
    run.summary(std::to_string(network.size()) + " network device(s) answered on UDP port " +
                std::to_string(inv.searchPort) + ", " + std::to_string(usb.size()) + " USB printer interface(s) and " +
                std::to_string(hid.size()) + " HID interface(s) found");
    note("listed " + std::to_string(network.size() + usb.size() + hid.size()) + " device path(s)");
    // Printers are what --require asks for: network devices and USB printer interfaces. HID
    // interfaces are listed as well, but every system has some (keyboards, mice) that are none.
    if (inv.require && network.empty() && usb.empty()) return run.fail("no device found", "nothing answered the search");
    return kExitOk;
}

int runInfo(Run& run) {
    const Invocation& inv = run.inv;
    Device device(inv.path, Use::Commands, patienceOf(inv));
    if (!device.isOpen()) return cannotOpen(run, inv.path, Use::Commands);
    const struct {
        const char* label;
        const char* key;
        const char* command;
    } queries[] = {
        {"model", "model", "CTRL_CMDGET_MODEL"},
        {"device number", "deviceNumber", "CTRL_CMDGET_DEVNO"},
        {"protocol version", "protocolVersion", "CTRL_CMDGET_PROTVER"},
    };
    run.result.set("path", Json::text(inv.path));
    for (const auto& q : queries) {
        Answer answer;
        if (!device.exchange(q.command, {}, answer))
            return run.fail(std::string("no answer to ") + q.command + " from " + inv.path, silentExchangeHint(device));
        run.result.set(q.key, answer.data.empty() ? Json::null() : Json::text(displayText(answer.data)));
        if (!run.text()) continue;
        run.out() << q.label << ": ";
        if (answer.data.empty())
            run.out() << "(no data, acknowledge code 0x" << hexText({answer.ackCode}) << ")\n";
        else
            run.out() << displayText(answer.data) << "\n";
    }
    return kExitOk;
}

bool isCommandName(const std::string& name) {
    if (name == kRawCommand) return true;
    std::uint16_t code = 0;
    for (std::uint16_t i = 0; const tavrin_wchar_t* known = dllFunc_EnumProtoCode(i, &code); ++i) {
        if (narrow(known, std::char_traits<tavrin_wchar_t>::length(known)) == name) return true;
    }
    return false;
}

void printAnswer(const Answer& answer, std::ostream& out) {
    out << "ack 0x" << hexText({answer.ackCode}) << "\n";
    out << answer.data.size() << " byte(s)" << (answer.data.empty() ? "" : ":") << "\n";
    if (!answer.data.empty()) out << hexText(answer.data) << "\n";
    if (const auto text = printableText(answer.data)) out << "text: " << *text << "\n";
}

int runSend(Run& run) {
    const Invocation& inv = run.inv;
    if (!isCommandName(inv.name))
        return run.fail("unknown command name " + inv.name + " (see 'tavrin commands')", {}, kExitUsage);
    Device device(inv.path, Use::Commands, patienceOf(inv));
    if (!device.isOpen()) return cannotOpen(run, inv.path, Use::Commands);
    Answer answer;
    if (!device.exchange(inv.name, inv.data, answer))
        return run.fail(inv.name + " failed on " + inv.path, silentExchangeHint(device));
    note("sent " + inv.name + ", acknowledge code " + std::to_string(answer.ackCode) + ", " +
         std::to_string(answer.data.size()) + " byte(s) of answer");
    run.result.set("path", Json::text(inv.path));
    run.result.set("name", Json::text(inv.name));
    run.result.set("ackCode", Json::number(answer.ackCode));
    run.result.set("data", Json::text(hexText(answer.data, 0)));
    const auto printable = printableText(answer.data);
    run.result.set("text", printable ? Json::text(*printable) : Json::null());
    if (run.text()) printAnswer(answer, run.out());
    return kExitOk;
}

int runStatus(Run& run) {
    const Invocation& inv = run.inv;
    Device device(inv.path, Use::Commands, patienceOf(inv));
    if (!device.isOpen()) return cannotOpen(run, inv.path, Use::Commands);
    Answer answer;
    if (!device.exchange("CTRL_CMDGET_DEVSTAT", {}, answer))
        return run.fail("no answer to CTRL_CMDGET_DEVSTAT from " + inv.path, silentExchangeHint(device));
    run.result.set("path", Json::text(inv.path));
    run.result.set("ackCode", Json::number(answer.ackCode));
    run.result.set("raw", Json::text(hexText(answer.data, 0)));
    if (answer.data.empty()) {
        // No status byte: the acknowledge code is all the device said.
        run.result.set("status", Json::null());
        run.result.set("words", Json::array());
        if (run.text()) run.out() << "status: no data, acknowledge code 0x" << hexText({answer.ackCode}) << "\n";
        return kExitOk;
    }
    const std::vector<std::string> words = statusWords(answer.data[0]);
    run.result.set("status", Json::number(answer.data[0]));
    run.result.set("words", textArray(words));
    if (!run.text()) return kExitOk;
    run.out() << "status: ";
    for (std::size_t i = 0; i < words.size(); ++i) run.out() << (i ? ", " : "") << words[i];
    run.out() << " (0x" << hexText({answer.data[0]}) << ")\n";
    if (answer.data.size() > 1) run.out() << "more: " << hexText(Bytes(answer.data.begin() + 1, answer.data.end())) << "\n";
    return kExitOk;
}

// The bytes of FILE, or why they cannot be had.
std::optional<Bytes> readInput(const std::string& name, std::istream& in, std::string& why) {
    if (name == "-") {
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) {
            why = "cannot read standard input";
            return std::nullopt;
        }
        return bytes;
    }
    const fs::path path = fs::u8path(name);
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
        why = "cannot read " + name + ": no such file";
        return std::nullopt;
    }
    if (fs::is_directory(status)) {
        why = "cannot read " + name + ": it is a directory";
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        why = "cannot read " + name + ": permission denied or not readable";
        return std::nullopt;
    }
    try {
        Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (!file.bad()) return bytes;
    } catch (const std::exception&) {
    }
    why = "cannot read " + name + ": read error";
    return std::nullopt;
}

// The progress of a write: on a terminal one line of err redrawn when the percentage changes;
// elsewhere (a file, a pipe) only the last state, once, without carriage returns; nothing
// with --quiet.
class Progress {
public:
    Progress(const Run& run, std::string label, std::uint64_t total)
        : err_(run.io.err), label_(std::move(label)), total_(total), live_(run.io.errIsTerminal),
          quiet_(run.inv.quiet) {}
    void show(std::uint64_t done) {
        done_ = done;
        if (quiet_ || !live_) return;
        const std::uint64_t percent = total_ == 0 ? 100 : done * 100 / total_;
        if (percent == shown_) return;
        shown_ = percent;
        err_ << "\r" << label_ << ": " << progressText(done, total_) << std::flush;
    }
    void end() {
        if (quiet_) return;
        if (!live_) err_ << label_ << ": " << progressText(done_, total_);
        err_ << "\n";
    }

private:
    std::ostream& err_;
    std::string label_;
    std::uint64_t total_;
    bool live_, quiet_;
    std::uint64_t shown_ = UINT64_MAX;
    std::uint64_t done_ = 0;
};

int runWrite(Run& run) {
    const Invocation& inv = run.inv;
    std::string why;
    const auto bytes = readInput(inv.file, run.io.in, why);
    if (!bytes) return run.fail(why);
    Device device(inv.path, Use::Data, patienceOf(inv));
    if (!device.isOpen()) return cannotOpen(run, inv.path, Use::Data);

    const std::string label = inv.file == "-" ? std::string("standard input") : inv.file;
    Progress progress(run, label, bytes->size());
    progress.show(0);
    std::size_t done = 0;
    while (done < bytes->size()) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(kWriteChunk, bytes->size() - done));
        const std::uint32_t written = device.writeSome(bytes->data() + done, chunk);
        if (written == 0) break;
        done += written;
        progress.show(done);
    }
    progress.end();
    note("wrote " + std::to_string(done) + " of " + std::to_string(bytes->size()) + " byte(s) of " + label);
    if (done < bytes->size())
        return run.fail("writing to " + inv.path + " stopped, " + deliveredText(done, bytes->size()));
    run.out() << "wrote " << done << " bytes to " << inv.path << "\n";
    return kExitOk;
}

int runCommands(Run& run) {
    Json list = Json::array();
    std::uint16_t code = 0;
    for (std::uint16_t i = 0; const tavrin_wchar_t* name = dllFunc_EnumProtoCode(i, &code); ++i) {
        const std::string text = narrow(name, std::char_traits<tavrin_wchar_t>::length(name));
        list.add(Json::object().set("name", Json::text(text)).set("code", Json::number(code)));
        if (!run.text()) continue;
        char number[8];
        std::snprintf(number, sizeof number, "0x%02X", code);
        run.out() << number << "  " << text;
        if (code == 0x80) run.out() << "  (the first data byte, 0x80..0x9F, is the device's command)";
        run.out() << "\n";
    }
    list.add(Json::object().set("name", Json::text(kRawCommand)).set("code", Json::null()));
    run.result.set("commands", std::move(list));
    if (run.text())
        run.out() << "      " << kRawCommand << "  (raw: the data goes out unframed, then one read of the answer)\n";
    return kExitOk;
}

// One configuration item as the library describes it.
struct ConfigItem {
    std::string name;
    std::string line;  // the description line without its line end
};

// Room for the longest description line (128 characters and 1,024 of choices).
constexpr std::uint16_t kConfigText = 1200;

std::optional<std::string> configLine(std::int32_t handle, std::uint16_t index, bool refresh) {
    tavrin_wchar_t buffer[kConfigText] = {};
    std::uint16_t size = kConfigText - 1;
    if (dllFunc_GetDevCfgInfo(handle, &index, buffer, &size, 0, refresh ? 0 : 1) == 0) return std::nullopt;
    std::string line = narrow(buffer, std::min<std::uint16_t>(size, kConfigText - 1));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

std::optional<std::string> configValue(std::int32_t handle, const std::string& name) {
    tavrin_wchar_t buffer[kConfigText] = {};
    std::uint16_t size = kConfigText - 1;
    if (dllFunc_GetDevCfgInfo(handle, wide(name).c_str(), buffer, &size, 1, 1) == 0) return std::nullopt;
    return narrow(buffer, std::min<std::uint16_t>(size, kConfigText - 1));
}

// Every item with a description line; dataRead tells whether the values could be read first.
std::vector<ConfigItem> configItems(std::int32_t handle, bool& dataRead) {
    std::vector<ConfigItem> items;
    std::optional<std::string> line = configLine(handle, 0, true);
    dataRead = line.has_value();
    if (!dataRead) line = configLine(handle, 0, false);  // the items, without their values
    for (std::uint16_t index = 1; line; line = configLine(handle, index++, false)) {
        if (line->empty()) continue;  // a placeholder: bits without a value
        items.push_back({itemNameOf(*line), *line});
        if (index == 0) break;        // 65,536 items: the index has come round
    }
    return items;
}

int runConfig(Run& run) {
    const Invocation& inv = run.inv;
    const bool offline = isDescriptionFile(inv.path);
    run.result.set("path", Json::text(inv.path));
    run.result.set("offline", Json::boolean(offline));
    std::optional<Device> device;
    std::int32_t handle = -1;
    if (!offline) {
        device.emplace(inv.path, Use::Commands, patienceOf(inv));
        if (!device->isOpen()) return cannotOpen(run, inv.path, Use::Commands);
        handle = device->handle();
    }
    // A network device's connections may still be coming up: the load is tried again until
    // --timeout has passed without progress.
    const bool loaded = offline ? dllFunc_LoadDevCfg(-1, wide(inv.path).c_str()) != 0
                                : device->retry([&] { return dllFunc_LoadDevCfg(handle, nullptr) != 0; });
    if (!loaded) return run.fail("cannot load the configuration description from " + inv.path);
    const std::string dataSource = offline ? "devCfg.dat in the user data folder" : inv.path;
    run.result.set("dataSource", Json::text(dataSource));

    bool dataRead = false;
    const std::vector<ConfigItem> items = configItems(handle, dataRead);
    run.result.set("dataRead", Json::boolean(dataRead));
    if (!inv.assign) {
        Json list = Json::array();
        for (const ConfigItem& item : items) {
            const std::optional<std::string> v = dataRead ? configValue(handle, item.name) : std::nullopt;
            std::string details = item.line;
            if (const std::size_t comma = details.find(','); comma != std::string::npos) details.erase(0, comma + 1);
            list.add(Json::object()
                         .set("name", Json::text(item.name))
                         .set("value", v ? Json::text(*v) : Json::null())
                         .set("details", Json::text(details)));
            if (run.text()) run.out() << item.name << "=" << (v ? *v : "?") << "  (" << details << ")\n";
        }
        run.result.set("items", std::move(list));
        note("listed " + std::to_string(items.size()) + " configuration item(s)");
        if (!dataRead && !items.empty()) return run.fail("cannot read the configuration data from " + dataSource);
        if (items.empty()) run.summary("the description names no configuration items");
        return kExitOk;
    }

    run.result.set("name", Json::text(inv.name));
    if (!dataRead) return run.fail("cannot read the configuration data from " + dataSource);
    const bool known = std::any_of(items.begin(), items.end(), [&](const ConfigItem& i) { return i.name == inv.name; });
    if (!known)
        return run.fail("no configuration item " + inv.name, "see 'tavrin config " + inv.path + "'", kExitFailed,
                        Cause::NotFromLog);
    if (dllFunc_SetDevCfgInfo(handle, wide(inv.name).c_str(), wide(inv.value).c_str(), 0, 1) == 0)
        return run.fail(inv.name + "=" + inv.value + " was refused or could not be written to " + dataSource);
    const std::optional<std::string> v = configValue(handle, inv.name);
    note("set " + inv.name + " to " + (v ? *v : inv.value));
    run.result.set("value", Json::text(v ? *v : inv.value));
    if (run.text()) run.out() << inv.name << "=" << (v ? *v : inv.value) << "\n";
    return kExitOk;
}

// The library's records since the last call, as text (the record buffer is emptied).
std::string takeRecordText() {
    std::uint32_t count = 0;
    const tavrin_wchar_t* records = dllFunc_GetLogRecord(&count, 1);
    return records == nullptr ? std::string() : narrow(records, count);
}

// Records as the lines --records prints: as the library wrote them, stamps and all.
std::vector<std::string> recordLines(std::string text) {
    std::vector<std::string> lines;
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

std::vector<std::string> takeRecords() { return recordLines(takeRecordText()); }

// The firmware update. The library reports it in two ways: notifications (the percentage, and
// "a line was recorded") to a window of the caller's (platform/notify_window.h: a message-only
// window on Windows, the caller's _DFU_NOTIFY record elsewhere), and the step lines in its log
// records, which reach the records only while the library log is open. The follower pumps the
// one and reads the other until a line tells that the update thread has ended.
class UpdateFollower {
public:
    UpdateFollower(Run& run, std::string label)
        : run_(run), label_(std::move(label)), live_(run.io.errIsTerminal && !run.inv.quiet) {
        window_.setOnEach([this](const platform::DfuNotification& n) { notice(n); });
    }
    UpdateFollower(const UpdateFollower&) = delete;
    UpdateFollower& operator=(const UpdateFollower&) = delete;

    bool ready() const { return window_.valid(); }
    // The window argument of dllFunc_OpenDfu.
    void* target() { return window_.target(); }

    // Waits up to ms for notifications, then takes the lines recorded meanwhile.
    void wait(int ms) {
        window_.pump(ms);
        takeLines(true);
    }
    // The lines recorded so far (the update start's come during dllFunc_DFUStart); shown is
    // false for lines that are only kept for --records.
    void takeLines(bool shown) {
        window_.pump(0);
        const std::string text = takeRecordText();
        if (text.empty()) return;
        for (std::string& raw : recordLines(text)) run_.records.push_back(std::move(raw));
        for (const std::string& line : lines_.add(text))
            if (shown) step(line);
    }
    // The end of the run: a line still without its line end, and the end of the progress bar.
    void finish(bool shown) {
        takeLines(shown);
        for (const std::string& line : lines_.finish())
            if (shown) step(line);
        if (live_ && drawn_) run_.io.err << "\n";
        else if (!run_.inv.quiet && !live_ && percent_) run_.io.err << label_ << ": " << *percent_ << "%\n";
        run_.io.err << std::flush;
        drawn_ = false;
    }

    // Whether the update thread has ended: the device reported success (and the restart that
    // was asked for followed), or a command of the update failed.
    bool ended(bool restart) const { return failed_ || (done_ && (!restart || restarted_)); }
    bool done() const { return done_; }
    const std::string& failureLine() const { return failureLine_; }
    // The last step line (after a refused start: its reason).
    std::string lastStep() const { return steps_.empty() ? std::string() : steps_.back(); }

    // steps and percent of the JSON document.
    void report() const {
        Json steps = Json::array();
        for (const std::string& s : steps_) steps.add(Json::text(s));
        run_.result.set("steps", std::move(steps));
        run_.result.set("percent", percent_ ? Json::number(*percent_) : Json::null());
    }

private:
    void notice(const platform::DfuNotification& n) {
        if ((n.wParam & 0xFFFF0000u) != DFU_NOTIFY_PROGRESS) return;
        percent_ = n.wParam & 0xFFFFu;
        draw();
    }
    void step(const std::string& line) {
        if (line.rfind("tavrin: ", 0) == 0) return;  // the tool's own records
        steps_.push_back(line);
        switch (classifyUpdateLine(line)) {
        case UpdateLine::Done: done_ = true; break;
        case UpdateLine::Restarted: restarted_ = true; break;
        case UpdateLine::Failed:
            if (!failed_) failureLine_ = line;
            failed_ = true;
            break;
        case UpdateLine::Step: break;
        }
        if (!run_.text()) return;
        clearBar();
        run_.out() << line << "\n" << std::flush;
        draw();
    }
    // The bar on a terminal's err, one line redrawn in place.
    void draw() {
        if (!live_ || !percent_) return;
        const std::string bar = label_ + ": " + progressBar(*percent_);
        run_.io.err << "\r" << bar << std::flush;
        drawnWidth_ = bar.size();
        drawn_ = true;
    }
    void clearBar() {
        if (!drawn_) return;
        run_.io.err << "\r" << std::string(drawnWidth_, ' ') << "\r" << std::flush;
        drawn_ = false;
    }

    Run& run_;
    std::string label_;
    bool live_;
    platform::NotifyWindow window_;
    RecordLines lines_;
    std::vector<std::string> steps_;
    std::optional<unsigned> percent_;
    bool drawn_ = false;
    std::size_t drawnWidth_ = 0;
    bool done_ = false, restarted_ = false, failed_ = false;
    std::string failureLine_;
};

// Why the library refused the firmware file: what the tool sees of it itself, or the causes it
// cannot see.
std::string refusedFileHint(const Bytes& bytes) {
    const Bytes head(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(bytes.size(), 128)));
    if (const auto mistake = firmwareFileMistake(head, bytes.size())) return *mistake;
    return "its header's check value does not match, or it cannot be opened for reading and writing "
           "(read-only, or held by another program)";
}

int runUpdate(Run& run) {
    const Invocation& inv = run.inv;
    run.result.set("path", Json::text(inv.path));
    run.result.set("file", Json::text(inv.file));
    run.result.set("restart", Json::boolean(inv.restart));
    std::string why;
    const auto bytes = readInput(inv.file, run.io.in, why);
    if (!bytes) return run.fail(why, {}, kExitFailed, Cause::NotFromLog);
    if (!run.log.logOpen())
        return run.fail("cannot follow an update without the library log",
                        "the library could not open a log file for the run", kExitFailed, Cause::NotFromLog);
    UpdateFollower follower(run, inv.file);
    if (!follower.ready())
        return run.fail("cannot receive the update's notifications", "no notification window", kExitFailed,
                        Cause::NotFromLog);

    Device device(inv.path, Use::Commands, patienceOf(inv));
    if (!device.isOpen()) return cannotOpen(run, inv.path, Use::Commands);
    // A network device's connections are made in the background: the update starts once the
    // device answers.
    Answer answer;
    if (!device.exchange("CTRL_CMDGET_MODEL", {}, answer))
        return run.fail("no answer to CTRL_CMDGET_MODEL from " + inv.path, silentExchangeHint(device));
    follower.takeLines(false);  // the steps start with the update's own
    const std::int32_t h = device.handle();
    if (dllFunc_OpenDfu(h, wide(inv.file).c_str(), follower.target()) == 0) {
        follower.finish(true);
        follower.report();
        return run.fail("the library refused the firmware file " + inv.file, refusedFileHint(*bytes),
                        kExitFileRefused, Cause::NotFromLog);
    }
    note("updating " + inv.path + " from " + inv.file + (inv.restart ? " with a restart" : ""));
    const auto start = Clock::now();
    if (dllFunc_DFUStart(h, inv.restart ? DFU_OPTION_RESTART : 0) == 0) {
        follower.finish(true);
        dllFunc_CloseDfu(h);
        follower.report();
        const std::string reason = follower.lastStep();
        return run.fail("the update did not start on " + inv.path,
                        reason.empty() ? std::string("the library refused to start it") : reason, kExitStartFailed,
                        Cause::NotFromLog);
    }
    const auto limit = std::chrono::milliseconds(inv.updateTimeoutMs);
    bool timedOut = false;
    while (!follower.ended(inv.restart)) {
        const auto spent = Clock::now() - start;
        if (spent >= limit) {
            timedOut = true;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - spent).count();
        follower.wait(static_cast<int>(std::min<long long>(100, left + 1)));
    }
    // After the last line the thread ends by itself; after a time-out the close stops it, and its
    // lines say how.
    dllFunc_CloseDfu(h);
    follower.finish(timedOut);
    follower.report();
    if (timedOut)
        return run.fail("the update of " + inv.path + " did not end within " + std::to_string(inv.updateTimeoutMs) +
                            " ms",
                        "it was stopped", kExitTimedOut, Cause::NotFromLog);
    if (!follower.done())
        return run.fail("the update of " + inv.path + " failed", follower.failureLine(), kExitUpdateFailed,
                        Cause::NotFromLog);
    note("updated " + inv.path + " from " + inv.file);
    run.summary("the firmware of " + inv.path + " was updated from " + inv.file);
    return kExitOk;
}

// Each command's run, by the command (the command table is in cli.cpp).
struct CommandRun {
    Command command;
    const char* word;
    int (*run)(Run&);
};
const CommandRun kRuns[] = {
    {Command::List, "list", runList},     {Command::Info, "info", runInfo},
    {Command::Send, "send", runSend},     {Command::Write, "write", runWrite},
    {Command::Commands, "commands", runCommands}, {Command::Status, "status", runStatus},
    {Command::Config, "config", runConfig},     {Command::Update, "update", runUpdate},
};

std::string describe(const std::vector<std::string>& args) {
    std::string line = "tavrin";
    for (const std::string& a : args) line += " " + a;
    return line;
}

int usageError(const ToolStreams& io, bool json, const std::string& message) {
    io.err << "tavrin: " << message << "\ntry 'tavrin --help'\n";
    if (json)
        io.out << Json::object()
                      .set("ok", Json::boolean(false))
                      .set("exitCode", Json::number(kExitUsage))
                      .set("error", Json::text(message))
                      .dump()
               << "\n";
    return kExitUsage;
}

}  // namespace

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return runTool(args, ToolStreams{std::cin, out, err, false});
}

int runTool(const std::vector<std::string>& args, const ToolStreams& io) {
    bool json = false;
    try {
        const ParseResult parsed = parseCommandLine(args);
        const Invocation& inv = parsed.invocation;
        json = inv.json;
        if (!parsed.error.empty()) return usageError(io, json, parsed.error);
        if (inv.help) {
            io.out << usageText();
            return kExitOk;
        }
        if (inv.version) {
            io.out << "tavrin " << TAVRIN_TOOL_VERSION << "\n";
            return kExitOk;
        }
        LogCapture log;
        std::string logError;
        if (!log.open(inv.logFile, logError)) {
            io.err << "tavrin: " << logError << "\n";
            if (json)
                io.out << Json::object()
                              .set("ok", Json::boolean(false))
                              .set("exitCode", Json::number(kExitFailed))
                              .set("error", Json::text(logError))
                              .dump()
                       << "\n";
            return kExitFailed;
        }
        if (inv.records) dllFunc_GetLogRecord(nullptr, 1);  // only this run's records

        dllFunc_SetLogRecord(wide(describe(args)).c_str(), 1, 1, 0);
        log.mark();
        Run run{inv, io, log};
        std::string word;
        int result = kExitUsage;
        for (const CommandRun& c : kRuns) {
            if (c.command != inv.command) continue;
            word = c.word;
            Json head = Json::object().set("ok", Json::boolean(true)).set("command", Json::text(word));
            run.result = std::move(head);
            result = c.run(run);
        }
        if (inv.records) {
            std::vector<std::string> records = std::move(run.records);
            for (std::string& line : takeRecords()) records.push_back(std::move(line));
            if (json) run.result.set("records", textArray(records));
            else
                for (const std::string& line : records) io.out << line << "\n";
        }
        if (json) io.out << run.result.dump() << "\n";
        return result;
    } catch (const std::exception& e) {
        io.err << "tavrin: internal error: " << e.what() << "\n";
        if (json)
            io.out << Json::object()
                          .set("ok", Json::boolean(false))
                          .set("exitCode", Json::number(kExitFailed))
                          .set("error", Json::text(std::string("internal error: ") + e.what()))
                          .dump()
                   << "\n";
        return kExitFailed;
    }
}

}  // namespace tavrin::cli
