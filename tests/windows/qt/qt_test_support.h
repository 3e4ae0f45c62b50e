#pragma once
// Widgets in tests: one application object on the off-screen platform for
// the whole binary, and waits that keep the GUI thread's events flowing.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>

namespace qm::windows::qt::test {

// The application ends with the test run, inside main: left to the exit
// handlers, it would be destroyed after Qt's own globals that input devices
// made during a test (a key event sent to a menu) still refer to.
class AppEnvironment : public ::testing::Environment {
public:
    static QApplication& Get() {
        static AppEnvironment* environment = [] {
            auto* e = new AppEnvironment;  // owned by googletest from here on
            ::testing::AddGlobalTestEnvironment(e);
            return e;
        }();
        if (!environment->app_) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            static int argc = 1;
            static char name[] = "windows_tests";
            static char* argv[] = {name, nullptr};
            environment->app_ = std::make_unique<QApplication>(argc, argv);
        }
        return *environment->app_;
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

inline QApplication& App() { return AppEnvironment::Get(); }

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
