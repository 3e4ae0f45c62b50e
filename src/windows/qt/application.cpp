#include "windows/qt/application.h"

#include <cstdlib>

#include <QGuiApplication>

namespace qm::windows::qt {

void ChoosePlatform() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY")) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

bool CanRaiseWindows() { return QGuiApplication::platformName() != "offscreen"; }

}  // namespace qm::windows::qt
