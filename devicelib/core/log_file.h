// CLogFile: the library log. Lines collect as UTF-16 in a fixed text buffer and reach the log file
// only when it is flushed, converted to the system's ANSI code page once per flush. A small record
// buffer keeps the texts handed in by callers (setLogRecord) until they fetch them.
//
// Every operation runs under the log lock, which is re-entrant and always the innermost lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devicelib/core/wide_format.h"
#include "platform/os_types.h"
#include "platform/sync.h"

namespace tavrin {

class CLogFile {
public:
    static constexpr std::uint32_t kTextCapacity = 65536;  // wide characters
    static constexpr std::uint32_t kRecordCapacity = 4096;

    CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;
    ~CLogFile();  // flushes and closes a file that is still held

    // The text buffer exists from process attach to process detach.
    void createTextBuffer();
    void freeTextBuffer();

    // Appends formatted text; a text that does not fit whole in the rest of the buffer is dropped.
    template <typename... Args>
    void logPrint(const char16_t* format, const Args&... args) {
        appendText(formatWide(format, args...), false);
    }
    // The same, preceded by the time stamp "hh-mm-ss+mmmm : ".
    template <typename... Args>
    void logPrintStamped(const char16_t* format, const Args&... args) {
        appendText(formatWide(format, args...), true);
    }
    // A function line: "TID(%d)#%s : " with the calling thread and the function's name, then the
    // message. Prefix and message are two separate appends.
    template <typename... Args>
    void funcLine(const char16_t* function, const char16_t* format, const Args&... args) {
        logPrint(u"TID(%d)#%s : ", platform::currentThreadId(), function);
        logPrint(format, args...);
    }
    // A time-stamped line: "TID(%d)#", then the stamped message.
    template <typename... Args>
    void stampedLine(const char16_t* format, const Args&... args) {
        logPrint(u"TID(%d)#", platform::currentThreadId());
        logPrintStamped(format, args...);
    }

    void logFlush();
    std::uint32_t appendRecord(const char16_t* text, std::uint32_t length, std::uint32_t lineEnd);
    void setLogRecord(const char16_t* text, std::int32_t newLine, std::int32_t timeStamp,
                      std::int32_t flush);
    const char16_t* getLogRecord(std::uint32_t* count, std::int32_t reset);
    void logHexDump(const std::uint8_t* bytes, std::uint16_t count);

    // The file: openLog takes the path to use (the caller has applied the settings' rules).
    std::int32_t openLog(const char16_t* path);
    void closeLog();
    bool isOpen();

    // Fill position of the text buffer, for diagnostics and tests.
    std::uint32_t fillPosition();
    std::u16string collectedText();

private:
    void appendText(const std::u16string& text, bool stamped);
    bool fitsInRest(std::size_t length) const;  // length characters and a terminating zero
    bool appendIfFits(const std::u16string& text);

    platform::RecursiveLock lock_;
    platform::OsHandle file_ = platform::kNoHandle;
    std::int32_t open_ = 0;
    std::unique_ptr<char16_t[]> text_;
    std::uint32_t fill_ = 0;
    char16_t record_[kRecordCapacity] = {};
    std::uint16_t recordWrite_ = 0;
    std::uint16_t recordRead_ = 0;
};

// "hh-mm-ss+mmmm : " for the local time now.
std::u16string logTimeStamp();

// The handler for invalid arguments found by the runtime's bounds-checking string functions
// (installed while configuration texts are formatted): it logs what the runtime reported and
// returns, so that the function that found the error returns its error result.
void tavrInvalidParameterHandler(const char16_t* expression, const char16_t* function, const char16_t* file,
                                 unsigned int line, std::uintptr_t reserved);

}  // namespace tavrin
