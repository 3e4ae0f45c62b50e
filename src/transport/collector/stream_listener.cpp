#include "transport/collector/stream_listener.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <system_error>

#include "core/core_context.h"
#include "platform/clock.h"

namespace qm::transport {

namespace {
constexpr uint64_t kStreamListenerTag = 0;
constexpr uint64_t kStreamWakeTag = 1;
// The longest the loop sleeps: how soon it sees the module's running flag
// cleared (which wakes nobody) and connections whose time is up.
constexpr int kStreamWaitMs = 100;
// Connections taken at one wake-up; a burst of them waits for the next turn
// behind the connections already open.
constexpr int kStreamAcceptsPerTurn = 16;
constexpr int kStreamBacklog = 511;
// Lines the loop may hold while the intake's handover is busy before it
// waits for it (and so stops reading: TCP slows the senders meanwhile).
constexpr size_t kStreamMaxHeldLines = 8192;
// Reports of skipped frames and refused connections, at most this often:
// the counts are kept in full, the event list is not flooded.
constexpr uint64_t kFrameReportGapMs = 1000;
constexpr uint64_t kRefusalReportGapMs = 10000;
// How long a stop waits for a full intake to take the last lines.
constexpr auto kStopHandOverLimit = std::chrono::milliseconds(500);
constexpr const char* kStreamSection = "mod_collector";

// One report per `gapMs` at most; `last` is the time of the previous one.
bool ReportDue(uint64_t& last, uint64_t gapMs) {
    const uint64_t now = platform::MonotonicMs();
    if (last != 0 && now - last < gapMs) return false;
    last = now;
    return true;
}
}  // namespace

// The framer's frames of one connection, into the listener's held lines.
class StreamListener::Intake final : public FrameSink {
public:
    Intake(StreamListener& owner, const Connection& c) : owner_(owner), c_(c) {}
    void Frame(std::string_view bytes) override { owner_.TakeFrame(bytes, c_.peer); }
    void Oversize(uint64_t length) override { owner_.FrameTooLong(length, c_.peerText); }

private:
    StreamListener& owner_;
    const Connection& c_;
};

StreamListener::StreamListener(core::CoreContext& core, CollectorShared& shared, const ListenerRecord& record,
                               const CollectorCommon& common)
    : core_(core),
      shared_(shared),
      record_(record),
      common_(common),
      // A frame may be as long as a datagram may be (BufferSize), and at
      // least as long as RFC 5425 asks receivers to take.
      maxFrame_(common.bufferSize ? std::max(common.bufferSize, kMinStreamFrameBytes) : kMaxDatagramBytes) {
    shared_.startCount.fetch_add(1);
    shared_.networkErrors.store(0);
    if (!Open()) {
        socket_.Close();
        return;
    }
    started_ = StartItemThread(core_, thread_, [this] { Run(); });
    if (!started_) socket_.Close();
}

bool StreamListener::Open() {
    if (record_.proto == kProtoTls && !OpenTls()) return false;
    const std::optional<platform::SocketAddress> local = platform::SocketAddress::Parse(record_.name, record_.Port());
    int error = local ? socket_.Open(local->Family()) : EINVAL;
    if (error == 0) {
        socket_.SetReuseAddress();  // a restart binds again at once
        // "::" hears IPv4 senders as well where the system allows it.
        if (local->IsIpv6()) socket_.SetIpv6Only(false);
        error = socket_.Bind(*local);
    }
    if (error == 0) error = socket_.Listen(kStreamBacklog);
    if (error == 0) error = epoll_.Create();
    if (error == 0) error = wake_.Create();
    if (error == 0) error = epoll_.Add(wake_.Fd(), EPOLLIN, kStreamWakeTag);
    if (error != 0) {
        ReportNetworkError(error);
        return false;
    }
    platform::SocketAddress bound;
    if (socket_.LocalAddress(bound) == 0) boundPort_ = bound.Port();
    buffer_ = std::make_unique_for_overwrite<char[]>(kReadBytes);
    return true;
}

std::string StreamListener::ResolvedPath(const std::string& setting) const {
    if (setting.empty()) return {};
    std::filesystem::path path(setting);
    if (path.is_relative() && !core_.paths.programFolder.empty()) path = core_.paths.programFolder / path;
    return path.string();
}

bool StreamListener::OpenTls() {
    const platform::TlsFiles files{ResolvedPath(record_.certFile), ResolvedPath(record_.keyFile),
                                   ResolvedPath(record_.caFile)};
    const std::string error = tls_.OpenServer(files);
    if (!error.empty()) {
        shared_.networkErrors.fetch_add(1);
        core_.Report(core::Severity::Error, core::str::kCollectorTlsUnusable, record_.name, uint32_t(record_.Port()), error);
        return false;
    }
    const std::string& key = files.key.empty() ? files.certificate : files.key;
    if (platform::KeyFileOpenToOthers(key))
        core_.Report(core::Severity::Warning, core::str::kCollectorKeyFileOpen, record_.name, uint32_t(record_.Port()), key);
    return true;
}

void StreamListener::Stop() {
    running_.store(false);
    wake_.Signal();
    thread_.Join();
    socket_.Close();
}

void StreamListener::ReportNetworkError(int code) {
    shared_.networkErrors.fetch_add(1);
    core_.Report(core::Severity::Error, core::str::kNetworkErrorAt, kStreamSection, record_.name,
                 uint32_t(record_.Port()), code);
}

void StreamListener::Run() {
    platform::CountedScope moduleThreads(&shared_.threadCount);
    platform::CountedScope coreModuleThreads(&core_.counters.moduleThreads);
    core_.Report(core::Severity::Info, core::str::kCollectorStreamStarted, ProtoName(), record_.name,
                 uint32_t(record_.Port()));
    std::array<epoll_event, 64> events;
    while (Live()) {
        ++turn_;
        ResumeListening();
        // Held lines and connections with bytes left: only look, do not wait.
        const bool busy = !held_.empty() || moreCount_ > 0;
        int count = 0;
        if (const int rc = epoll_.Wait(events, busy ? 0 : kStreamWaitMs, count); rc != 0) {
            // Cannot happen with a valid set; if it does, do not spin on it.
            ReportNetworkError(rc);
            platform::SleepMs(kStreamWaitMs);
            continue;
        }
        if (count > 0 || moreCount_ > 0) {
            platform::CountedScope handling(&core_.counters.busyHandlers);
            for (int i = 0; i < count; ++i) {
                const uint64_t tag = events[size_t(i)].data.u64;
                if (tag == kStreamListenerTag) AcceptWaiting();
                else if (tag == kStreamWakeTag) wake_.Drain();
                else Serve(reinterpret_cast<Connection*>(tag)->self);
            }
            ServeMore();
        }
        // Once a turn brings nothing, held lines must not sit here: they go
        // to the intake now, waiting for it if need be.
        const bool quiet = count == 0 && moreCount_ == 0;
        HandOverHeld(quiet || held_.size() >= kStreamMaxHeldLines);
        ExpireSilent();
    }
    HandOverHeld(true);
    // A line a peer had not finished when the stop came is not a whole line.
    while (!connections_.empty()) End(connections_.begin());
    core_.Report(core::Severity::Info, core::str::kCollectorStreamStopped, ProtoName(), record_.name,
                 uint32_t(record_.Port()));
}

void StreamListener::ResumeListening() {
    if (listening_ || Clock::now() < listenAgainAt_) return;
    if (epoll_.Add(socket_.Fd(), EPOLLIN, kStreamListenerTag) == 0) listening_ = true;
}

void StreamListener::AcceptWaiting() {
    for (int i = 0; i < kStreamAcceptsPerTurn; ++i) {
        platform::TcpSocket connection;
        platform::SocketAddress peer;
        const int rc = socket_.Accept(connection, peer);
        if (rc == EAGAIN || rc == EWOULDBLOCK) return;
        if (rc == ECONNABORTED || rc == EINTR) continue;  // gone before it was taken
        if (rc != 0) {
            // Out of descriptors, say: the listener rests for ErrorTimeout
            // while the connections already open are served on.
            ReportNetworkError(rc);
            if (epoll_.Remove(socket_.Fd()) == 0) listening_ = false;
            listenAgainAt_ = Clock::now() + std::chrono::milliseconds(common_.errorTimeout);
            return;
        }
        Accepted(std::move(connection), peer);
    }
}

void StreamListener::Accepted(platform::TcpSocket socket, const platform::SocketAddress& peer) {
    if (connections_.size() >= shared_.maxConnections.load()) {
        // Closed at once (as `socket` goes): a sender that is refused
        // retries later, and the connections already open go on.
        shared_.refusedConnections.fetch_add(1);
        if (ReportDue(lastRefusalReportMs_, kRefusalReportGapMs))
            core_.Report(core::Severity::Warning, core::str::kCollectorConnectionRefused, ProtoName(), record_.name,
                         uint32_t(record_.Port()), peer.Text(), uint32_t(connections_.size()));
        return;
    }
    Connection& c = connections_.emplace_back(maxFrame_);
    c.self = std::prev(connections_.end());
    c.socket = std::move(socket);
    c.peer = peer;
    c.peerText = peer.Text();
    shared_.connections.fetch_add(1);
    uint32_t limitMs = record_.idleTimeout;
    if (record_.proto == kProtoTls) {
        limitMs = kHandshakeMs;
        c.tls = std::make_unique<platform::TlsSession>();
        if (const std::string error = c.tls->Open(tls_, c.socket.Fd()); !error.empty()) {
            core_.Report(core::Severity::Warning, core::str::kCollectorHandshakeFailed, record_.name,
                         uint32_t(record_.Port()), c.peerText, error);
            End(c.self);
            return;
        }
    }
    c.deadline = limitMs ? Clock::now() + std::chrono::milliseconds(limitMs) : Clock::time_point::max();
    // Most senders speak right after the connect: served now, without a
    // round through epoll.
    Serve(c.self);
}

void StreamListener::Serve(Handle c) {
    c->servedTurn = turn_;
    if (c->more) {
        c->more = false;
        --moreCount_;
    }
    if (c->tls && !c->tls->HandshakeDone() && !ShakeHands(c)) return;
    ReadIn(c);
}

bool StreamListener::ShakeHands(Handle c) {
    switch (c->tls->Handshake()) {
        case platform::TlsStatus::kOk:
            c->deadline = record_.idleTimeout ? Clock::now() + std::chrono::milliseconds(record_.idleTimeout)
                                              : Clock::time_point::max();
            return true;
        case platform::TlsStatus::kWantRead: Watch(c, EPOLLIN); return false;
        case platform::TlsStatus::kWantWrite: Watch(c, EPOLLOUT); return false;
        case platform::TlsStatus::kClosed:
            // A probe that connected and left without a word is no TLS client.
            if (c->tls->BytesFromPeer() == 0) {
                End(c);
                return false;
            }
            [[fallthrough]];
        case platform::TlsStatus::kFailed:
            core_.Report(core::Severity::Warning, core::str::kCollectorHandshakeFailed, record_.name,
                         uint32_t(record_.Port()), c->peerText, c->tls->Failure());
            End(c);
            return false;
    }
    return false;
}

void StreamListener::ReadIn(Handle c) {
    Intake intake(*this, *c);
    bool received = false;
    bool ended = false;
    uint32_t wait = 0;
    for (int i = 0; i < kReadsPerTurn && !ended && wait == 0; ++i) {
        size_t n = 0;
        if (c->tls) {
            switch (c->tls->Read(std::span<char>(buffer_.get(), kReadBytes), n)) {
                case platform::TlsStatus::kOk: break;
                case platform::TlsStatus::kWantRead: wait = EPOLLIN; break;
                case platform::TlsStatus::kWantWrite: wait = EPOLLOUT; break;
                case platform::TlsStatus::kClosed:
                    c->framer.Finish(intake);
                    ended = true;
                    break;
                case platform::TlsStatus::kFailed:
                    core_.Report(core::Severity::Warning, core::str::kCollectorTlsBroken, record_.name,
                                 uint32_t(record_.Port()), c->peerText, c->tls->Failure());
                    ended = true;
                    break;
            }
        } else {
            const ssize_t got = c->socket.Receive(std::span<char>(buffer_.get(), kReadBytes));
            if (got == -EAGAIN) {
                wait = EPOLLIN;
            } else if (got <= 0) {
                // The peer's end: a close ends its last line, a reset does
                // not (the line may have been cut by it).
                if (got == 0) c->framer.Finish(intake);
                ended = true;
            } else {
                n = size_t(got);
            }
        }
        if (n > 0) {
            received = true;
            c->framer.Feed(std::string_view(buffer_.get(), n), intake);
        }
    }
    // Many busy connections in one turn must not pile up lines without bound.
    if (held_.size() >= kStreamMaxHeldLines) HandOverHeld(true);
    if (ended) {
        End(c);
        return;
    }
    if (received && record_.idleTimeout)
        c->deadline = Clock::now() + std::chrono::milliseconds(record_.idleTimeout);
    if (wait == 0) {
        // Bytes are left: they are read next turn, after the other
        // connections have had theirs.
        c->more = true;
        ++moreCount_;
        wait = EPOLLIN;
    }
    Watch(c, wait);
}

bool StreamListener::Watch(Handle c, uint32_t events) {
    if (c->watching == events) return true;
    const int fd = c->socket.Fd();
    const uint64_t tag = reinterpret_cast<uint64_t>(&*c);
    const int rc = c->watching ? epoll_.Modify(fd, events, tag) : epoll_.Add(fd, events, tag);
    if (rc != 0) {
        ReportNetworkError(rc);
        End(c);
        return false;
    }
    c->watching = events;
    return true;
}

void StreamListener::End(Handle c) {
    if (c->more) --moreCount_;
    if (c->watching) epoll_.Remove(c->socket.Fd());
    if (c->tls) c->tls->Close();
    c->tls.reset();
    c->socket.Close();
    shared_.connections.fetch_sub(1);
    connections_.erase(c);
}

void StreamListener::ServeMore() {
    if (moreCount_ == 0) return;
    for (auto it = connections_.begin(); it != connections_.end();) {
        const Handle c = it++;
        if (c->more && c->servedTurn != turn_) Serve(c);
    }
}

void StreamListener::ExpireSilent() {
    const Clock::time_point now = Clock::now();
    if (now < nextExpiry_) return;
    nextExpiry_ = now + std::chrono::milliseconds(kStreamWaitMs);
    for (auto it = connections_.begin(); it != connections_.end();) {
        const Handle c = it++;
        if (c->deadline > now) continue;
        if (c->tls && !c->tls->HandshakeDone()) {
            core_.Report(core::Severity::Warning, core::str::kCollectorHandshakeFailed, record_.name,
                         uint32_t(record_.Port()), c->peerText,
                         "no handshake within " + std::to_string(kHandshakeMs) + " ms");
        } else {
            core_.Report(core::Severity::Info, core::str::kCollectorIdleClosed, ProtoName(), record_.name,
                         uint32_t(record_.Port()), c->peerText, record_.idleTimeout);
        }
        End(c);
    }
}

void StreamListener::TakeFrame(std::string_view bytes, const platform::SocketAddress& from) {
    core_.counters.CountReceived(bytes.size());
    if ((record_.param & kPacketFilter) && !(bytes.size() >= 5 && bytes[0] == '<')) return;
    held_.Add(bytes, from);
}

void StreamListener::FrameTooLong(uint64_t length, const std::string& peer) {
    shared_.oversize.fetch_add(1);
    shared_.networkErrors.fetch_add(1);
    if (ReportDue(lastOversizeReportMs_, kFrameReportGapMs))
        core_.Report(core::Severity::Error, core::str::kCollectorFrameTooLong, ProtoName(), record_.name,
                     uint32_t(record_.Port()), peer,
                     uint32_t(std::min<uint64_t>(length, std::numeric_limits<uint32_t>::max())), uint32_t(maxFrame_));
}

bool StreamListener::HandOverHeld(bool wait) {
    if (held_.empty()) return true;
    const Clock::time_point stopLimit = Clock::now() + kStopHandOverLimit;
    int rc = core::kCollision;
    for (;;) {
        rc = core_.events ? core_.events->HandOver(held_, false) : core::kRefused;
        if (rc != core::kCollision) break;
        if (!wait) return false;
        // A stop waits a little for a full intake, not for ever.
        if (!Live() && Clock::now() >= stopLimit) break;
        platform::SleepMs(1);
    }
    if (rc != core::kOk) {
        shared_.submitRefused.fetch_add(held_.size());
        held_.clear();
    }
    return true;
}

}  // namespace qm::transport
