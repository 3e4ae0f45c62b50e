// Event list benchmark: how fast the worker pool fills rows when a window
// has 50 rules, and what the GUI thread pays for a list of 100k rows (the
// list timer's turns, applying results, sorting). Plain main, one run,
// figures on stdout.
//
//   event_list_bench [--events N] [--rows N]
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/core_context.h"
#include "core/string_table.h"
#include "processing/rules/rules_module.h"
#include "windows/event_list/event_list_logic.h"
#include "windows/event_list/event_worker_pool.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace qm;

constexpr size_t kRules = 50;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct NullView : windows::EventListView {
    void BeginResetRows() override {}
    void EndResetRows() override {}
    void BeginInsertRows(size_t, size_t) override {}
    void EndInsertRows() override {}
    void BeginRemoveRows(size_t, size_t) override {}
    void EndRemoveRows() override {}
    void RowsChanged(size_t, size_t) override {}
    void BeginReorderRows() override {}
    void EndReorderRows(std::span<const size_t>) override {}
    void ColorsChanged() override {}
    bool DeselectRow(size_t) override { return false; }
    void EnsureLastVisible() override {}
};

std::string Message(size_t i) {
    static const char* const kApps[] = {"sshd", "cron", "kernel", "nginx", "postfix/smtpd", "dhcpd"};
    char buf[200];
    std::snprintf(buf, sizeof buf, "%s[%zu]: status=ok queue=ready retries=0 peer=192.0.2.%zu elapsed=12ms user=backup",
                  kApps[i % 6], 1000 + i % 977, i % 250);
    return buf;
}

// 50 rules that test the message for words it never holds, each with a
// colour action and "continue", so every event meets all of them.
std::vector<uint64_t> AddRules(processing::RulesModule& rules) {
    std::vector<uint64_t> selection;
    for (size_t r = 0; r < kRules; ++r) {
        processing::Rule rule;
        rule.enable = 1;
        rule.uid = 1 + r;
        rule.inCond1 = processing::kCondMessage;
        rule.strInCond1 = "user=svc" + std::to_string(r);
        rule.param = processing::kColorAction | processing::kContinue;
        rules.AddRule(rule);
        selection.push_back(rule.uid);
    }
    return selection;
}

void WorkerThroughput(windows::EventWorkerPool& pool, const std::vector<uint64_t>& rules,
                      size_t count) {
    auto inbox = std::make_shared<windows::ResultInbox>();
    auto options = std::make_shared<windows::WorkerOptions>();
    options->param = windows::kListColorScheme | windows::kListResolveNames;
    options->rules = rules;
    std::vector<std::shared_ptr<const core::EventRecord>> events;
    for (size_t i = 0; i < count; ++i) {
        auto e = std::make_shared<core::EventRecord>();
        e->type = core::kEventExternal;
        e->severity = static_cast<uint32_t>(i % 8);
        e->sender = "10.0.0." + std::to_string(i % 200 + 1);
        e->SetMessage(Message(i));
        e->sequence = i;
        events.push_back(std::move(e));
    }
    const auto start = Clock::now();
    for (size_t i = 0; i < count; ++i) {
        inbox->ItemStarted();
        pool.Submit(windows::EventWork{inbox, options, events[i], i, i});
    }
    inbox->WaitIdle(600000);
    const double s = Seconds(start);
    std::printf("workers  %u threads, %zu rules: %10.0f events/s (%zu events in %.2f s)\n", pool.Threads(), kRules,
                double(count) / s, count, s);
}

void ListOfRows(core::CoreContext& core, windows::EventWorkerPool& pool, const std::vector<uint64_t>& rules,
                size_t rows) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, "192.0.2.1", &from.sin_addr);
    for (size_t i = 0; i < rows; ++i) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, "|a2;10.0.%zu.%zu;%zu %zu 2024 %zu %zu %zu 0;", i / 250 % 250, i % 250,
                      i % 28 + 1, i % 12 + 1, i % 24, i % 60, i * 7 % 60);
        core.events->Submit(core::kEventExternal, core::kNoSeverity, "<13>" + Message(i) + suffix, from);
    }
    core.events->Settle(600000);

    NullView view;
    windows::EventListSettings settings;
    settings.param = windows::kNewWindowParam;
    settings.eventParam = windows::kNewWindowEventParam;
    settings.rules = rules;
    windows::EventListLogic window(core, pool, view, settings);

    double longestTick = 0, tickTotal = 0, applyTotal = 0, longestApply = 0;
    size_t applied = 0, ticks = 0;
    const auto fill = Clock::now();
    while (window.RowCount() < rows || window.BusyWorkers() != 0) {
        auto t = Clock::now();
        window.Tick();
        const double tick = Seconds(t);
        longestTick = std::max(longestTick, tick);
        tickTotal += tick;
        ++ticks;
        // Between turns of the list timer the GUI thread applies results as they come.
        t = Clock::now();
        const size_t n = window.ApplyResults();
        const double apply = Seconds(t);
        applied += n;
        applyTotal += apply;
        longestApply = std::max(longestApply, apply);
    }
    std::printf("fill     %zu rows in %.2f s, %zu list timer turns: longest turn %.2f ms, mean %.3f ms\n",
                window.RowCount(), Seconds(fill), ticks, longestTick * 1e3, tickTotal * 1e3 / double(ticks));
    std::printf("apply    %zu results: %10.0f rows/s on the GUI thread, longest call %.2f ms\n", applied,
                double(applied) / applyTotal, longestApply * 1e3);

    for (int column : {windows::kColumnDate, windows::kColumnMessage, windows::kColumnSender}) {
        const auto t = Clock::now();
        window.HeaderClicked(column);
        std::printf("sort     %zu rows by column %d: %.1f ms\n", window.RowCount(), column, Seconds(t) * 1e3);
    }
    const auto t = Clock::now();
    window.HeaderClicked(windows::kColumnSender);
    std::printf("sort     %zu rows by column %d reversed: %.1f ms\n", window.RowCount(), int(windows::kColumnSender),
                Seconds(t) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    size_t events = 100000, rows = 100000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--events") == 0) events = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--rows") == 0) rows = std::strtoull(argv[i + 1], nullptr, 10);
    }
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    core.events = std::make_unique<core::EventCore>(core.counters);
    core.registry = std::make_unique<core::ModuleRegistry>(core);
    auto rulesModule = std::make_unique<processing::RulesModule>(core);
    const std::vector<uint64_t> rules = AddRules(*rulesModule);
    core.registry->Add(std::move(rulesModule));
    {
        windows::EventWorkerPool pool(core);
        WorkerThroughput(pool, rules, events);
        ListOfRows(core, pool, rules, rows);
    }
    core.events->Shutdown();
    return 0;
}
