#include "windows/event_list/status_texts.h"

#include <algorithm>

#include "core/core_context.h"
#include "core/text_format.h"

namespace qm::windows {

namespace {

constexpr size_t kBarLength = 30;

// The formats here are the program's own and always fit their arguments.
std::string TextOrEmpty(std::optional<std::string> text) { return text.value_or(std::string()); }

}  // namespace

std::string SizeText(uint64_t bytes) {
    if (bytes < 1024) return TextOrEmpty(core::Format("%I64d byte", static_cast<int64_t>(bytes)));
    if (bytes < 1048576) return TextOrEmpty(core::Format("%.2f KB", static_cast<double>(bytes) / 1024.0));
    return TextOrEmpty(core::Format("%.2f MB", static_cast<double>(bytes) / 1048576.0));
}

std::string RunningTimeText(uint64_t seconds) {
    const auto days = static_cast<int64_t>(seconds / 86400), hours = static_cast<int64_t>(seconds / 3600 % 24),
               minutes = static_cast<int64_t>(seconds / 60 % 60), secs = static_cast<int64_t>(seconds % 60);
    if (days > 0) return TextOrEmpty(core::Format("%.2I64d %.2I64d:%.2I64d:%.2I64d", days, hours, minutes, secs));
    return TextOrEmpty(core::Format("%.2I64d:%.2I64d:%.2I64d", hours, minutes, secs));
}

StatusPart StatePart(const core::CoreContext& core, const StatusInputs& in) {
    if (in.startupBusy > 0) return {core.Text(core::str::kStatusLoading), 17};
    if (in.moduleThreads <= 1) return {core.Text(core::str::kStatusStopped), 14};
    if (in.busyHandlers == 0) return {core.Text(core::str::kStatusReady), 15};
    return {core.Text(core::str::kStatusWorking), 16};
}

uint32_t QueueFillPercent(const StatusInputs& in) {
    if (in.queueLimit == 0) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(in.queueCount * 100 / in.queueLimit, 100));
}

std::string FillBar(uint32_t percent) {
    const size_t filled = std::min<size_t>(kBarLength, size_t{percent} * kBarLength / 100);
    return std::string(filled, ':') + std::string(kBarLength - filled, '.');
}

std::vector<StatusPart> StatusParts(const core::CoreContext& core, const StatusInputs& in, bool simple) {
    StatusPart state = StatePart(core, in);
    // First in its part, where a narrow part does not cut it off.
    std::string shown;
    if (in.filtered)
        shown = core.Text(core::str::kStatusShownRows, static_cast<uint32_t>(std::min<uint64_t>(in.shownRows, UINT32_MAX)),
                          static_cast<uint32_t>(std::min<uint64_t>(in.rows, UINT32_MAX))) +
                " | ";
    if (simple) {
        // Without a database there is no limit to measure against, so no bar.
        const uint32_t percent = QueueFillPercent(in);
        if (in.queueLimit != 0 && in.queueCount > 0 && percent < 100) {
            if (auto text = core::Format("%s   %s %u%%", state.text, FillBar(percent), percent)) state.text = *text;
        }
        state.text.insert(0, shown);
        return {std::move(state)};
    }
    std::vector<StatusPart> parts;
    parts.push_back(std::move(state));
    parts.push_back({SizeText(in.memoryInUse), kMemoryIcon});
    parts.push_back({core.Text(core::str::kStatusTraffic, SizeText(in.bytesReceived),
                               static_cast<int64_t>(in.datagramsReceived), SizeText(in.bytesSent), static_cast<int64_t>(in.datagramsSent)),
                     kNetworkIcon});
    const uint64_t average = in.processed ? in.processingMs / in.processed : 0;
    parts.push_back({shown + core.Text(core::str::kStatusBufferAndList, static_cast<uint32_t>(in.queueCount),
                                       static_cast<int64_t>(in.eventsPerMinute),
                                       static_cast<int32_t>(std::min<uint64_t>(in.rows, INT32_MAX)),
                                       static_cast<int64_t>(average)),
                     kQueueIcon});
    parts.push_back({RunningTimeText(in.runningSeconds), kClockIcon});
    return parts;
}

std::vector<int32_t> StatusPartEdges(const std::array<uint32_t, 5>& percents, int32_t clientWidth, bool simple) {
    const int64_t width = std::max(clientWidth, 0);
    if (simple) return {static_cast<int32_t>(width)};
    std::vector<int32_t> edges;
    uint64_t sum = 0;
    for (uint32_t p : percents) {
        sum += p;
        edges.push_back(static_cast<int32_t>(std::min<int64_t>(width, width * static_cast<int64_t>(sum) / 100)));
    }
    // The last part takes what is left, so no strip of the bar stays empty.
    edges.back() = static_cast<int32_t>(width);
    return edges;
}

uint64_t EventRate::Update(uint64_t totalEvents, uint64_t nowMs) {
    if (!started_) {
        started_ = true;
        markMs_ = nowMs;
        markTotal_ = totalEvents;
        return perMinute_;
    }
    const uint64_t elapsed = nowMs - markMs_;
    if (elapsed >= 60000) {
        perMinute_ = (totalEvents - markTotal_) * 60000 / elapsed;
        markMs_ = nowMs;
        markTotal_ = totalEvents;
    }
    return perMinute_;
}

}  // namespace qm::windows
