#pragma once
// The state of the event list's context menu items.
#include <cstdint>

namespace qm::windows {

struct EventListMenuState {
    bool autoscrollChecked = false;  // 1515
    bool onTopChecked = false;       // 1516
    bool pinChecked = false;         // 1517
    bool deselectEnabled = false;    // 1522: only with grouping
    bool deselectChecked = false;
    bool zoomInEnabled = true;       // 1518
    bool zoomOutEnabled = true;      // 1519
    bool detailsEnabled = false;     // 1521, the default item: only on a row
};

EventListMenuState MenuStateFor(uint8_t param, bool onTop, bool pinned, bool rowClicked, int32_t fontHeight,
                                int32_t dotsPerInch);

}  // namespace qm::windows
