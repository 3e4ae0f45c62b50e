// The echo request's bytes, which datagrams count as its reply, and the text
// and breach a round-trip time turns into.
#include <gtest/gtest.h>

#include <cstring>

#include "polling/icmp/echo_packet.h"
#include "polling/icmp/icmp_output.h"

namespace qm::polling {
namespace {

TEST(IcmpPacket, RequestCarriesItsFieldsAndAValidChecksum) {
    // The example of RFC 1071, odd length included.
    const uint8_t rfc[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(InternetChecksum(rfc), 0x220d);
    EXPECT_EQ(InternetChecksum(std::span(rfc, 7)), 0x2304);  // the last byte padded with zero

    const EchoRequest r{0x1234, 1, 0xdeadbeef, 0x0102030405060708ull, 13};
    const std::vector<uint8_t> m = BuildEchoRequest(r);
    ASSERT_EQ(m.size(), kEchoHeaderSize + 13);
    EXPECT_EQ(m[0], 8);
    EXPECT_EQ(m[1], 0);
    EXPECT_EQ(InternetChecksum(m), 0) << "a message with its checksum in place sums to zero";
    uint16_t id = 0, seq = 0;
    uint32_t thread = 0;
    uint64_t stamp = 0;
    std::memcpy(&id, &m[4], 2);
    std::memcpy(&seq, &m[6], 2);
    std::memcpy(&thread, &m[8], 4);
    std::memcpy(&stamp, &m[12], 8);
    EXPECT_EQ(id, 0x1234);
    EXPECT_EQ(seq, 1);
    EXPECT_EQ(thread, 0xdeadbeefu);
    EXPECT_EQ(stamp, r.stamp);
    for (size_t i = kEchoHeaderSize; i < m.size(); ++i) EXPECT_EQ(m[i], 0xFF);
}

// A reply as a raw socket sees it: an IP header of `ihl` words, TTL 64.
std::vector<uint8_t> RawReply(const EchoRequest& r, size_t ihl) {
    std::vector<uint8_t> d(ihl * 4, 0);
    d[0] = static_cast<uint8_t>(0x40 | ihl);
    d[8] = 64;
    std::vector<uint8_t> icmp = BuildEchoRequest(r);
    icmp[0] = 0;
    d.insert(d.end(), icmp.begin(), icmp.end());
    return d;
}

TEST(IcmpPacket, OnlyTheReplyToThisAttemptMatches) {
    const EchoRequest sent{7, 1, 4242, 99, 0};
    // IP options make the header longer than 20 bytes: the reply still matches.
    for (size_t ihl : {5u, 6u, 15u}) {
        const auto reply = MatchEchoReply(RawReply(sent, ihl), ReplyForm::WithIpHeader, sent);
        ASSERT_TRUE(reply) << ihl;
        EXPECT_EQ(reply->ttl, 64);
        EXPECT_EQ(reply->stamp, 99u);
    }
    std::vector<uint8_t> shortened = RawReply(sent, 6);
    shortened.pop_back();  // the filler is empty: the stamp is cut
    EXPECT_FALSE(MatchEchoReply(shortened, ReplyForm::WithIpHeader, sent));
    EXPECT_FALSE(MatchEchoReply(std::vector<uint8_t>{0x4f}, ReplyForm::WithIpHeader, sent));
    EXPECT_FALSE(MatchEchoReply({}, ReplyForm::WithIpHeader, sent));

    std::vector<uint8_t> request = RawReply(sent, 5);
    request[20] = 8;  // our own request seen on loopback
    EXPECT_FALSE(MatchEchoReply(request, ReplyForm::WithIpHeader, sent));
    for (const EchoRequest other : {EchoRequest{8, 1, 4242, 99, 0}, EchoRequest{7, 0, 4242, 99, 0},
                                    EchoRequest{7, 1, 4243, 99, 0}})
        EXPECT_FALSE(MatchEchoReply(RawReply(other, 5), ReplyForm::WithIpHeader, sent));

    // A ping socket: no IP header, and the identifier is the kernel's.
    std::vector<uint8_t> bare = BuildEchoRequest(EchoRequest{999, 1, 4242, 99, 0});
    bare[0] = 0;
    const auto reply = MatchEchoReply(bare, ReplyForm::Bare, sent);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->ttl, -1);
    bare[6] = 0;  // sequence 0
    EXPECT_FALSE(MatchEchoReply(bare, ReplyForm::Bare, sent));
}

TEST(IcmpOutput, PlaceholdersBreachesAndRounding) {
    IcmpHost host;
    host.outFormat = "On-line, response [msec]";
    IcmpOutput out = FormatIcmpOutput(host, 12.34, 64, " (!)");
    EXPECT_FALSE(out.breach);
    EXPECT_EQ(out.text, "On-line, response 12.3");
    EXPECT_EQ(RoundedMsec(12.34), 12);
    EXPECT_EQ(RoundedMsec(12.5), 13);

    host.enableMax = 1;
    host.maxVal = 10;
    out = FormatIcmpOutput(host, 10.7, 64, " (!)");  // 10 >= 10
    EXPECT_TRUE(out.breach);
    EXPECT_EQ(out.text, "On-line, response 10.7 (!)");
    EXPECT_FALSE(FormatIcmpOutput(host, 9.99, 64, " (!)").breach);

    host.enableMax = 0;
    host.enableMin = 1;
    host.minVal = 3;
    EXPECT_TRUE(FormatIcmpOutput(host, 3.9, 64, " (!)").breach);
    EXPECT_FALSE(FormatIcmpOutput(host, 4.0, 64, " (!)").breach);

    host.enableMin = 0;
    host.outFormat = "[msec]/[ttl] [msec] [ttl]";
    EXPECT_EQ(FormatIcmpOutput(host, 1.25, 63, " (!)").text, "1.2/63 1.2 63");
    host.outFormat = "up";
    EXPECT_EQ(FormatIcmpOutput(host, 1.0, 64, " (!)").text, "up");
}

}  // namespace
}  // namespace qm::polling
