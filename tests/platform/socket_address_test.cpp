#include "platform/socket_address.h"

#include <gtest/gtest.h>

namespace qm::platform {

TEST(SocketAddress, BothFamiliesReadAndPrintAsUsersWriteThem) {
    // IPv4 stays exactly as the collector has always written it.
    auto v4 = SocketAddress::Parse("192.0.2.10", 514);
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->Family(), AF_INET);
    EXPECT_EQ(v4->Text(), "192.0.2.10");
    EXPECT_EQ(v4->Port(), 514);

    // IPv6 in its shortest form, with or without brackets.
    for (const char* text : {"2001:0db8:0000:0000:0000:0000:0000:0007", "[2001:db8::7]"}) {
        auto v6 = SocketAddress::Parse(text, 6514);
        ASSERT_TRUE(v6) << text;
        EXPECT_TRUE(v6->IsIpv6());
        EXPECT_EQ(v6->Text(), "2001:db8::7");
        EXPECT_EQ(v6->Port(), 6514);
    }
    EXPECT_TRUE(SocketAddress::Parse("::", 0)->IsAny());
    EXPECT_TRUE(SocketAddress::Parse("0.0.0.0", 0)->IsAny());
    EXPECT_FALSE(SocketAddress::Parse("::1", 0)->IsAny());

    // An IPv4 sender seen through a dual-stack socket looks as it always did.
    auto mapped = SocketAddress::Parse("::ffff:10.1.2.3", 9);
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->Text(), "10.1.2.3");
    ASSERT_TRUE(mapped->Ipv4());
    EXPECT_EQ(mapped->Ipv4()->sin_port, htons(9));

    // Names, half addresses and junk are not addresses (no lookup happens here).
    for (const char* text : {"", "localhost", "2001:db8::7::1", "1.2.3", "[::1", "::1%", "fe80::1%nosuchif0", "1.2.3.4:80"})
        EXPECT_FALSE(SocketAddress::Parse(text, 0)) << text;
    EXPECT_TRUE(SocketAddress().Text().empty());
    EXPECT_EQ(*SocketAddress::Parse("::1", 5), *SocketAddress::Parse("0::1", 5));
    EXPECT_FALSE(*SocketAddress::Parse("::1", 5) == *SocketAddress::Parse("::1", 6));
}

}  // namespace qm::platform
