#include "windows/core_window/qt/core_window.h"

#include <cstdio>

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include "core/core_context.h"
#include "windows/core_window/about_text.h"
#include "windows/core_window/core_menu.h"
#include "windows/core_window/service_control.h"
#include "windows/qt/application.h"
#include "windows/qt/colors.h"
#include "windows/core_window/qt/core_menu_view.h"
#include "windows/qt/frame.h"
#include "windows/qt/gui_thread.h"
#include "windows/qt/icon_set.h"
#include "windows/qt/program_font.h"
#include "windows/settings_dialog/qt/settings_dialog.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt {

namespace {

constexpr uint32_t kBackground = 0x323232;
constexpr uint32_t kAccent = 0x0000FFFF;
constexpr int kAccentWidth = 3;
constexpr int kFontPoints = 11;
// Left of and above the bottom-right corner of the primary screen's work area.
constexpr int kFromRight = 310;
constexpr int kFromBottom = 90;
constexpr int kMargin = 10;

}  // namespace

CoreWindow::CoreWindow(core::CoreContext& core, ServiceControl& services, script::ScriptHost* scripts)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint),
      core_(core),
      services_(services),
      scripts_(scripts),
      font_(FontOf(core.settings.font, core::FontHeightForPoints(kFontPoints, core.dotsPerInch))) {
    setObjectName("Quillmark_CoreWnd");
    setWindowTitle(QString::fromStdString(core.Text(core::str::kProductName)));
    setWindowIcon(ProgramMainIcon());
    setFixedSize(kWidth, kHeight);
    PlaceInCorner();

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = std::make_unique<QSystemTrayIcon>();
        tray_->setToolTip("Quillmark");
        // A menu popped up at the pointer on a right click shows on X only:
        // a StatusNotifier host shows the menu the icon exports (none without
        // this one), and Wayland refuses a popup at the pointer anyway.
        trayMenu_ = std::make_unique<QMenu>();
        connect(trayMenu_.get(), &QMenu::aboutToShow, this, [this] { RefillTrayMenu(); });
        // Filled now as well: a host may read the menu before it asks to show it.
        RefillTrayMenu();
        tray_->setContextMenu(trayMenu_.get());
        connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) ShowNote();
        });
    }
    Tick();  // the first icon at once: busy while start-up is still going on
    if (tray_) {
        tray_->show();
    } else {
        static bool told = false;
        if (!told) std::fputs("No system tray: the status window stays shown; right-click it for the menu\n", stderr);
        told = true;
        keepShown_ = true;
        ShowNote();
    }
    timer_ = startTimer(kTickMs);
}

CoreWindow::~CoreWindow() {
    if (timer_ != 0) killTimer(timer_);
    if (tray_) tray_->hide();
}

void CoreWindow::PlaceInCorner() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect work = screen->availableGeometry();
    move(work.right() + 1 - kFromRight, work.bottom() + 1 - kFromBottom);
}

void CoreWindow::ShowNote() {
    lines_ = RunningNote(core_);
    noteTimer_.Reset();
    PlaceInCorner();
    show();
    if (CanRaiseWindows()) {
        raise();
        activateWindow();
    }
    update();
}

void CoreWindow::Tick() {
    SetTrayIcon(TrayIconNumber(core_.counters, ProgramIcons().LoadedFromFiles()));
    if (noteTimer_.Tick(isVisible()) && !keepShown_) hide();
}

void CoreWindow::SetTrayIcon(int number) {
    if (number == trayIcon_) return;
    trayIcon_ = number;
    if (tray_) tray_->setIcon(number == kMainIcon ? ProgramMainIcon() : ProgramIcons().Icon(number));
}

WindowModule* CoreWindow::Module() {
    return core_.registry ? core_.registry->FindAs<WindowModule>(core::kModuleWindow) : nullptr;
}

std::vector<CoreMenuItem> CoreWindow::Menu() {
    WindowModule* module = Module();
    std::vector<WindowSummary> windows = module ? module->Windows() : std::vector<WindowSummary>{};
    // A window without a name of its own (an info box the program opened
    // to show a text) goes by the title its content gave it.
    for (WindowSummary& w : windows) {
        if (!w.name.empty()) continue;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            const auto* frame = dynamic_cast<const FrameWidget*>(top);
            if (frame != nullptr && frame->Uid() == w.uid) w.name = frame->windowTitle().toStdString();
        }
    }
    return BuildCoreMenu(core_, windows, services_.Busy());
}

void CoreWindow::RefillTrayMenu() {
    // Choices come back later, from the menu's own signal: carried out once
    // that has returned, as they may end the menu's run or the program.
    RefillCoreMenu(*trayMenu_, Menu(), [this](const CoreMenuItem& item) {
        QTimer::singleShot(0, this, [this, item] { Carry(item); });
    });
}

void CoreWindow::OpenMenu(const QPoint& at) {
    const QPointer<CoreWindow> self(this);
    const std::optional<CoreMenuItem> chosen = RunCoreMenu(Menu(), *this, at);
    if (!self || !chosen) return;
    Carry(*chosen);
}

void CoreWindow::Carry(const CoreMenuItem& item) {
    switch (item.command) {
        case CoreCommand::ToggleWindow:
            // The table may have changed while the menu was open: the entry
            // is found again by its UID.
            if (WindowModule* module = Module())
                for (const WindowSummary& w : module->Windows())
                    if (w.uid == item.uid) module->ToggleWindow(w.index);
            break;
        case CoreCommand::StartServices: services_.Start(); break;
        case CoreCommand::StopServices: services_.Stop(); break;
        case CoreCommand::About:
            if (WindowModule* module = Module()) module->ShowInfoBox(AboutContent(core_));
            break;
        case CoreCommand::Exit: core_.exitEvent.Set(); break;
        case CoreCommand::Settings:
            // One dialog per program: a second choice brings it forward.
            if (!settings_) {
                settings_ = std::make_unique<SettingsDialog>(core_, scripts_);
                settings_->SetTransfers([this] { return core::ExportRawSettings(core_); },
                                        [this] {
                                            return core::ImportRawSettings(core_, [](const std::function<void()>& call) {
                                                RunOnGui(call);
                                            });
                                        });
            }
            settings_->ShowAndRaise();
            break;
        case CoreCommand::None: break;
    }
}

void CoreWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(kBackground));
    painter.setPen(QPen(ToQColor(kAccent), kAccentWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
    painter.setFont(font_);
    const int lineHeight = QFontMetrics(font_).height();
    int top = kMargin;
    for (const NoteLine& line : lines_) {
        painter.setPen(ToQColor(line.color));
        painter.drawText(QRect(kMargin, top, width() - 2 * kMargin, lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromStdString(line.text));
        top += lineHeight + 2;
    }
}

void CoreWindow::closeEvent(QCloseEvent* event) {
    // Only the program's end destroys the window; without a tray it is the
    // only way to the menu, so it stays.
    event->ignore();
    if (!keepShown_) hide();
}

void CoreWindow::contextMenuEvent(QContextMenuEvent* event) { OpenMenu(event->globalPos()); }

void CoreWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_) {
        Tick();
        return;
    }
    QWidget::timerEvent(event);
}

}  // namespace qm::windows::qt
