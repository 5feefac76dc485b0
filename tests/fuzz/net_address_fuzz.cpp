// The network device path "a.b.c.d:port" as dllFunc_OpenDev reads it: what it accepts prints back
// into a path that reads the same, and where the tool's stricter check accepts a path too, both
// read the same numbers.
//
// Input: the path, once with each byte as one character, once as UTF-16 (little-endian pairs).
#include <string>

#include "platform/wide_format.h"
#include "devicelib/ports/net_address.h"
#include "tests/fuzz/fuzz_check.h"
#include "tools/tavrin/cli.h"

namespace tavrin::fuzz {

namespace {

bool sameEndpoint(const platform::Ipv4Endpoint& a, const platform::Ipv4Endpoint& b) {
    for (int i = 0; i < 4; ++i)
        if (a.address[i] != b.address[i]) return false;
    return a.port == b.port;
}

void checkPath(const std::u16string& path) {
    const auto endpoint = parseNetAddress(path.c_str());  // stops at the first zero, as C text does
    if (!endpoint) return;
    const std::u16string printed = formatWide(u"%d.%d.%d.%d:%d", endpoint->address[0], endpoint->address[1],
                                              endpoint->address[2], endpoint->address[3], endpoint->port);
    const auto again = parseNetAddress(printed.c_str());
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(sameEndpoint(*again, *endpoint));
}

}  // namespace

int netAddress(const std::uint8_t* data, std::size_t size) {
    const std::u16string bytes(data, data + size);
    checkPath(bytes);

    const std::string ascii(data, data + size);
    const auto endpoint = parseNetAddress(bytes.c_str());
    if (endpoint && cli::isNetworkPath(ascii)) {
        // Both take it: the numbers the library reads are the ones written (the tool's form has
        // no blanks or signs, only decimal fields).
        platform::Ipv4Endpoint written;
        unsigned long fields[5] = {};
        std::size_t field = 0;
        for (char c : ascii) {
            if (c == '.' || c == ':') {
                ++field;
            } else {
                fields[field] = fields[field] * 10 + static_cast<unsigned long>(c - '0');
            }
        }
        for (int i = 0; i < 4; ++i) written.address[i] = static_cast<std::uint8_t>(fields[i]);
        written.port = static_cast<std::uint16_t>(fields[4]);
        FUZZ_CHECK(field == 4);
        FUZZ_CHECK(sameEndpoint(*endpoint, written));
    }

    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    checkPath(units);
    return 0;
}

}  // namespace tavrin::fuzz
