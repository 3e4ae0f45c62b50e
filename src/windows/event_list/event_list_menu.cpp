#include "windows/event_list/event_list_menu.h"

#include "windows/event_list/event_list_settings.h"
#include "windows/zoom.h"

namespace qm::windows {

EventListMenuState MenuStateFor(uint8_t param, bool onTop, bool pinned, bool rowClicked, int32_t fontHeight,
                                int32_t dotsPerInch) {
    EventListMenuState m;
    m.autoscrollChecked = (param & kListAutoscroll) != 0;
    m.onTopChecked = onTop;
    m.pinChecked = pinned;
    m.deselectEnabled = (param & kListGroupBySender) != 0;
    m.deselectChecked = (param & kListDeselectGrouped) != 0;
    // Greyed when the step would be refused, rather than doing nothing.
    m.zoomInEnabled = ZoomIn(fontHeight, dotsPerInch).has_value();
    m.zoomOutEnabled = ZoomOut(fontHeight, dotsPerInch).has_value();
    m.detailsEnabled = rowClicked;
    return m;
}

}  // namespace qm::windows
