#include "platform/socket_address.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <cstdlib>
#include <cstring>

#include "platform/udp_socket.h"

namespace qm::platform {

SocketAddress::SocketAddress(const sockaddr_in& v4) : SocketAddress() { std::memcpy(&storage_, &v4, sizeof v4); }
SocketAddress::SocketAddress(const sockaddr_in6& v6) : SocketAddress() { std::memcpy(&storage_, &v6, sizeof v6); }

std::optional<SocketAddress> SocketAddress::FromRaw(const sockaddr* raw, socklen_t length) {
    if (!raw) return std::nullopt;
    if (raw->sa_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in))) {
        sockaddr_in a;
        std::memcpy(&a, raw, sizeof a);
        return SocketAddress(a);
    }
    if (raw->sa_family == AF_INET6 && length >= socklen_t(sizeof(sockaddr_in6))) {
        sockaddr_in6 a;
        std::memcpy(&a, raw, sizeof a);
        return SocketAddress(a);
    }
    return std::nullopt;
}

std::optional<SocketAddress> SocketAddress::Parse(std::string_view text, uint16_t port) {
    if (auto v4 = ParseIpv4(text, port)) return SocketAddress(*v4);
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    // The longest literal with a zone name is well under this.
    if (text.empty() || text.size() > 63 || text.find(':') == std::string_view::npos) return std::nullopt;
    std::string literal(text);
    uint32_t scope = 0;
    if (const size_t percent = literal.find('%'); percent != std::string::npos) {
        const std::string zone = literal.substr(percent + 1);
        literal.resize(percent);
        if (zone.empty()) return std::nullopt;
        char* end = nullptr;
        const unsigned long number = std::strtoul(zone.c_str(), &end, 10);
        scope = *end == '\0' ? uint32_t(number) : if_nametoindex(zone.c_str());
        if (scope == 0) return std::nullopt;
    }
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_scope_id = scope;
    if (inet_pton(AF_INET6, literal.c_str(), &a.sin6_addr) != 1) return std::nullopt;
    return SocketAddress(a);
}

uint16_t SocketAddress::Port() const {
    if (Family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_port);
    if (Family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_port);
    return 0;
}

void SocketAddress::SetPort(uint16_t port) {
    if (Family() == AF_INET) reinterpret_cast<sockaddr_in*>(&storage_)->sin_port = htons(port);
    if (Family() == AF_INET6) reinterpret_cast<sockaddr_in6*>(&storage_)->sin6_port = htons(port);
}

std::optional<sockaddr_in> SocketAddress::Ipv4() const {
    if (Family() == AF_INET) return *reinterpret_cast<const sockaddr_in*>(&storage_);
    if (Family() != AF_INET6) return std::nullopt;
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&storage_);
    if (!IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) return std::nullopt;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = v6->sin6_port;
    std::memcpy(&a.sin_addr, v6->sin6_addr.s6_addr + 12, 4);
    return a;
}

std::string SocketAddress::Text() const {
    if (auto v4 = Ipv4()) return Ipv4Text(*v4);
    if (Family() != AF_INET6) return {};
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&storage_);
    char text[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) return {};
    std::string out(text);
    // A link-local sender is only reachable through its interface.
    if (v6->sin6_scope_id != 0) out += "%" + std::to_string(v6->sin6_scope_id);
    return out;
}

socklen_t SocketAddress::Length() const {
    if (Family() == AF_INET) return sizeof(sockaddr_in);
    if (Family() == AF_INET6) return sizeof(sockaddr_in6);
    return 0;
}

bool SocketAddress::IsAny() const {
    if (Family() == AF_INET) return reinterpret_cast<const sockaddr_in*>(&storage_)->sin_addr.s_addr == INADDR_ANY;
    if (Family() == AF_INET6) return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr);
    return false;
}

bool SocketAddress::operator==(const SocketAddress& o) const {
    if (Family() != o.Family()) return false;
    if (Family() == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&storage_);
        const auto* b = reinterpret_cast<const sockaddr_in*>(&o.storage_);
        return a->sin_addr.s_addr == b->sin_addr.s_addr && a->sin_port == b->sin_port;
    }
    if (Family() == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&storage_);
        const auto* b = reinterpret_cast<const sockaddr_in6*>(&o.storage_);
        return std::memcmp(&a->sin6_addr, &b->sin6_addr, sizeof a->sin6_addr) == 0 && a->sin6_port == b->sin6_port &&
               a->sin6_scope_id == b->sin6_scope_id;
    }
    return true;
}

}  // namespace qm::platform
