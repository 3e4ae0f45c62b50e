#pragma once
// UDP sockets (IPv4 and IPv6), the only place the program touches the socket calls for
// datagrams. Errors come back as errno values, which is also what the
// program's reports show.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket_address.h"

namespace qm::platform {

// Dotted IPv4 text and a port; nothing for text that is not an address.
std::optional<sockaddr_in> ParseIpv4(std::string_view dotted, uint16_t port);
std::string Ipv4Text(const sockaddr_in& addr);

struct Datagram {
    size_t length = 0;      // bytes the sender sent
    size_t stored = 0;      // bytes that fit in the buffer
    bool truncated = false;
    SocketAddress from;
};

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() { Close(); }
    UdpSocket(UdpSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    UdpSocket& operator=(UdpSocket&& o) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // 0 or errno. An IPv6 socket takes IPv4 too where the system allows
    // (a bind to :: then hears both families).
    int Open(int family = AF_INET);
    bool IsOpen() const { return fd_ >= 0; }
    int SetReceiveTimeout(uint32_t ms);  // 0: wait without limit
    int SetSendTimeout(uint32_t ms);
    int SetReceiveBufferBytes(int bytes);
    // Datagrams the kernel dropped at this socket because its buffer was
    // full (a counter that wraps at 2^32); nothing when the system cannot tell.
    std::optional<uint32_t> KernelDrops() const;
    int Bind(const SocketAddress& local);
    std::optional<SocketAddress> LocalAddress() const;

    // Receives up to `buffers.size()` datagrams in one call, each into its own
    // buffer, waiting only for the first. Returns how many arrived, or -errno
    // (-EAGAIN for a receive timeout, or at once with `dontWait` when nothing
    // is there). A socket shut down meanwhile gives 0.
    int ReceiveBatch(std::span<const std::span<char>> buffers, std::span<Datagram> out, bool dontWait = false);
    // 0 or errno.
    int SendTo(std::string_view bytes, const SocketAddress& to);
    // Sends each payload as one datagram to `to`, many per system call.
    // Returns how many went; `onError(index, errno)` is called for each that
    // did not (the rest are still tried).
    template <typename OnError>
    size_t SendEach(std::span<const std::string_view> payloads, const SocketAddress& to, OnError&& onError);

    // Wakes a thread blocked in a receive on this socket; Linux does not on close alone.
    void Shutdown();
    void Close();
    int Fd() const { return fd_; }

private:
    // One sendmmsg call from `first`; the count sent, or -errno for the datagram at `first`.
    int SendSome(std::span<const std::string_view> payloads, size_t first, const SocketAddress& to);

    int fd_ = -1;
    std::vector<mmsghdr> headers_;
    std::vector<iovec> iov_;
};

template <typename OnError>
size_t UdpSocket::SendEach(std::span<const std::string_view> payloads, const SocketAddress& to, OnError&& onError) {
    size_t sent = 0;
    for (size_t next = 0; next < payloads.size();) {
        const int n = SendSome(payloads, next, to);
        if (n < 0) {
            onError(next, -n);
            ++next;  // that one is lost; the rest are still tried
            continue;
        }
        sent += size_t(n);
        next += size_t(n);
    }
    return sent;
}

}  // namespace qm::platform
