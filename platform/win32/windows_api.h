// The one header that includes <windows.h>. Only files in platform/win32 include it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/os_types.h"

namespace tavrin::platform::win32 {

inline HANDLE toHandle(OsHandle h) { return reinterpret_cast<HANDLE>(h); }
inline OsHandle fromHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<OsHandle>(h);
}
// UTF-16 text of the portable code as the W functions take it (wchar_t is 16-bit on Windows).
inline const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline wchar_t* wide(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }

}  // namespace tavrin::platform::win32
