#include "devicelib/ports/net_discovery.h"

#include <algorithm>
#include <chrono>

#include "devicelib/ports/net_address.h"
#include "devicelib/ports/net_port.h"

namespace tavrin {

std::uint32_t discoverNetDevices(PortHost& host, std::uint16_t udpPort, char16_t* buffer, std::uint32_t* size,
                                 std::uint32_t quietMs) {
    if (buffer == nullptr || size == nullptr) return 0;
    const std::int32_t setting = host.discoveryTimeout();
    std::int32_t quiet = setting > 0 ? setting : kSearchQuietMs;
    if (quietMs != 0) quiet = static_cast<std::int32_t>(std::min<std::uint32_t>(quietMs, kSearchLimitMs));
    CNetPort port(PORT_NET_DATA, host);
    port.setUdpPort(udpPort);
    const auto address = parseNetAddress(host.discoveryAddress());
    if (address) port.setSearchAddress(*address);

    std::uint32_t sent = 0;
    if (port.UDP_IOCtrl(0, nullptr, &sent, 1) != 0) return 0;

    // Only a valid reply moves the end of the wait; anything else on the port (stray or hostile
    // datagrams) is read and dropped within the same wait, and the whole search is bounded.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(kSearchLimitMs);
    Clock::time_point quietEnd;
    bool waitBegins = true;  // at the start and after each valid reply

    const std::uint32_t capacity = *size;
    std::uint32_t pos = 0;
    std::uint32_t count = 0;
    bool first = true;
    while (pos + 1 < capacity) {
        const Clock::time_point now = Clock::now();
        if (waitBegins) {
            quietEnd = now + std::chrono::milliseconds(quiet);
            waitBegins = false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(std::min(quietEnd, limit) - now);
        if (left.count() <= 0) break;
        // Later replies leave room for the closing empty string.
        std::uint32_t room = capacity - pos - (first ? 0 : 1);
        first = false;
        const std::int32_t r = port.UDP_IOCtrl(0, buffer + pos, &room, 0, static_cast<std::int32_t>(left.count()));
        if (r == 0) {
            ++count;
            pos += room;
            waitBegins = true;
        } else if (r != -3) {
            break;  // no valid reply in time, or a receive failure
        }
    }
    if (pos < capacity) buffer[pos++] = 0;
    *size = pos;
    return count;
}

}  // namespace tavrin
