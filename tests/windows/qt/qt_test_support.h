#pragma once
// Widgets in tests: one application object on the off-screen platform for
// the whole binary, and waits that keep the GUI thread's events flowing.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>

namespace qm::windows::qt::test {

inline QApplication& App() {
    static std::unique_ptr<QApplication> app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "windows_tests";
        static char* argv[] = {name, nullptr};
        return std::make_unique<QApplication>(argc, argv);
    }();
    return *app;
}

inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

template <typename W>
W* FindTopLevel(const std::function<bool(W&)>& match) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* typed = dynamic_cast<W*>(w); typed && match(*typed)) return typed;
    return nullptr;
}

}  // namespace qm::windows::qt::test
