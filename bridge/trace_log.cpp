// The trace log: per-thread lines, records of failed calls handed to the device library's log.
#include "bridge/trace_log.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "bridge/device_functions.h"
#include "platform/bridge_services.h"
#include "platform/system_info.h"

namespace tavrin::bridge {

namespace svc = platform::bridge;

struct TraceThreadState {
    std::array<std::u16string, 64> names;
    std::atomic<int> depth{0};
    bool failed = false;
    bool headerWritten = false;
    std::vector<std::u16string> lines;
};

namespace {

constexpr int kLevelThreshold = 4;

struct TraceLog {
    std::mutex writerLock;
    std::mutex listLock;
    std::vector<std::unique_ptr<TraceThreadState>> threads;
};

// Never destroyed: the library's unload (processDetach) runs after the destructors of its statics
// and still empties the thread list.
TraceLog& theTrace() {
    alignas(TraceLog) static unsigned char storage[sizeof(TraceLog)];
    static TraceLog* log = new (storage) TraceLog;
    return *log;
}

thread_local TraceThreadState* tlsState = nullptr;

TraceThreadState& threadState() {
    if (tlsState == nullptr) {
        auto state = std::make_unique<TraceThreadState>();
        tlsState = state.get();
        TraceLog& log = theTrace();
        {
            std::lock_guard<std::mutex> lock(log.listLock);
            log.threads.push_back(std::move(state));
        }
        svc::armThreadEndHook(&traceThreadEnd);
    }
    return *tlsState;
}

std::u16string ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string decimal(long long v) { return ascii(std::to_string(v)); }

std::u16string twoDigits(int v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, v);
    return ascii(buf);
}

std::u16string label(int level) {
    switch (level) {
    case 0: return u"Error: ";
    case 1: return u"Warning: ";
    case 2: return u"Note: ";
    case 3: return u"Info: ";
    default: return {};
    }
}

std::u16string buildLine(int depth, int level, const std::u16string& tag, const std::u16string& text) {
    const svc::LocalDateTime t = svc::localDateTimeNow();
    std::u16string line = twoDigits(t.hour, 2) + u":" + twoDigits(t.minute, 2) + u":" + twoDigits(t.second, 2) +
                          u":" + twoDigits(t.millisecond, 3);
    line += u":pid" + decimal(svc::processId()) + u":tid" + decimal(svc::threadId()) + u":";
    line.append(static_cast<std::size_t>(std::max(depth, 0)) * 2, u' ');
    line += label(level);
    if (!tag.empty()) line += u"[" + tag + u"] ";
    if (!text.empty()) line += u"\u203B" + text;
    return line;
}

std::u16string header() {
    std::string text = svc::operatingSystemName();
    text += svc::onSixtyFourBitSystem() ? " X64" : " X32";
    text += svc::ownModulePath();
    return svc::fromAnsiCodePage(text);
}

}  // namespace

void writeTraceRecord(const std::u16string& tag, const std::u16string& text) {
    const DeviceFunctions& f = deviceFunctions();
    if (f.OpenLog == nullptr || f.SetLogRecord == nullptr) return;
    try {
        const std::u16string folder = svc::traceFolder();
        const std::basic_string<tavrin_wchar_t> wideFolder(folder.begin(), folder.end());
        // Succeeds only while the device library's log is open; the log stays as it was found.
        if (f.OpenLog(wideFolder.c_str()) == 0) return;
        const svc::LocalDateTime t = svc::localDateTimeNow();
        const std::u16string date = twoDigits(t.year, 2) + u"-" + twoDigits(t.month, 2) + u"-" + twoDigits(t.day, 2);
        const std::u16string time = twoDigits(t.hour, 2) + u":" + twoDigits(t.minute, 2) + u":" +
                                    twoDigits(t.second, 2) + u":" + twoDigits(t.millisecond, 3);
        platform::createFolder(folder);
        svc::touchFile(folder + date + u".txt");
        const std::u16string line = tag.empty() ? u"    " + time + u" " + text : time + u" [" + tag + u"] " + text;
        const std::basic_string<tavrin_wchar_t> wideLine(line.begin(), line.end());
        f.SetLogRecord(wideLine.c_str(), 1, 1, 1);
    } catch (const std::exception& e) {
        svc::showMessageNarrow(e.what(), std::string());
    }
}

void traceWrite(int level, const std::u16string& tag, const std::u16string& text, bool flush) {
    TraceThreadState& state = threadState();
    if (level >= kLevelThreshold) return;
    std::u16string line = buildLine(state.depth.load(), level, tag, text);
    if (!flush) {
        state.lines.push_back(std::move(line));
        return;
    }
    std::u16string joined;
    for (const std::u16string& l : state.lines) joined += l + u"\n";
    TraceLog& log = theTrace();
    std::lock_guard<std::mutex> lock(log.writerLock);
    if (state.failed) {
        writeTraceRecord({}, u" 记录:       [" + std::u16string(40, u'-') + u"]\n" + joined);
    }
}

void traceResult(std::int64_t code) { traceWrite(0, {}, u"返回值：" + decimal(code), false); }

void setTraceFailed(bool failed) { threadState().failed = failed; }

void traceThreadEnd() {
    TraceThreadState* state = tlsState;
    if (state == nullptr) return;
    tlsState = nullptr;
    TraceLog& log = theTrace();
    std::unique_ptr<TraceThreadState> owned;
    {
        std::lock_guard<std::mutex> lock(log.listLock);
        auto it = std::find_if(log.threads.begin(), log.threads.end(), [&](const auto& p) { return p.get() == state; });
        if (it == log.threads.end()) return;
        owned = std::move(*it);
        log.threads.erase(it);
    }
}

void traceShutdown() {
    TraceLog& log = theTrace();
    std::lock_guard<std::mutex> lock(log.listLock);
    std::vector<std::unique_ptr<TraceThreadState>>().swap(log.threads);
    tlsState = nullptr;
}

TraceScope::TraceScope(const char16_t* name) : state_(&threadState()) {
    state_->failed = false;
    if (!state_->headerWritten) {
        state_->headerWritten = true;
        writeTraceRecord(svc::fromAnsiCodePage(svc::libraryFileVersion("OrvanePrinterLib.dll")), header());
    }
    const int depth = ++state_->depth;
    if (depth < static_cast<int>(state_->names.size())) state_->names[static_cast<std::size_t>(depth)] = name;
    traceWrite(-1, name, {}, false);
}

TraceScope::~TraceScope() {
    const int depth = state_->depth.load();
    const std::u16string name =
        depth >= 0 && depth < static_cast<int>(state_->names.size()) ? state_->names[static_cast<std::size_t>(depth)]
                                                                     : std::u16string();
    traceWrite(-1, u"退出" + name, {}, false);
    if (depth >= 0 && depth < static_cast<int>(state_->names.size())) state_->names[static_cast<std::size_t>(depth)].clear();
    if (--state_->depth == 0) {
        traceWrite(-1, std::u16string(40, u'='), {}, false);
        traceWrite(-1, {}, {}, true);
        state_->lines.clear();
    }
}

std::u16string TraceScope::wideText(const char16_t* text) {
    if (text == nullptr) return u":(null)";
    const std::u16string s(text);
    // Shown as the system's narrow text shows it.
    return u":" + svc::fromAnsiCodePage(platform::toAnsiCodePage(s));
}

void TraceScope::paramBuffer(const char* name, const tavrin_wchar_t* text, std::size_t capacity) {
    std::u16string value = u":(null)";
    if (text != nullptr) {
        std::size_t n = 0;
        while (n < capacity && text[n] != 0) ++n;
        value = u":" + svc::fromAnsiCodePage(platform::toAnsiCodePage(std::u16string(text, text + n)));
    }
    paramLine(traceTypeName<tavrin_wchar_t*>(), name, value);
}

std::u16string TraceScope::narrowText(const char* text) {
    if (text == nullptr) return u":(null)";
    std::size_t n = 0;
    while (n < 1023 && text[n] != '\0') ++n;
    return u":" + svc::fromAnsiCodePage(std::string(text, n));
}

std::u16string TraceScope::numeric(const std::string& typeName, const void* address, std::size_t size,
                                   std::uint64_t pointer, std::int32_t integer) {
    static const char* const kNumbers[] = {"int",   "unsigned int",   "long", "unsigned long", "short",
                                           "unsigned short", "char", "unsigned char", "bool"};
    static const char* const kPointees[] = {"char",  "unsigned char", "short", "unsigned short", "int", "unsigned int",
                                            "long",  "unsigned long", "float", "double",         "bool", "void"};
    for (const char* n : kNumbers)
        if (typeName == n) return u":" + decimal(integer);
    for (const char* p : kPointees) {
        const std::string base = std::string(p) + " *";
        if (typeName == base || typeName == base + " __ptr64") return u"(地址):" + ascii(std::to_string(pointer));
    }
    std::uint32_t first = 0;
    std::memcpy(&first, address, std::min<std::size_t>(size, sizeof first));
    const bool array = typeName.find('[') != std::string::npos && typeName.find(']') != std::string::npos;
    return (array ? u":" : u"(对象、函数指针):") + ascii(std::to_string(first));
}

void TraceScope::paramLine(const std::string& typeName, const char* name, const std::u16string& value) {
    const int index = counter_++;
    traceWrite(-1, {}, u"参数" + decimal(index) + u": " + ascii(typeName) + u" " + ascii(name) + value, false);
}

}  // namespace tavrin::bridge
