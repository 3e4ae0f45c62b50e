#include "windows/event_list/status_info.h"

#include <algorithm>
#include <limits>

#include "core/core_context.h"
#include "core/text_format.h"
#include "windows/event_list/status_texts.h"

namespace qm::windows {

namespace {

// The formats here are the program's own and always fit their arguments.
std::string Formatted(std::optional<std::string> text) { return text.value_or(std::string()); }

int64_t Clamped(uint64_t v) { return static_cast<int64_t>(std::min<uint64_t>(v, std::numeric_limits<int64_t>::max())); }

}  // namespace

std::string MemoryHistoryText(uint64_t inUseNow, const core::MemorySnapshots::Array& snapshots) {
    std::string text = "Memory usage history:\r\n";
    const auto add = [&text](uint64_t bytes) { text = Formatted(core::Format("%s\r\n- %s", text, SizeText(bytes))); };
    add(inUseNow);
    // A drain that has not happened is all zeros, and so is its line.
    for (const core::MemorySnapshot& s : snapshots) add(s.InUse());
    return text;
}

LeakEstimate EstimateLeak(uint64_t inUseNow, const core::MemorySnapshots::Array& snapshots) {
    for (const core::MemorySnapshot& s : snapshots) {
        const uint64_t base = s.InUse();
        if (s.allocated == 0 || base == 0) continue;  // not taken yet
        if (inUseNow <= base) return {};
        const uint64_t grown = inUseNow - base;
        const uint64_t percent = grown <= std::numeric_limits<uint64_t>::max() / 100 ? grown * 100 / base
                                                                                      : grown / base * 100;
        return {Clamped(percent), Clamped(grown)};
    }
    return {};
}

std::string WithLeakLine(const std::string& text, const LeakEstimate& leak) {
    return Formatted(core::Format("%s\r\n\r\nLeeked: %I64d%% (%I64d bytes)", text, leak.percent, leak.bytes));
}

std::string OperatingText(const core::CoreContext& core, const OperatingFigures& f) {
    return core.Text(core::str::kOperatingInfo, f.state, RunningTimeText(f.runningSeconds), SizeText(f.memoryInUse),
                     f.threads, f.windows, f.collisions, f.lockUsers, SizeText(f.bytesReceived), f.datagramsReceived, SizeText(f.bytesSent),
                     f.datagramsSent, f.queueCount);
}

InfoContent StatusInfo(const core::CoreContext& core, int part, bool simple, const OperatingFigures& figures) {
    InfoContent content;
    if (!simple && part == kMemoryStatusPart) {
        content.title = core.Text(core::str::kMemoryUsageTitle);
        content.text = WithLeakLine(MemoryHistoryText(figures.memoryInUse, figures.snapshots),
                                    EstimateLeak(figures.memoryInUse, figures.snapshots));
        content.icon = kMemoryIcon;
    } else {
        content.title = core.Text(core::str::kOperatingInfoTitle);
        content.text = OperatingText(core, figures);
    }
    return content;
}

}  // namespace qm::windows
