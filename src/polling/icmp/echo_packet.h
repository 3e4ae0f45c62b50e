#pragma once
// The echo request the poller sends and the test a received datagram must
// pass to be its reply. Pure functions over bytes; no sockets, no clocks.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qm::polling {

// Type, code, checksum, identifier, sequence, thread id and the send stamp.
constexpr size_t kEchoHeaderSize = 20;

struct EchoRequest {
    uint16_t identifier = 0;  // the host's index among the items
    uint16_t sequence = 0;    // the attempt: 0, then 1
    uint32_t thread = 0;      // the sending thread's id
    uint64_t stamp = 0;       // the clock at sending, in ns
    uint32_t filler = 0;      // bytes of 0xFF behind the header
};

// RFC 1071: the ones' complement of the ones' complement sum of 16-bit words.
uint16_t InternetChecksum(std::span<const uint8_t> bytes);
std::vector<uint8_t> BuildEchoRequest(const EchoRequest& request);

struct EchoReply {
    uint64_t stamp = 0;  // the stamp the request carried
    int ttl = -1;        // from the IP header when there is one
};

enum class ReplyForm {
    WithIpHeader,  // a raw socket: the IP header first, the identifier ours
    Bare,          // a ping socket: no IP header, the identifier the kernel's
};

// The reply to `sent`, or nothing for anything else (too short, another
// type, another attempt, host or thread).
std::optional<EchoReply> MatchEchoReply(std::span<const uint8_t> datagram, ReplyForm form, const EchoRequest& sent);

}  // namespace qm::polling
