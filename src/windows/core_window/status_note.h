#pragma once
// The core window's bookkeeping, free of any toolkit: the three lines of the
// status note a left click on the tray icon shows, how long the note stays
// up, and which icon the tray shows.
#include <array>
#include <cstdint>
#include <string>

namespace qm::core {
struct CoreContext;
struct CoreCounters;
}

namespace qm::windows {

struct NoteLine {
    std::string text;
    uint32_t color = 0;  // 0x00BBGGRR
};

// "Quillmark работает" and the hint about the right button; the third line empty.
std::array<NoteLine, 3> RunningNote(const core::CoreContext& core);

// Counts the once-a-second ticks the note has been visible; a note up for
// more than ten goes away again.
class NoteTimer {
public:
    static constexpr int kVisibleSeconds = 10;
    // One tick; true when the note is to be hidden now.
    bool Tick(bool visible);
    void Reset() { seconds_ = 0; }

private:
    int seconds_ = 0;
};

constexpr int kTrayIdleIcon = 1;
constexpr int kTrayBusyIcon = 8;
constexpr int kMainIcon = -1;
// The icon number for the tray: busy while the program starts or a handler
// is at work, else idle; kMainIcon when the icon folder did not supply that
// number (`loadedIcons` is how many icons it gave, numbered from 0).
int TrayIconNumber(const core::CoreCounters& counters, int loadedIcons);

}  // namespace qm::windows
