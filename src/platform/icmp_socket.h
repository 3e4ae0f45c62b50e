#pragma once
// An IPv4 ICMP socket for echo requests: the unprivileged ping socket where
// net.ipv4.ping_group_range lets the process's group use it, otherwise a raw
// socket (root or cap_net_raw). On a ping socket the kernel owns the
// identifier and the checksum, delivers only the replies to this socket and
// strips the IP header; the TTL then comes as ancillary data. Owns its
// descriptor; used by one thread at a time. Errors are errno values.
#include <netinet/in.h>

#include <cstdint>
#include <span>

#include "platform/unique_fd.h"

namespace qm::platform {

class IcmpSocket {
public:
    enum class Kind { None, Ping, Raw };

    // Tries the ping socket, then the raw socket; 0, or the raw socket's
    // error with the ping socket's in `pingError`.
    int Open(int* pingError = nullptr);
    // Opens just one kind (the tests take each path on its own).
    int Open(Kind kind);
    Kind kind() const { return kind_; }
    void Close();

    // 0 or errno, for SO_SNDTIMEO and SO_RCVTIMEO.
    int SetTimeouts(uint32_t sendMs, uint32_t recvMs);
    // Sends the whole message (0 or errno).
    int SendTo(std::span<const uint8_t> message, const sockaddr_in& to);
    // Waits up to `waitMs` for one datagram: its size, 0 when none came in
    // time, or -errno. `ttl` is the reply's TTL on a ping socket, else -1.
    int Receive(std::span<uint8_t> buffer, uint32_t waitMs, sockaddr_in& from, int& ttl);

private:
    UniqueFd fd_;
    Kind kind_ = Kind::None;
};

}  // namespace qm::platform
