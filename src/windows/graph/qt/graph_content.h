#pragma once
// The graph window's inside: the chart, drawn from the layout of the last
// refresh, and the status bar with the vendor, a part per tag and the
// countdown; the refresh and countdown timers and the context menu. The
// samples are copied out of the value collector at each refresh; drawing
// holds no lock.
#include <functional>
#include <optional>
#include <vector>

#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "windows/graph/graph_chart.h"
#include "windows/graph/graph_layout.h"
#include "windows/graph/graph_settings.h"
#include "windows/graph/graph_status.h"
#include "windows/qt/elided_label.h"
#include "windows/qt/frame_content.h"
#include "windows/graph/qt/graph_painter.h"
#include "windows/qt/parted_status_bar.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows::qt {

// What the graph needs of the window module for its menu.
struct GraphHost {
    std::function<uint16_t()> frameParam;  // the window entry's Param
    std::function<void(uint16_t bit)> toggleFrameParam;
};

// The chart itself; lays out again when its size or the chart changes.
class GraphChartView : public QWidget {
    Q_OBJECT
public:
    explicit GraphChartView(QWidget* parent);
    void SetChart(Chart chart, const GraphSettings& settings, const QFont& axisFont);
    const Chart& CurrentChart() const { return chart_; }
    const GraphPicture& Picture();
    // The tooltip text for a position in the chart; empty when no sample is near.
    QString HoverText(const QPoint& at);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    Chart chart_;
    GraphSettings settings_;
    GraphFonts fonts_;
    std::optional<GraphPicture> picture_;
};

class GraphStatusBar : public PartedStatusBar {
    Q_OBJECT
public:
    explicit GraphStatusBar(QWidget* parent);
    void Show(const std::vector<GraphStatusPart>& parts);
    // The whole text of a part, and what of it fits (ending in "…" when cut).
    QString PartText(int part) const;
    QString ShownText(int part) const;
    int PartCount() const { return static_cast<int>(texts_.size()); }

private:
    std::vector<QLabel*> squares_;  // owned by the parts
    std::vector<ElidedLabel*> texts_;
};

class GraphContent : public QWidget, public FrameContent {
    Q_OBJECT
public:
    GraphContent(core::CoreContext& core, uint64_t uid, GraphHost host);
    // With settings given rather than loaded (tests, benchmarks).
    GraphContent(core::CoreContext& core, uint64_t uid, GraphHost host, GraphSettings settings);
    ~GraphContent() override;

    QWidget* Widget() override { return this; }
    void SaveTypeSettings() override;
    bool CurrentTypeSettings(WindowTypeSettings& out) const override;
    // New chart settings: every tag shown again, the refresh period
    // restarted, redrawn at once.
    void ApplyTypeSettings(const WindowTypeSettings& settings) override;

    // Reads the shown tags and redraws; the timer's refresh skips a hidden
    // or minimised window, the menu's does not.
    void Refresh();
    void CountdownTick();
    // Shows or hides tag n (the menu's check entries).
    void ToggleTag(size_t tag);

    // For tests.
    const GraphSettings& Settings() const { return settings_; }
    GraphChartView& ChartView() { return *chart_; }
    GraphStatusBar& StatusBar() { return *status_; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool ShouldRefresh() const;
    void ShowStatus();
    QFont WindowFont() const;

    core::CoreContext& core_;
    const uint64_t uid_;
    GraphHost host_;
    GraphSettings settings_;
    std::vector<bool> shown_;  // per tag; all shown after loading, not saved
    uint32_t vendorCount_ = 0;
    uint32_t countdown_ = 0;
    GraphChartView* chart_ = nullptr;  // owned by this widget
    GraphStatusBar* status_ = nullptr;
    QTimer refreshTimer_;
    QTimer countdownTimer_;
};

}  // namespace qm::windows::qt
