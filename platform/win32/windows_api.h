// The one header that includes <windows.h>. Only files in platform/win32 include it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/device_io.h"
#include "platform/os_types.h"

namespace tavrin::platform::win32 {

inline HANDLE toHandle(OsHandle h) { return reinterpret_cast<HANDLE>(h); }
inline OsHandle fromHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<OsHandle>(h);
}
// UTF-16 text of the portable code as the W functions take it (wchar_t is 16-bit on Windows).
inline const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline wchar_t* wide(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }

// Waits for the event of an overlapped operation, as the synchronous transfers do, or for the
// port's abort event (none: nullptr); either counts as signalled.
inline IoWait waitForEvent(HANDLE event, HANDLE abort, std::int32_t timeoutMs, std::uint32_t* code) {
    const HANDLE events[2] = {event, abort};
    DWORD r = WaitForMultipleObjectsEx(abort != nullptr ? 2 : 1, events, FALSE, static_cast<DWORD>(timeoutMs), FALSE);
    if (code != nullptr) *code = r;
    switch (r) {
    case WAIT_OBJECT_0:
    case WAIT_OBJECT_0 + 1: return IoWait::Signalled;
    case WAIT_TIMEOUT: return IoWait::TimedOut;
    case WAIT_FAILED: return IoWait::WaitFailed;
    default: return IoWait::Other;
    }
}

}  // namespace tavrin::platform::win32
