#pragma once
// Draws a laid-out graph with a QPainter: the background, the time axis or
// the grid with "NO DATA", each series in its pen, error bars, markers and
// labels. The geometry all comes from the layout; this only inks it, so the
// window and an off-screen image draw the same picture.
#include <QFont>
#include <QPainter>

#include "windows/graph/graph_layout.h"

namespace qm::windows::qt {

struct GraphFonts {
    QFont label;  // value labels, 12 points
    QFont axis;   // tick labels and "NO DATA": the window's font
};

// The label font of every graph.
QFont GraphLabelFont();
// Text extents as the layout asks for them.
TextMeasure MeasureWith(const QFont& font);

// The platform pen styles 0 to 4: solid, dash, dot, dash-dot, dash-dot-dot.
Qt::PenStyle GraphPenStyle(uint32_t style);

void PaintGraph(QPainter& painter, const GraphPicture& picture, const Chart& chart, const GraphSettings& settings,
                const GraphFonts& fonts);

}  // namespace qm::windows::qt
