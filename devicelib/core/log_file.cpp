#include "devicelib/core/log_file.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "devicelib/core/dev_app.h"
#include "platform/log_file_io.h"
#include "platform/system_info.h"

namespace tavrin {

using platform::RecursiveLockGuard;

namespace {
constexpr const char16_t* kStampFormat = u"%02u-%02u-%02u+%04u : ";
}  // namespace

std::u16string logTimeStamp() {
    platform::LocalTime t = platform::localTimeNow();
    return formatWide(kStampFormat, t.hour, t.minute, t.second, t.millisecond);
}

void tavrInvalidParameterHandler(const char16_t*, const char16_t* function, const char16_t* file,
                                 unsigned int line, std::uintptr_t) {
    theLog().funcLine(u"tavrInvalidParameterHandler", u"InvalidParam: File = %s,Function = %s,line = %d\r\n", file,
                      function, line);
}

CLogFile::CLogFile() = default;

CLogFile::~CLogFile() { closeLog(); }

void CLogFile::createTextBuffer() {
    RecursiveLockGuard guard(lock_);
    if (!text_) text_ = std::make_unique<char16_t[]>(kTextCapacity);
    if (!writeBuffer_) writeBuffer_ = std::make_unique<char16_t[]>(kTextCapacity);
    fill_ = 0;
}

void CLogFile::freeTextBuffer() {
    RecursiveLockGuard guard(lock_);
    std::lock_guard<std::mutex> writing(writerLock_);  // a flush may still be writing the other buffer
    text_.reset();
    writeBuffer_.reset();
    open_ = 0;
    fill_ = 0;
}

bool CLogFile::fitsInRest(std::size_t length) const { return length + 1 <= kTextCapacity - fill_; }

bool CLogFile::appendFormattedPart(const char16_t* format, const FormatArg* args, std::size_t count) {
    if (!text_ || fill_ >= kTextCapacity) return false;
    const std::size_t length = formatWideInto(text_.get() + fill_, kTextCapacity - fill_, format, args, count);
    if (length == kNoFit) {
        text_[fill_] = 0;  // what was formatted of the dropped text is not part of the log
        return false;
    }
    fill_ += static_cast<std::uint32_t>(length);
    return true;
}

void CLogFile::appendFormatted(const char16_t* prefixFormat, const FormatArg* prefixArgs, std::size_t prefixCount,
                               const char16_t* format, const FormatArg* args, std::size_t count, bool stamped) {
    RecursiveLockGuard guard(lock_);
    if (prefixFormat != nullptr) appendFormattedPart(prefixFormat, prefixArgs, prefixCount);
    if (!text_ || fill_ >= kTextCapacity) return;
    if (stamped) {
        const platform::LocalTime t = platform::localTimeNow();
        const FormatArg stamp[] = {FormatArg(t.hour), FormatArg(t.minute), FormatArg(t.second),
                                   FormatArg(t.millisecond)};
        if (!appendFormattedPart(kStampFormat, stamp, 4)) return;
    }
    appendFormattedPart(format, args, count);
}

void CLogFile::writeFuncLine(const char16_t* function, const char16_t* format, const FormatArg* args,
                             std::size_t count) {
    const FormatArg prefix[] = {FormatArg(platform::currentThreadId()), FormatArg(function)};
    appendFormatted(u"TID(%d)#%s : ", prefix, 2, format, args, count, false);
}

void CLogFile::takeText(TakenText& taken) {
    if (taken.writing.owns_lock()) writeTaken(taken);  // a second flush in one call: the first text goes first
    if (file_ != platform::kNoHandle && text_ && writeBuffer_) {
        // Waits for the flush before to finish writing; the text collected since then is next.
        taken.writing = std::unique_lock<std::mutex>(writerLock_);
        std::swap(text_, writeBuffer_);
        taken.file = file_;
        taken.text = writeBuffer_.get();
        taken.length = fill_;
    }
    fill_ = 0;
    recordRead_ = 0;
}

void CLogFile::writeTaken(TakenText& taken) {
    if (!taken.writing.owns_lock()) return;
    if (taken.length > 0) {
        const std::string converted = platform::toAnsiCodePage(std::u16string_view(taken.text, taken.length));
        const char* data = converted.data();
        std::size_t size = converted.size();
        if (converted.empty()) {  // the text could not be converted: write it as it is
            data = reinterpret_cast<const char*>(taken.text);
            size = taken.length * sizeof(char16_t);
        }
        while (size > 0) {
            std::uint32_t written = 0;
            if (!platform::writeFile(taken.file, data, static_cast<std::uint32_t>(size), &written) || written == 0)
                break;
            data += written;
            size -= written;
        }
    }
    taken.text = nullptr;
    taken.length = 0;
    taken.writing.unlock();
}

void CLogFile::logFlush() {
    TakenText taken;
    {
        RecursiveLockGuard guard(lock_);
        takeText(taken);
    }
    writeTaken(taken);  // still under the log lock when the caller holds it
}

std::uint32_t CLogFile::appendRecord(const char16_t* text, std::uint32_t length, std::uint32_t lineEnd) {
    RecursiveLockGuard guard(lock_);
    if (length + lineEnd >= kRecordCapacity) return 0;
    if (recordWrite_ + length + lineEnd >= kRecordCapacity)
        recordWrite_ = static_cast<std::uint16_t>(kRecordCapacity - 1 - length - lineEnd);
    std::memcpy(record_ + recordWrite_, text, length * sizeof(char16_t));
    record_[recordWrite_ + length] = 0;
    recordWrite_ = static_cast<std::uint16_t>(recordWrite_ + length);
    if (lineEnd != 0) {
        record_[recordWrite_] = u'\r';
        record_[recordWrite_ + 1] = u'\n';
        recordWrite_ = static_cast<std::uint16_t>(recordWrite_ + 2);
        record_[recordWrite_] = 0;
    }
    return length;
}

void CLogFile::setLogRecord(const char16_t* text, std::int32_t newLine, std::int32_t timeStamp,
                            std::int32_t flush) {
    TakenText taken;
    {
        RecursiveLockGuard guard(lock_);
        if (text != nullptr) {
            char16_t stamp[32];  // the stamp's buffer
            std::size_t stampLength = 0;
            if (timeStamp != 0) {
                const platform::LocalTime t = platform::localTimeNow();
                const FormatArg parts[] = {FormatArg(t.hour), FormatArg(t.minute), FormatArg(t.second),
                                           FormatArg(t.millisecond)};
                stampLength = formatWideInto(stamp, sizeof stamp / sizeof stamp[0], kStampFormat, parts, 4);
                if (stampLength == kNoFit) return;  // the stamp did not fit its buffer
            }
            // The line in the text buffer is the whole text: only the record buffer counts at most
            // 4,096 characters (and so refuses a longer text).
            const std::size_t textLength = std::char_traits<char16_t>::length(text);
            const std::size_t lineEnd = newLine != 0 ? 2 : 0;
            const std::size_t lineLength = stampLength + textLength + lineEnd;
            if (text_) {
                // A line that does not fit in the rest of the buffer (with its terminator) goes in after
                // a flush; one longer than the whole buffer never fits and is dropped.
                if (!fitsInRest(lineLength)) takeText(taken);
                if (fitsInRest(lineLength)) {
                    char16_t* at = text_.get() + fill_;
                    std::memcpy(at, stamp, stampLength * sizeof(char16_t));
                    std::memcpy(at + stampLength, text, textLength * sizeof(char16_t));
                    if (lineEnd != 0) {
                        at[stampLength + textLength] = u'\r';
                        at[stampLength + textLength + 1] = u'\n';
                    }
                    fill_ += static_cast<std::uint32_t>(lineLength);
                    text_[fill_] = 0;
                }
            }
            if (stampLength != 0) appendRecord(stamp, static_cast<std::uint32_t>(stampLength), 0);
            const auto recordLength = static_cast<std::uint32_t>(std::min<std::size_t>(textLength, kRecordCapacity));
            if (recordLength != 0) appendRecord(text, recordLength, newLine != 0 ? 2 : 0);
        }
        if (flush != 0) takeText(taken);
    }
    writeTaken(taken);
}

const char16_t* CLogFile::getLogRecord(std::uint32_t* count, std::int32_t reset) {
    RecursiveLockGuard guard(lock_);
    const char16_t* result = nullptr;
    std::uint32_t n = 0;
    if (recordRead_ < recordWrite_) {
        n = static_cast<std::uint32_t>(recordWrite_ - recordRead_);
        result = record_ + recordRead_;
        recordRead_ = recordWrite_;
    }
    if (count != nullptr) *count = n;
    if (reset != 0) {
        record_ = record_ == recordBuffers_[0] ? recordBuffers_[1] : recordBuffers_[0];
        record_[0] = 0;
        recordWrite_ = 0;
        recordRead_ = 0;
    }
    return result;
}

void CLogFile::logHexDump(const std::uint8_t* bytes, std::uint16_t count) {
    RecursiveLockGuard guard(lock_);
    if (bytes == nullptr || count == 0 || !text_) return;
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    auto put = [this](char16_t c) {
        if (fill_ >= kTextCapacity) logFlush();
        text_[fill_++] = c;
    };
    for (std::uint16_t i = 0; i < count; ++i) {
        put(kDigits[bytes[i] >> 4]);
        put(kDigits[bytes[i] & 0x0F]);
    }
    if (fill_ + 2 <= kTextCapacity) {
        text_[fill_++] = u'\r';
        text_[fill_++] = u'\n';
    }
}

std::int32_t CLogFile::openLog(const char16_t* path) {
    RecursiveLockGuard guard(lock_);
    if (open_ != 0) return 1;
    if (file_ != platform::kNoHandle || !text_) {
        open_ = 0;
        return 0;
    }
    file_ = platform::createLogFile(path != nullptr ? path : u"");
    open_ = file_ != platform::kNoHandle ? 1 : 0;
    return open_;
}

void CLogFile::closeLog() {
    RecursiveLockGuard guard(lock_);
    if (file_ != platform::kNoHandle) {
        logFlush();
        std::lock_guard<std::mutex> writing(writerLock_);  // no flush is writing to it any more
        platform::closeHandle(file_);
        file_ = platform::kNoHandle;
    }
    open_ = 0;
}

bool CLogFile::isOpen() {
    RecursiveLockGuard guard(lock_);
    return open_ != 0;
}

std::uint32_t CLogFile::fillPosition() {
    RecursiveLockGuard guard(lock_);
    return fill_;
}

std::u16string CLogFile::collectedText() {
    RecursiveLockGuard guard(lock_);
    return text_ ? std::u16string(text_.get(), fill_) : std::u16string();
}

}  // namespace tavrin
