#include "windows/core_window/status_note.h"

#include "core/core_context.h"

namespace qm::windows {

namespace {

constexpr uint32_t kFirstLineColor = 0xC8C8C8;
constexpr uint32_t kSecondLineColor = 0x0064FF64;

}  // namespace

std::array<NoteLine, 3> RunningNote(const core::CoreContext& core) {
    return {NoteLine{core.Text(core::str::kProgramRunning, "Quillmark"), kFirstLineColor},
            NoteLine{core.Text(core::str::kRightClickHint), kSecondLineColor}, NoteLine{}};
}

bool NoteTimer::Tick(bool visible) {
    if (!visible) {
        seconds_ = 0;
        return false;
    }
    if (++seconds_ <= kVisibleSeconds) return false;
    seconds_ = 0;
    return true;
}

int TrayIconNumber(const core::CoreCounters& counters, int loadedIcons) {
    const bool busy = counters.startupBusy.load(std::memory_order_relaxed) != 0 ||
                      counters.busyHandlers.load(std::memory_order_relaxed) != 0;
    const int number = busy ? kTrayBusyIcon : kTrayIdleIcon;
    return number < loadedIcons ? number : kMainIcon;
}

}  // namespace qm::windows
