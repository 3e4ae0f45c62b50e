#include "windows/qt/parted_status_bar.h"

#include <algorithm>

#include <QEvent>
#include <QHBoxLayout>

namespace qm::windows::qt {

namespace {

constexpr int kMarginX = 2;    // before the first part
constexpr int kMarginY = 1;    // above and below the parts
constexpr int kGap = 2;        // after each part

}  // namespace

PartedStatusBar::PartedStatusBar(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QWidget* PartedStatusBar::NewPart(QLabel* icon, QLabel* text) {
    auto* part = new QWidget(this);  // owned by this widget
    auto* layout = new QHBoxLayout(part);
    layout->setContentsMargins(3, 0, 3, 0);
    layout->setSpacing(3);
    text->setMinimumWidth(0);
    text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(icon);
    layout->addWidget(text, 1);
    return part;
}

void PartedStatusBar::SetParts(std::vector<QWidget*> parts) {
    for (QWidget* old : parts_) delete old;
    parts_ = std::move(parts);
    hintHeight_ = PartHeight();
    updateGeometry();
}

int PartedStatusBar::PartHeight() const {
    int height = 0;
    for (const QWidget* part : parts_) height = std::max(height, part->sizeHint().height());
    return std::max(height, fontMetrics().height());
}

QSize PartedStatusBar::sizeHint() const { return {0, hintHeight_ + 2 * kMarginY}; }

void PartedStatusBar::PlaceParts(const std::vector<int32_t>& edges) {
    int32_t left = 0;
    for (size_t i = 0; i < parts_.size(); ++i) {
        QWidget* part = parts_[i];
        if (i >= edges.size()) {
            part->hide();
            continue;
        }
        const int32_t x = left + (i == 0 ? kMarginX : 0);
        const int32_t width = std::max(0, edges[i] - x - kGap);
        part->setGeometry(x, kMarginY, width, std::max(0, height() - 2 * kMarginY));
        part->show();
        left = edges[i];
    }
}

bool PartedStatusBar::event(QEvent* event) {
    // A part's texts changed: only a new height concerns the window around.
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::FontChange) {
        const int height = PartHeight();
        if (height != hintHeight_) {
            hintHeight_ = height;
            updateGeometry();
        }
    }
    return QWidget::event(event);
}

void PartedStatusBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit Resized();
}

}  // namespace qm::windows::qt
