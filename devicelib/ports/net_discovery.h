// The search for network devices: one discovery request, then the replies that arrive, written
// as a list of device paths. The list ends when the quiet time passes without a valid reply (a
// datagram that is not one does not extend the wait), and in any case 10 s after the request.
// The quiet time is 2000 ms, or the settings' DiscoveryTimeout, or what the caller asks for.
#pragma once

#include <cstdint>

#include "devicelib/ports/port_host.h"

namespace tavrin {

// How long the search waits for the next valid reply by default, and how long it may last in all
// (whatever the quiet time).
inline constexpr std::int32_t kSearchQuietMs = 2000;
inline constexpr std::int32_t kSearchLimitMs = 10000;

// Fills buffer (capacity *size wide characters) with the device paths found, each with its
// terminator, and a closing empty string when room is left; *size receives the characters used.
// Returns the number of paths. Without a buffer nothing is sent and 0 is returned. quietMs is the
// wait after the last valid reply; 0 takes the settings' DiscoveryTimeout.
// host: the log and the search settings (DiscoveryTimeout, DiscoveryAddress).
std::uint32_t discoverNetDevices(PortHost& host, std::uint16_t udpPort, char16_t* buffer, std::uint32_t* size,
                                 std::uint32_t quietMs = 0);

}  // namespace tavrin
