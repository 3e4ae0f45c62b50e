#include "windows/qt/application.h"

#include <cstdio>
#include <cstdlib>

#include <QGuiApplication>

namespace qm::windows::qt {

void ChoosePlatform() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    // Without a session bus (a service, an ssh login, a bare X server) the
    // toolkit's accessibility bridge asks libdbus to start one through the
    // X display, and a start that never answers leaves the GUI thread
    // waiting for ever before the first window. Such a session has no bus
    // to talk to anyway: say so, and nothing is started.
    if (!set("DBUS_SESSION_BUS_ADDRESS")) setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    if (set("QT_QPA_PLATFORM")) return;
    // A display that is named but cannot be reached (a stale DISPLAY over ssh,
    // a session that has ended) would end the program before it starts; the
    // windows are drawn off-screen then, as on a server.
    if (set("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "wayland;xcb;offscreen", 1);
    else if (set("DISPLAY")) setenv("QT_QPA_PLATFORM", "xcb;offscreen", 1);
    else setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

void SayWhereWindowsAre() {
    if (QGuiApplication::platformName() != "offscreen") return;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* named = wayland && *wayland ? wayland : display && *display ? display : nullptr;
    if (named) std::fprintf(stderr, "The display %s cannot be reached: the windows are drawn off-screen\n", named);
}

bool CanRaiseWindows() { return QGuiApplication::platformName() != "offscreen"; }

}  // namespace qm::windows::qt
