// IPv6 on the UDP paths: a listener on :: hears both families and shows
// each sender as people write it, one on ::1 hears logger over IPv6, and the
// relay sends to an IPv6 destination the same bytes as to an IPv4 one.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include "platform/socket_address.h"
#include "transport/collector/collector_module.h"
#include "transport/relay/relay_module.h"
#include "transport_test_support.h"

namespace qm::transport {
namespace {

using namespace qm::testing;
using platform::Blocking;

// Loopback IPv6 may be off (a container without it): nothing to check then.
bool HasIpv6Loopback() {
    platform::UdpSocket probe;
    return probe.Open(AF_INET6) == 0 && probe.Bind(*platform::SocketAddress::Parse("::1", 0)) == 0;
}

class CollectorOverIpv6 : public ModuleTest<CollectorModule> {};

TEST_F(CollectorOverIpv6, ListenersOnAnyAndOnLoopbackShowEachSenderInItsOwnForm) {
    if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
    ASSERT_TRUE(module_->SetCommon({}));
    for (const char* address : {"::", "::1"})
        ASSERT_TRUE(module_->AddRecord({.enable = true, .name = address, .param = 0, .port = 0, .sendTimeout = 100, .recvTimeout = 100, .server = {}}));
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    const uint16_t any = module_->BoundPort(0);
    const uint16_t loopback = module_->BoundPort(1);
    ASSERT_NE(any, 0);
    ASSERT_NE(loopback, 0);

    TempDir dir("qm-ipv6");
    const struct {
        const char* host;
        uint16_t port;
        const char* sender;
    } cases[] = {{"::1", any, "::1"}, {"127.0.0.1", any, "127.0.0.1"}, {"::1", loopback, "::1"}};
    for (const auto& c : cases) {
        const std::string text = std::string("over ") + c.host + " to " + std::to_string(c.port);
        ChildProcess logger({"logger", "-n", c.host, "-P", std::to_string(c.port), "-d", "--rfc3164", text},
                            dir.path() / "logger.txt");
        ASSERT_EQ(logger.Exit(30s), 0) << ReadWholeFile(dir.path() / "logger.txt");
        const std::optional<core::EventRecord> e = log_->WaitForMessage(text);
        ASSERT_TRUE(e) << text;
        EXPECT_EQ(e->sender, c.sender);
    }
}

class RelayOverIpv6 : public ModuleTest<RelayModule> {};

TEST_F(RelayOverIpv6, AnIpv6DestinationGetsTheLineWithAnIpv6Sender) {
    if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
    platform::UdpSocket receiver;
    ASSERT_EQ(receiver.Open(AF_INET6), 0);
    ASSERT_EQ(receiver.Bind(*platform::SocketAddress::Parse("::1", 0)), 0);
    const uint16_t port = receiver.LocalAddress()->Port();

    RelayCommon common;
    common.enableService = true;
    common.repeatTimeout = 20;
    ASSERT_TRUE(module_->SetCommon(common));
    RelayDestination to;
    to.name = "::1";
    to.port = port;
    ASSERT_TRUE(module_->AddRecord(to));
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    ASSERT_TRUE(WaitUntil([&] { return log_->CountSystem("Служба пересылки запущена") > 0; }, 20s));

    const platform::SocketAddress sender = *platform::SocketAddress::Parse("2001:db8::7", 514);
    ASSERT_EQ(core_.events->Submit(core::kEventExternal, core::kNoSeverity, "<13>from a v6 switch", sender), core::kOk);
    pollfd p{receiver.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1);
    char buffer[2048];
    const ssize_t got = ::recv(receiver.Fd(), buffer, sizeof buffer, 0);
    ASSERT_GT(got, 0);
    const std::string line(buffer, size_t(got));
    EXPECT_TRUE(StartsWith(line, "<13>from a v6 switch|a2;2001:db8::7;")) << line;
}

}  // namespace
}  // namespace qm::transport
