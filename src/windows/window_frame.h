#pragma once
// The seam between the window module's logic and the toolkit: the module
// decides what a window should do, a frame does it. The Qt layer gives one
// frame per window; tests give fakes. Every frame call may come from any
// thread (the frame brings it to the GUI thread); the frame's own events
// reach the module on the GUI thread through FrameEvents.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "windows/geometry.h"
#include "windows/info_content.h"

namespace qm::windows {

struct WindowTypeSettings;

enum WindowType : uint8_t {
    kWindowEventList = 1,
    kWindowInfoBox = 2,
    kWindowGraph = 3,
};

class WindowFrame {
public:
    virtual ~WindowFrame() = default;

    virtual void SetTitle(const std::string& title) = 0;
    // Shows the window if hidden, restores it if minimised, brings it forward.
    virtual void ShowAndRaise() = 0;
    virtual void Hide() = 0;
    virtual bool IsVisible() const = 0;
    virtual bool IsMinimized() const = 0;
    virtual void SetOnTop(bool onTop) = 0;
    virtual void SetToolFrame(bool toolFrame) = 0;
    virtual Rect OuterRect() const = 0;
    virtual void MoveTo(const Rect& rect) = 0;
    virtual void SetIcon(uint32_t icon) = 0;
    virtual void Repaint() = 0;

    // Info boxes only: new content replaces the old.
    virtual void ShowContent(const InfoContent& content) = 0;
    // Writes the type's own settings back to their section.
    virtual void SaveTypeSettings() = 0;
    // The type's own settings as the window holds them now, changes made in
    // the window since they were last written included (an info box's zoom).
    // False when the window keeps none.
    virtual bool CurrentTypeSettings(WindowTypeSettings&) const { return false; }
    // New settings of the window's own type: the window takes them over and
    // redraws (settings of another type are ignored).
    virtual void ApplyTypeSettings(const WindowTypeSettings&) {}
    // Workers of the type still using the window; destruction waits for 0.
    virtual uint32_t BusyWorkers() const = 0;
};

// What a frame reports to the module, on the GUI thread.
class FrameEvents {
public:
    virtual ~FrameEvents() = default;
    // The user changed the window's size (or it was maximised/restored).
    virtual void FrameResized(uint64_t uid) = 0;
    // The user asked to close it; true lets the frame be destroyed, false
    // means the module hid it instead.
    virtual bool FrameCloseRequested(uint64_t uid) = 0;
    // Once a second, for pinning.
    virtual void FramePinTick(uint64_t uid) = 0;
};

struct FrameRequest {
    uint64_t uid = 0;
    uint8_t type = kWindowEventList;
    uint32_t icon = 12;
    Rect rect;                        // already replaced by the default when unusable
    const InfoContent* content = nullptr;  // info boxes: the first content, if any
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // A new window, hidden; nothing when it could not be made.
    virtual std::unique_ptr<WindowFrame> CreateFrame(const FrameRequest& request, FrameEvents& events) = 0;
    // The screens present, by their edges; empty when there are none to go
    // by (drawing off-screen), and saved places are then kept as they are
    // unless larger than any monitor.
    virtual std::vector<Rect> Screens() const { return {}; }
};

}  // namespace qm::windows
