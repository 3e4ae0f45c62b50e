#include "windows/qt/loading_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QScreen>

#include "windows/qt/colors.h"
#include "windows/qt/application.h"
#include "windows/qt/gui_thread.h"
#include "windows/qt/icon_set.h"

namespace qm::windows::qt {

namespace {

constexpr int kMargin = 10;
constexpr int kIconSize = 32;
constexpr int kBorder = 3;
constexpr uint32_t kBackground = 0x323232;
constexpr uint32_t kText = 0xC8C8C8;
constexpr uint32_t kAccent = 0x00FFFF;

}  // namespace

LoadingWindow::LoadingWindow()
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool),
      titleFont_("Calibri"),
      messageFont_("Calibri") {
    setObjectName("QMK_LoaingWnd");
    setWindowTitle("Quillmark");
    titleFont_.setPointSize(14);
    titleFont_.setBold(true);
    messageFont_.setPointSize(11);
    resize(320, 120);
}

void LoadingWindow::SetText(const QString& title, const QString& message) {
    title_ = title;
    message_ = message;
    const QFontMetrics titleMetrics(titleFont_);
    const QFontMetrics messageMetrics(messageFont_);
    const int textWidth = std::max(titleMetrics.horizontalAdvance(title_), messageMetrics.horizontalAdvance(message_));
    const int wanted = kMargin + kIconSize + kMargin + textWidth + kMargin;
    const int wantedHeight = kMargin + titleMetrics.height() + kMargin + messageMetrics.height() + kMargin;
    resize(std::max(width(), wanted), std::max(height(), wantedHeight));
    PlaceInCorner();
    if (!isVisible()) show();
    if (CanRaiseWindows()) raise();
    repaint();
}

void LoadingWindow::Post(LoadingWindow* window, const std::string& title, const std::string& message) {
    QPointer<LoadingWindow> target(window);
    PostToGui([target, t = QString::fromStdString(title), m = QString::fromStdString(message)] {
        if (target) target->SetText(t, m);
    });
}

void LoadingWindow::PlaceInCorner() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect work = screen->availableGeometry();
    move(work.right() + 1 - kMargin - width(), work.bottom() + 1 - kMargin - height());
}

void LoadingWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(kBackground));
    painter.setPen(QPen(ToQColor(kAccent), kBorder));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
    const QIcon icon = ProgramIcons().Icon(0);
    if (!icon.isNull()) icon.paint(&painter, kMargin, (height() - kIconSize) / 2, kIconSize, kIconSize);
    const int left = kMargin + kIconSize + kMargin;
    painter.setPen(ToQColor(kText));
    painter.setFont(titleFont_);
    const QFontMetrics titleMetrics(titleFont_);
    painter.drawText(QRect(left, kMargin, width() - left - kMargin, titleMetrics.height()), Qt::AlignLeft, title_);
    painter.setFont(messageFont_);
    const QFontMetrics messageMetrics(messageFont_);
    painter.drawText(QRect(left, kMargin * 2 + titleMetrics.height(), width() - left - kMargin, messageMetrics.height()),
                     Qt::AlignLeft, message_);
}

void LoadingWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

}  // namespace qm::windows::qt
