#include "windows/window_module/window_entry.h"

#include <algorithm>
#include <limits>

#include "core/string_ids.h"
#include "platform/utf16.h"

namespace qm::core {

void BlobCodec<windows::Rect>::Encode(const windows::Rect& r, uint8_t* out) {
    const int32_t edges[4] = {r.left, r.top, r.right, r.bottom};
    for (size_t e = 0; e < 4; ++e) {
        const auto u = static_cast<uint32_t>(edges[e]);
        for (size_t i = 0; i < 4; ++i) out[4 * e + i] = static_cast<uint8_t>(u >> (8 * i));
    }
}

void BlobCodec<windows::Rect>::Decode(const uint8_t* in, windows::Rect& r) {
    int32_t* edges[4] = {&r.left, &r.top, &r.right, &r.bottom};
    for (size_t e = 0; e < 4; ++e) {
        uint32_t u = 0;
        for (size_t i = 0; i < 4; ++i) u |= uint32_t(in[4 * e + i]) << (8 * i);
        *edges[e] = static_cast<int32_t>(u);
    }
}

}  // namespace qm::core

namespace qm::windows {

const core::FieldTable<WindowEntry>& WindowEntry::Fields() {
    // Legacy offsets: Enable 0, a reserved byte, Name 2 (32 UTF-16 units),
    // Param 66, Type 68, three reserved bytes, Rect 72, Icon 88, four
    // reserved bytes, UID 96.
    static const core::FieldTable<WindowEntry> t = [] {
        core::FieldTable<WindowEntry> f;
        f.Struct<&WindowEntry::enable>("Enable", 0)
            .Kind(core::FieldKind::Flag)
            .Label(core::str::kEnabled)
            .Text<&WindowEntry::name>("Name", kWindowNameCapacity, 2).Label(core::str::kFieldName)
            .Struct<&WindowEntry::param>("Param", 66)
            .Bit(0x1000, core::str::kWindowOptionShow)
            .Bit(0x2000, core::str::kWindowOptionPin)
            .Bit(0x4000, core::str::kWindowOptionOnTop)
            .Bit(0x8000, core::str::kWindowOptionToolWindow)
            .Label(core::str::kWindowOptions)
            .Struct<&WindowEntry::type>("Type", 68)
            .Choice(kWindowEventList, core::str::kWindowTypeEventList)
            .Choice(kWindowInfoBox, core::str::kWindowTypeInfoBox)
            .Choice(kWindowGraph, core::str::kWindowTypeGraph)
            .Label(core::str::kFieldWindowType)
            .Struct<&WindowEntry::rect>("Rect", 72)
            .Kind(core::FieldKind::Rect)
            .Label(core::str::kFieldWindowRect)
            .Struct<&WindowEntry::icon>("Icon", 88).Label(core::str::kFieldWindowIcon)
            .Struct<&WindowEntry::uid>("UID", 96).Label(core::str::kFieldIdentifier);
        return f;
    }();
    return t;
}

void FitToCapacity(WindowEntry& entry) { entry.name = platform::TruncateUtf16(entry.name, kWindowNameCapacity - 1); }

uint32_t IconForType(uint8_t type, uint32_t storedIcon) {
    switch (type) {
        case kWindowEventList: return kEventListIcon;
        case kWindowInfoBox: return kInfoBoxIcon;
        case kWindowGraph: return kGraphIcon;
        default: return storedIcon == 0 ? kEventListIcon : storedIcon;
    }
}

Rect OpeningRect(const Rect& saved, bool resetPositions) {
    if (resetPositions || saved.IsZero()) return kDefaultWindowRect;
    // Grown from the left and top edges, in 64 bits so a saved edge near the
    // limit of its type cannot overflow.
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    Rect r = saved;
    if (int64_t(r.right) - r.left < kMinWindowWidth) {
        r.left = static_cast<int32_t>(std::min<int64_t>(r.left, kMax - kMinWindowWidth));
        r.right = r.left + kMinWindowWidth;
    }
    if (int64_t(r.bottom) - r.top < kMinWindowHeight) {
        r.top = static_cast<int32_t>(std::min<int64_t>(r.top, kMax - kMinWindowHeight));
        r.bottom = r.top + kMinWindowHeight;
    }
    return r;
}

}  // namespace qm::windows
