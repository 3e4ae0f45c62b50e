#pragma once
// Screen rectangles as the settings store them: outer edges in pixels.
#include <cstdint>

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

}  // namespace qm::windows
