// What a port needs of the library that makes it, handed to it when it is created: the log its
// lines go to, the settings it uses and whether the library is leaving the process. The
// library's application object is the one host; ports never reach for it any other way, so this
// folder depends on platform/ alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sync.h"
#include "platform/wide_format.h"

namespace tavrin {

// Where a port's lines go: function lines "TID(%d)#<function> : <message>".
class PortLog {
public:
    template <typename... Args>
    void funcLine(const char16_t* function, const char16_t* format, const Args&... args) {
        const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
        writeFuncLine(function, format, list, sizeof...(Args));
    }

protected:
    ~PortLog() = default;
    // Formats and keeps the line (or drops it whole, as the log does with what does not fit).
    virtual void writeFuncLine(const char16_t* function, const char16_t* format, const FormatArg* args,
                               std::size_t count) = 0;
};

class PortHost {
public:
    virtual PortLog& portLog() = 0;
    // The system's level (2: Windows 7 or later, 1: XP or later, 0: older): how the HID port
    // finds its device again after a restart. Asked each time it is needed.
    virtual std::uint16_t systemLevel() const = 0;
    // True while the library leaves the process: threads are then ended by the system's rules.
    virtual bool leavingProcess() const = 0;
    // The network search's settings: the quiet time after the last reply in ms (0 or less: the
    // default) and the address the request goes to (dotted quad; malformed: the broadcast).
    virtual std::int32_t discoveryTimeout() const = 0;
    virtual const char16_t* discoveryAddress() const = 0;

protected:
    ~PortHost() = default;
};

}  // namespace tavrin
