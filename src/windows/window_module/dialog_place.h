#pragma once
// Where the settings dialog opens: the place and size it was last closed
// with, kept in mod_window.ini beside the tool windows' places (section
// `mod_window -> settings_dialog`), and where a kept place opens on the
// screens present. Any thread; the file is written under the Config's lock.
#include <optional>
#include <span>

#include "core/config.h"
#include "core/settings_fields.h"
#include "windows/geometry.h"
#include "windows/info_box/info_box_settings.h"
#include "windows/window_module/window_entry.h"

namespace qm::windows {

constexpr const char* kDialogPlaceSection = "mod_window -> settings_dialog";

struct DialogPlace {
    // Left and top: the frame's corner on the screen; right and bottom: that
    // corner plus the inner size, as the toolkit moves and sizes a window
    // whatever frame a window manager puts round it. All zero: none kept.
    Rect rect;

    static const core::FieldTable<DialogPlace>& Fields();
};

DialogPlace LoadDialogPlace(const core::Config& config);
// False (errno set) when the file was not written.
bool SaveDialogPlace(const core::Config& config, const DialogPlace& place);

// Where a kept place opens: on the screens present (as a tool window's is
// kept there) and no smaller than `minimum`; nothing when none is kept or
// the program was started to reset the windows' places, so the dialog
// opens at its own size where the system puts it.
std::optional<Rect> DialogOpeningRect(const DialogPlace& place, bool reset, std::span<const Rect> screens,
                                      int32_t minWidth, int32_t minHeight);

}  // namespace qm::windows
