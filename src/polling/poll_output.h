#pragma once
// The texts a poll makes, shared by every poller: a list's output format with
// its "[tag]" placeholders filled in, the limit test on a reading, and device
// texts made safe for an event line. Pure functions, any thread.
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::polling {

// Every occurrence of `from` in `text` replaced, left to right, case-sensitive,
// without scanning the inserted text again (a value that itself reads like a
// placeholder is not expanded twice).
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// The placeholder a tag stands for in an output format: the tag in brackets.
std::string Placeholder(std::string_view tag);

// Text from a device goes into an event line, where a '|' would start a relay
// suffix and could forge the sender and the time: it becomes a broken bar
// (U+00A6, in UTF-8).
std::string DefuseDeviceText(std::string_view text);

// A decimal number at the start of a device text, read within its length:
// leading blanks, an optional sign, digits; 0 when there are none. Beyond
// the range of a 32-bit integer it stops at the bound.
int32_t ReadDeviceDecimal(std::string_view bytes);

// The inclusive limits of an entry (minimum, maximum, each with its switch):
// a reading on or beyond a switched-on limit is a breach.
template <typename Entry>
bool BreachesLimits(int64_t value, const Entry& e) {
    return (e.enableMax && value >= e.maxVal) || (e.enableMin && value <= e.minVal);
}

}  // namespace qm::polling
