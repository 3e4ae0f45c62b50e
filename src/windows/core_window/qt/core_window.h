#pragma once
// The core window: the program's tray icon with its menu, and the small
// status note a left click on the icon shows for about ten seconds. The tray
// gets the menu to keep: a StatusNotifier host (KDE, GNOME's AppIndicator,
// waybar, any Wayland desktop) shows it itself through D-Bus, an XEmbed tray
// through Qt; it is filled afresh whenever it is about to show. Without a
// tray to put the icon in (off-screen drawing, desktops without one) the
// note stays shown instead and its right click opens the same menu.
// Made and destroyed on the GUI thread (see CoreEnvironment); closing it
// only hides it. It owns the settings dialog, made when first asked for.
#include <array>
#include <memory>

#include <QFont>
#include <QWidget>

#include "windows/core_window/status_note.h"

class QMenu;
class QSystemTrayIcon;

namespace qm::core {
struct CoreContext;
}

namespace qm::script {
class ScriptHost;
}

namespace qm::windows {
class ServiceControl;
class WindowModule;
struct CoreMenuItem;
}

namespace qm::windows::qt {

class SettingsDialog;

class CoreWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 80;
    static constexpr int kTickMs = 1000;

    // `services` and `scripts` (may be null) must outlive the window.
    CoreWindow(core::CoreContext& core, ServiceControl& services, script::ScriptHost* scripts = nullptr);
    ~CoreWindow() override;

    // Left click on the tray icon: the note with its lines, brought forward.
    void ShowNote();
    // Timer A, once a second: the tray's busy icon and the note's time out.
    // Public so that tests can drive it without waiting.
    void Tick();
    // The menu as it is now, and what choosing one of its items does.
    std::vector<CoreMenuItem> Menu();
    void Carry(const CoreMenuItem& item);

    bool HasTray() const { return tray_ != nullptr; }
    // The tray icon's number now (see status_note.h); tests compare it.
    int TrayIcon() const { return trayIcon_; }
    const std::array<NoteLine, 3>& Lines() const { return lines_; }
    // The settings dialog once it has been opened, else null.
    SettingsDialog* Settings() const { return settings_.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void PlaceInCorner();
    void OpenMenu(const QPoint& at);
    void RefillTrayMenu();
    void SetTrayIcon(int number);
    WindowModule* Module();

    core::CoreContext& core_;
    ServiceControl& services_;
    script::ScriptHost* const scripts_;
    // Before the icon, which keeps a pointer to it and goes first.
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<SettingsDialog> settings_;
    std::array<NoteLine, 3> lines_;
    NoteTimer noteTimer_;
    QFont font_;
    int timer_ = 0;
    int trayIcon_ = -2;  // none set yet
    bool keepShown_ = false;
};

}  // namespace qm::windows::qt
