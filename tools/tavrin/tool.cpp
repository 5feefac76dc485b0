#include "tool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "cli.h"
#include "tavrin/tavrin.h"

#ifndef TAVRIN_TOOL_VERSION
#define TAVRIN_TOOL_VERSION "unknown"
#endif

namespace tavrin::cli {
namespace {

using Clock = std::chrono::steady_clock;
using WideText = std::basic_string<tavrin_wchar_t>;

// How long a network device may take nothing before it counts as failed: right after the open
// its connections are still being made in the background.
constexpr auto kNetworkPatience = std::chrono::milliseconds(3000);
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

// A line of the tool's own in the library log and its records.
void note(const std::string& text) { dllFunc_SetLogRecord(wide("tavrin: " + text).c_str(), 1, 1, 0); }

int fail(std::ostream& err, const std::string& message) {
    err << "tavrin: " << message << "\n";
    return kExitFailed;
}

int usageError(std::ostream& err, const std::string& message) {
    err << "tavrin: " << message << "\ntry 'tavrin --help'\n";
    return kExitUsage;
}

struct Answer {
    std::uint8_t ackCode = 0;
    Bytes data;
};

// What a command needs of the device: its control port (commands) or its data port (raw data).
enum class Use { Commands, Data };

// An open device, closed when it goes.
class Device {
public:
    Device(const std::string& path, Use use) : network_(isNetworkPath(path)) {
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

    // Writes some of the bytes; the count taken, 0 when the device took nothing in its time.
    std::uint32_t writeSome(const std::uint8_t* bytes, std::uint32_t length) {
        for (;;) {
            std::uint32_t written = 0;
            if (dllFunc_Write(handle_, bytes, length, &written, nullptr) != 0 && written != 0) {
                lastProgress_ = Clock::now();
                return written;
            }
            if (!keepTrying()) return 0;
        }
    }

private:
    // After a failure: whether to try again, after a pause.
    bool keepTrying() const {
        if (!network_ || Clock::now() - lastProgress_ >= kNetworkPatience) return false;
        std::this_thread::sleep_for(kRetryPause);
        return true;
    }

    bool network_;
    std::int32_t handle_ = -1;
    Clock::time_point lastProgress_;
};

int cannotOpen(std::ostream& err, const std::string& path) {
    return fail(err, "cannot open " + path + " (see the library log)");
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

int runList(const Invocation& inv, std::ostream& out, std::ostream& err) {
    // The second selector of a network search is its wait after the last reply (0: the setting).
    const std::vector<std::string> network = enumeratePaths(PORT_NET_DATA, inv.searchPort, inv.searchTimeoutMs);
    const std::vector<std::string> usb = enumeratePaths(PORT_USBPRN, 0);
    const std::vector<std::string> hid = enumeratePaths(PORT_HID, 0);
    for (const std::string& p : network) out << p << "\n";
    for (const std::string& p : usb) out << p << "\n";
    for (const std::string& p : hid) out << p << "\n";
    err << "tavrin: " << network.size() << " network device(s) answered on UDP port " << inv.searchPort << ", "
        << usb.size() << " USB printer interface(s) and " << hid.size() << " HID interface(s) found\n";
    note("listed " + std::to_string(network.size() + usb.size() + hid.size()) + " device path(s)");
    return kExitOk;
}

int runInfo(const Invocation& inv, std::ostream& out, std::ostream& err) {
    Device device(inv.path, Use::Commands);
    if (!device.isOpen()) return cannotOpen(err, inv.path);
    const struct {
        const char* label;
        const char* command;
    } queries[] = {
        {"model", "CTRL_CMDGET_MODEL"},
        {"device number", "CTRL_CMDGET_DEVNO"},
        {"protocol version", "CTRL_CMDGET_PROTVER"},
    };
    for (const auto& q : queries) {
        Answer answer;
        if (!device.exchange(q.command, {}, answer))
            return fail(err, std::string("no answer to ") + q.command + " from " + inv.path + " (see the library log)");
        out << q.label << ": ";
        if (answer.data.empty())
            out << "(no data, acknowledge code 0x" << hexText({answer.ackCode}) << ")\n";
        else
            out << displayText(answer.data) << "\n";
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

int runSend(const Invocation& inv, std::ostream& out, std::ostream& err) {
    if (!isCommandName(inv.name))
        return usageError(err, "unknown command name " + inv.name + " (see 'tavrin commands')");
    Device device(inv.path, Use::Commands);
    if (!device.isOpen()) return cannotOpen(err, inv.path);
    Answer answer;
    if (!device.exchange(inv.name, inv.data, answer))
        return fail(err, inv.name + " failed on " + inv.path + " (see the library log)");
    note("sent " + inv.name + ", acknowledge code " + std::to_string(answer.ackCode) + ", " +
         std::to_string(answer.data.size()) + " byte(s) of answer");
    printAnswer(answer, out);
    return kExitOk;
}

std::optional<Bytes> readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

// The progress of a write on one line of err, redrawn when the percentage changes.
class Progress {
public:
    Progress(std::ostream& err, std::string label, std::uint64_t total)
        : err_(err), label_(std::move(label)), total_(total) {}
    void show(std::uint64_t done) {
        const std::uint64_t percent = total_ == 0 ? 100 : done * 100 / total_;
        if (percent == shown_) return;
        shown_ = percent;
        err_ << "\r" << label_ << ": " << progressText(done, total_) << std::flush;
    }
    void end() { err_ << "\n"; }

private:
    std::ostream& err_;
    std::string label_;
    std::uint64_t total_;
    std::uint64_t shown_ = UINT64_MAX;
};

int runWrite(const Invocation& inv, std::ostream& out, std::ostream& err) {
    const auto bytes = readFile(inv.file);
    if (!bytes) return fail(err, "cannot read " + inv.file);
    Device device(inv.path, Use::Data);
    if (!device.isOpen()) return cannotOpen(err, inv.path);

    Progress progress(err, inv.file, bytes->size());
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
    note("wrote " + std::to_string(done) + " of " + std::to_string(bytes->size()) + " byte(s) of " + inv.file);
    if (done == 0 && !bytes->empty()) return fail(err, inv.path + " took no data (see the library log)");
    if (done < bytes->size())
        return fail(err, "writing to " + inv.path + " stopped after " + std::to_string(done) + " of " +
                             std::to_string(bytes->size()) + " bytes (see the library log)");
    out << "wrote " << done << " bytes to " << inv.path << "\n";
    return kExitOk;
}

int runCommands(std::ostream& out) {
    std::uint16_t code = 0;
    for (std::uint16_t i = 0; const tavrin_wchar_t* name = dllFunc_EnumProtoCode(i, &code); ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "0x%02X", code);
        out << number << "  " << narrow(name, std::char_traits<tavrin_wchar_t>::length(name));
        if (code == 0x80) out << "  (the first data byte, 0x80..0x9F, is the device's command)";
        out << "\n";
    }
    out << "      " << kRawCommand << "  (raw: the data goes out unframed, then one read of the answer)\n";
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

int runConfig(const Invocation& inv, std::ostream& out, std::ostream& err) {
    const bool offline = isDescriptionFile(inv.path);
    std::optional<Device> device;
    std::int32_t handle = -1;
    if (!offline) {
        device.emplace(inv.path, Use::Commands);
        if (!device->isOpen()) return cannotOpen(err, inv.path);
        handle = device->handle();
    }
    const bool loaded = offline ? dllFunc_LoadDevCfg(-1, wide(inv.path).c_str()) != 0
                                : device->retry([&] { return dllFunc_LoadDevCfg(handle, nullptr) != 0; });
    if (!loaded) return fail(err, "cannot load the configuration description from " + inv.path + " (see the library log)");
    const std::string dataSource = offline ? "devCfg.dat in the user data folder" : inv.path;

    bool dataRead = false;
    const std::vector<ConfigItem> items = configItems(handle, dataRead);
    if (!inv.assign) {
        for (const ConfigItem& item : items) {
            const std::optional<std::string> v = dataRead ? configValue(handle, item.name) : std::nullopt;
            std::string details = item.line;
            if (const std::size_t comma = details.find(','); comma != std::string::npos) details.erase(0, comma + 1);
            out << item.name << "=" << (v ? *v : "?") << "  (" << details << ")\n";
        }
        note("listed " + std::to_string(items.size()) + " configuration item(s)");
        if (!dataRead && !items.empty())
            return fail(err, "cannot read the configuration data from " + dataSource + " (see the library log)");
        if (items.empty()) err << "tavrin: the description names no configuration items\n";
        return kExitOk;
    }

    if (!dataRead) return fail(err, "cannot read the configuration data from " + dataSource + " (see the library log)");
    const bool known = std::any_of(items.begin(), items.end(), [&](const ConfigItem& i) { return i.name == inv.name; });
    if (!known) return fail(err, "no configuration item " + inv.name + " (see 'tavrin config " + inv.path + "')");
    if (dllFunc_SetDevCfgInfo(handle, wide(inv.name).c_str(), wide(inv.value).c_str(), 0, 1) == 0)
        return fail(err, inv.name + "=" + inv.value + " was refused or could not be written to " + dataSource +
                             " (see the library log)");
    const std::optional<std::string> v = configValue(handle, inv.name);
    note("set " + inv.name + " to " + (v ? *v : inv.value));
    out << inv.name << "=" << (v ? *v : inv.value) << "\n";
    return kExitOk;
}

int runCommand(const Invocation& inv, std::ostream& out, std::ostream& err) {
    switch (inv.command) {
    case Command::List: return runList(inv, out, err);
    case Command::Info: return runInfo(inv, out, err);
    case Command::Send: return runSend(inv, out, err);
    case Command::Write: return runWrite(inv, out, err);
    case Command::Commands: return runCommands(out);
    case Command::Config: return runConfig(inv, out, err);
    case Command::None: break;
    }
    return kExitUsage;
}

void printRecords(std::ostream& out) {
    std::uint32_t count = 0;
    const tavrin_wchar_t* records = dllFunc_GetLogRecord(&count, 1);
    if (records == nullptr) return;
    std::string text = narrow(records, count);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    out << text;
    if (!text.empty() && text.back() != '\n') out << "\n";
}

std::string describe(const std::vector<std::string>& args) {
    std::string line = "tavrin";
    for (const std::string& a : args) line += " " + a;
    return line;
}

}  // namespace

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        const ParseResult parsed = parseCommandLine(args);
        if (!parsed.error.empty()) return usageError(err, parsed.error);
        const Invocation& inv = parsed.invocation;
        if (inv.help) {
            out << usageText();
            return kExitOk;
        }
        if (inv.version) {
            out << "tavrin " << TAVRIN_TOOL_VERSION << "\n";
            return kExitOk;
        }
        if (!inv.logFile.empty() && dllFunc_OpenLog(wide(inv.logFile).c_str()) == 0)
            return fail(err, "cannot open the log file " + inv.logFile);
        if (inv.records) dllFunc_GetLogRecord(nullptr, 1);  // only this run's records

        dllFunc_SetLogRecord(wide(describe(args)).c_str(), 1, 1, 0);
        const int result = runCommand(inv, out, err);
        if (inv.records) printRecords(out);
        if (!inv.logFile.empty()) dllFunc_CloseLog();
        return result;
    } catch (const std::exception& e) {
        return fail(err, std::string("internal error: ") + e.what());
    }
}

}  // namespace tavrin::cli
