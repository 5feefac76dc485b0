// What the shared library does when the system loads it into a process and when it leaves.
// The backends call these from the system's own entry points (DllMain on Windows, constructor and
// destructor functions of the shared object on POSIX); the device library defines them.
#pragma once

#include <cstdint>

namespace tavrin::entry {

void processAttach();
void processDetach();
// A notification the library does not act on (Windows only); reason is the system's code.
void otherNotification(std::uint32_t reason);

}  // namespace tavrin::entry
