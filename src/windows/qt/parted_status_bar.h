#pragma once
// A status bar whose parts sit where the window's own arithmetic puts them
// (right edges computed from the bar's width), as a platform status bar
// places its parts. The parts have no say in the bar's width: in a layout
// their widths would add up to the window's minimum width, and a window that
// recomputes its parts whenever it is resized would then widen itself on
// every turn.
#include <cstdint>
#include <vector>

#include <QLabel>
#include <QWidget>

namespace qm::windows::qt {

class PartedStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit PartedStatusBar(QWidget* parent);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    // The width changed: the window works out new edges.
    void Resized();

protected:
    // A part as both bars show it: an icon of a fixed size and a text that
    // takes the rest of the part's width. The bar owns it.
    QWidget* NewPart(QLabel* icon, QLabel* text);
    // The parts, in order; the ones held before are deleted.
    void SetParts(std::vector<QWidget*> parts);
    const std::vector<QWidget*>& Parts() const { return parts_; }
    // Right edges of the first edges.size() parts, in the bar's coordinates;
    // the parts beyond them are hidden.
    void PlaceParts(const std::vector<int32_t>& edges);

    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int PartHeight() const;

    std::vector<QWidget*> parts_;
    int hintHeight_ = 0;
};

}  // namespace qm::windows::qt
