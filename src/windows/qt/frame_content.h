#pragma once
// What a window type puts inside a frame: its widget, and the few things the
// window module asks of every type. Lives on the GUI thread.
#include <cstdint>

#include <QWidget>

#include "windows/info_content.h"

namespace qm::windows::qt {

class FrameContent {
public:
    virtual ~FrameContent() = default;
    virtual QWidget* Widget() = 0;
    virtual void ShowContent(const InfoContent&) {}
    virtual void SaveTypeSettings() {}
    virtual uint32_t BusyWorkers() const { return 0; }
};

}  // namespace qm::windows::qt
