#include "devicelib/ports/net_address.h"

#include "platform/wide_format.h"

namespace tavrin {

std::optional<platform::Ipv4Endpoint> parseNetAddress(const char16_t* text) {
    if (text == nullptr) return std::nullopt;
    // Read as the format "%d.%d.%d.%d:%d" is scanned: fields are taken while they match.
    // An address number keeps its low 8 bits (arithmetic modulo 2^32 keeps them exact); the port
    // must be a TCP port as written: a negative one, or one above 65535, is refused rather than
    // wrapped to another port.
    std::uint32_t fields[5] = {};
    bool outOfRange[5] = {};
    int count = 0;
    const char16_t* p = text;
    while (count < 5) {
        if (count > 0) {
            const char16_t separator = count < 4 ? u'.' : u':';
            if (*p != separator) break;
            ++p;
        }
        while (*p == u' ' || *p == u'\t') ++p;
        bool negative = false;
        if (*p == u'-' || *p == u'+') negative = *p++ == u'-';
        if (*p < u'0' || *p > u'9') break;
        std::uint32_t v = 0;
        bool big = false;
        while (*p >= u'0' && *p <= u'9') {
            v = v * 10u + static_cast<std::uint32_t>(*p++ - u'0');
            if (v > kMaxTcpPort) big = true;
        }
        outOfRange[count] = big || (negative && v != 0);
        fields[count++] = negative ? 0u - v : v;
    }
    if (count != 4 && count != 5) return std::nullopt;
    if (count == 5 && outOfRange[4]) return std::nullopt;
    platform::Ipv4Endpoint e;
    for (int i = 0; i < 4; ++i) e.address[i] = static_cast<std::uint8_t>(fields[i] & 0xFF);
    e.port = count == 5 ? static_cast<std::uint16_t>(fields[4]) : 0;
    return e;
}

std::optional<std::u16string> parseDiscoveryReply(const std::uint8_t* d, std::size_t length) {
    if (d == nullptr || length < kDiscoveryReplyMin) return std::nullopt;
    if (d[0] != 0x10 || d[1] != 0x40) return std::nullopt;
    const std::size_t n = d[2];
    if (4 + n > length) return std::nullopt;  // the checksum would need bytes that did not arrive
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + d[4 + i]);
    if (sum != d[3] || d[4] != 0x01) return std::nullopt;
    for (std::size_t i = 0; i < kDiscoverySignature.size(); ++i)
        if (d[5 + i] != kDiscoverySignature[i]) return std::nullopt;
    const unsigned port = static_cast<unsigned>(d[21]) | static_cast<unsigned>(d[22]) << 8;
    return formatWide(u"%d.%d.%d.%d:%d", d[25], d[26], d[27], d[28], port);
}

std::array<std::uint8_t, kDiscoveryReplyMin> makeDiscoveryReply(const platform::Ipv4Endpoint& device) {
    std::array<std::uint8_t, kDiscoveryReplyMin> r{};
    r[0] = 0x10;
    r[1] = 0x40;
    r[2] = static_cast<std::uint8_t>(kDiscoveryReplyMin - 4);
    r[4] = 0x01;
    for (std::size_t i = 0; i < kDiscoverySignature.size(); ++i) r[5 + i] = kDiscoverySignature[i];
    r[21] = static_cast<std::uint8_t>(device.port & 0xFF);
    r[22] = static_cast<std::uint8_t>(device.port >> 8);
    for (int i = 0; i < 4; ++i) r[25 + static_cast<std::size_t>(i)] = device.address[i];
    std::uint8_t sum = 0;
    for (std::size_t i = 4; i < r.size(); ++i) sum = static_cast<std::uint8_t>(sum + r[i]);
    r[3] = sum;
    return r;
}

}  // namespace tavrin
