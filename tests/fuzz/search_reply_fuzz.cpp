// A datagram that answers the network search: what the parser takes names a device path that
// reads back as an address, and the reply a device would send for that address names the same path.
//
// Input: the datagram.
#include <string>

#include "devicelib/ports/net_address.h"
#include "tests/fuzz/fuzz_check.h"

namespace tavrin::fuzz {

int searchReply(const std::uint8_t* data, std::size_t size) {
    const auto path = parseDiscoveryReply(size == 0 ? nullptr : data, size);
    if (!path) return 0;
    FUZZ_CHECK(size >= kDiscoveryReplyMin);
    FUZZ_CHECK(path->size() >= 9 && path->size() <= 21);  // "0.0.0.0:0" .. "255.255.255.255:65535"
    const auto endpoint = parseNetAddress(path->c_str());
    FUZZ_CHECK(endpoint.has_value());
    const auto reply = makeDiscoveryReply(*endpoint);
    const auto again = parseDiscoveryReply(reply.data(), reply.size());
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *path);
    return 0;
}

}  // namespace tavrin::fuzz
