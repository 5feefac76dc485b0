#include "devicelib/ports/net_address.h"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(NetAddress, DevicePathTexts) {
    struct Case {
        const char16_t* text;
        bool valid;
        std::uint8_t a, b, c, d;
        std::uint16_t port;
    };
    const Case cases[] = {
        {u"192.168.1.20:9100", true, 192, 168, 1, 20, 9100},
        {u"127.0.0.1", true, 127, 0, 0, 1, 0},          // no port: 0
        {u"10.0.0.1:abc", true, 10, 0, 0, 1, 0},        // a port that is not a number is missing
        {u"256.1.2.259:80", true, 0, 1, 2, 3, 80},      // low 8 bits of each number
        {u"1.2.3.4:65535", true, 1, 2, 3, 4, 65535},
        {u"1.2.3.4:0", true, 1, 2, 3, 4, 0},
        {u"1.2.3.4:65536", false, 0, 0, 0, 0, 0},  // a port is not wrapped into range
        {u"1.2.3.4:70000", false, 0, 0, 0, 0, 0},
        {u"1.2.3.4:4294967396", false, 0, 0, 0, 0, 0},  // 2^32 + 100, not 100
        {u"1.2.3.4:-1", false, 0, 0, 0, 0, 0},
        {u"4294967297.2.3.4:80", true, 1, 2, 3, 4, 80},  // an address number still keeps its low 8 bits
        {u"1.2.3", false, 0, 0, 0, 0, 0},
        {u"a.b.c.d:80", false, 0, 0, 0, 0, 0},
        {u"1.2.x.4:80", false, 0, 0, 0, 0, 0},
        {u"", false, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        auto e = parseNetAddress(c.text);
        ASSERT_EQ(e.has_value(), c.valid) << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
        if (!e) continue;
        EXPECT_EQ(e->address[0], c.a);
        EXPECT_EQ(e->address[1], c.b);
        EXPECT_EQ(e->address[2], c.c);
        EXPECT_EQ(e->address[3], c.d);
        EXPECT_EQ(e->port, c.port);
    }
    EXPECT_FALSE(parseNetAddress(nullptr));
}

TEST(NetAddress, DiscoveryReplies) {
    const platform::Ipv4Endpoint device{{192, 168, 7, 31}, 9100};
    const auto good = makeDiscoveryReply(device);
    EXPECT_EQ(parseDiscoveryReply(good.data(), good.size()), u"192.168.7.31:9100");

    std::uint8_t longer[40] = {};  // extra bytes after the reply do not matter
    std::copy(good.begin(), good.end(), longer);
    EXPECT_EQ(parseDiscoveryReply(longer, sizeof longer), u"192.168.7.31:9100");

    struct Bad {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
        bool fixSum;  // the checksum is made right again, so that only the field is wrong
    };
    const Bad bad[] = {{"checksum", 3, static_cast<std::uint8_t>(good[3] + 1), false},
                       {"kind", 4, 0x02, true},
                       {"signature", 12, 0x00, true},
                       {"sync byte", 0, 0x11, true},
                       {"command", 1, 0x41, true},
                       {"payload length past the datagram", 2, 0xFF, false}};
    for (const auto& b : bad) {
        auto d = good;
        d[b.offset] = b.value;
        if (b.fixSum) {
            std::uint8_t sum = 0;
            for (std::size_t i = 4; i < d.size(); ++i) sum = static_cast<std::uint8_t>(sum + d[i]);
            d[3] = sum;
        }
        EXPECT_FALSE(parseDiscoveryReply(d.data(), d.size())) << b.what;
    }
    EXPECT_FALSE(parseDiscoveryReply(good.data(), good.size() - 1)) << "too short";
    EXPECT_FALSE(parseDiscoveryReply(kDiscoveryRequest.data(), kDiscoveryRequest.size())) << "a request";
}

}  // namespace
}  // namespace tavrin
