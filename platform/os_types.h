// The operating-system services the device library uses, as portable declarations.
// Only platform/win32 and platform/posix implement them; nothing here names an OS type.
#pragma once

#include <cstdint>

namespace tavrin::platform {

// A device, file or socket handle: a HANDLE on Windows, a file descriptor on POSIX.
using OsHandle = std::intptr_t;
inline constexpr OsHandle kNoHandle = -1;

// Closes a device, file or event handle; false when the system refused.
bool closeHandle(OsHandle handle);

}  // namespace tavrin::platform
