#pragma once
// UDP peers on loopback addresses.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>

namespace qm::testing {

inline sockaddr_in Loopback(uint16_t port, const char* ip = "127.0.0.1") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

// A UDP socket bound to `ip` (port 0: one the system picks).
class UdpPeer {
public:
    explicit UdpPeer(const char* ip = "127.0.0.1", uint16_t port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in local = Loopback(port, ip);
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            bindError_ = errno;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~UdpPeer() { if (fd_ >= 0) ::close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    int BindError() const { return bindError_; }
    uint16_t Port() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    bool SendTo(uint16_t port, std::string_view bytes, const char* ip = "127.0.0.1") const {
        const sockaddr_in to = Loopback(port, ip);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(bytes.size());
    }
    // One datagram, or nothing within the timeout.
    std::optional<std::string> Receive(std::chrono::milliseconds timeout, sockaddr_in* from = nullptr) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
        std::string buffer(65536, '\0');
        sockaddr_in sender{};
        socklen_t len = sizeof sender;
        const ssize_t got = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(from ? from : &sender), &len);
        if (got < 0) return std::nullopt;
        buffer.resize(static_cast<size_t>(got));
        return buffer;
    }

private:
    int fd_ = -1;
    int bindError_ = 0;
};

// A port nothing is bound to on 127.0.0.1 right now.
inline uint16_t FreePort() {
    UdpPeer probe;
    return probe.Ok() ? probe.Port() : 0;
}

}  // namespace qm::testing
