#include "processing/dns/sender_address.h"

#include <cstring>

namespace qm::processing {

std::optional<platform::Ipv4Bytes> ParseDottedIpv4(std::string_view text) {
    platform::Ipv4Bytes out{};
    size_t pos = 0;
    for (size_t part = 0; part < out.size(); ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        const size_t begin = pos;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - begin < 3) {
            value = value * 10 + unsigned(text[pos] - '0');
            ++pos;
        }
        const size_t digits = pos - begin;
        // "010" is octal to some parsers and decimal to others: neither guess is safe.
        if (digits == 0 || value > 255 || (digits > 1 && text[begin] == '0')) return std::nullopt;
        out[part] = static_cast<uint8_t>(value);
    }
    if (pos != text.size()) return std::nullopt;
    return out;
}

std::optional<platform::SocketAddress> ParseSenderAddress(std::string_view text) {
    if (const std::optional<platform::Ipv4Bytes> v4 = ParseDottedIpv4(text)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        std::memcpy(&a.sin_addr, v4->data(), v4->size());
        return platform::SocketAddress(a);
    }
    std::optional<platform::SocketAddress> v6 = platform::SocketAddress::Parse(text, 0);
    if (!v6 || !v6->IsIpv6() || v6->Text() != text) return std::nullopt;
    return v6;
}

}  // namespace qm::processing
