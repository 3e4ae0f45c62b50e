// The event list on real Qt widgets (off-screen): how long the GUI thread is
// kept from its other work while 100k rows sit in the list and events keep
// arriving, how fast rows are applied, and how long a sort of the full list
// takes through the view. Prints figures; nothing here passes or fails.
//
//   event_list_gui_bench [seconds=30] [rate=10000] [rows=100000]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QHeaderView>
#include <QTimer>

#include "core/core_context.h"
#include "core/string_table.h"
#include "processing/rules/rules_module.h"
#include "windows/event_list/event_list_settings.h"
#include "windows/event_list/event_worker_pool.h"
#include "windows/info_box/info_box_settings.h"
#include "windows/event_list/qt/event_list_content.h"

using namespace qm;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Submit(core::EventCore& events, uint64_t n) {
    const std::string line = "<" + std::to_string(8 + n % 8) + ">device " + std::to_string(n % 500) +
                             ": interface state changed, sequence " + std::to_string(n) + "|a2;10.0." +
                             std::to_string(n % 250) + "." + std::to_string(n % 7 + 1) + ";6 12 2026 10 " +
                             std::to_string(n / 60 % 60) + " " + std::to_string(n % 60) + " 0;";
    events.Submit(core::kEventExternal, core::kNoSeverity, line, {});
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int rate = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int prefill = argc > 3 ? std::atoi(argv[3]) : 100000;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    const std::filesystem::path home = std::filesystem::temp_directory_path() / ("qm-gui-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(home / "Settings");
    core::CoreContext core;
    core.config = std::make_unique<core::Config>(home / "Settings");
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    core.events = std::make_unique<core::EventCore>(core.counters);
    core.registry = std::make_unique<core::ModuleRegistry>(core);
    core.registry->Add(std::make_unique<processing::RulesModule>(core));
    {
        windows::EventListSettings s;
        s.param = windows::kNewWindowParam;
        s.eventParam = windows::kNewWindowEventParam;
        s.mainTimer = windows::kMinTimerMs;
        core::SettingsSection section = core.config->Open(windows::kWindowSettingsFile, windows::kEventListSection);
        windows::SaveEventListSettings(section, 1, s);
        section.File().WriteString(section.Name(), "Version", "2");
        section.Commit();
    }

    windows::EventWorkerPool pool(core);
    auto list = std::make_unique<windows::qt::EventListContent>(core, pool, 1, windows::qt::EventListHost{}, false);
    list->resize(1000, 600);
    list->show();
    QAbstractItemModel* model = list->Table().model();

    // Prefill: the list takes at most 100 events per tick, so the ticks are
    // driven by hand here.
    const auto fillStart = Clock::now();
    for (int n = 0; n < prefill; ++n) Submit(*core.events, static_cast<uint64_t>(n));
    core.events->Settle(60000);
    while (model->rowCount() < prefill || list->BusyWorkers() > 0) {
        list->TickNow();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double fillMs = Ms(Clock::now() - fillStart);
    std::printf("prefill: %d rows through ticks, workers and the model in %.0f ms (%.0f rows/s)\n", prefill, fillMs,
                prefill / (fillMs / 1000.0));

    // A full sort through the view (header click: sort, layout change, repaint).
    for (int column : {windows::kColumnDate, windows::kColumnMessage}) {
        for (int pass = 0; pass < 2; ++pass) {
            const auto start = Clock::now();
            list->Table().horizontalHeader()->sectionClicked(column);
            QCoreApplication::processEvents();
            std::printf("sort %d rows by column %d: %.1f ms\n", model->rowCount(), column, Ms(Clock::now() - start));
        }
    }

    // One full paint of the list's rows, as every change of a sorted or
    // scrolling list asks for.
    {
        QWidget* viewport = list->Table().viewport();
        std::vector<double> paints;
        for (int pass = 0; pass < 20; ++pass) {
            const auto start = Clock::now();
            viewport->repaint();
            paints.push_back(Ms(Clock::now() - start));
        }
        std::sort(paints.begin(), paints.end());
        std::printf("full repaint of the rows: median %.1f ms, longest %.1f ms\n", paints[paints.size() / 2], paints.back());
    }

    // Steady arrival: a producer at `rate` events/s; a 5 ms probe timer on
    // the GUI thread measures how late it fires.
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        uint64_t n = static_cast<uint64_t>(prefill);
        const auto begin = Clock::now();
        while (!stop) {
            const uint64_t due = static_cast<uint64_t>(Ms(Clock::now() - begin) * rate / 1000.0);
            while (n - static_cast<uint64_t>(prefill) < due) Submit(*core.events, n++);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    double worstGap = 0;
    std::vector<double> gaps;
    QElapsedTimer sinceLast;
    sinceLast.start();
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double gap = static_cast<double>(sinceLast.nsecsElapsed()) / 1e6;
        sinceLast.restart();
        gaps.push_back(gap);
        worstGap = std::max(worstGap, gap);
    });
    probe.start(5);
    // How often the rows are painted while events arrive.
    struct PaintCounter : QObject {
        uint64_t paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } paintCounter;
    list->Table().viewport()->installEventFilter(&paintCounter);
    const int rowsBefore = model->rowCount();
    const uint64_t processedBefore = list->Logic().Processed();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    stop = true;
    producer.join();
    std::sort(gaps.begin(), gaps.end());
    const double p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    const uint64_t applied = list->Logic().Processed() - processedBefore;
    std::printf("steady %d s at %d events/s with %d rows: longest GUI stall %.1f ms (probe every 5 ms; 99th "
                "percentile gap %.1f ms)\n",
                seconds, rate, rowsBefore, std::max(0.0, worstGap - 5.0), p99);
    std::printf("paints of the rows: %llu in %d s\n", static_cast<unsigned long long>(paintCounter.paints), seconds);
    std::printf("rows applied: %llu in %d s (%.0f rows/s; the list takes at most 100 per %u ms tick)\n",
                static_cast<unsigned long long>(applied), seconds, applied / static_cast<double>(seconds),
                list->Logic().Settings().mainTimer);

    list.reset();
    core.registry->UnloadAll();
    core.events->Shutdown();
    std::filesystem::remove_all(home);
    return 0;
}
