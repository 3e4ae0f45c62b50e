#pragma once
// TCP sockets of either family, the only place the program touches the
// socket calls for streams. Every call is non-blocking; waiting is done explicitly through
// Poll, so whoever waits chooses the time limit. Errors come back as errno
// values.
#include <netinet/in.h>
#include <poll.h>
#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/socket_address.h"

namespace qm::platform {

// Host text (dotted IPv4 first, else a name through the system resolver's
// first IPv4 answer) and a port. 0, or the getaddrinfo EAI_* code when the
// text is neither (EAI_NONAME also for an empty text).
int ResolveIpv4(std::string_view host, uint16_t port, sockaddr_in& out);

// poll on several sockets at once; `ready` is how many have something.
// 0 or errno.
int PollSockets(std::span<pollfd> sockets, int timeoutMs, int& ready);

class TcpSocket {
public:
    TcpSocket() = default;
    // Takes over a descriptor made elsewhere; it is closed with this object.
    explicit TcpSocket(int fd) : fd_(fd) {}
    ~TcpSocket() { Close(); }
    TcpSocket(TcpSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    TcpSocket& operator=(TcpSocket&& o) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // The calls below give 0 or errno.
    int Open(int family = AF_INET);
    // Non-blocking mode; sockets attached from elsewhere get it too, so a
    // stray call can never hang a session's thread.
    int SetNonBlocking();
    int SetReuseAddress();
    // An IPv6 socket that takes IPv6 only (on) or IPv4 as well, as mapped
    // addresses (off), whatever the system's default is.
    int SetIpv6Only(bool on);
    int Bind(const sockaddr_in& local);
    int Bind(const SocketAddress& local);
    int Listen(int backlog);
    // Starts a connect; EINPROGRESS is normal and means "wait for writable,
    // then ask ConnectResult".
    int StartConnect(const sockaddr_in& remote);
    int StartConnect(const SocketAddress& remote);
    // The outcome of a started connect, read from SO_ERROR (a refused one
    // shows as writable too).
    int ConnectResult() const;
    // The pending socket error (SO_ERROR), cleared by reading it.
    int PendingError() const;
    // A connection waiting on a listening socket; EAGAIN when none is.
    int Accept(TcpSocket& connection, sockaddr_in& peer);
    int Accept(TcpSocket& connection, SocketAddress& peer);

    // poll on this socket alone; `ready` is 0 when the time ran out.
    int Poll(short events, int timeoutMs, short& ready) const;

    // Bytes received (0: the peer closed its side), or -errno; -EAGAIN when
    // nothing is waiting. `peek` leaves the bytes in the socket.
    ssize_t Receive(std::span<char> into, bool peek = false);
    // Bytes waiting to be received (FIONREAD).
    int PendingBytes(int& count) const;
    // Bytes sent but not yet acknowledged by the peer, with those not sent
    // at all (SIOCOUTQ): what a peer that dies now may never have seen.
    int UnacknowledgedBytes(int& count) const;
    // Whether the connection is up both ways (TCP_INFO's state): after a
    // reset or the peer's close the send queue is gone, and with it what
    // UnacknowledgedBytes would have counted.
    bool IsEstablished() const;
    // Bytes sent, or -errno (-EAGAIN when the send buffer is full). A peer
    // that has gone away gives -EPIPE, never SIGPIPE.
    ssize_t Send(std::string_view bytes);

    int ShutdownSend();
    // Both directions; also wakes a thread waiting on the socket.
    int Shutdown();
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    int LocalAddress(sockaddr_in& out) const;
    int LocalAddress(SocketAddress& out) const;

private:
    int fd_ = -1;
};

}  // namespace qm::platform
