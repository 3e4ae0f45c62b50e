#pragma once
// One tool window as the window module keeps it: the entry record, its field
// table (current keys `Item.%u-...` and the 104-byte legacy record) and the
// rules that turn a stored entry into a window's first place and icon.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/settings_fields.h"
#include "windows/geometry.h"
#include "windows/window_frame.h"

namespace qm::core {
// A rectangle is stored as its four edges, 16 bytes.
template <>
struct BlobCodec<windows::Rect> {
    static constexpr size_t kSize = 16;
    static void Encode(const windows::Rect& r, uint8_t* out);
    static void Decode(const uint8_t* in, windows::Rect& r);
};
}  // namespace qm::core

namespace qm::windows {

// Param bits of an entry; 0x0001 is used only in masks (apply the title).
enum WindowParam : uint16_t {
    kApplyTitle = 0x0001,
    kWindowVisible = 0x1000,
    kWindowPinned = 0x2000,
    kWindowOnTop = 0x4000,
    kWindowToolFrame = 0x8000,
};
constexpr uint16_t kApplyAllOptions = 0xFFFF;

// Icons of the window types in the program's icon set.
constexpr uint32_t kEventListIcon = 12;
constexpr uint32_t kInfoBoxIcon = 28;
constexpr uint32_t kGraphIcon = 53;

constexpr size_t kWindowNameCapacity = 32;  // UTF-16 units with terminator
constexpr size_t kLegacyWindowEntrySize = 104;

struct WindowEntry {
    bool marked = false;  // being removed; not stored
    uint8_t enable = 0;
    std::string name;     // the title; at most 31 UTF-16 units
    uint16_t param = 0;
    uint8_t type = kWindowEventList;
    Rect rect;            // outer edges as last stored
    uint32_t icon = 0;
    uint64_t uid = 0;     // also the key of the window's own settings

    bool Enabled() const { return enable != 0; }
    // Shown, titled and styled only when enabled and not being removed.
    bool Active() const { return enable != 0 && !marked; }
    bool Has(uint16_t bit) const { return (param & bit) != 0; }

    static const core::FieldTable<WindowEntry>& Fields();
};

// The name cut to what the field holds, never inside a character.
void FitToCapacity(WindowEntry& entry);

// The icon a window of this type is created with (an icon of 0 counts as 12).
uint32_t IconForType(uint8_t type, uint32_t storedIcon);

// Where a window opens: the default place when nothing usable was saved or
// positions are reset for this run; otherwise the saved rectangle, grown to
// the minimum size (a smaller or inverted one could never be matched by the
// window, so a pinned window would be moved back every second).
Rect OpeningRect(const Rect& saved, bool resetPositions);

}  // namespace qm::windows
