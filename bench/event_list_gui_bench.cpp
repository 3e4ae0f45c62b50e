// The event list on real Qt widgets (off-screen): how long the GUI thread is
// kept from its other work while 100k rows sit in the list and events keep
// arriving, how fast rows are applied, and how long a sort of the full list
// takes through the view. With "filter" the list also shows the syslog
// header's columns and a filter (an expression and a level) is set on the
// full list, tested in slices, and kept on while events arrive. Prints
// figures; nothing here passes or fails.
//
//   event_list_gui_bench [seconds=30] [rate=10000] [rows=100000] [filter]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

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

// A BSD-form line as devices send it (time, host, tag and pid), relayed with
// its first sender and time.
void Submit(core::EventCore& events, uint64_t n) {
    const std::string clock = std::to_string(10 + n / 3600 % 10) + ":" + std::to_string(10 + n / 60 % 50) + ":" +
                              std::to_string(10 + n % 50);
    const std::string line = "<" + std::to_string(8 + n % 8) + ">Dec  6 " + clock + " device-" + std::to_string(n % 500) +
                             " ifmgr[" + std::to_string(100 + n % 900) + "]: interface state changed, sequence " +
                             std::to_string(n) + "|a2;10.0." + std::to_string(n % 250) + "." + std::to_string(n % 7 + 1) +
                             ";6 12 2026 10 " + std::to_string(n / 60 % 60) + " " + std::to_string(n % 60) + " 0;";
    events.Submit(core::kEventExternal, core::kNoSeverity, line, {});
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Gaps between the firings of a 5 ms timer on the GUI thread: how long the
// thread was kept from its other work. On a shared machine a gap also holds
// the time the thread waited for a core; the CPU time the thread used within
// each gap is what the program itself took.
struct StallProbe {
    std::vector<double> gaps;
    double longestBusy = 0;
    QElapsedTimer sinceLast;
    double cpuAtLast = 0;
    QTimer timer;
    StallProbe() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            gaps.push_back(static_cast<double>(sinceLast.nsecsElapsed()) / 1e6);
            sinceLast.restart();
            const double cpu = ThreadCpuMs();
            longestBusy = std::max(longestBusy, cpu - cpuAtLast);
            cpuAtLast = cpu;
        });
    }
    void Start() {
        gaps.clear();
        longestBusy = 0;
        sinceLast.start();
        cpuAtLast = ThreadCpuMs();
        timer.start(5);
    }
    void Stop() { timer.stop(); }
    double LongestStall() const {
        return gaps.empty() ? 0 : std::max(0.0, *std::max_element(gaps.begin(), gaps.end()) - 5.0);
    }
    double Percentile99() {
        std::sort(gaps.begin(), gaps.end());
        return gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int rate = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int prefill = argc > 3 ? std::atoi(argv[3]) : 100000;
    const bool filter = argc > 4 && std::string(argv[4]) == "filter";
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
        if (filter) s.columns = windows::kShowSenderTime | windows::kShowHost | windows::kShowApp | windows::kShowProcId;
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
    auto* columns = dynamic_cast<windows::qt::EventListModel*>(model);

    // Prefill: the list takes at most 100 events per tick, so the ticks are
    // driven by hand here.
    const auto fillStart = Clock::now();
    for (int n = 0; n < prefill; ++n) Submit(*core.events, static_cast<uint64_t>(n));
    core.events->Settle(60000);
    while (static_cast<int>(list->Logic().RowCount()) < prefill || list->BusyWorkers() > 0) {
        list->TickNow();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double fillMs = Ms(Clock::now() - fillStart);
    std::printf("prefill: %d rows through ticks, workers and the model in %.0f ms (%.0f rows/s)\n", prefill, fillMs,
                prefill / (fillMs / 1000.0));

    StallProbe probe;
    if (filter) {
        // Set as the user sets it: an expression typed (odd sequence numbers)
        // and a level chosen (Notice and more severe), about 3 rows in 8.
        windows::qt::EventListFilterBar& bar = list->FilterBar();
        list->OpenFilter();
        bar.Regex().setChecked(true);
        bar.Severity().setCurrentIndex(1 + 5);
        bar.Text().setText("sequence \\d*[13579]$");
        // Each turn of the event loop here runs one slice of the test (and
        // what else is due): the longest turn is the longest the GUI thread
        // was kept from its other work.
        const auto start = Clock::now();
        emit bar.Changed();
        double longestTurn = Ms(Clock::now() - start);
        size_t turns = 0;
        while (list->Logic().FilterPending()) {
            const auto turn = Clock::now();
            QCoreApplication::processEvents();
            longestTurn = std::max(longestTurn, Ms(Clock::now() - turn));
            ++turns;
        }
        const double ms = Ms(Clock::now() - start);

        std::printf("filter set on %zu rows: %zu shown, tested in %.0f ms over %zu turns of the event loop, the "
                    "longest %.1f ms\n",
                    list->Logic().RowCount(), list->Logic().ShownCount(), ms, turns, longestTurn);
        for (int pass = 0; pass < 5; ++pass) {
            const auto clearStart = Clock::now();
            list->CloseFilter();
            QCoreApplication::processEvents();
            const double clearMs = Ms(Clock::now() - clearStart);
            list->OpenFilter();
            bar.Regex().setChecked(true);
            bar.Severity().setCurrentIndex(1 + 5);
            bar.Text().setText("sequence \\d*[13579]$");
            const auto setStart = Clock::now();
            emit bar.Changed();
            QCoreApplication::processEvents();
            const double setMs = Ms(Clock::now() - setStart);
            while (list->Logic().FilterPending()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::printf("clearing the filter (every row back): %.1f ms; setting it (the view reset): %.1f ms\n", clearMs,
                        setMs);
        }
    }

    // A full sort through the view (header click: sort, layout change, repaint).
    for (int column : {windows::kColumnDate, windows::kColumnMessage}) {
        for (int pass = 0; pass < 2; ++pass) {
            const auto start = Clock::now();
            list->Table().horizontalHeader()->sectionClicked(columns->SectionOf(column));
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
    probe.Start();
    // How often the rows are painted while events arrive.
    struct PaintCounter : QObject {
        uint64_t paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } paintCounter;
    list->Table().viewport()->installEventFilter(&paintCounter);
    const int rowsBefore = static_cast<int>(list->Logic().RowCount());
    const uint64_t processedBefore = list->Logic().Processed();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    stop = true;
    producer.join();
    probe.Stop();
    const uint64_t applied = list->Logic().Processed() - processedBefore;
    std::printf("steady %d s at %d events/s with %d rows%s: longest GUI stall %.1f ms (probe every 5 ms; 99th "
                "percentile gap %.1f ms; busy at most %.1f ms of CPU between probes)\n",
                seconds, rate, rowsBefore, filter ? " (filtered, header columns shown)" : "", probe.LongestStall(),
                probe.Percentile99(), probe.longestBusy);
    if (filter)
        std::printf("rows shown at the end: %zu of %zu\n", list->Logic().ShownCount(), list->Logic().RowCount());
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
