#include "windows/graph/graph_status.h"

#include <algorithm>

#include "core/core_context.h"

namespace qm::windows {

uint32_t BufferFillPercent(uint64_t vendorCount, uint32_t stackLimit) {
    if (stackLimit == 0) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(vendorCount * 100 / stackLimit, 100));
}

std::string VendorStatusText(const core::CoreContext& core, const GraphSettings& settings, uint64_t vendorCount,
                             uint32_t stackLimit) {
    if (settings.vendor.empty() || settings.tags.empty()) return core.Text(core::str::kGraphNoTags);
    return core.Text(core::str::kGraphBufferFill, settings.vendor, BufferFillPercent(vendorCount, stackLimit));
}

std::string CountdownText(const core::CoreContext& core, uint32_t seconds) {
    return seconds == 0 ? core.Text(core::str::kGraphRefreshing) : core.Text(core::str::kGraphRefreshIn, seconds);
}

std::vector<int32_t> GraphStatusWidths(uint32_t percent, size_t tags, int32_t clientWidth) {
    const int64_t width = std::max(clientWidth, 0);
    // Each end part at most half, so the two never add up past the bar.
    const int64_t end = width * std::min<uint32_t>(percent, 50) / 100;
    const int64_t rest = width - 2 * end;
    std::vector<int32_t> widths{static_cast<int32_t>(end)};
    for (size_t i = 0; i < tags; ++i) {
        const int64_t share = rest / static_cast<int64_t>(tags);
        const int64_t leftOver = i + 1 == tags ? rest - share * static_cast<int64_t>(tags) : 0;
        widths.push_back(static_cast<int32_t>(share + leftOver));
    }
    widths.push_back(static_cast<int32_t>(tags == 0 ? width - end : end));
    return widths;
}

std::vector<GraphStatusPart> GraphStatusParts(const core::CoreContext& core, const GraphSettings& settings,
                                              uint64_t vendorCount, uint32_t stackLimit, uint32_t countdownSeconds,
                                              int32_t clientWidth) {
    const bool chosen = !settings.vendor.empty() && !settings.tags.empty();
    const size_t tags = chosen ? settings.tags.size() : 0;
    const std::vector<int32_t> widths = GraphStatusWidths(settings.sbarParts[1], tags, clientWidth);
    std::vector<GraphStatusPart> parts;
    parts.push_back({VendorStatusText(core, settings, vendorCount, stackLimit), std::nullopt, widths.front()});
    for (size_t i = 0; i < tags; ++i)
        parts.push_back({settings.tags[i].name, settings.tags[i].penColor, widths[i + 1]});
    parts.push_back({CountdownText(core, countdownSeconds), std::nullopt, widths.back()});
    return parts;
}

bool IsDark(uint32_t color) { return ((color >> 8) & 0xFF) < 160; }

}  // namespace qm::windows
