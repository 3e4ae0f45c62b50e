#include "windows/qt/loading_window.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "windows/qt/qt_test_support.h"

namespace qm::windows::qt {
namespace {

TEST(LoadingWindowOnQt, GrowsToFitNeverShrinksAndSitsInTheCorner) {
    test::App();
    LoadingWindow window;
    window.SetText("Quillmark", "Loading ... Module: DBase");
    EXPECT_TRUE(window.isVisible());
    const QSize small = window.size();
    EXPECT_GE(small.width(), 320);
    EXPECT_GE(small.height(), 120);

    window.SetText("Quillmark", "Loading ... " + QString(120, 'x'));
    const QSize wide = window.size();
    EXPECT_GT(wide.width(), small.width());
    window.SetText("Quillmark", "Shutting down ... Complete");
    EXPECT_EQ(window.size(), wide) << "never shrinks";

    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.geometry().right(), work.right() - 10);
    EXPECT_EQ(window.geometry().bottom(), work.bottom() - 10);

    window.close();
    EXPECT_FALSE(window.isVisible()) << "a close request hides it";
}

}  // namespace
}  // namespace qm::windows::qt
