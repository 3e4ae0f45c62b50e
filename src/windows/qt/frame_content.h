#pragma once
// What a window type puts inside a frame: its widget, and the few things the
// window module asks of every type. Lives on the GUI thread.
#include <cstdint>

#include <QWidget>

#include "windows/info_content.h"

namespace qm::windows {
struct WindowTypeSettings;
}

namespace qm::windows::qt {

class FrameContent {
public:
    virtual ~FrameContent() = default;
    virtual QWidget* Widget() = 0;
    virtual void ShowContent(const InfoContent&) {}
    virtual void SaveTypeSettings() {}
    // The settings the content works with now; false when it keeps none.
    virtual bool CurrentTypeSettings(WindowTypeSettings&) const { return false; }
    virtual void ApplyTypeSettings(const WindowTypeSettings&) {}
    // Workers queued, computing or with results waiting for the GUI thread.
    virtual uint32_t BusyWorkers() const { return 0; }
    // Only those queued or computing.
    virtual uint32_t RunningWorkers() const { return 0; }
};

}  // namespace qm::windows::qt
