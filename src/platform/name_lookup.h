#pragma once
// The system's reverse name lookup for one address: a name is required
// (no numeric fallback), and the answer comes through the system resolver
// (hosts file, name servers, whatever the system is configured for).
#include <array>
#include <cstdint>
#include <string>

#include "platform/socket_address.h"

namespace qm::platform {

// a.b.c.d as the four bytes a, b, c, d.
using Ipv4Bytes = std::array<uint8_t, 4>;

struct HostNameLookup {
    std::string name;      // as the system gives it (ANSI code page); empty on failure
    int error = 0;         // 0, or getnameinfo's EAI_* code
    int systemError = 0;   // errno, when the error is a system error

    bool Found() const { return error == 0 && !name.empty(); }
    // A later attempt may succeed (no server answered, resources ran out),
    // as opposed to an answer that the address has no name.
    bool Temporary() const;
};

// Blocks for as long as the system resolver takes, which its own timeout and
// attempt settings bound (resolv.conf `options timeout: attempts:`).
HostNameLookup LookUpHostName(const SocketAddress& address);

}  // namespace qm::platform
