// CLogFile: the library log. Lines collect as UTF-16 in a fixed text buffer and reach the log file
// only when it is flushed, converted to the system's ANSI code page once per flush. A small record
// buffer keeps the texts handed in by callers (setLogRecord) until they fetch them.
//
// Every operation runs under the log lock, which is re-entrant and always the innermost lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "devicelib/ports/port_host.h"
#include "platform/wide_format.h"
#include "platform/os_types.h"
#include "platform/sync.h"

namespace tavrin {

class CLogFile final : public PortLog {
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
    // The text is formatted straight into the buffer, and not at all when the buffer is full.
    template <typename... Args>
    void logPrint(const char16_t* format, const Args&... args) {
        const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
        appendFormatted(nullptr, nullptr, 0, format, list, sizeof...(Args), false);
    }
    // The same, preceded by the time stamp "hh-mm-ss+mmmm : ".
    template <typename... Args>
    void logPrintStamped(const char16_t* format, const Args&... args) {
        const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
        appendFormatted(nullptr, nullptr, 0, format, list, sizeof...(Args), true);
    }
    // A function line: "TID(%d)#%s : " with the calling thread and the function's name, then the
    // message. Prefix and message are two appends, each kept or dropped on its own. (The ports
    // write the same lines through PortLog.)
    template <typename... Args>
    void funcLine(const char16_t* function, const char16_t* format, const Args&... args) {
        const FormatArg prefix[] = {FormatArg(platform::currentThreadId()), FormatArg(function)};
        const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
        appendFormatted(u"TID(%d)#%s : ", prefix, 2, format, list, sizeof...(Args), false);
    }
    // A time-stamped line: "TID(%d)#", then the stamped message.
    template <typename... Args>
    void stampedLine(const char16_t* format, const Args&... args) {
        const FormatArg prefix[] = {FormatArg(platform::currentThreadId())};
        const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
        appendFormatted(u"TID(%d)#", prefix, 1, format, list, sizeof...(Args), true);
    }

    // Writes the collected text to the file and empties the buffer. The text is taken out of the
    // buffer under the log lock and written after it is let go, in the order of the flushes, so
    // that other threads log on meanwhile.
    void logFlush();
    std::uint32_t appendRecord(const char16_t* text, std::uint32_t length, std::uint32_t lineEnd);
    void setLogRecord(const char16_t* text, std::int32_t newLine, std::int32_t timeStamp,
                      std::int32_t flush);
    // The text recorded since the last fetch, or null. It stays valid until the next fetch: with
    // reset, the records that follow go to a fresh buffer rather than over the text handed out.
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
    void writeFuncLine(const char16_t* function, const char16_t* format, const FormatArg* args,
                       std::size_t count) override;

    // A full text buffer taken out of the log, to be written to the file without the log lock;
    // it holds the writer lock until it is written.
    struct TakenText {
        std::unique_lock<std::mutex> writing;
        platform::OsHandle file = platform::kNoHandle;
        const char16_t* text = nullptr;
        std::uint32_t length = 0;
    };

    // Under the log lock: an optional prefix, then the message (after the time stamp when stamped).
    void appendFormatted(const char16_t* prefixFormat, const FormatArg* prefixArgs, std::size_t prefixCount,
                         const char16_t* format, const FormatArg* args, std::size_t count, bool stamped);
    bool appendFormattedPart(const char16_t* format, const FormatArg* args, std::size_t count);
    bool fitsInRest(std::size_t length) const;  // length characters and a terminating zero
    // Under the log lock: empties the buffer, and hands its text over for writing when a file is open.
    void takeText(TakenText& taken);
    static void writeTaken(TakenText& taken);

    platform::RecursiveLock lock_;
    platform::OsHandle file_ = platform::kNoHandle;
    std::int32_t open_ = 0;
    std::unique_ptr<char16_t[]> text_;
    std::unique_ptr<char16_t[]> writeBuffer_;  // the text being written, swapped with text_
    std::mutex writerLock_;  // one flush writes at a time, in the order they took their text; after lock_
    std::uint32_t fill_ = 0;
    // Two record buffers: a fetch with reset hands out the text of one and lets later records go to
    // the other, so the text a caller fetched stays whole while another thread (a firmware update)
    // goes on recording, until the caller fetches again.
    char16_t recordBuffers_[2][kRecordCapacity] = {};
    char16_t* record_ = recordBuffers_[0];
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
