// Relay benchmark: how fast the relay forwards, next to how fast the
// collector receives in the same run. Plain main, figures on stdout.
//
//   relay_bench [--count N] [--rates R1,R2,...] [--repeat MS] [--quick]
//
// Two measurements:
//  1. Capacity: N events already in the queue, the relay woken once; how fast
//     one round sends them (events/s) to a plain UDP socket that counts them.
//  2. Streams: a sender (sendmmsg from 127.0.0.2) feeds a collector on a
//     loopback port at each rate (0 = as fast as it can); the relay forwards
//     to the counting socket every MS ms (default 50) while a drainer takes
//     the queue the way the event database does. Receive rate, forward rate,
//     losses at each hop and the forward/receive ratio are printed per run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/core_context.h"
#include "core/string_table.h"
#include "transport/collector/collector_module.h"
#include "transport/relay/relay_module.h"

namespace {

using Clock = std::chrono::steady_clock;
using qm::platform::Blocking;
using namespace std::chrono_literals;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

sockaddr_in Loopback(uint16_t port, const char* ip) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

constexpr size_t kDatagramBytes = 120;

// "<14>... seq=NNNNNNNNNN ..." padded to a fixed size, so every datagram
// costs the same.
void FormatLine(char* out, uint32_t seq) {
    std::snprintf(out, kDatagramBytes + 1,
                  "<14>Dec  5 06:15:30 bench-host app[4242]: relay bench seq=%010u status=ok peer=192.0.2.17 %*s",
                  seq, 20, "");
    out[kDatagramBytes] = '\0';
}

// Parses the number after "seq="; UINT32_MAX when there is none.
uint32_t SequenceOf(const char* data, size_t size) {
    const char* at = static_cast<const char*>(memmem(data, size, "seq=", 4));
    if (!at || at + 14 > data + size) return UINT32_MAX;
    uint32_t v = 0;
    for (int i = 4; i < 14; ++i) {
        if (at[i] < '0' || at[i] > '9') return UINT32_MAX;
        v = v * 10 + uint32_t(at[i] - '0');
    }
    return v;
}

// The destination: a socket that counts datagrams, each relay line's
// sequence once, and when the first and the last came.
class CountingSink {
public:
    explicit CountingSink(size_t expected) : seen_(expected, 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int size = 64 << 20;  // the system caps it at net.core.rmem_max
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        const sockaddr_in local = Loopback(0, "127.0.0.1");
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            std::perror("relay_bench: sink bind");
            std::exit(1);
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~CountingSink() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    uint16_t Port() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    uint64_t Count() const { return count_.load(std::memory_order_acquire); }
    uint64_t Distinct() const { return distinct_.load(std::memory_order_acquire); }
    uint64_t Repeated() const { return repeated_.load(); }
    Clock::time_point First() const { return Clock::time_point(Clock::duration(first_.load())); }
    Clock::time_point Last() const { return Clock::time_point(Clock::duration(last_.load())); }
    int ReceiveBufferBytes() const {
        int v = 0;
        socklen_t len = sizeof v;
        ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &v, &len);
        return v;
    }

private:
    void Run() {
        constexpr unsigned kBatch = 64;
        std::vector<char> storage(kBatch * 2048);
        std::vector<iovec> iov(kBatch);
        std::vector<mmsghdr> headers(kBatch);
        for (unsigned i = 0; i < kBatch; ++i) {
            iov[i] = {storage.data() + i * 2048, 2048};
            headers[i].msg_hdr = {};
            headers[i].msg_hdr.msg_iov = &iov[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1) continue;
            const int got = ::recvmmsg(fd_, headers.data(), kBatch, MSG_DONTWAIT, nullptr);
            if (got <= 0) continue;
            const int64_t now = Clock::now().time_since_epoch().count();
            if (count_.load(std::memory_order_relaxed) == 0) first_ = now;
            last_ = now;
            uint64_t distinct = 0;
            for (int i = 0; i < got; ++i) {
                const uint32_t seq = SequenceOf(storage.data() + size_t(i) * 2048, headers[i].msg_len);
                if (seq >= seen_.size()) continue;
                if (seen_[seq]++ == 0) ++distinct;
                else repeated_.fetch_add(1);
            }
            distinct_.fetch_add(distinct, std::memory_order_release);
            count_.fetch_add(uint64_t(got), std::memory_order_release);
        }
    }

    int fd_ = -1;
    std::vector<uint8_t> seen_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> count_{0}, distinct_{0}, repeated_{0};
    std::atomic<int64_t> first_{0}, last_{0};
    std::thread thread_;
};

// Waits until `value` stops changing for `quiet` (or reaches `target`); the
// time it last changed.
template <typename F>
Clock::time_point SettleOn(F value, uint64_t target, std::chrono::milliseconds quiet, Clock::time_point since) {
    uint64_t last = value();
    Clock::time_point changed = std::max(since, Clock::now());
    for (;;) {
        std::this_thread::sleep_for(1ms);
        const uint64_t v = value();
        const Clock::time_point now = Clock::now();
        if (v != last) {
            last = v;
            changed = now;
        }
        if (v >= target) return now;
        if (now - changed > quiet) return changed;
    }
}

struct Core {
    qm::core::CoreContext context;
    Core() {
        context.texts = std::make_unique<qm::core::TextTable>(qm::core::BuiltinStrings());
        context.events = std::make_unique<qm::core::EventCore>(context.counters);
    }
    ~Core() { context.events->Shutdown(); }
};

std::unique_ptr<qm::transport::RelayModule> StartRelay(qm::core::CoreContext& core, uint16_t port, uint32_t repeatMs) {
    auto relay = std::make_unique<qm::transport::RelayModule>(core);
    qm::transport::RelayCommon common;
    common.enableService = true;
    common.sendTimeout = 1000;
    common.repeatTimeout = repeatMs;
    qm::transport::RelayDestination d;
    d.name = "127.0.0.1";
    d.port = port;
    d.eventParam = 0x30;
    if (!relay->SetCommon(common) || !relay->AddRecord(d) || !relay->Start(Blocking::Yes)) {
        std::fprintf(stderr, "relay_bench: the relay did not start\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(50ms);  // past its first round
    return relay;
}

// Capacity: one round over a full queue.
void Capacity(uint32_t count) {
    Core core;
    CountingSink sink(count);
    auto relay = StartRelay(core.context, sink.Port(), 60000);
    char line[kDatagramBytes + 1];
    const sockaddr_in sender = Loopback(514, "10.0.0.9");
    for (uint32_t i = 0; i < count; ++i) {
        FormatLine(line, i);
        core.context.events->Submit(qm::core::kEventExternal, qm::core::kNoSeverity,
                                    std::string_view(line, kDatagramBytes), sender);
    }
    core.context.events->Settle(60000);
    const uint64_t sentBefore = relay->Forwarded();
    const Clock::time_point start = Clock::now();
    relay->Wake();
    const Clock::time_point sendEnd = SettleOn([&] { return relay->Forwarded() - sentBefore; }, count, 300ms, start);
    SettleOn([&] { return sink.Count(); }, count, 300ms, start);
    const uint64_t forwarded = relay->Forwarded() - sentBefore;
    const double sendSeconds = Seconds(start, sendEnd);
    const double sinkSeconds = Seconds(start, sink.Last());
    std::printf("capacity: %u queued events, one round\n", count);
    std::printf("  sent by the relay %9" PRIu64 " in %.3f s -> %9.0f events/s\n", forwarded, sendSeconds,
                double(forwarded) / sendSeconds);
    std::printf("  received by sink  %9" PRIu64 " in %.3f s -> %9.0f events/s (lost %" PRIu64 ", repeated %" PRIu64
                ", sink buffer %d bytes)\n",
                sink.Count(), sinkSeconds, double(sink.Count()) / sinkSeconds, uint64_t(count) - sink.Distinct(),
                sink.Repeated(), sink.ReceiveBufferBytes());
}

// A stream at `rate` datagrams/s (0: as fast as the sender can).
void Stream(uint32_t count, uint32_t rate, uint32_t repeatMs) {
    Core core;
    CountingSink sink(count);
    qm::transport::CollectorModule collector(core.context);
    qm::transport::ListenerRecord listener;
    listener.enable = true;
    listener.name = "127.0.0.1";
    listener.port = 0;
    listener.recvTimeout = 100;
    listener.sendTimeout = 100;
    if (!collector.AddRecord(listener) || !collector.Start(Blocking::Yes) || collector.BoundPort(0) == 0) {
        std::fprintf(stderr, "relay_bench: the collector did not start\n");
        std::exit(1);
    }
    const uint16_t port = collector.BoundPort(0);
    auto relay = StartRelay(core.context, sink.Port(), repeatMs);

    // The event database's part: a drain when the queue passes 8000 records,
    // and one every 300 ms whatever it holds.
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> drains{0};
    std::thread drainer([&] {
        std::vector<qm::core::EventPtr> out;
        Clock::time_point lastTimed = Clock::now();
        while (!stop) {
            std::this_thread::sleep_for(5ms);
            int rc;
            if (Clock::now() - lastTimed >= 300ms) {
                rc = core.context.events->Drain(out, Blocking::Yes);
                lastTimed = Clock::now();
            } else {
                rc = core.context.events->DrainIfMoreThan(8000, Blocking::No, out);
            }
            if (rc == qm::core::kOk) drains.fetch_add(1);
            out.clear();
        }
    });

    const uint64_t receivedBefore = core.context.counters.datagramsReceived.load();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in from = Loopback(0, "127.0.0.2");
    const sockaddr_in to = Loopback(port, "127.0.0.1");
    const int sndbuf = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        std::perror("relay_bench: sender");
        std::exit(1);
    }
    constexpr uint32_t kBatch = 32;
    std::vector<char> storage(kBatch * kDatagramBytes + 1);
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> headers(kBatch);
    uint64_t sent = 0;
    const Clock::time_point start = Clock::now();
    for (uint32_t next = 0; next < count;) {
        const uint32_t n = std::min(kBatch, count - next);
        for (uint32_t i = 0; i < n; ++i) {
            char line[kDatagramBytes + 1];
            FormatLine(line, next + i);
            std::memcpy(storage.data() + i * kDatagramBytes, line, kDatagramBytes);
            iov[i] = {storage.data() + i * kDatagramBytes, kDatagramBytes};
            headers[i].msg_hdr = {};
            headers[i].msg_hdr.msg_iov = &iov[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        uint32_t done = 0;
        while (done < n) {
            const int r = ::sendmmsg(fd, headers.data() + done, n - done, 0);
            if (r <= 0) break;
            done += uint32_t(r);
        }
        sent += done;
        next += n;
        if (rate > 0) {
            const auto due = start + std::chrono::nanoseconds(uint64_t(next) * 1'000'000'000ull / rate);
            while (Clock::now() < due) {
                if (due - Clock::now() > 200us) std::this_thread::sleep_for(100us);
            }
        }
    }
    const Clock::time_point sendEnd = Clock::now();
    ::close(fd);

    const Clock::time_point receiveEnd = SettleOn(
        [&] { return core.context.counters.datagramsReceived.load() - receivedBefore; }, count, 300ms, start);
    const uint64_t received = core.context.counters.datagramsReceived.load() - receivedBefore;
    // The last received events reach the queue at the mover's next turn and
    // the relay at its next round after that.
    SettleOn([&] { return sink.Count(); }, received, 1500ms, start);
    stop = true;
    drainer.join();
    const uint64_t forwarded = sink.Count();

    const double receiveSeconds = Seconds(start, receiveEnd);
    const double forwardSeconds = Seconds(start, sink.Last());
    const double burstSeconds = Seconds(sink.First(), sink.Last());
    const double receiveRate = double(received) / receiveSeconds;
    const double forwardRate = double(forwarded) / forwardSeconds;
    char rateText[32];
    if (rate) std::snprintf(rateText, sizeof rateText, "%u/s", rate);
    else std::snprintf(rateText, sizeof rateText, "max");
    std::printf("stream: %u datagrams offered at %s (sent in %.3f s), relay every %u ms\n", count, rateText,
                Seconds(start, sendEnd), repeatMs);
    std::printf("  received  %9" PRIu64 " in %.3f s -> %9.0f events/s   (lost before the collector: %" PRIu64 ")\n",
                received, receiveSeconds, receiveRate, sent - received);
    std::printf("  forwarded %9" PRIu64 " in %.3f s -> %9.0f events/s   (%.0f events/s from its first to last datagram)\n",
                forwarded, forwardSeconds, forwardRate, burstSeconds > 0 ? double(forwarded) / burstSeconds : 0.0);
    std::printf("  relay: lost %" PRIu64 " of the received, repeated %" PRIu64 ", send errors %u; drains %" PRIu64
                "; last forward %.0f ms after the last receive\n",
                received - std::min<uint64_t>(received, sink.Distinct()), sink.Repeated(), relay->ErrorCount(),
                drains.load(), 1000 * Seconds(receiveEnd, sink.Last()));
    std::printf("  ratio forward/receive rate: %.3f\n", receiveRate > 0 ? forwardRate / receiveRate : 0.0);
    relay.reset();
    collector.Stop(Blocking::Yes);
}

uint32_t Number(const char* text, const char* what) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    double scale = 1;
    if (end && *end == 'k') scale = 1e3, ++end;
    else if (end && *end == 'M') scale = 1e6, ++end;
    if (end == text || *end != '\0' || v < 0) {
        std::fprintf(stderr, "relay_bench: bad %s: %s\n", what, text);
        std::exit(2);
    }
    return uint32_t(v * scale);
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t count = 300'000;
    uint32_t repeatMs = 50;
    std::vector<uint32_t> rates = {50'000, 100'000, 200'000, 0};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            count = 50'000;
            rates = {50'000, 0};
        } else if (a == "--count" && i + 1 < argc) {
            count = Number(argv[++i], "count");
        } else if (a == "--repeat" && i + 1 < argc) {
            repeatMs = Number(argv[++i], "repeat");
        } else if (a == "--rates" && i + 1 < argc) {
            rates.clear();
            for (char* p = std::strtok(argv[++i], ","); p; p = std::strtok(nullptr, ",")) rates.push_back(Number(p, "rate"));
        } else {
            std::fprintf(stderr, "usage: relay_bench [--count N] [--rates R1,R2,...] [--repeat MS] [--quick]\n");
            return 2;
        }
    }
    std::printf("relay_bench: %zu-byte datagrams, %u hardware threads\n\n", kDatagramBytes,
                std::thread::hardware_concurrency());
    Capacity(count);
    std::printf("\n");
    for (const uint32_t rate : rates) {
        Stream(count, rate, repeatMs);
        std::printf("\n");
    }
    return 0;
}
