#pragma once
// An IPv4 or IPv6 socket address as one value, so the intake, the listeners
// and the relay carry either family without caring which. IPv4 senders
// reached through a dual-stack IPv6 socket read as the IPv4 address they are.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace qm::platform {

class SocketAddress {
public:
    SocketAddress() { std::memset(&storage_, 0, sizeof storage_); }
    SocketAddress(const sockaddr_in& v4);   // NOLINT: an IPv4 address is one
    SocketAddress(const sockaddr_in6& v6);  // NOLINT
    // From what a system call filled in; nothing for another family.
    static std::optional<SocketAddress> FromRaw(const sockaddr* raw, socklen_t length);

    // Dotted IPv4 or an IPv6 literal (also in brackets, and with a zone
    // after '%'); nothing for anything else, a name included.
    static std::optional<SocketAddress> Parse(std::string_view text, uint16_t port);

    int Family() const { return storage_.ss_family; }
    bool IsIpv6() const { return Family() == AF_INET6; }
    uint16_t Port() const;
    void SetPort(uint16_t port);
    // The IPv4 address, also of an IPv4-mapped IPv6 one.
    std::optional<sockaddr_in> Ipv4() const;
    // "192.0.2.1" for IPv4 (mapped ones too), "2001:db8::7" for IPv6 in its
    // shortest form; empty for no address.
    std::string Text() const;
    // The address for the system calls.
    const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&storage_); }
    sockaddr* Raw() { return reinterpret_cast<sockaddr*>(&storage_); }
    socklen_t Length() const;
    static constexpr socklen_t Capacity() { return sizeof(sockaddr_in6); }
    bool IsAny() const;  // 0.0.0.0 or ::

    bool operator==(const SocketAddress& o) const;

private:
    sockaddr_storage storage_;
};

}  // namespace qm::platform
