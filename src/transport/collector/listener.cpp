#include "transport/collector/listener.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "core/core_context.h"
#include "platform/clock.h"

namespace qm::transport {

namespace {
// Datagrams taken per receive call; each has its own BufferSize buffer, so
// the batch stays within a modest amount of memory for large buffers.
constexpr size_t kBatchBytes = 1024 * 1024;
constexpr size_t kMaxBatch = 128;
// The kernel's queue in front of the socket: a burst waits there while the
// thread hands the previous batch on.
constexpr int kSocketReceiveBuffer = 8 * 1024 * 1024;
constexpr const char* kSection = "mod_collector";
// Lines a listener may hold while the intake's handover is busy before it waits for it.
constexpr size_t kMaxHeldLines = 8192;
// How often the socket's drop counter is read under traffic, and how often
// drops are told at most, so a long flood gives a line now and then, not a stream.
constexpr uint64_t kDropCheckMs = 250;
constexpr uint64_t kDropReportMs = 10000;

// After a receive that emptied the socket while datagrams were flowing,
// the thread waits about as long as half a batch takes to arrive before it
// reads again. Otherwise, at a few hundred thousand a second from plain
// one-datagram senders, it is woken for nearly every datagram, and each
// wake-up costs the sender's core and this one more than the datagram.
// The wait is short enough that the socket's buffer, even at the system's
// smallest, holds what arrives meanwhile.
constexpr uint64_t kLongestNapNs = 500'000;
constexpr uint64_t kShortestNapNs = 20'000;

uint64_t NapAfterPartialBatch(int got, size_t batch, uint64_t sinceLastReceiveNs) {
    if (got < 2 || size_t(got) >= batch || sinceLastReceiveNs == 0) return 0;
    const uint64_t nap = sinceLastReceiveNs * (batch / 2) / uint64_t(got);
    return nap < kShortestNapNs ? 0 : std::min(nap, kLongestNapNs);
}
}  // namespace

std::string Listener::OkReply() {
    return core::Format("$$$OK [QMK %u.%u.%u]", 3u, 2u, 0u).value_or("$$$OK");
}

Listener::Listener(core::CoreContext& core, CollectorShared& shared, const ListenerRecord& record,
                   const CollectorCommon& common)
    : core_(core), shared_(shared), record_(record), common_(common) {
    shared_.startCount.fetch_add(1);
    shared_.networkErrors.store(0);

    // The address decides the family: an IPv6 listener on :: hears IPv4
    // senders as well where the system allows it.
    const std::optional<platform::SocketAddress> local = platform::SocketAddress::Parse(record_.name, record_.Port());
    if (int error = socket_.Open(local ? local->Family() : AF_INET)) {
        ReportNetworkError(error);
        return;
    }
    int error = socket_.SetReceiveTimeout(record_.recvTimeout);
    if (error == 0) error = socket_.SetSendTimeout(record_.sendTimeout);
    if (error) ReportNetworkError(error);
    socket_.SetReceiveBufferBytes(kSocketReceiveBuffer);  // best effort: the system may cap it

    error = local ? socket_.Bind(*local) : EINVAL;
    if (error) {
        ReportNetworkError(error);
        socket_.Close();
        return;
    }
    if (auto bound = socket_.LocalAddress()) boundPort_ = bound->Port();
    kernelDropsSeen_ = socket_.KernelDrops();
    started_ = StartItemThread(core_, thread_, [this] { Run(); });
    if (!started_) socket_.Close();
}

bool StartItemThread(core::CoreContext& core, platform::Thread& thread, std::function<void()> run) {
    try {
        thread = platform::Thread(&core.counters.threads, std::move(run));
        return true;
    } catch (const std::system_error& e) {
        core.Report(core::Severity::Error, core::str::kSystemError, static_cast<uint32_t>(e.code().value()));
        return false;
    }
}

void Listener::Stop() {
    running_.store(false);
    stopEvent_.Set();
    socket_.Shutdown();
    thread_.Join();
    socket_.Close();
}

void Listener::ReportNetworkError(int code) {
    shared_.networkErrors.fetch_add(1);
    core_.Report(core::Severity::Error, core::str::kNetworkErrorAt,
                 kSection, record_.name, uint32_t(record_.Port()), code);
}

void Listener::Run() {
    platform::CountedScope moduleThreads(&shared_.threadCount);
    platform::CountedScope coreModuleThreads(&core_.counters.moduleThreads);
    core_.Report(core::Severity::Info, core::str::kCollectorStarted, record_.name, uint32_t(record_.Port()));

    const size_t bufferSize = common_.bufferSize;
    // Left unfilled: the kernel writes each datagram's bytes, so only the
    // pages traffic reaches become resident, and an idle listener holds
    // none of its megabyte.
    std::unique_ptr<char[]> storage;
    std::vector<std::span<char>> buffers;
    std::vector<platform::Datagram> received;
    if (bufferSize > 0) {
        const size_t batch = std::clamp<size_t>(kBatchBytes / bufferSize, 1, kMaxBatch);
        try {
            storage = std::make_unique_for_overwrite<char[]>(bufferSize * batch);
            for (size_t i = 0; i < batch; ++i) buffers.emplace_back(storage.get() + i * bufferSize, bufferSize);
            received.resize(batch);
        } catch (const std::bad_alloc&) {
            // Without its buffers this listener cannot receive; it stops,
            // and the rest of the program goes on.
            core_.Report(core::Severity::Error, core::str::kSystemError, uint32_t(ENOMEM));
            buffers.clear();
        }
    }
    if (!buffers.empty()) {
        referenceMs_ = platform::MonotonicMs();
        probeOutstanding_ = false;
        auto live = [this] { return shared_.running.load() && running_.load(); };

        uint64_t lastReceiveNs = platform::MonotonicNs();
        uint64_t napNs = 0;
        while (live()) {
            if (napNs != 0) std::this_thread::sleep_for(std::chrono::nanoseconds(napNs));
            // While lines are held back, only look for more without waiting:
            // held lines must not sit in the listener when traffic stops.
            const bool holding = !held_.empty();
            const int got = socket_.ReceiveBatch(buffers, received, holding);
            const uint64_t receivedNs = platform::MonotonicNs();
            napNs = NapAfterPartialBatch(got, buffers.size(), receivedNs - std::exchange(lastReceiveNs, receivedNs));
            if (holding && (got == -EAGAIN || got == -EWOULDBLOCK)) {
                HandOverHeld(true);
                continue;
            }
            platform::CountedScope busy(&core_.counters.busyHandlers);
            if (got < 0) {
                if (!live()) break;
                const int error = -got;
                if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
                    ReportNetworkError(error);
                    stopEvent_.Wait(std::chrono::milliseconds(common_.errorTimeout));
                    continue;
                }
            }
            for (int i = 0; i < got; ++i) {
                const platform::Datagram& d = received[size_t(i)];
                core_.counters.CountReceived(d.length);
                if (d.truncated) {
                    // Dropped rather than cut: a cut line would pass for a whole
                    // one. Every one is counted; reports are held to one a
                    // second so a stream of them cannot flood the event list.
                    shared_.oversize.fetch_add(1);
                    shared_.networkErrors.fetch_add(1);
                    const uint64_t now = platform::MonotonicMs();
                    if (lastOversizeReportMs_ == 0 || now - lastOversizeReportMs_ >= 1000) {
                        lastOversizeReportMs_ = now;
                        core_.Report(core::Severity::Error, core::str::kNetworkErrorAt,
                                     kSection, record_.name, uint32_t(record_.Port()), int(EMSGSIZE));
                    }
                    continue;
                }
                HandleDatagram(buffers[size_t(i)].data(), d.stored, d.from);
            }
            HandOverHeld(held_.size() >= kMaxHeldLines);
            CheckKernelDrops(false);
            if (live()) ServerCheck();
        }
        HandOverHeld(true);
        CheckKernelDrops(true);
    }
    core_.Report(core::Severity::Info, core::str::kCollectorStopped, record_.name, uint32_t(record_.Port()));
}

void Listener::HandleDatagram(const char* data, size_t length, const platform::SocketAddress& from) {
    const std::string_view bytes(data, length);
    if (length >= 5 && bytes.substr(0, 3) == "$$$") {
        if (bytes[3] == 'H' && bytes[4] == 'I') {
            const std::string reply = OkReply();
            if (socket_.SendTo(reply, from) != 0) shared_.networkErrors.fetch_add(1);
            else core_.counters.CountSent(reply.size());
        } else if (bytes[3] == 'O' && bytes[4] == 'K') {
            probeOutstanding_ = false;
            referenceMs_ = platform::MonotonicMs();
        }
        return;  // no control datagram becomes an event
    }
    if (length == 0) return;  // an empty datagram carries no line
    const bool filtered = record_.param & kPacketFilter;
    if (filtered && !(length >= 5 && bytes[0] == '<')) return;
    held_.Add(bytes, from);
}

bool Listener::HandOverHeld(bool wait) {
    if (held_.empty()) return true;
    int rc = core::kCollision;
    for (;;) {
        rc = core_.events ? core_.events->HandOver(held_, false) : core::kRefused;
        if (rc != core::kCollision) break;
        if (!wait) return false;
        // The intake is full: the flood waits in the socket's buffer
        // meanwhile, and what overflows it is counted and told from here.
        CheckKernelDrops(false);
        platform::SleepMs(1);
    }
    if (rc != core::kOk) {
        const uint64_t before = shared_.submitRefused.fetch_add(held_.size());
        const uint64_t lost = before + held_.size();
        // The intake refuses only when it is stopping or flooded far beyond
        // its bounds; say so where an operator will see it (at each doubling).
        if (std::bit_width(before) != std::bit_width(lost))
            std::fprintf(stderr, "mod_collector: %llu datagram(s) refused by the event intake\n", (unsigned long long)lost);
        held_.clear();
    }
    return true;
}

void Listener::CheckKernelDrops(bool now) {
    const uint64_t ms = platform::MonotonicMs();
    if (!now && ms - lastDropCheckMs_ < kDropCheckMs) return;
    lastDropCheckMs_ = ms;
    const std::optional<uint32_t> drops = socket_.KernelDrops();
    if (!drops) return;
    // The counter is the socket's own and wraps at 32 bits.
    const uint32_t fresh = kernelDropsSeen_ ? *drops - *kernelDropsSeen_ : *drops;
    kernelDropsSeen_ = drops;
    if (fresh != 0) {
        shared_.kernelDrops.fetch_add(fresh);
        shared_.networkErrors.fetch_add(1);
        dropsUnreported_ += fresh;
    }
    if (dropsUnreported_ == 0 || (!now && lastDropReportMs_ != 0 && ms - lastDropReportMs_ < kDropReportMs)) return;
    lastDropReportMs_ = ms;
    std::fprintf(stderr, "mod_collector: %s:%u: %llu datagram(s) dropped by the system at the full socket buffer (%llu in all)\n",
                 record_.name.c_str(), unsigned(record_.Port()), (unsigned long long)dropsUnreported_,
                 (unsigned long long)shared_.kernelDrops.load());
    dropsUnreported_ = 0;
    core_.Report(core::Severity::Error, core::str::kNetworkErrorAt, kSection, record_.name, uint32_t(record_.Port()),
                 int(ENOBUFS));
}

void Listener::ServerCheck() {
    if (!(record_.param & kServerCheck)) return;
    const uint64_t now = platform::MonotonicMs();
    if (now - referenceMs_ < shared_.serverCheckMs.load()) return;
    if (probeOutstanding_) {
        core_.Report(core::Severity::Warning, core::str::kCollectorNoReply,
                     record_.name, uint32_t(record_.Port()), record_.server, int(record_.Port()));
        referenceMs_ = now;
        probeOutstanding_ = false;
        return;
    }
    const std::optional<platform::SocketAddress> peer = platform::SocketAddress::Parse(record_.server, record_.Port());
    if (!peer || socket_.SendTo(kHello, *peer) != 0) {
        shared_.networkErrors.fetch_add(1);
        return;
    }
    core_.counters.CountSent(5);
    referenceMs_ = now;
    probeOutstanding_ = true;
}

}  // namespace qm::transport
