#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace qm::platform {

std::optional<sockaddr_in> ParseIpv4(std::string_view dotted, uint16_t port) {
    if (dotted.empty() || dotted.size() > 15) return std::nullopt;
    const std::string text(dotted);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, text.c_str(), &a.sin_addr) != 1) return std::nullopt;
    return a;
}

std::string Ipv4Text(const sockaddr_in& addr) {
    // Written by hand: the library's version formats through printf, and
    // every received datagram needs its sender's text.
    const uint32_t ip = ntohl(addr.sin_addr.s_addr);
    char text[16];
    char* w = text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned octet = (ip >> shift) & 0xFF;
        if (octet >= 100) *w++ = char('0' + octet / 100);
        if (octet >= 10) *w++ = char('0' + octet / 10 % 10);
        *w++ = char('0' + octet % 10);
        if (shift) *w++ = '.';
    }
    return std::string(text, size_t(w - text));
}

UdpSocket& UdpSocket::operator=(UdpSocket&& o) noexcept {
    if (this != &o) {
        Close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

int UdpSocket::Open(int family) {
    Close();
    fd_ = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd_ < 0) return errno;
    if (family == AF_INET6) {
        const int off = 0;
        ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);  // best effort: some systems refuse
    }
    return 0;
}

namespace {
int SetTimeout(int fd, int option, uint32_t ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0 ? 0 : errno;
}
}  // namespace

int UdpSocket::SetReceiveTimeout(uint32_t ms) { return SetTimeout(fd_, SO_RCVTIMEO, ms); }
int UdpSocket::SetSendTimeout(uint32_t ms) { return SetTimeout(fd_, SO_SNDTIMEO, ms); }

int UdpSocket::SetReceiveBufferBytes(int bytes) {
    // The system caps SO_RCVBUF at net.core.rmem_max (often a few hundred
    // KiB, far below what a flood needs); a process allowed to administer
    // the network gets the size asked for, as other syslog servers do.
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return 0;
    return ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0 : errno;
}

std::optional<uint32_t> UdpSocket::KernelDrops() const {
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof info;
    if (::getsockopt(fd_, SOL_SOCKET, SO_MEMINFO, info, &size) != 0 || size <= SK_MEMINFO_DROPS * sizeof(uint32_t))
        return std::nullopt;
    return info[SK_MEMINFO_DROPS];
}

int UdpSocket::Bind(const SocketAddress& local) {
    return ::bind(fd_, local.Raw(), local.Length()) == 0 ? 0 : errno;
}

std::optional<SocketAddress> UdpSocket::LocalAddress() const {
    SocketAddress a;
    socklen_t len = SocketAddress::Capacity();
    if (::getsockname(fd_, a.Raw(), &len) != 0) return std::nullopt;
    return SocketAddress::FromRaw(a.Raw(), len);
}

int UdpSocket::ReceiveBatch(std::span<const std::span<char>> buffers, std::span<Datagram> out, bool dontWait) {
    const size_t n = std::min(buffers.size(), out.size());
    if (n == 0) return -EINVAL;
    // Kept between calls: a receiver calls this in a tight loop.
    std::vector<mmsghdr>& headers = headers_;
    std::vector<iovec>& iov = iov_;
    headers.resize(n);
    iov.resize(n);
    for (size_t i = 0; i < n; ++i) {
        iov[i] = iovec{buffers[i].data(), buffers[i].size()};
        headers[i] = mmsghdr{};
        headers[i].msg_hdr.msg_iov = &iov[i];
        headers[i].msg_hdr.msg_iovlen = 1;
        out[i].from = SocketAddress();
        headers[i].msg_hdr.msg_name = out[i].from.Raw();
        headers[i].msg_hdr.msg_namelen = SocketAddress::Capacity();
    }
    // MSG_TRUNC makes each length the datagram's real one, so an oversize
    // datagram is seen for what it is instead of passing as a shorter one.
    const int flags = MSG_WAITFORONE | MSG_TRUNC | (dontWait ? MSG_DONTWAIT : 0);
    const int got = ::recvmmsg(fd_, headers.data(), static_cast<unsigned>(n), flags, nullptr);
    if (got < 0) return -errno;
    for (int i = 0; i < got; ++i) {
        const size_t real = headers[i].msg_len;
        out[i].length = real;
        out[i].stored = std::min(real, buffers[i].size());
        out[i].truncated = real > buffers[i].size() || (headers[i].msg_hdr.msg_flags & MSG_TRUNC);
        // A shut-down socket reports an empty datagram without a sender.
        if (real == 0 && headers[i].msg_hdr.msg_namelen == 0) return i;
    }
    return got;
}

int UdpSocket::SendTo(std::string_view bytes, const SocketAddress& to) {
    const ssize_t sent = ::sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL, to.Raw(), to.Length());
    if (sent < 0) return errno;
    return size_t(sent) == bytes.size() ? 0 : EMSGSIZE;
}

int UdpSocket::SendSome(std::span<const std::string_view> payloads, size_t first, const SocketAddress& to) {
    const size_t n = std::min<size_t>(payloads.size() - first, 256);
    std::vector<mmsghdr> headers(n);
    std::vector<iovec> iov(n);
    for (size_t i = 0; i < n; ++i) {
        const std::string_view p = payloads[first + i];
        iov[i] = iovec{const_cast<char*>(p.data()), p.size()};
        headers[i] = mmsghdr{};
        headers[i].msg_hdr.msg_iov = &iov[i];
        headers[i].msg_hdr.msg_iovlen = 1;
        headers[i].msg_hdr.msg_name = const_cast<sockaddr*>(to.Raw());
        headers[i].msg_hdr.msg_namelen = to.Length();
    }
    const int sent = ::sendmmsg(fd_, headers.data(), static_cast<unsigned>(n), MSG_NOSIGNAL);
    return sent < 0 ? -errno : sent == 0 ? -EAGAIN : sent;
}

void UdpSocket::Shutdown() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void UdpSocket::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace qm::platform
