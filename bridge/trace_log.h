// The trace log of the bridge: every DE* call traces its entry, parameters, result and exit into
// its thread's lines; when the outermost traced call of a thread ends, the lines become one
// record in the device library's log if the call failed, and are dropped if it succeeded. Each
// thread's first traced call writes a header (system, bitness, the bridge's path).
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <type_traits>

#include "bridge/trace_types.h"

namespace tavrin::bridge {

struct TraceThreadState;

// Writes one line of the calling thread (level 4 or more: nothing). tag and text are wide; flush
// drops the line and hands the thread's lines on as a record when the failed flag is set.
void traceWrite(int level, const std::u16string& tag, const std::u16string& text, bool flush);
// The result line: level 0, "返回值：" and the code in signed decimal.
void traceResult(std::int64_t code);
// The calling thread's failed flag.
void setTraceFailed(bool failed);
// Hands a text to the device library's log (dropped when that log is not open).
void writeTraceRecord(const std::u16string& tag, const std::u16string& text);
// Removes the calling thread's state (thread end) and every state (library unload).
void traceThreadEnd();
void traceShutdown();


class TraceScope {
public:
    explicit TraceScope(const char16_t* name);
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

    // One parameter line: "参数<n>: <type> <name><separator><value>".
    template <typename T>
    void param(const char* name, const T& value) {
        paramLine(traceTypeName<T>(), name, valueOf(value));
    }
    // A parameter shown under another declared type (pointer values that are bytes, not texts).
    template <typename Shown, typename T>
    void paramAs(const char* name, const T& value) {
        paramLine(traceTypeName<Shown>(), name, valueOf(const_cast<Shown>(value)));
    }

    // A wide output buffer: its text up to the first NUL, never past capacity characters.
    void paramBuffer(const char* name, const tavrin_wchar_t* text, std::size_t capacity);

private:
    template <typename T>
    static std::u16string valueOf(const T& value) {
        using U = std::remove_cvref_t<T>;
        if constexpr (std::is_pointer_v<U>) {
            using P = std::remove_cv_t<std::remove_pointer_t<U>>;
            if constexpr (std::is_same_v<P, tavrin_wchar_t>) {
                return wideText(reinterpret_cast<const char16_t*>(value));
            } else if constexpr (std::is_same_v<P, char> && std::is_const_v<std::remove_pointer_t<U>>) {
                return narrowText(value);
            }
        }
        if constexpr (std::is_floating_point_v<U>) {
            std::ostringstream out;
            out << value;
            const std::string s = out.str();
            return u":" + std::u16string(s.begin(), s.end());
        } else {
            return numeric(traceTypeName<T>(), &value, sizeof value, pointerValue(value), integerValue(value));
        }
    }
    template <typename T>
    static std::uint64_t pointerValue(const T& value) {
        if constexpr (std::is_pointer_v<T>) return reinterpret_cast<std::uintptr_t>(value);
        else return 0;
    }
    template <typename T>
    static std::int32_t integerValue(const T& value) {
        if constexpr (std::is_integral_v<T>) return static_cast<std::int32_t>(static_cast<std::int64_t>(value));
        else return 0;
    }
    static std::u16string wideText(const char16_t* text);
    static std::u16string narrowText(const char* text);
    static std::u16string numeric(const std::string& typeName, const void* address, std::size_t size,
                                  std::uint64_t pointer, std::int32_t integer);
    void paramLine(const std::string& typeName, const char* name, const std::u16string& value);

    TraceThreadState* state_;
    int counter_ = 1;
};

}  // namespace tavrin::bridge
