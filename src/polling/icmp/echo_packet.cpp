#include "polling/icmp/echo_packet.h"

#include <cstring>

namespace qm::polling {

namespace {
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEchoRequest = 8;
}  // namespace

uint16_t InternetChecksum(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) sum += uint32_t(bytes[i]) << 8 | bytes[i + 1];
    if (i < bytes.size()) sum += uint32_t(bytes[i]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> BuildEchoRequest(const EchoRequest& r) {
    std::vector<uint8_t> m(kEchoHeaderSize + r.filler, 0xFF);
    m[0] = kEchoRequest;
    m[1] = 0;
    m[2] = m[3] = 0;
    // Identifier, sequence, thread id and stamp in host order: only this
    // program reads them back, from its own requests.
    std::memcpy(&m[4], &r.identifier, 2);
    std::memcpy(&m[6], &r.sequence, 2);
    std::memcpy(&m[8], &r.thread, 4);
    std::memcpy(&m[12], &r.stamp, 8);
    const uint16_t sum = InternetChecksum(m);
    m[2] = static_cast<uint8_t>(sum >> 8);
    m[3] = static_cast<uint8_t>(sum);
    return m;
}

std::optional<EchoReply> MatchEchoReply(std::span<const uint8_t> d, ReplyForm form, const EchoRequest& sent) {
    EchoReply reply;
    size_t at = 0;
    if (form == ReplyForm::WithIpHeader) {
        if (d.empty()) return std::nullopt;
        // The header's own length, not a fixed 20: options make it longer.
        at = size_t(d[0] & 0x0F) * 4;
        if (at < 20 || d.size() < at) return std::nullopt;
        reply.ttl = d[8];
    }
    if (d.size() < at + kEchoHeaderSize) return std::nullopt;
    const uint8_t* icmp = d.data() + at;
    if (icmp[0] != kEchoReply) return std::nullopt;
    uint16_t identifier = 0, sequence = 0;
    uint32_t thread = 0;
    std::memcpy(&identifier, icmp + 4, 2);
    std::memcpy(&sequence, icmp + 6, 2);
    std::memcpy(&thread, icmp + 8, 4);
    if (form == ReplyForm::WithIpHeader && identifier != sent.identifier) return std::nullopt;
    if (sequence != sent.sequence || thread != sent.thread) return std::nullopt;
    std::memcpy(&reply.stamp, icmp + 12, 8);
    return reply;
}

}  // namespace qm::polling
