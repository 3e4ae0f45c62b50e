#include "windows/graph/qt/graph_painter.h"

#include <QFontMetricsF>

#include "windows/graph/graph_status.h"
#include "windows/qt/colors.h"

namespace qm::windows::qt {

namespace {

QRectF ToQ(const BoxF& b) { return QRectF(b.left, b.top, b.Width(), b.Height()); }
QPointF ToQ(PointF p) { return QPointF(p.x, p.y); }

void PaintNoData(QPainter& painter, const GraphPicture& picture, const GraphSettings& settings, const GraphFonts& fonts,
                 const QColor& text) {
    const BoxF& plot = picture.plot;
    painter.setPen(QPen(ToQColor(settings.color[kGraphGrid]), 1));
    for (double x : picture.gridX) painter.drawLine(QPointF(x, plot.top), QPointF(x, plot.bottom));
    for (double y : picture.gridY) painter.drawLine(QPointF(plot.left, y), QPointF(plot.right, y));
    painter.setPen(text);
    painter.setFont(fonts.axis);
    painter.drawText(ToQ(picture.noDataBox), Qt::AlignCenter, QStringLiteral("NO DATA"));
}

void PaintAxis(QPainter& painter, const GraphPicture& picture, const GraphFonts& fonts, const QColor& text) {
    const BoxF& plot = picture.plot;
    painter.setPen(QPen(text, 1));
    painter.setFont(fonts.axis);
    painter.drawLine(QPointF(plot.left, plot.bottom), QPointF(plot.right, plot.bottom));
    for (const AxisTick& tick : picture.ticks) {
        painter.drawLine(QPointF(tick.x, plot.bottom), QPointF(tick.x, plot.bottom + kTickLength));
        if (!tick.label.empty())
            painter.drawText(ToQ(tick.labelBox), Qt::AlignCenter | Qt::TextDontClip, QString::fromStdString(tick.label));
    }
}

void PaintSeries(QPainter& painter, const SeriesPicture& series, const ChartSeries& data, const GraphSettings& settings,
                 const GraphFonts& fonts, const QColor& text) {
    painter.setBrush(Qt::NoBrush);
    // Width 0 is the platform's one-pixel pen.
    QPen pen(ToQColor(data.penColor), std::max<uint32_t>(settings.penSize, 1), GraphPenStyle(settings.penStyle));
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    for (const std::vector<DrawnPoint>& line : series.lines) {
        if (line.size() == 1) {
            painter.drawPoint(ToQ(line[0].at));
            continue;
        }
        QPolygonF polygon;
        polygon.reserve(static_cast<qsizetype>(line.size()));
        for (const DrawnPoint& p : line) polygon << ToQ(p.at);
        painter.drawPolyline(polygon);
    }
    const QColor error = ToQColor(settings.color[kGraphError]);
    for (const BoxF& bar : series.errorBars) painter.fillRect(ToQ(bar), error);

    // Lines stay sharp as the platform draws them (and smoothing thousands
    // of points costs more than the refresh); the few markers are smoothed.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setFont(fonts.label);
    for (const ChartMarker& marker : series.markers) {
        painter.setPen(QPen(ToQColor(data.penColor), 1));
        const QPointF at = ToQ(marker.at);
        if (marker.shape == ChartMarker::Shape::Circle) painter.drawEllipse(at, kMarkerSize, kMarkerSize);
        else painter.drawRect(QRectF(at.x() - kMarkerSize, at.y() - kMarkerSize, 2 * kMarkerSize, 2 * kMarkerSize));
        painter.setPen(text);
        painter.drawText(ToQ(marker.labelBox), Qt::AlignCenter | Qt::TextDontClip, QString::fromStdString(marker.label));
    }
    painter.restore();
}

}  // namespace

QFont GraphLabelFont() {
    QFont font;
    font.setPointSize(12);
    return font;
}

TextMeasure MeasureWith(const QFont& font) {
    return [metrics = QFontMetricsF(font)](const std::string& text) {
        const QRectF r = metrics.boundingRect(QString::fromStdString(text));
        return SizeF{r.width(), metrics.height()};
    };
}

Qt::PenStyle GraphPenStyle(uint32_t style) {
    switch (style) {
        case 1: return Qt::DashLine;
        case 2: return Qt::DotLine;
        case 3: return Qt::DashDotLine;
        case 4: return Qt::DashDotDotLine;
        default: return Qt::SolidLine;
    }
}

void PaintGraph(QPainter& painter, const GraphPicture& picture, const Chart& chart, const GraphSettings& settings,
                const GraphFonts& fonts) {
    const uint32_t background = settings.color[kGraphBackground];
    painter.fillRect(ToQ(picture.client), ToQColor(background));
    const QColor text = IsDark(background) ? QColor(Qt::white) : QColor(Qt::black);
    if (picture.noData) {
        PaintNoData(painter, picture, settings, fonts, text);
        return;
    }
    PaintAxis(painter, picture, fonts, text);
    for (size_t i = 0; i < picture.series.size() && i < chart.series.size(); ++i)
        PaintSeries(painter, picture.series[i], chart.series[i], settings, fonts, text);
}

}  // namespace qm::windows::qt
