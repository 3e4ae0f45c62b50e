// Datagram-to-queue latency: a real collector listener on loopback receives
// datagrams paced at a fixed rate, each carrying its send time, and a queue
// reader notes when each one became visible. The floor is the mover's 500 ms
// period; the figures show what the rest of the path adds. Plain main, one
// run, figures on stdout.
//
//   ingest_latency [--rate R] [--secs S] [--size L]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/core_context.h"
#include "core/event_core.h"
#include "core/string_table.h"
#include "transport/collector/collector_module.h"

namespace {

using Clock = std::chrono::steady_clock;

uint64_t NowNs() { return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count()); }

double Percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    const size_t k = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size())));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k];
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t rate = 10000, secs = 10, size = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const uint64_t v = std::strtoull(argv[i + 1], nullptr, 10);
        if (a == "--rate") rate = v;
        else if (a == "--secs") secs = v;
        else if (a == "--size") size = v;
        else {
            std::fprintf(stderr, "usage: ingest_latency [--rate R] [--secs S] [--size L]\n");
            return 2;
        }
    }
    size = std::clamp<uint64_t>(size, 48, 1400);

    qm::core::CoreContext core;
    core.texts = std::make_unique<qm::core::TextTable>(qm::core::BuiltinStrings());
    core.events = std::make_unique<qm::core::EventCore>(core.counters);
    qm::transport::CollectorModule collector(core);
    qm::transport::CollectorCommon common;
    common.bufferSize = 8192;
    collector.SetCommon(common);
    qm::transport::ListenerRecord listener;
    listener.enable = true;
    listener.name = "127.0.0.1";
    listener.port = 0;
    listener.recvTimeout = 100;
    listener.sendTimeout = 100;
    const auto index = collector.AddRecord(listener);
    if (!index || !collector.Start(qm::platform::Blocking::Yes) || collector.BoundPort(*index) == 0) {
        std::fprintf(stderr, "ingest_latency: the listener did not start\n");
        return 1;
    }
    const uint16_t port = collector.BoundPort(*index);

    const uint64_t count = rate * secs;
    std::vector<double> latencyMs;
    latencyMs.reserve(count);
    std::atomic<bool> sending{true};
    std::thread reader([&] {
        qm::core::ReaderState state = core.events->Tail();
        qm::core::QueueSlice slice;
        const auto readAll = [&] {
            while (core.events->ReadNext(state, qm::platform::Blocking::Yes, slice) == qm::core::kOk) {
                const uint64_t now = NowNs();
                for (const qm::core::EventPtr& e : slice.Records()) {
                    const size_t at = e->Message().find("t=");
                    if (e->type != qm::core::kEventExternal || at == std::string::npos) continue;
                    latencyMs.push_back(double(now - std::strtoull(std::string(e->Message().substr(at + 2)).c_str(), nullptr, 10)) / 1e6);
                }
                slice.Release();
            }
        };
        while (sending || latencyMs.size() < count) {
            readAll();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!sending && latencyMs.size() < count) {
                static uint64_t idleSince = 0;
                if (idleSince == 0) idleSince = NowNs();
                if (NowNs() - idleSince > 5'000'000'000ull) break;  // what never came is counted as lost
            }
        }
    });

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    std::string datagram;
    const uint64_t start = NowNs();
    for (uint64_t k = 0; k < count; ++k) {
        const uint64_t due = start + k * 1'000'000'000ull / rate;
        while (NowNs() < due) std::this_thread::sleep_for(std::chrono::microseconds(50));
        datagram = "<134>Dec  7 10:00:00 benchhost bench[1]: t=" + std::to_string(NowNs()) + " ";
        datagram.resize(std::max<size_t>(datagram.size(), size), 'x');
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    sending = false;
    reader.join();
    ::close(fd);
    collector.Stop(qm::platform::Blocking::Yes);

    const size_t seen = latencyMs.size();
    std::printf("Datagram -> processing queue latency, %llu datagrams of %llu bytes at %llu/s on 127.0.0.1\n",
                (unsigned long long)count, (unsigned long long)size, (unsigned long long)rate);
    std::printf("seen=%zu lost=%llu p50_ms=%.1f p99_ms=%.1f max_ms=%.1f (the mover's period is %u ms)\n", seen,
                (unsigned long long)(count - std::min<uint64_t>(count, seen)), Percentile(latencyMs, 50),
                Percentile(latencyMs, 99), Percentile(latencyMs, 100), qm::core::EventCore::kMoverPeriodMs);
    core.events->Shutdown();
    return 0;
}
