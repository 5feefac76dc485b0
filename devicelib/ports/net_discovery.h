// The search for network devices: one discovery request, then the replies that arrive until
// 2000 ms pass without one, written as a list of device paths.
#pragma once

#include <cstdint>

namespace tavrin {

// Fills buffer (capacity *size wide characters) with the device paths found, each with its
// terminator, and a closing empty string when room is left; *size receives the characters used.
// Returns the number of paths. Without a buffer nothing is sent and 0 is returned.
std::uint32_t discoverNetDevices(std::uint16_t udpPort, char16_t* buffer, std::uint32_t* size);

}  // namespace tavrin
