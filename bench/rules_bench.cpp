// Rule matching benchmark: how many events per second a window's rule
// selection gets through when its rules test lists. 50 rules, each testing
// the message against its own list of 1,000 entries that never occur, so
// every rule of the selection is matched against every event. Plain main,
// one run, figures on stdout.
//
//   rules_bench [--events N]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/core_context.h"
#include "processing/rules/rules_module.h"

namespace {

using Clock = std::chrono::steady_clock;
using qm::core::EventRecord;
using qm::processing::MatchList;
using qm::processing::Rule;
using qm::processing::RulesModule;

constexpr size_t kRules = 50;
constexpr size_t kEntries = 1000;

std::vector<EventRecord> MakeEvents(size_t count) {
    static const char* const kApps[] = {"sshd", "cron", "kernel", "nginx", "postfix/smtpd", "dhcpd"};
    std::vector<EventRecord> events(count);
    char buf[256];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf,
                      "%s[%zu]: status=ok queue=ready retries=0 peer=192.0.2.%zu elapsed=12ms user=backup session=7f3a9c",
                      kApps[i % 6], 1000 + i % 977, i % 250);
        events[i].type = qm::core::kEventExternal;
        events[i].severity = static_cast<uint32_t>(i % 8);
        events[i].sender = "10.0.0." + std::to_string(i % 200 + 1);
        events[i].SetMessage(buf);
        events[i].sequence = i;
    }
    return events;
}

// Lists of words that look like the messages' but never occur in them.
void Fill(RulesModule& rules, bool wholeString, std::vector<uint64_t>& selection) {
    for (size_t r = 0; r < kRules; ++r) {
        MatchList list;
        list.enable = 1;
        list.uid = 1000 + r;
        for (size_t e = 0; e < kEntries; ++e) list.entries.push_back("user=svc" + std::to_string(r * kEntries + e));
        rules.AddList(list);
        Rule rule;
        rule.enable = 1;
        rule.uid = 1 + r;
        rule.inCond1 = qm::processing::kCondMessage;
        rule.inListId1 = list.uid;
        rule.param = qm::processing::kUseList1 | qm::processing::kColorAction |
                     (wholeString ? qm::processing::kWholeString1 : 0);
        rules.AddRule(rule);
        selection.push_back(rule.uid);
    }
}

template <typename F>
double EventsPerSecond(const std::vector<EventRecord>& events, unsigned threads, F&& perEvent) {
    const auto start = Clock::now();
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (size_t i = t; i < events.size(); i += threads) perEvent(events[i]);
        });
    }
    for (auto& th : pool) th.join();
    return double(events.size()) / std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    size_t count = 20000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--events") == 0) count = std::strtoull(argv[i + 1], nullptr, 10);
    }
    const std::vector<EventRecord> events = MakeEvents(count);
    std::printf("rules %zu, list entries %zu each, events %zu\n", kRules, kEntries, events.size());

    for (bool whole : {false, true}) {
        qm::core::CoreContext core;
        RulesModule rules(core);
        std::vector<uint64_t> selection;
        Fill(rules, whole, selection);
        const char* mode = whole ? "whole string" : "substring";
        volatile unsigned sink = 0;
        for (unsigned threads : {1u, 4u}) {
            const double apply = EventsPerSecond(events, threads, [&](const EventRecord& e) {
                sink = sink + rules.Apply(e, selection).rulesMatched;
            });
            std::printf("Apply     %-12s threads %u: %12.0f events/s  %10.0f rule matches/s\n", mode, threads, apply,
                        apply * kRules);
        }
        const double dna = EventsPerSecond(events, 1, [&](const EventRecord& e) { sink = sink + rules.DoNotAdd(e, selection); });
        std::printf("DoNotAdd  %-12s threads 1: %12.0f events/s\n", mode, dna);
    }
    return 0;
}
