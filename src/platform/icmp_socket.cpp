#include "platform/icmp_socket.h"

#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>

namespace qm::platform {

int IcmpSocket::Open(int* pingError) {
    const int ping = Open(Kind::Ping);
    if (pingError) *pingError = ping;
    if (ping == 0) return 0;
    return Open(Kind::Raw);
}

int IcmpSocket::Open(Kind kind) {
    Close();
    if (kind == Kind::None) return EINVAL;
    const int fd = ::socket(AF_INET, (kind == Kind::Ping ? SOCK_DGRAM : SOCK_RAW) | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return errno;
    fd_.Reset(fd);
    if (kind == Kind::Ping) {
        const int on = 1;
        if (::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0) {
            const int error = errno;
            Close();
            return error;
        }
    }
    kind_ = kind;
    return 0;
}

void IcmpSocket::Close() {
    fd_.Reset();
    kind_ = Kind::None;
}

int IcmpSocket::SetTimeouts(uint32_t sendMs, uint32_t recvMs) {
    const timeval send{static_cast<time_t>(sendMs / 1000), static_cast<suseconds_t>(sendMs % 1000 * 1000)};
    const timeval recv{static_cast<time_t>(recvMs / 1000), static_cast<suseconds_t>(recvMs % 1000 * 1000)};
    if (::setsockopt(fd_.Get(), SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send) != 0) return errno;
    if (::setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVTIMEO, &recv, sizeof recv) != 0) return errno;
    return 0;
}

int IcmpSocket::SendTo(std::span<const uint8_t> message, const sockaddr_in& to) {
    // A datagram goes whole or not at all; the loop only covers a short
    // count a system might report.
    size_t sent = 0;
    while (sent < message.size()) {
        const ssize_t n = ::sendto(fd_.Get(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        sent += static_cast<size_t>(n);
    }
    return 0;
}

int IcmpSocket::Receive(std::span<uint8_t> buffer, uint32_t waitMs, sockaddr_in& from, int& ttl) {
    ttl = -1;
    pollfd p{fd_.Get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(waitMs));
    if (ready < 0) return errno == EINTR ? 0 : -errno;
    if (ready == 0) return 0;
    iovec io{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[64];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd_.Get(), &msg, MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -errno;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
            int value = 0;
            std::memcpy(&value, CMSG_DATA(c), sizeof value);
            ttl = value;
        }
    }
    return static_cast<int>(n);
}

}  // namespace qm::platform
