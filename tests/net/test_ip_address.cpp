// Client addresses: RFC 5952 text, IPv4 of the dual-stack listener as dotted
// quads, block-list names (RFC 5782), the /64 a session limit counts, and
// the IPv6 networks of the IP rules.
#include <gtest/gtest.h>
#include "server/net/IpAddress.h"

TEST(IpAddress, TextIsDottedForIpv4AndRfc5952ForIpv6) {
    EXPECT_EQ(AddressText(QHostAddress("::ffff:127.0.0.1")), "127.0.0.1");
    EXPECT_EQ(AddressText(QHostAddress("192.0.2.7")), "192.0.2.7");
    EXPECT_EQ(AddressText(QHostAddress("2001:DB8:0:0:0:0:0:0001")), "2001:db8::1");
    // The longest run of zeros is shortened, the first of two equal ones, never a single field.
    EXPECT_EQ(AddressText(QHostAddress("2001:db8:0:0:1:0:0:1")), "2001:db8::1:0:0:1");
    EXPECT_EQ(AddressText(QHostAddress("2001:db8:0:1:1:1:1:1")), "2001:db8:0:1:1:1:1:1");
    EXPECT_EQ(AddressText(QHostAddress("fe80::1%lo")), "fe80::1");
    EXPECT_EQ(TraceAddressText("::1"), "[IPv6:::1]");
    EXPECT_EQ(TraceAddressText(" 127.0.0.1 "), "127.0.0.1");
}

TEST(IpAddress, BlockListNamesAndTheSlash64) {
    EXPECT_EQ(NibbleReversed("2001:db8:1:2:3:4:567:89ab"),
              "b.a.9.8.7.6.5.0.4.0.0.0.3.0.0.0.2.0.0.0.1.0.0.0.8.b.d.0.1.0.0.2");   // RFC 5782, 2.4
    EXPECT_EQ(NibbleReversed("::ffff:7f00:2"), "2.0.0.0.0.0.f.7.f.f.f.f.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0");
    EXPECT_EQ(NibbleReversed("127.0.0.2"), "");
    EXPECT_EQ(SessionAddressKey("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
    EXPECT_EQ(SessionAddressKey("::1"), SessionAddressKey("::ffff"));
    EXPECT_NE(SessionAddressKey("2001:db8:1:2::1"), SessionAddressKey("2001:db8:1:3::1"));
    EXPECT_EQ(SessionAddressKey("127.0.0.1"), "127.0.0.1");
}

TEST(IpAddress, NetworksOfTheIpRules) {
    Ipv6Network net;
    Text why;
    ASSERT_TRUE(ParseIpv6Network(" 2001:DB8::/32 ", net, &why));
    EXPECT_EQ(net.prefix, 32);
    EXPECT_TRUE(InNetwork("2001:db8:ffff::1", net));
    EXPECT_FALSE(InNetwork("2001:db9::1", net));
    EXPECT_FALSE(InNetwork("127.0.0.1", net));
    EXPECT_EQ(Ipv6NetworkText(" 2001:DB8:0::/032"), "2001:db8::/32");
    ASSERT_TRUE(ParseIpv6Network("::1", net));
    EXPECT_EQ(net.prefix, 128);
    EXPECT_TRUE(InNetwork("::1", net));
    EXPECT_FALSE(InNetwork("::2", net));
    ASSERT_TRUE(ParseIpv6Network("2001:db8:1:2::/63", net));
    EXPECT_TRUE(InNetwork("2001:db8:1:3::9", net));
    EXPECT_FALSE(InNetwork("2001:db8:1:4::9", net));
    ASSERT_TRUE(ParseIpv6Network("::/0", net));
    EXPECT_TRUE(InNetwork("2001:db8::1", net));

    EXPECT_FALSE(ParseIpv6Network("2001:db8::/129", net, &why));
    EXPECT_EQ(why, "the prefix length must be a number from 0 to 128");
    EXPECT_FALSE(ParseIpv6Network("2001:db8::/", net, &why));
    EXPECT_FALSE(ParseIpv6Network("2001:db8::/-1", net, &why));
    EXPECT_FALSE(ParseIpv6Network("2001:db8::g/64", net, &why));
    EXPECT_EQ(why, "\"2001:db8::g\" is no IPv6 address");
    EXPECT_FALSE(ParseIpv6Network("fe80::1%lo", net, &why));
    EXPECT_FALSE(ParseIpv6Network("10.0.0.1", net, &why));
}
