#include "windows/geometry.h"

#include <algorithm>
#include <vector>

namespace qm::windows {

namespace {

// Edges in 64 bits: a hand-edited rectangle may span the whole int32 range.
struct Span64 {
    int64_t left, top, right, bottom;
    explicit Span64(const Rect& r) : left(r.left), top(r.top), right(r.right), bottom(r.bottom) {}
    int64_t Width() const { return right - left; }
    int64_t Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
};

int64_t Overlap(const Span64& a, const Span64& b) {
    const int64_t w = std::min(a.right, b.right) - std::max(a.left, b.left);
    const int64_t h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    return w > 0 && h > 0 ? w * h : 0;
}

// How far apart two rectangles are, as the sum of the horizontal and the
// vertical gap (0 when they touch or overlap).
int64_t Gap(const Span64& a, const Span64& b) {
    const int64_t dx = std::max<int64_t>({0, b.left - a.right, a.left - b.right});
    const int64_t dy = std::max<int64_t>({0, b.top - a.bottom, a.top - b.bottom});
    return dx + dy;
}

// The start of a span of `length` placed on [lo, hi): where it was when it
// fits, else moved the least; at `lo` when it is longer than the room.
int64_t PlaceOn(int64_t start, int64_t length, int64_t lo, int64_t hi) {
    if (length >= hi - lo) return lo;
    return std::clamp(start, lo, hi - length);
}

}  // namespace

bool CoveredByScreens(const Rect& given, std::span<const Rect> screens) {
    const Span64 rect(given);
    if (rect.Empty()) return false;
    // Cut the rectangle along every screen edge inside it; it is covered when
    // each piece lies on some screen.
    std::vector<int64_t> xs{rect.left, rect.right}, ys{rect.top, rect.bottom};
    for (const Rect& s : screens) {
        const Span64 screen(s);
        if (screen.Empty()) continue;
        for (int64_t x : {screen.left, screen.right})
            if (x > rect.left && x < rect.right) xs.push_back(x);
        for (int64_t y : {screen.top, screen.bottom})
            if (y > rect.top && y < rect.bottom) ys.push_back(y);
    }
    std::sort(xs.begin(), xs.end());
    std::sort(ys.begin(), ys.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
        for (size_t j = 0; j + 1 < ys.size(); ++j) {
            const bool onScreen = std::any_of(screens.begin(), screens.end(), [&](const Rect& s) {
                const Span64 screen(s);
                return screen.left <= xs[i] && xs[i + 1] <= screen.right && screen.top <= ys[j] && ys[j + 1] <= screen.bottom;
            });
            if (!onScreen) return false;
        }
    }
    return true;
}

Rect FitToScreens(const Rect& given, std::span<const Rect> screens) {
    const Span64 rect(given);
    const Rect* best = nullptr;
    int64_t bestOverlap = -1, bestGap = 0;
    for (const Rect& s : screens) {
        const Span64 screen(s);
        if (screen.Empty()) continue;
        const int64_t overlap = Overlap(rect, screen), gap = Gap(rect, screen);
        // The first screen wins a tie: the toolkit lists the primary first.
        if (best == nullptr || overlap > bestOverlap || (overlap == 0 && bestOverlap == 0 && gap < bestGap)) {
            best = &s;
            bestOverlap = overlap;
            bestGap = gap;
        }
    }
    if (best == nullptr) {
        const auto cut = [](int64_t start, int64_t end) {
            return static_cast<int32_t>(end - start > kLargestUnknownScreen ? start + kLargestUnknownScreen : end);
        };
        Rect r = given;
        r.right = cut(rect.left, rect.right);
        r.bottom = cut(rect.top, rect.bottom);
        return r;
    }
    if (CoveredByScreens(given, screens)) return given;

    const Span64 screen(*best);
    const int64_t width = std::clamp<int64_t>(rect.Width(), kMinWindowWidth, std::max<int64_t>(screen.Width(), kMinWindowWidth));
    const int64_t height = std::clamp<int64_t>(rect.Height(), kMinWindowHeight, std::max<int64_t>(screen.Height(), kMinWindowHeight));
    const int64_t left = PlaceOn(rect.left, width, screen.left, screen.right);
    const int64_t top = PlaceOn(rect.top, height, screen.top, screen.bottom);
    // Screen edges are int32 and the size is at most a screen's (or the
    // minimum from a screen edge), so the result fits.
    return Rect{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(left + width),
                static_cast<int32_t>(top + height)};
}

}  // namespace qm::windows
