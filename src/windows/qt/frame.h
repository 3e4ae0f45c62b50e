#pragma once
// The Qt side of the window seam. A QtFrame is the module's handle, usable
// from any thread; the FrameWidget it drives lives on the GUI thread. Calls
// that change the window are posted to the GUI thread in order, so a caller
// never waits for it; what the module reads back (visible, minimised, outer
// rectangle) is kept by the widget in a guarded snapshot.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "windows/qt/frame_content.h"
#include "windows/window_frame.h"

namespace qm::windows::qt {

struct FrameSnapshot {
    std::mutex lock;
    bool visible = false;
    bool minimized = false;
    Rect outer;
};

class FrameWidget : public QWidget {
    Q_OBJECT
public:
    FrameWidget(const FrameRequest& request, FrameEvents& events, std::shared_ptr<FrameSnapshot> snapshot);
    ~FrameWidget() override;

    void SetContent(std::unique_ptr<FrameContent> content);
    FrameContent* Content() const { return content_.get(); }
    uint64_t Uid() const { return uid_; }
    void MoveToRect(const Rect& rect);
    Rect CurrentOuterRect() const;
    // What the window manager adds round the client area, as last seen while
    // the window was shown; nothing before it was ever framed.
    QMargins Decoration() const;
    // Another kind of frame is coming (the window's flags changed).
    void ForgetDecoration() { decoration_ = QMargins(); }
    // The module is closing the window: a close then really closes.
    void SetClosing() { closing_ = true; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void UpdateSnapshot();
    // Until a window manager has framed the window, its decoration is not
    // known and an outer rectangle can only be applied as if there were
    // none. The rectangle is kept and applied again once the frame is known.
    void ExpectFrame(const Rect& outer);
    void ApplyExpectedFrame();

    const uint64_t uid_;
    FrameEvents& events_;
    std::shared_ptr<FrameSnapshot> snapshot_;
    std::unique_ptr<FrameContent> content_;
    int pinTimer_ = 0;
    bool closing_ = false;
    mutable QMargins decoration_;
    std::optional<Rect> expectedOuter_;
    int frameTimer_ = 0;
    int frameChecks_ = 0;
};

// Makes the content of a window type inside its frame; set by the program
// (tests may set their own). Unknown types get an empty frame.
using ContentFactory = std::function<std::unique_ptr<FrameContent>(const FrameRequest&, FrameWidget&)>;

class QtFrame : public WindowFrame {
public:
    QtFrame(const FrameRequest& request, FrameEvents& events, const ContentFactory& factory);
    ~QtFrame() override;

    void SetTitle(const std::string& title) override;
    void ShowAndRaise() override;
    void Hide() override;
    bool IsVisible() const override;
    bool IsMinimized() const override;
    void SetOnTop(bool onTop) override;
    void SetToolFrame(bool toolFrame) override;
    Rect OuterRect() const override;
    void MoveTo(const Rect& rect) override;
    void SetIcon(uint32_t icon) override;
    void Repaint() override;
    void ShowContent(const InfoContent& content) override;
    void SaveTypeSettings() override;
    bool CurrentTypeSettings(WindowTypeSettings& out) const override;
    void ApplyTypeSettings(const WindowTypeSettings& settings) override;
    uint32_t BusyWorkers() const override;

    // GUI thread only (tests and the program's own menus).
    FrameWidget* Widget() const { return widget_; }
    bool Valid() const { return widget_ != nullptr; }

private:
    void Post(std::function<void(FrameWidget&)> call);

    std::shared_ptr<FrameSnapshot> snapshot_;
    // Made and destroyed on the GUI thread; calls posted from elsewhere
    // reach it through the guarded pointer, which empties when it goes.
    std::unique_ptr<FrameWidget> owned_;
    QPointer<FrameWidget> widget_;
};

class QtWindowSystem : public WindowSystem {
public:
    explicit QtWindowSystem(ContentFactory factory) : factory_(std::move(factory)) {}
    std::unique_ptr<WindowFrame> CreateFrame(const FrameRequest& request, FrameEvents& events) override;
    // The screens' edges; none when drawing off-screen, whose one screen is
    // made up.
    std::vector<Rect> Screens() const override;

private:
    ContentFactory factory_;
};

}  // namespace qm::windows::qt
