#include "platform/udp_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace qm::platform {
namespace {

// CAP_NET_ADMIN among the effective capabilities: root in a container may
// lack it, and then gets the capped buffer like anyone else.
bool MayAdministerTheNetwork() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("CapEff:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> 12) & 1;
    }
    return false;
}

// A listener asks for a receive buffer far above the usual system cap; a
// process that may administer the network (the usual syslog server) gets
// all of it, any other gets what the cap allows, and neither call fails.
TEST(UdpSocketBuffer, TheBufferAskedForPassesTheSystemCapWhereAllowed) {
    int cap = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> cap;
    ASSERT_GT(cap, 0);
    const int wanted = 2 * cap + (4 << 20);
    UdpSocket socket;
    ASSERT_EQ(socket.Open(AF_INET), 0);
    EXPECT_EQ(socket.SetReceiveBufferBytes(wanted), 0);
    int got = 0;
    socklen_t size = sizeof got;
    ASSERT_EQ(::getsockopt(socket.Fd(), SOL_SOCKET, SO_RCVBUF, &got, &size), 0);
    // The system reports twice the size it books, for its own overhead.
    if (MayAdministerTheNetwork()) EXPECT_GE(got, wanted);
    else EXPECT_LE(got, 2 * cap);
}

}  // namespace
}  // namespace qm::platform
