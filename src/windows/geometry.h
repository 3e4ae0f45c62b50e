#pragma once
// Screen rectangles as the settings store them: outer edges in pixels, and
// the arithmetic that keeps a saved rectangle on the screens present.
#include <cstdint>
#include <span>

namespace qm::windows {

struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool IsZero() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    bool operator==(const Rect&) const = default;
};

// Where a window without a usable saved place opens.
constexpr Rect kDefaultWindowRect{0, 0, 500, 300};
constexpr int32_t kMinWindowWidth = 500;
constexpr int32_t kMinWindowHeight = 300;

// True when every point of `rect` lies on one of `screens` (a window may
// span monitors that touch).
bool CoveredByScreens(const Rect& rect, std::span<const Rect> screens);

// Where a saved rectangle can open on the screens present. One that lies
// wholly on them is kept as it is. Otherwise it goes to the screen it shares
// most with (the nearest when it shares nothing, as for a monitor that is
// gone), no larger than that screen and moved the least that brings it
// whole onto it; the minimum window size still holds on a smaller screen.
// Without screens (none known, as when drawing off-screen) only a size no
// monitor has is cut down to kLargestUnknownScreen, the place kept.
Rect FitToScreens(const Rect& rect, std::span<const Rect> screens);

// Larger than any one monitor made; a window of this size already takes a
// quarter of a gigabyte to draw.
constexpr int32_t kLargestUnknownScreen = 8192;

}  // namespace qm::windows
