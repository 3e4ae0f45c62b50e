#pragma once
// Which sender texts are addresses that may be asked about on the network.
#include <optional>
#include <string_view>

#include "platform/name_lookup.h"

namespace qm::processing {

// Strictly four decimal parts of 0..255 separated by dots, nothing around
// them and no leading zeros: the form the collector writes for a datagram's
// source. A relay suffix can put any text in the sender field, and none of
// that may turn into a network query.
std::optional<platform::Ipv4Bytes> ParseDottedIpv4(std::string_view text);
// A dotted IPv4 address as above, or an IPv6 address in the one form the
// collector writes (the shortest, as "2001:db8::7"): another spelling of an
// address is a text some sender chose, not a source the network gave.
std::optional<platform::SocketAddress> ParseSenderAddress(std::string_view text);

}  // namespace qm::processing
