#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm::platform {

int ResolveIpv4(std::string_view host, uint16_t port, sockaddr_in& out) {
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (host.empty()) return EAI_NONAME;
    const std::string text(host);
    if (inet_pton(AF_INET, text.c_str(), &out.sin_addr) == 1) return 0;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(text.c_str(), nullptr, &hints, &found);
    if (rc != 0) return rc;
    int result = EAI_NONAME;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
        out.sin_addr = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
        result = 0;
        break;
    }
    ::freeaddrinfo(found);
    return result;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& o) noexcept {
    if (this != &o) {
        Close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

int TcpSocket::Open(int family) {
    Close();
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    return fd_ < 0 ? errno : 0;
}

int TcpSocket::SetNonBlocking() {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0) return errno;
    if (flags & O_NONBLOCK) return 0;
    return ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : errno;
}

int TcpSocket::SetReuseAddress() {
    const int on = 1;
    return ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : errno;
}

int TcpSocket::SetIpv6Only(bool on) {
    const int value = on ? 1 : 0;
    return ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &value, sizeof value) == 0 ? 0 : errno;
}

int TcpSocket::Bind(const sockaddr_in& local) {
    return ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 0 : errno;
}

int TcpSocket::Bind(const SocketAddress& local) { return ::bind(fd_, local.Raw(), local.Length()) == 0 ? 0 : errno; }

int TcpSocket::Listen(int backlog) { return ::listen(fd_, backlog) == 0 ? 0 : errno; }

int TcpSocket::StartConnect(const sockaddr_in& remote) {
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) return 0;
    return errno;
}

int TcpSocket::StartConnect(const SocketAddress& remote) {
    if (::connect(fd_, remote.Raw(), remote.Length()) == 0) return 0;
    return errno;
}

int TcpSocket::ConnectResult() const { return PendingError(); }

int TcpSocket::PendingError() const {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
    return error;
}

int TcpSocket::Accept(TcpSocket& connection, sockaddr_in& peer) {
    peer = sockaddr_in{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return errno;
    connection = TcpSocket(fd);
    return 0;
}

int TcpSocket::Accept(TcpSocket& connection, SocketAddress& peer) {
    peer = SocketAddress();
    socklen_t len = SocketAddress::Capacity();
    const int fd = ::accept4(fd_, peer.Raw(), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return errno;
    connection = TcpSocket(fd);
    return 0;
}

int PollSockets(std::span<pollfd> sockets, int timeoutMs, int& ready) {
    ready = 0;
    const int rc = ::poll(sockets.data(), sockets.size(), timeoutMs);
    if (rc < 0) return errno;
    ready = rc;
    return 0;
}

int TcpSocket::Poll(short events, int timeoutMs, short& ready) const {
    ready = 0;
    pollfd p{};
    p.fd = fd_;
    p.events = events;
    const int rc = ::poll(&p, 1, timeoutMs);
    if (rc < 0) return errno;
    if (rc > 0) ready = p.revents;
    return 0;
}

ssize_t TcpSocket::Receive(std::span<char> into, bool peek) {
    const int flags = MSG_DONTWAIT | (peek ? MSG_PEEK : 0);
    for (;;) {
        const ssize_t n = ::recv(fd_, into.data(), into.size(), flags);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? -EAGAIN : -errno;
    }
}

int TcpSocket::PendingBytes(int& count) const {
    count = 0;
    return ::ioctl(fd_, FIONREAD, &count) == 0 ? 0 : errno;
}

int TcpSocket::UnacknowledgedBytes(int& count) const {
    count = 0;
    return ::ioctl(fd_, SIOCOUTQ, &count) == 0 ? 0 : errno;
}

bool TcpSocket::IsEstablished() const {
    tcp_info info{};
    socklen_t len = sizeof info;
    return ::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 && info.tcpi_state == TCP_ESTABLISHED;
}

ssize_t TcpSocket::Send(std::string_view bytes) {
    for (;;) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? -EAGAIN : -errno;
    }
}

int TcpSocket::ShutdownSend() { return ::shutdown(fd_, SHUT_WR) == 0 ? 0 : errno; }

int TcpSocket::Shutdown() { return ::shutdown(fd_, SHUT_RDWR) == 0 ? 0 : errno; }

void TcpSocket::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int TcpSocket::LocalAddress(sockaddr_in& out) const {
    out = sockaddr_in{};
    socklen_t len = sizeof out;
    return ::getsockname(fd_, reinterpret_cast<sockaddr*>(&out), &len) == 0 ? 0 : errno;
}

int TcpSocket::LocalAddress(SocketAddress& out) const {
    out = SocketAddress();
    socklen_t len = SocketAddress::Capacity();
    return ::getsockname(fd_, out.Raw(), &len) == 0 ? 0 : errno;
}

}  // namespace qm::platform
