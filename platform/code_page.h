// Text in the calling thread's ANSI code page, both ways: the configuration description a device
// hands out and the texts of configuration items are bytes in it. Windows: CP_THREAD_ACP; POSIX:
// UTF-8, as the log.
#pragma once

#include <string>

namespace tavrin::platform {

// Characters that the code page lacks become its default character ("?"); empty on failure.
std::string toThreadCodePage(const std::u16string& text);
// Bytes that do not decode become U+FFFD (POSIX) or the system's replacement (Windows).
std::u16string fromThreadCodePage(const std::string& bytes);

}  // namespace tavrin::platform
