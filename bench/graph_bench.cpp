// The graph's data path and drawing: pushes into a full vendor (at two
// limits, to show a push costs the same however long the buffer), the reads
// of one refresh, the layout of a large graph and its painting into an
// off-screen image. Prints figures; nothing here passes or fails.
//
//   graph_bench [rounds=20]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "platform/clock.h"
#include "core/value_collector.h"
#include "windows/graph/graph_chart.h"
#include "windows/graph/graph_layout.h"
#include "windows/graph/qt/graph_painter.h"

using namespace qm;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kTags = 10;
constexpr size_t kPerTag = 5000;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Figures {
    std::vector<double> ms;
    void Add(Clock::duration d) { ms.push_back(Ms(d)); }
    void Print(const char* what) {
        std::sort(ms.begin(), ms.end());
        std::printf("%-44s min %8.3f ms   median %8.3f ms   max %8.3f ms\n", what, ms.front(), ms[ms.size() / 2],
                    ms.back());
    }
};

std::string TagName(size_t i) { return "if" + std::to_string(i) + " (mod_snmp)"; }

void PushRate(uint32_t limit) {
    core::ValueCollector values([limit] { return limit; });
    for (uint32_t i = 0; i + 1 < limit; ++i) values.Push("mod_snmp", "10.0.0.1", "if0", core::Reading::U32(i));
    constexpr int kPushes = 200000;
    const auto start = Clock::now();
    for (int i = 0; i < kPushes; ++i) values.Push("mod_snmp", "10.0.0.1", "if0", core::Reading::U32(i));
    const double ms = Ms(Clock::now() - start);
    std::printf("push into a full vendor, L = %-7u            %8.0f pushes/s (%.3f us each)\n", limit,
                kPushes / ms * 1000, ms * 1000 / kPushes);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    PushRate(5000);
    PushRate(100000);

    // One vendor with ten tags of 5,000 samples each, spread over the last hour.
    const uint64_t now = platform::UnixSecondsNow();
    uint64_t stamp = 0;
    core::ValueCollector values([] { return uint32_t(kTags * kPerTag + 1); }, nullptr, [&] { return stamp; });
    for (size_t n = 0; n < kPerTag; ++n) {
        stamp = now - 3600 + n * 3600 / kPerTag;
        for (size_t t = 0; t < kTags; ++t)
            values.Push("", "10.0.0.1", TagName(t), core::Reading::I64(int64_t((n * 37 + t * 1000) % 9973)));
    }
    windows::GraphSettings settings;
    settings.vendor = "10.0.0.1";
    for (size_t t = 0; t < kTags; ++t) settings.tags.push_back({TagName(t), uint32_t(0x00402000 * (t + 1))});
    settings.penSize = 1;

    const QFont axis("Calibri", 10);
    const windows::qt::GraphFonts fonts{windows::qt::GraphLabelFont(), axis};
    const windows::TextMeasure labelMeasure = windows::qt::MeasureWith(fonts.label);
    const windows::TextMeasure axisMeasure = windows::qt::MeasureWith(fonts.axis);
    QImage image(1200, 800, QImage::Format_RGB32);

    Figures read, build, layout, refresh, paint;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = Clock::now();
        const windows::GraphReading reading = windows::ReadShownTags(values, settings, {});
        const auto t1 = Clock::now();
        const windows::Chart chart = windows::BuildChart(settings, reading.shown, now);
        const auto t2 = Clock::now();
        const windows::GraphPicture picture =
            windows::LayOutGraph(chart, settings, image.width(), image.height(), labelMeasure, axisMeasure);
        const auto t3 = Clock::now();
        QPainter painter(&image);
        windows::qt::PaintGraph(painter, picture, chart, settings, fonts);
        painter.end();
        const auto t4 = Clock::now();
        read.Add(t1 - t0), build.Add(t2 - t1), layout.Add(t3 - t2), refresh.Add(t3 - t0), paint.Add(t4 - t3);
    }
    std::printf("\n%zu tags x %zu samples, 1200 x 800, %d rounds:\n", kTags, kPerTag, rounds);
    read.Print("read (10 tags from the collector)");
    build.Print("series (heights, extremes, labels)");
    layout.Print("layout (axis, lines, bars, labels)");
    refresh.Print("refresh = read + series + layout");
    paint.Print("paint into a QImage");
    return 0;
}
