#pragma once
// The graph's status bar: the vendor with the fill of its value buffer, one
// part per tag with a square in the tag's colour, and the countdown to the
// next refresh. Texts and widths only; the view draws them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "windows/graph/graph_settings.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

struct GraphStatusPart {
    std::string text;
    std::optional<uint32_t> penColor;  // tag parts: the square's colour
    int32_t width = 0;                 // pixels
};

// The vendor's samples in percent of the collector's limit. A limit of 0
// switches the collector off: nothing is kept, so the buffer shows 0 %. A
// limit lowered below what a vendor still holds shows 100 %, not more.
uint32_t BufferFillPercent(uint64_t vendorCount, uint32_t stackLimit);

// The first status part: the vendor and its fill, or the request to choose a tag when the
// graph has no vendor or no tag.
std::string VendorStatusText(const core::CoreContext& core, const GraphSettings& settings, uint64_t vendorCount,
                             uint32_t stackLimit);
// The last part: seconds to the next refresh, "refreshing" at 0.
std::string CountdownText(const core::CoreContext& core, uint32_t seconds);

// Widths of the vendor part, `tags` tag parts and the countdown part: the
// first and the last take `percent` of the width each (at most half each),
// the tags share the rest, the last tag taking what division leaves over.
std::vector<int32_t> GraphStatusWidths(uint32_t percent, size_t tags, int32_t clientWidth);

// The whole bar; without a vendor or a tag there are no tag parts.
std::vector<GraphStatusPart> GraphStatusParts(const core::CoreContext& core, const GraphSettings& settings,
                                              uint64_t vendorCount, uint32_t stackLimit, uint32_t countdownSeconds,
                                              int32_t clientWidth);

// Dark colours (green below 160) get white text and a white frame, others black.
bool IsDark(uint32_t color);

}  // namespace qm::windows
