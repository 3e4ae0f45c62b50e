// Cycle time of the pollers. Every item of a cycle hands the value collector
// exactly one value or gap, so a cycle is timed from the service's start to
// the collector's N-th push; the service is stopped after each cycle.
//
//   poller_bench snmp [--rounds R] [--timeout MS] [--retries N] AGENT...   (AGENT: host:port/community)
//   poller_bench icmp [--rounds R] HOSTS                                   (127.0.0.1 .. 127.0.0.HOSTS)
//
// bench/pollers/run.sh starts the peers and the reference tools around it.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "core/core_context.h"
#include "core/record_sets.h"
#include "core/string_table.h"
#include "polling/icmp/icmp_module.h"
#include "polling/snmp/snmp_client.h"
#include "polling/snmp/snmp_module.h"

namespace {

using namespace qm;
using Clock = std::chrono::steady_clock;

struct Options {
    int rounds = 5;
    std::string timeout = "1000";
    std::string retries = "0";
    std::vector<std::string> rest;
};

// Counts the collector's pushes; Wait returns when `n` have come.
class PushCounter {
public:
    uint64_t Stamp() {
        std::lock_guard lock(mutex_);
        ++count_;
        changed_.notify_all();
        return 0;
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        count_ = 0;
    }
    bool Wait(size_t n, std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return count_ >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t count_ = 0;
};

void Need(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "poller_bench: could not set %s\n", what);
    std::exit(1);
}

core::RecordCopy Record(core::RecordSets& sets, core::SetRef set,
                        const std::vector<std::pair<const char*, std::string>>& fields) {
    core::RecordCopy r = set.set == core::RecordSet::Common ? *sets.CopyCommon() : sets.Blank(set);
    // A blank record is a reset one: switched off until said otherwise.
    if (set.set == core::RecordSet::Item || set.set == core::RecordSet::List) Need(r.Set("Enable", "1"), "Enable");
    for (const auto& [key, text] : fields) Need(r.Set(key, text), key);
    return r;
}

// Cycles of a started module: the times of the R cycles in ms.
template <class Start, class Stop>
std::vector<double> Cycles(int rounds, size_t items, PushCounter& pushes, Start start, Stop stop) {
    std::vector<double> out;
    for (int i = 0; i < rounds; ++i) {
        pushes.Reset();
        const auto begin = Clock::now();
        if (!start()) {
            std::fprintf(stderr, "poller_bench: the service did not start\n");
            std::exit(1);
        }
        const bool done = pushes.Wait(items, std::chrono::seconds(600));
        out.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        stop();
        if (!done) std::fprintf(stderr, "poller_bench: a cycle did not end within 600 s\n");
    }
    return out;
}

void Print(const char* what, std::vector<double> ms, size_t items) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s: %zu items, cycle best %.1f ms, median %.1f ms (%.2f ms per item at best)\n", what, items,
                ms.front(), ms[ms.size() / 2], ms.front() / static_cast<double>(items));
}

int Snmp(const Options& o, core::CoreContext& core, PushCounter& pushes) {
    platform::InitSnmpLibrary();
    polling::snmp::SnmpModule module(core);
    core::RecordSets& sets = *module.Records();
    Need(sets.Add({core::RecordSet::List},
                  Record(sets, {core::RecordSet::List}, {{"ID", "7"}, {"StrName", "uptime"}, {"StrOutFmt", "[up]"}})),
         "list");
    Need(sets.Add({core::RecordSet::Entry, 0},
                  Record(sets, {core::RecordSet::Entry, 0}, {{"StrValue", ".1.3.6.1.2.1.1.3.0"}, {"StrTag", "up"}})),
         "entry");
    for (const std::string& agent : o.rest) {
        const size_t slash = agent.find('/');
        Need(sets.AddItem(Record(sets, {core::RecordSet::Item},
                                 {{"StrName", agent.substr(0, slash)},
                                  {"StrCommunity", slash == std::string::npos ? "public" : agent.substr(slash + 1)},
                                  {"Param", "128"}, {"Timeout", o.timeout}, {"Retries", o.retries}, {"OIDID", "7"}})),
             "agent");
    }
    Need(sets.SetCommon(Record(sets, {core::RecordSet::Common}, {{"EnableService", "1"}, {"RepeatTimeout", "600000"}})),
         "common");
    Print("snmp", Cycles(o.rounds, o.rest.size(), pushes,
                         [&] { return module.Start(platform::Blocking::Yes); },
                         [&] { module.Stop(platform::Blocking::Yes); }),
          o.rest.size());
    return 0;
}

int Icmp(const Options& o, core::CoreContext& core, PushCounter& pushes) {
    const size_t hosts = o.rest.empty() ? 50 : std::strtoul(o.rest[0].c_str(), nullptr, 10);
    polling::IcmpModule module(core);
    core::RecordSets& sets = *module.Records();
    for (size_t i = 1; i <= hosts; ++i)
        Need(sets.AddItem(Record(sets, {core::RecordSet::Item},
                                 {{"StrName", "127.0.0." + std::to_string(i)}, {"Param", "128"},
                                  {"StrOutFmt", "[msec]"}})),
             "host");
    Need(sets.SetCommon(Record(sets, {core::RecordSet::Common},
                               {{"EnableService", "1"}, {"RepeatTimeout", "120000"}, {"RecvTimeout", o.timeout}})),
         "common");
    Print("icmp", Cycles(o.rounds, hosts, pushes,
                         [&] { return module.Start(platform::Blocking::Yes); },
                         [&] { module.Stop(platform::Blocking::Yes); }),
          hosts);
    return module.ErrorCount() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: poller_bench snmp|icmp [--rounds R] [--timeout MS] [--retries N] ...\n");
        return 2;
    }
    const std::string mode = argv[1];
    Options o;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) o.rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--timeout" && i + 1 < argc) o.timeout = argv[++i];
        else if (a == "--retries" && i + 1 < argc) o.retries = argv[++i];
        else o.rest.push_back(a);
    }
    PushCounter pushes;
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    core.events = std::make_unique<core::EventCore>(core.counters);
    core.values = std::make_unique<core::ValueCollector>([] { return 1000u; }, nullptr,
                                                             [&pushes] { return pushes.Stamp(); });
    const int rc = mode == "snmp" ? Snmp(o, core, pushes) : mode == "icmp" ? Icmp(o, core, pushes) : 2;
    core.events->Shutdown();
    return rc;
}
