#include "transport/relay/relay_module.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "core/core_context.h"
#include "platform/codepage.h"

namespace qm::transport {

using platform::Blocking;
using platform::GuardedLock;

namespace {
constexpr const char* kRelaySection = "mod_relay";
constexpr uint32_t kIdleWaitMs = 2000;  // no destinations yet
constexpr uint32_t kBusyRetryMs = 10;   // the module lock was taken for a moment
// The stop's last pass waits this long for the module lock (10 ms a try)
// and for events still on their way into the queue.
constexpr int kFinalLockTries = 200;
constexpr unsigned kFinalSettleMs = 500;
constexpr uint32_t kMinConnectTimeoutMs = 1000;

// File names keep to letters, digits and . : - (an IPv6 zone's % goes).
std::string BacklogName(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != ':' && c != '-') c = '_';
    return out;
}
}  // namespace

std::string RelayLine(const core::EventRecord& e) {
    // Built by appending, so no line is ever cut to fit a buffer. The raw
    // text goes out as the bytes it was received as, whatever charset that was.
    std::string line = platform::EncodeAsReceived(e.Raw(), e.charset);
    line += "|a2;";
    line += platform::Utf8ToAnsi(e.sender);
    line += ';';
    const platform::SystemTime& t = e.time;
    for (const uint16_t v : {t.day, t.month, t.year, t.hour, t.minute, t.second, t.milliseconds}) {
        line += std::to_string(v);
        line += ' ';
    }
    line.back() = ';';
    return line;
}

bool IsForwardable(const core::EventRecord& e) {
    return (e.type == core::kEventExternal || e.type == core::kEventInternal) && !e.Raw().empty() && !e.relayed;
}

std::optional<StreamTarget> StreamTargetOf(const RelayDestination& d, const core::Paths& paths) {
    if (d.proto != kRelayTcp && d.proto != kRelayTls) return std::nullopt;
    const std::optional<platform::SocketAddress> address = platform::SocketAddress::Parse(d.name, d.Port());
    if (!address) return std::nullopt;
    const bool tls = d.proto == kRelayTls;
    const std::string host = address->Text();
    const std::string port = std::to_string(d.Port());
    StreamTarget t;
    t.proto = d.proto;
    t.address = *address;
    t.key = (tls ? "tls-" : "tcp-") + BacklogName(host) + "-" + port;
    t.label = (address->IsIpv6() ? "[" + host + "]" : host) + ":" + port + (tls ? " (TLS)" : " (TCP)");
    if (tls && !d.caFile.empty()) {
        const std::filesystem::path ca(d.caFile);
        t.caFile = (ca.is_absolute() ? ca : paths.programFolder / ca).string();
    }
    return t;
}

std::filesystem::path BacklogFolder(const core::Paths& paths) {
    return paths.logFolder.empty() ? std::filesystem::path() : paths.logFolder / "relay-backlog";
}

std::unique_ptr<core::Module> CreateRelayModule(core::CoreContext& core) { return std::make_unique<RelayModule>(core); }

RelayModule::RelayModule(core::CoreContext& core) : TableModule(core, core::kModuleRelay, kRelaySection, kRelayLayout) {}

RelayModule::~RelayModule() { Stop(Blocking::Yes); }

bool RelayModule::Start(Blocking blocking) {
    GuardedLock lock(Lock(), core_.counters.locks, blocking);
    if (!lock || worker_.Started() || !core_.events) return false;
    if (!settings_.common.enableService) {
        core_.Report(core::Severity::Warning, core::str::kRelayDisabled);
        return false;
    }
    if (int error = socket_.Open()) {
        NetworkError(error);
        return false;
    }
    if (int error = socket_.SetSendTimeout(settings_.common.sendTimeout)) NetworkError(error);
    // IPv6 destinations go through a socket of their own; a system without
    // IPv6 counts what it cannot send to them as errors.
    if (socket6_.Open(AF_INET6) == 0) socket6_.SetSendTimeout(settings_.common.sendTimeout);
    if (int error = streams_.Start(BacklogFolder(core_.paths))) {
        NetworkError(error);
        socket_.Close();
        socket6_.Close();
        return false;
    }
    // Lines a previous run left in the backlogs go out from now on, before
    // the first event arrives.
    UseStreams();

    // Only what arrives after the start is forwarded.
    reader_ = core_.events->Tail();
    {
        std::lock_guard held(heldBackMutex_);
        heldBack_.clear();
    }
    active_ = true;
    // Before the database takes the queue, whatever the relay has not read
    // yet is sent (or kept for the worker), so a drain loses nothing.
    drainObserver_ = core_.events->AddDrainObserver([this] { CatchUpBeforeDrain(); });
    core::ServiceRounds rounds;
    rounds.round = [this] { return Round(); };
    // A dialog or the starting thread has the records for a moment: the
    // round is only put off, not skipped.
    rounds.lock = &Lock();
    rounds.busyPause = kBusyRetryMs;
    rounds.finish = [this] { FinalPass(); };
    rounds.startedReport = core::str::kRelayStarted;
    rounds.stoppedReport = core::str::kRelayStopped;
    if (!worker_.Start(std::move(rounds))) {
        active_ = false;
        core_.events->RemoveDrainObserver(drainObserver_);
        streams_.Stop();
        socket_.Close();
        socket6_.Close();
        return false;
    }
    return true;
}

bool RelayModule::Stop(Blocking) {
    if (!worker_.Started()) return false;
    // The worker's last act is the final pass; until it is done a drain
    // still leaves what the relay had not read for it.
    worker_.Stop();
    active_ = false;
    streams_.Stop();
    if (core_.events) core_.events->RemoveDrainObserver(drainObserver_);
    socket_.Close();
    socket6_.Close();
    return true;
}

uint32_t RelayModule::Round() {
    UseStreams();
    if (settings_.records.LiveCount() == 0) return kIdleWaitMs;
    ForwardAvailable();
    return settings_.common.repeatTimeout;
}

void RelayModule::UseStreams() {
    std::vector<StreamTarget> targets;
    for (const auto& slot : settings_.records) {
        if (slot.deleted || !slot.record.enable) continue;
        if (std::optional<StreamTarget> t = StreamTargetOf(slot.record, core_.paths)) targets.push_back(std::move(*t));
    }
    RelayStreams::Limits limits;
    limits.backlogBytes = uint64_t(std::clamp<uint32_t>(settings_.common.backlogSize, 1, kMaxBacklogMiB)) << 20;
    limits.connectTimeout = std::chrono::milliseconds(std::max(settings_.common.sendTimeout, kMinConnectTimeoutMs));
    streams_.Use(targets, limits);
}

void RelayModule::FinalPass() {
    if (!core_.events) return;
    int tries = 0;
    if (!platform::AcquireRetrying(Lock(), core_.counters.locks, [&] { return ++tries < kFinalLockTries; })) return;
    const bool streams = std::any_of(settings_.records.begin(), settings_.records.end(), [](const auto& slot) {
        return !slot.deleted && slot.record.enable && slot.record.proto != kRelayUdp;
    });
    if (streams) {
        core_.events->Settle(kFinalSettleMs);
        ForwardAvailable(true);
    }
    platform::Release(Lock(), core_.counters.locks);
}

void RelayModule::ForwardAvailable(bool streamsOnly) {
    if (!core_.events) return;
    // Slices are read one after another while full ones keep coming, so a
    // busy queue is caught up in one round rather than 100 events a round.
    core::QueueSlice slice;
    for (;;) {
        const int read = core_.events->ReadNext(reader_, Blocking::Yes, slice);
        // What a drain took before this round could read it goes out ahead
        // of anything that reached the queue after that drain.
        ForwardHeldBack(streamsOnly);
        if (read != core::kOk) break;
        // The lines are made under the queue lock and sent after it is let
        // go, so the mover and the database never wait for the network.
        const size_t count = slice.size();
        std::vector<Outgoing> lines;
        for (const core::EventPtr& e : slice.Records()) {
            if (IsForwardable(*e)) lines.push_back({e->type, RelayLine(*e)});
        }
        slice.Release();
        Send(lines, streamsOnly);
        if (count < core::EventCore::kSliceMax) break;
    }
}

void RelayModule::CatchUpBeforeDrain() {
    if (!active_) return;
    // The drainer must not wait for the relay (whose worker may be waiting
    // for the queue lock this drain holds), nor send on its behalf. The
    // reader's position changes only under the queue lock, which is held
    // here: copy what is unread, and the worker sends it first thing.
    std::vector<core::EventRecord> copies;
    core::QueueSlice slice;
    while (core_.events->ReadNext(reader_, Blocking::Yes, slice) == core::kOk) {
        for (const core::EventPtr& e : slice.Records()) {
            if (IsForwardable(*e)) copies.push_back(*e);
        }
        slice.Release();
    }
    if (copies.empty()) return;
    {
        std::lock_guard held(heldBackMutex_);
        heldBack_.insert(heldBack_.end(), std::make_move_iterator(copies.begin()),
                         std::make_move_iterator(copies.end()));
    }
    worker_.Wake();
}

void RelayModule::ForwardHeldBack(bool streamsOnly) {
    std::vector<core::EventRecord> held;
    {
        std::lock_guard lock(heldBackMutex_);
        if (heldBack_.empty()) return;
        held.swap(heldBack_);
    }
    std::vector<Outgoing> lines;
    for (const core::EventRecord& e : held) lines.push_back({e.type, RelayLine(e)});
    Send(lines, streamsOnly);
}

void RelayModule::Send(const std::vector<Outgoing>& lines, bool streamsOnly) {
    if (lines.empty()) return;
    // Each destination gets its lines in queue order, many per system call.
    std::vector<std::string_view> batch;
    for (const auto& slot : settings_.records) {
        const RelayDestination& d = slot.record;
        if (slot.deleted || !d.enable || (streamsOnly && d.proto == kRelayUdp)) continue;
        batch.clear();
        uint64_t bytes = 0;
        for (const Outgoing& o : lines) {
            if (!(d.eventParam & o.type)) continue;
            batch.push_back(o.line);
            bytes += o.line.size();
        }
        if (batch.empty()) continue;
        if (d.proto != kRelayUdp) {
            // Into the destination's backlog; its sending thread takes it from there.
            const std::optional<StreamTarget> target = StreamTargetOf(d, core_.paths);
            if (!target || !streams_.Deliver(target->key, batch)) errors_.fetch_add(static_cast<uint32_t>(batch.size()));
            continue;
        }
        const std::optional<platform::SocketAddress> to = platform::SocketAddress::Parse(d.name, d.Port());
        platform::UdpSocket& socket = to && to->IsIpv6() ? socket6_ : socket_;
        if (!to || !socket.IsOpen()) {
            errors_.fetch_add(static_cast<uint32_t>(batch.size()));
            continue;
        }
        const size_t sent = socket.SendEach(batch, *to, [&](size_t index, int) {
            errors_.fetch_add(1);
            bytes -= batch[index].size();
        });
        core_.counters.datagramsSent.fetch_add(sent, std::memory_order_relaxed);
        core_.counters.bytesSent.fetch_add(bytes, std::memory_order_relaxed);
        forwarded_.fetch_add(sent);
    }
}

void RelayModule::NetworkError(int code) {
    errors_.fetch_add(1);
    core_.Report(core::Severity::Error, core::str::kNetworkError, kRelaySection, code);
}

}  // namespace qm::transport
