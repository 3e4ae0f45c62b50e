// Event intake benchmark: how fast lines get from Submit into the processing
// queue, how long a line waits before a queue reader can see it, and how the
// intake compares with the simplest thing that could work (a mutex around a
// vector of strings). Plain main, one run, figures on stdout.
//
//   intake_bench [--quick] [--lines N]
//
// N is the number of lines each producer submits in the throughput runs.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/counters.h"
#include "core/event_core.h"
#include "core/event_record.h"

namespace {

using Clock = std::chrono::steady_clock;
using qm::core::EventCore;
using qm::core::EventPtr;

constexpr uint32_t kExternal = qm::core::kEventExternal;  // 0x20
constexpr uint32_t kSeverity = qm::core::kNoSeverity;     // 100: producers leave decoding to intake
constexpr int kProducerCounts[] = {1, 2, 4};

double SecondsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

int64_t NsSince(Clock::time_point origin, Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t - origin).count();
}

// Lines are formatted once up front and shared read-only by every producer,
// so neither the intake nor the baseline is charged for snprintf.
std::vector<std::string> MakeLines(size_t count) {
    static const char* const kApps[] = {"sshd", "cron", "kernel", "nginx", "postfix/smtpd", "dhcpd"};
    static const char kFiller[] =
        "status=ok queue=ready retries=0 peer=192.0.2.17 elapsed=12ms user=backup session=7f3a9c";
    std::vector<std::string> lines;
    lines.reserve(count);
    char buf[256];
    for (size_t i = 0; i < count; ++i) {
        const unsigned host = static_cast<unsigned>(i % 32);
        const char* app = kApps[i % (sizeof kApps / sizeof kApps[0])];
        const unsigned pid = 100 + static_cast<unsigned>((i * 7919) % 30000);
        int n = std::snprintf(buf, sizeof buf, "<134>Dec  6 18:04:02 host%02u %s[%u]: message number %u ", host, app,
                              pid, static_cast<unsigned>(i));
        // Lengths spread over 80..120 bytes, as real traffic is not uniform.
        const size_t target = 80 + (i * 37) % 41;
        std::string line(buf, static_cast<size_t>(n));
        size_t f = 0;
        while (line.size() < target) line.push_back(kFiller[f++ % (sizeof kFiller - 1)]);
        lines.push_back(std::move(line));
    }
    return lines;
}

sockaddr_in SenderAddress(int producer) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(514);
    a.sin_addr.s_addr = htonl(0xC0000200u + static_cast<uint32_t>(producer + 1));  // 192.0.2.x
    return a;
}

// Releases every producer at the same instant so the clock starts at the
// first Submit rather than at thread creation.
class StartGate {
public:
    explicit StartGate(int parties) : waiting_(parties) {}
    void ArriveAndWait() {
        waiting_.fetch_sub(1, std::memory_order_acq_rel);
        while (!open_.load(std::memory_order_acquire)) std::this_thread::yield();
    }
    Clock::time_point OpenWhenAllArrived() {
        while (waiting_.load(std::memory_order_acquire) != 0) std::this_thread::yield();
        const Clock::time_point t = Clock::now();
        open_.store(true, std::memory_order_release);
        return t;
    }

private:
    std::atomic<int> waiting_;
    std::atomic<bool> open_{false};
};

// ---------------------------------------------------------------- throughput

struct ThroughputResult {
    int producers = 0;
    uint64_t submitted = 0;  // Submit returned 0
    uint64_t refused = 0;
    uint64_t received = 0;   // records taken from the queue, duplicates included
    uint64_t lost = 0;
    uint64_t duplicates = 0;
    uint64_t outOfRange = 0;
    bool settled = false;
    double wallSeconds = 0;        // first Submit .. everything in the queue
    double submitWallSeconds = 0;  // first Submit .. last producer done
    double submitNsPerCall = 0;    // mean over producers of their own loop time / calls
    uint32_t collisions = 0;
};

// Tallies sequence numbers as records leave the queue; runs on the drainer
// thread only, so it needs no lock.
class SequenceTally {
public:
    explicit SequenceTally(size_t expected) : seen_(expected + 1, 0) {}
    void Add(const std::vector<EventPtr>& records) {
        for (const EventPtr& r : records) {
            ++received_;
            if (r->sequence == 0 || r->sequence >= seen_.size()) {
                overflow_.push_back(r->sequence);
                continue;
            }
            uint8_t& s = seen_[r->sequence];
            if (s) ++duplicates_;
            else s = 1;
        }
    }
    void Finish() {
        std::sort(overflow_.begin(), overflow_.end());
        for (size_t i = 1; i < overflow_.size(); ++i)
            if (overflow_[i] == overflow_[i - 1]) ++duplicates_;
    }
    uint64_t Received() const { return received_; }
    uint64_t Duplicates() const { return duplicates_; }
    uint64_t OutOfRange() const { return overflow_.size(); }

private:
    std::vector<uint8_t> seen_;
    std::vector<uint64_t> overflow_;
    uint64_t received_ = 0;
    uint64_t duplicates_ = 0;
};

bool DrainInto(EventCore& core, SequenceTally& tally) {
    std::vector<EventPtr> batch;
    if (core.Drain(batch) != qm::core::kOk) return false;  // collision: try on the next turn
    tally.Add(batch);
    return true;  // `batch` frees the records here, as the event database would after storing them
}

ThroughputResult RunIntakeThroughput(const std::vector<std::string>& lines, int producers) {
    ThroughputResult res;
    res.producers = producers;
    const size_t perProducer = lines.size();

    qm::core::CoreCounters counters;
    EventCore core(counters);
    SequenceTally tally(perProducer * static_cast<size_t>(producers));

    // Draining now and then keeps memory flat, as the event database does in
    // the program; it competes for the CPU like the real one would.
    std::atomic<bool> stopDrainer{false};
    std::thread drainer([&] {
        while (!stopDrainer.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            DrainInto(core, tally);
        }
        while (!DrainInto(core, tally)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });

    std::vector<uint64_t> okCount(producers, 0), refusedCount(producers, 0);
    std::vector<double> loopSeconds(producers, 0);
    StartGate gate(producers);
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            const sockaddr_in sender = SenderAddress(p);
            gate.ArriveAndWait();
            const Clock::time_point t0 = Clock::now();
            uint64_t ok = 0, refused = 0;
            for (const std::string& line : lines) {
                if (core.Submit(kExternal, kSeverity, line, sender) == qm::core::kOk) ++ok;
                else ++refused;
            }
            loopSeconds[p] = SecondsBetween(t0, Clock::now());
            okCount[p] = ok;
            refusedCount[p] = refused;
        });
    }
    const Clock::time_point start = gate.OpenWhenAllArrived();
    for (std::thread& t : threads) t.join();
    const Clock::time_point submitted = Clock::now();
    res.settled = core.Settle(120'000);
    const Clock::time_point inQueue = Clock::now();

    stopDrainer.store(true, std::memory_order_release);
    drainer.join();
    tally.Finish();

    for (int p = 0; p < producers; ++p) {
        res.submitted += okCount[p];
        res.refused += refusedCount[p];
        res.submitNsPerCall += loopSeconds[p] * 1e9 / static_cast<double>(perProducer);
    }
    res.submitNsPerCall /= producers;
    res.wallSeconds = SecondsBetween(start, inQueue);
    res.submitWallSeconds = SecondsBetween(start, submitted);
    res.received = tally.Received();
    res.duplicates = tally.Duplicates();
    res.outOfRange = tally.OutOfRange();
    const uint64_t unique = res.received - res.duplicates;
    res.lost = res.submitted > unique ? res.submitted - unique : 0;
    res.collisions = counters.locks.collisions.load();
    return res;
}

// ------------------------------------------------------------------ baseline

struct BaselineResult {
    int producers = 0;
    uint64_t lines = 0;
    double wallSeconds = 0;
};

BaselineResult RunBaseline(const std::vector<std::string>& lines, int producers) {
    BaselineResult res;
    res.producers = producers;
    std::mutex m;
    std::vector<std::string> sink;  // deliberately not reserved: the intake does not know its volume either
    StartGate gate(producers);
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&] {
            gate.ArriveAndWait();
            for (const std::string& line : lines) {
                std::string copy(line);  // copied outside the lock, as Submit copies before queueing
                std::lock_guard lock(m);
                sink.push_back(std::move(copy));
            }
        });
    }
    const Clock::time_point start = gate.OpenWhenAllArrived();
    for (std::thread& t : threads) t.join();
    res.wallSeconds = SecondsBetween(start, Clock::now());
    res.lines = sink.size();
    return res;
}

// ------------------------------------------------------------------- latency

struct LatencyResult {
    unsigned rate = 0;
    double seconds = 0;
    size_t submitted = 0;
    size_t seen = 0;
    size_t unparsable = 0;
    double minMs = 0, medianMs = 0, p99Ms = 0, maxMs = 0, meanMs = 0;
};

// The index the line carries after "number "; sequence numbers follow intake
// order, which several workers may shuffle, so the text is the reliable key.
bool IndexFromMessage(std::string_view text, size_t& index) {
    const size_t at = text.find("number ");
    if (at == std::string_view::npos) return false;
    size_t i = at + 7, value = 0;
    bool any = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<size_t>(text[i] - '0');
        ++i;
        any = true;
    }
    index = value;
    return any;
}

LatencyResult RunLatency(const std::vector<std::string>& lines, unsigned rate, double seconds) {
    LatencyResult res;
    res.rate = rate;
    res.seconds = seconds;
    const size_t count = std::min(lines.size(), static_cast<size_t>(rate * seconds));
    res.submitted = count;

    qm::core::CoreCounters counters;
    EventCore core(counters);
    const Clock::time_point origin = Clock::now();
    // Written by one thread each, read after both joined; -1 means "not yet".
    std::vector<int64_t> submitNs(count, -1), seenNs(count, -1);
    std::atomic<size_t> seenCount{0};
    std::atomic<bool> producerDone{false};
    std::atomic<size_t> unparsable{0};

    std::thread reader([&] {
        qm::core::ReaderState state;
        qm::core::QueueSlice slice;
        Clock::time_point giveUp = Clock::time_point::max();
        for (;;) {
            const int64_t now = NsSince(origin, Clock::now());
            while (core.ReadNext(state, qm::platform::Blocking::Yes, slice) == qm::core::kOk) {
                for (size_t i = 0; i < slice.size(); ++i) {
                    size_t idx = 0;
                    if (!IndexFromMessage(slice[i].Message(), idx) || idx >= count) {
                        unparsable.fetch_add(1, std::memory_order_relaxed);
                        continue;
                    }
                    if (seenNs[idx] < 0) {
                        seenNs[idx] = now;
                        seenCount.fetch_add(1, std::memory_order_relaxed);
                    }
                }
            }
            slice.Release();
            if (seenCount.load(std::memory_order_relaxed) >= count) break;
            if (producerDone.load(std::memory_order_acquire)) {
                // Two mover periods after the last line is plenty; past that it is lost.
                if (giveUp == Clock::time_point::max())
                    giveUp = Clock::now() + std::chrono::milliseconds(2 * EventCore::kMoverPeriodMs + 500);
                else if (Clock::now() > giveUp)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    std::thread producer([&] {
        const sockaddr_in sender = SenderAddress(0);
        const auto period = std::chrono::nanoseconds(1'000'000'000 / rate);
        const Clock::time_point first = Clock::now() + std::chrono::milliseconds(5);
        for (size_t i = 0; i < count; ++i) {
            std::this_thread::sleep_until(first + period * static_cast<int64_t>(i));
            submitNs[i] = NsSince(origin, Clock::now());
            if (core.Submit(kExternal, kSeverity, lines[i], sender) != qm::core::kOk) submitNs[i] = -1;
        }
        producerDone.store(true, std::memory_order_release);
    });

    producer.join();
    reader.join();

    std::vector<double> ms;
    ms.reserve(count);
    for (size_t i = 0; i < count; ++i)
        if (submitNs[i] >= 0 && seenNs[i] >= 0) ms.push_back(static_cast<double>(seenNs[i] - submitNs[i]) / 1e6);
    res.seen = ms.size();
    res.unparsable = unparsable.load();
    if (!ms.empty()) {
        std::sort(ms.begin(), ms.end());
        auto rank = [&](double q) {
            const size_t r = static_cast<size_t>(std::ceil(q * static_cast<double>(ms.size())));
            return ms[std::clamp<size_t>(r, 1, ms.size()) - 1];
        };
        res.minMs = ms.front();
        res.maxMs = ms.back();
        res.medianMs = rank(0.5);
        res.p99Ms = rank(0.99);
        double sum = 0;
        for (double v : ms) sum += v;
        res.meanMs = sum / static_cast<double>(ms.size());
    }
    return res;
}

void Usage(const char* argv0) {
    std::fprintf(stderr, "usage: %s [--quick] [--lines N]\n", argv0);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    size_t perProducer = 200'000;
    bool linesGiven = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--lines") == 0 && i + 1 < argc) {
            perProducer = std::strtoull(argv[++i], nullptr, 10);
            linesGiven = true;
        } else {
            Usage(argv[0]);
            return 2;
        }
    }
    if (quick && !linesGiven) perProducer = 20'000;
    const unsigned latencyRate = 2000;
    const double latencySeconds = quick ? 1.0 : 2.0;
    const size_t poolSize = std::max(perProducer, static_cast<size_t>(latencyRate * latencySeconds));
    if (perProducer == 0) {
        Usage(argv[0]);
        return 2;
    }

    const std::vector<std::string> pool = MakeLines(poolSize);
    const std::vector<std::string> lines(pool.begin(), pool.begin() + static_cast<ptrdiff_t>(perProducer));
    size_t minLen = SIZE_MAX, maxLen = 0, sumLen = 0;
    for (const std::string& l : lines) {
        minLen = std::min(minLen, l.size());
        maxLen = std::max(maxLen, l.size());
        sumLen += l.size();
    }

    std::printf("Quillmark event intake benchmark%s\n", quick ? " (quick)" : "");
    std::printf("  hardware threads %u, intake workers %u, mover period %u ms\n", std::thread::hardware_concurrency(),
                std::clamp(std::thread::hardware_concurrency(), 2u, 4u), EventCore::kMoverPeriodMs);
    std::printf("  %zu lines per producer, %zu..%zu bytes (mean %.1f), type 0x%02X severity %u\n", perProducer, minLen,
                maxLen, static_cast<double>(sumLen) / static_cast<double>(lines.size()), kExternal, kSeverity);
    std::printf("  sample: %s\n\n", lines.front().c_str());
    std::fflush(stdout);

    bool clean = true;

    std::printf("[1] Submit -> processing queue throughput (Settle at the end, drained every 50 ms)\n");
    std::printf("  %-9s %10s %8s %10s %6s %6s %6s %10s %12s %12s %10s\n", "producers", "submitted", "refused", "received",
                "lost", "dups", "oor", "wall ms", "lines/s", "submit/s", "submit ns");
    std::vector<ThroughputResult> intake;
    for (int p : kProducerCounts) {
        ThroughputResult r = RunIntakeThroughput(lines, p);
        std::printf("  %-9d %10" PRIu64 " %8" PRIu64 " %10" PRIu64 " %6" PRIu64 " %6" PRIu64 " %6" PRIu64
                    " %10.1f %12.0f %12.0f %10.1f%s\n",
                    p, r.submitted, r.refused, r.received, r.lost, r.duplicates, r.outOfRange, r.wallSeconds * 1e3,
                    static_cast<double>(r.submitted) / r.wallSeconds,
                    static_cast<double>(r.submitted + r.refused) / r.submitWallSeconds, r.submitNsPerCall,
                    r.settled ? "" : "  (Settle timed out)");
        std::fflush(stdout);
        if (r.lost || r.duplicates || r.refused || !r.settled) clean = false;
        intake.push_back(r);
    }
    std::printf("  (lines/s: first Submit until all records are in the queue; submit/s: producer side only;\n"
                "   submit ns: each producer's own loop time per call, averaged over producers; oor: sequence\n"
                "   numbers outside 1..submitted)\n\n");

    std::printf("[2] Submit -> queue latency (%u lines/s for %.1f s, reader polls ReadNext every 1 ms)\n",
                latencyRate, latencySeconds);
    LatencyResult lat = RunLatency(pool, latencyRate, latencySeconds);
    std::printf("  %-22s %zu of %zu (unparsable %zu)\n", "lines seen", lat.seen, lat.submitted, lat.unparsable);
    std::printf("  %-22s %8.1f ms\n", "min", lat.minMs);
    std::printf("  %-22s %8.1f ms\n", "median", lat.medianMs);
    std::printf("  %-22s %8.1f ms\n", "mean", lat.meanMs);
    std::printf("  %-22s %8.1f ms\n", "p99", lat.p99Ms);
    std::printf("  %-22s %8.1f ms\n\n", "max", lat.maxMs);
    if (lat.seen != lat.submitted) clean = false;
    std::fflush(stdout);

    std::printf("[3] Baseline: std::mutex + std::vector<std::string> push of the same lines\n");
    std::printf("  %-9s %10s %10s %12s\n", "producers", "lines", "wall ms", "lines/s");
    std::vector<BaselineResult> base;
    for (int p : kProducerCounts) {
        BaselineResult b = RunBaseline(lines, p);
        std::printf("  %-9d %10" PRIu64 " %10.1f %12.0f\n", p, b.lines, b.wallSeconds * 1e3,
                    static_cast<double>(b.lines) / b.wallSeconds);
        std::fflush(stdout);
        base.push_back(b);
    }
    std::printf("\n");

    std::printf("Ratios (intake / baseline lines/s)\n");
    for (size_t i = 0; i < intake.size(); ++i) {
        const double in = static_cast<double>(intake[i].submitted) / intake[i].wallSeconds;
        const double submitOnly = static_cast<double>(intake[i].submitted + intake[i].refused) / intake[i].submitWallSeconds;
        const double bl = static_cast<double>(base[i].lines) / base[i].wallSeconds;
        std::printf("  %d producer%s  to queue %.3f   submit side only %.3f\n", intake[i].producers,
                    intake[i].producers == 1 ? " " : "s", in / bl, submitOnly / bl);
    }
    std::printf("\nloss/duplicates check: %s\n", clean ? "OK (0 lost, 0 duplicated, 0 refused)" : "FAILED");
    return clean ? 0 : 1;
}
