#include "windows/qt/frame.h"

#include <algorithm>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "platform/guarded_lock.h"
#include "windows/qt/application.h"
#include "windows/qt/gui_thread.h"
#include "windows/qt/icon_set.h"
#include "windows/qt/popup_menus.h"
#include "windows/window_module/window_type_settings.h"

namespace qm::windows::qt {

namespace {

constexpr int kPinCheckMs = 1000;
constexpr unsigned kMenuClosePollMs = 10;
// How often and how long a new window looks for the frame a window manager
// puts round it; one that has not come by then is taken as none.
constexpr int kFrameCheckMs = 50;
constexpr int kFrameChecks = 200;

}  // namespace

FrameWidget::FrameWidget(const FrameRequest& request, FrameEvents& events, std::shared_ptr<FrameSnapshot> snapshot)
    : QWidget(nullptr), uid_(request.uid), events_(events), snapshot_(std::move(snapshot)) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMinimumSize(kMinWindowWidth, kMinWindowHeight);
    auto* layout = new QVBoxLayout(this);  // owned by this widget
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    MoveToRect(request.rect);
    setWindowIcon(ProgramIcons().Icon(static_cast<int>(request.icon)));
    pinTimer_ = startTimer(kPinCheckMs);
    UpdateSnapshot();
}

FrameWidget::~FrameWidget() {
    if (pinTimer_ != 0) killTimer(pinTimer_);
    if (frameTimer_ != 0) killTimer(frameTimer_);
    content_.reset();
}

void FrameWidget::SetContent(std::unique_ptr<FrameContent> content) {
    content_ = std::move(content);
    if (content_ && content_->Widget()) layout()->addWidget(content_->Widget());
}

QMargins FrameWidget::Decoration() const {
    // Asked of the platform, as the widget's own copy is refreshed only by a
    // move; kept while the window is hidden, when the platform has no frame.
    const QWindow* handle = windowHandle();
    if (handle != nullptr && isVisible()) {
        const QMargins now = handle->frameMargins();
        if (!now.isNull()) decoration_ = now;
    }
    return decoration_;
}

Rect FrameWidget::CurrentOuterRect() const {
    const QRect outer = geometry().marginsAdded(Decoration());
    return Rect{outer.left(), outer.top(), outer.left() + outer.width(), outer.top() + outer.height()};
}

void FrameWidget::MoveToRect(const Rect& rect) {
    // The rectangle is the outer one, as it is saved: the client takes what
    // is left inside the decoration, and the position is the frame's.
    const QMargins decoration = Decoration();
    const int64_t width = int64_t(rect.right) - rect.left - decoration.left() - decoration.right();
    const int64_t height = int64_t(rect.bottom) - rect.top - decoration.top() - decoration.bottom();
    resize(static_cast<int>(std::clamp<int64_t>(width, kMinWindowWidth, QWIDGETSIZE_MAX)),
           static_cast<int>(std::clamp<int64_t>(height, kMinWindowHeight, QWIDGETSIZE_MAX)));
    move(rect.left, rect.top);
    if (decoration.isNull()) ExpectFrame(rect);
    else expectedOuter_.reset();
    UpdateSnapshot();
}

void FrameWidget::ExpectFrame(const Rect& outer) {
    expectedOuter_ = outer;
    frameChecks_ = 0;
    if (frameTimer_ == 0 && isVisible()) frameTimer_ = startTimer(kFrameCheckMs);
}

void FrameWidget::ApplyExpectedFrame() {
    if (!expectedOuter_ || !isVisible()) return;
    if (Decoration().isNull()) {
        if (++frameChecks_ < kFrameChecks) return;
        expectedOuter_.reset();  // no frame is coming
    } else {
        const Rect outer = *expectedOuter_;
        expectedOuter_.reset();
        MoveToRect(outer);
    }
    if (frameTimer_ != 0) killTimer(frameTimer_);
    frameTimer_ = 0;
}

void FrameWidget::UpdateSnapshot() {
    std::lock_guard lock(snapshot_->lock);
    snapshot_->visible = isVisible();
    snapshot_->minimized = isMinimized();
    snapshot_->outer = CurrentOuterRect();
}

void FrameWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateSnapshot();
    if (isVisible()) events_.FrameResized(uid_);
}

void FrameWidget::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    UpdateSnapshot();
}

void FrameWidget::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        UpdateSnapshot();
        if (isVisible()) events_.FrameResized(uid_);
    }
}

void FrameWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (expectedOuter_ && frameTimer_ == 0) {
        frameChecks_ = 0;
        frameTimer_ = startTimer(kFrameCheckMs);
    }
    UpdateSnapshot();
}

void FrameWidget::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    UpdateSnapshot();
}

void FrameWidget::closeEvent(QCloseEvent* event) {
    if (closing_ || events_.FrameCloseRequested(uid_)) {
        event->accept();
        return;
    }
    event->ignore();
    UpdateSnapshot();
}

void FrameWidget::timerEvent(QTimerEvent* event) {
    if (event->timerId() == pinTimer_) {
        events_.FramePinTick(uid_);
        return;
    }
    if (event->timerId() == frameTimer_) {
        ApplyExpectedFrame();
        UpdateSnapshot();
        return;
    }
    QWidget::timerEvent(event);
}

QtFrame::QtFrame(const FrameRequest& request, FrameEvents& events, const ContentFactory& factory)
    : snapshot_(std::make_shared<FrameSnapshot>()) {
    RunOnGui([&] {
        auto widget = std::make_unique<FrameWidget>(request, events, snapshot_);
        if (factory) widget->SetContent(factory(request, *widget));
        widget_ = widget.get();
        owned_ = std::move(widget);
    });
}

QtFrame::~QtFrame() {
    // A menu of this window may be running (a signal or a script ends the
    // window meanwhile): it is closed first, and the window goes once the GUI
    // thread has returned from it. On the GUI thread itself there is no
    // waiting; the menus guard against their owner going.
    const bool fromGui = OnGuiThread();
    for (;;) {
        bool menuOpen = false;
        const bool ran = RunOnGui([this, fromGui, &menuOpen] {
            if (!owned_) return;
            menuOpen = ClosePopupMenusWithin(*owned_) && !fromGui;
            if (menuOpen) return;
            owned_->SetClosing();
            owned_->hide();
            owned_.reset();
        });
        if (!ran) {
            // The display is gone and the GUI thread with it: nothing may
            // touch the widget any more, and the process ends without it.
            static_cast<void>(owned_.release());
            return;
        }
        if (!menuOpen) return;
        platform::SleepMs(kMenuClosePollMs);
    }
}

void QtFrame::Post(std::function<void(FrameWidget&)> call) {
    QPointer<FrameWidget> widget = widget_;
    PostToGui([widget, call = std::move(call)] {
        if (widget) call(*widget);
    });
}

void QtFrame::SetTitle(const std::string& title) {
    Post([text = QString::fromStdString(title)](FrameWidget& w) { w.setWindowTitle(text); });
}

void QtFrame::ShowAndRaise() {
    {
        std::lock_guard lock(snapshot_->lock);
        snapshot_->visible = true;
        snapshot_->minimized = false;
    }
    Post([](FrameWidget& w) {
        if (w.isMinimized()) w.showNormal();
        else w.show();
        if (CanRaiseWindows()) {
            w.raise();
            w.activateWindow();
        }
    });
}

void QtFrame::Hide() {
    {
        std::lock_guard lock(snapshot_->lock);
        snapshot_->visible = false;
    }
    Post([](FrameWidget& w) { w.hide(); });
}

bool QtFrame::IsVisible() const {
    std::lock_guard lock(snapshot_->lock);
    return snapshot_->visible;
}

bool QtFrame::IsMinimized() const {
    std::lock_guard lock(snapshot_->lock);
    return snapshot_->minimized;
}

namespace {

// Changing a window flag hides a shown window; it is shown again as it was,
// in the same outer place (the new frame may be of another size).
void SetFlag(FrameWidget& w, Qt::WindowType flag, bool on) {
    if (w.windowFlags().testFlag(flag) == on) return;
    const bool wasVisible = w.isVisible();
    const Rect outer = w.CurrentOuterRect();
    w.setWindowFlag(flag, on);
    if (!wasVisible) return;
    w.ForgetDecoration();
    w.MoveToRect(outer);
    w.show();
}

}  // namespace

void QtFrame::SetOnTop(bool onTop) {
    Post([onTop](FrameWidget& w) { SetFlag(w, Qt::WindowStaysOnTopHint, onTop); });
}

void QtFrame::SetToolFrame(bool toolFrame) {
    Post([toolFrame](FrameWidget& w) { SetFlag(w, Qt::Tool, toolFrame); });
}

Rect QtFrame::OuterRect() const {
    std::lock_guard lock(snapshot_->lock);
    return snapshot_->outer;
}

void QtFrame::MoveTo(const Rect& rect) {
    {
        std::lock_guard lock(snapshot_->lock);
        snapshot_->outer = rect;
    }
    Post([rect](FrameWidget& w) { w.MoveToRect(rect); });
}

void QtFrame::SetIcon(uint32_t icon) {
    Post([icon](FrameWidget& w) { w.setWindowIcon(ProgramIcons().Icon(static_cast<int>(icon))); });
}

void QtFrame::Repaint() {
    Post([](FrameWidget& w) { w.update(); });
}

void QtFrame::ShowContent(const InfoContent& content) {
    Post([content](FrameWidget& w) {
        if (w.Content()) w.Content()->ShowContent(content);
    });
}

void QtFrame::ApplyTypeSettings(const WindowTypeSettings& settings) {
    Post([settings](FrameWidget& w) {
        if (w.Content()) w.Content()->ApplyTypeSettings(settings);
    });
}

void QtFrame::SaveTypeSettings() {
    QPointer<FrameWidget> widget = widget_;
    const auto save = [widget] {
        if (widget && widget->Content()) widget->Content()->SaveTypeSettings();
    };
    // Without a GUI thread the settings are still saved: no widget is used
    // by the save, and no other thread touches the contents any more.
    if (!RunOnGui(save) && GuiGone()) save();
}

bool QtFrame::CurrentTypeSettings(WindowTypeSettings& out) const {
    QPointer<FrameWidget> widget = widget_;
    bool kept = false;
    RunOnGui([&] { kept = widget && widget->Content() && widget->Content()->CurrentTypeSettings(out); });
    return kept;
}

uint32_t QtFrame::BusyWorkers() const {
    // Read without the GUI thread: the content's counters are atomic. Results
    // are applied on the GUI thread; once it is gone, or when the window is
    // ended on that thread itself (which then cannot apply them while it
    // waits), only the workers that still compute hold the window. Waiting
    // results are dropped with the content.
    const FrameWidget* widget = widget_.data();
    if (!widget || !widget->Content()) return 0;
    return GuiGone() || OnGuiThread() ? widget->Content()->RunningWorkers() : widget->Content()->BusyWorkers();
}

std::vector<Rect> QtWindowSystem::Screens() const {
    std::vector<Rect> screens;
    RunOnGui([&] {
        const QString platform = QGuiApplication::platformName();
        if (platform == "offscreen" || platform == "minimal") return;
        for (const QScreen* screen : QGuiApplication::screens()) {
            const QRect g = screen->geometry();
            screens.push_back(Rect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
        }
    });
    return screens;
}

std::unique_ptr<WindowFrame> QtWindowSystem::CreateFrame(const FrameRequest& request, FrameEvents& events) {
    auto frame = std::make_unique<QtFrame>(request, events, factory_);
    if (!frame->Valid()) return nullptr;
    return frame;
}

}  // namespace qm::windows::qt
