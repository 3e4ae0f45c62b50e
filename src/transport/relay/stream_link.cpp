#include "transport/relay/stream_link.h"

#include <algorithm>
#include <cerrno>

namespace qm::transport {

namespace {
constexpr std::chrono::seconds kSaveEvery{1};
constexpr std::chrono::seconds kDropReportEvery{10};
constexpr uint32_t kWatchReads = EPOLLIN | EPOLLRDHUP;
}  // namespace

void AppendOctetCounted(std::string& out, std::string_view message) {
    out += std::to_string(message.size());
    out += ' ';
    out += message;
}

StreamLink::StreamLink(core::CoreContext& core, StreamTarget target, std::shared_ptr<RelayBacklog> backlog, uint64_t tag,
                       StreamCounters counters)
    : core_(core), target_(std::move(target)), backlog_(std::move(backlog)), tag_(tag), counters_(counters) {
    cursor_ = backlog_->Head();
}

StreamLink::Clock::time_point StreamLink::Due() const {
    return phase_ == Phase::kSending ? Clock::time_point::max() : retryAt_;
}

void StreamLink::Advance(platform::Epoll& epoll, Clock::time_point now) {
    switch (phase_) {
        case Phase::kWaiting:
            if (now >= retryAt_) Connect(epoll, now);
            break;
        case Phase::kConnecting:
        case Phase::kHandshake:
            if (now >= retryAt_) Fail(epoll, ETIMEDOUT, now);
            break;
        case Phase::kSending:
            // With EPOLLOUT asked for, the socket is full: its event comes.
            if (!(watched_ & EPOLLOUT) && backlog_->End() > cursor_) Send(epoll, now);
            break;
    }
}

void StreamLink::Connect(platform::Epoll& epoll, Clock::time_point now) {
    if (target_.proto == kRelayTls && !tls_) {
        // Made once; a CA file that cannot be read is tried again at the next attempt.
        auto context = std::make_unique<platform::TlsContext>();
        platform::TlsFiles files;
        files.ca = target_.caFile;
        if (std::string reason = context->OpenClient(files); !reason.empty()) {
            Fail(epoll, EINVAL, now, reason);
            return;
        }
        tls_ = std::move(context);
    }
    retryAt_ = now + connectTimeout_;  // for the connect and the handshake together
    int error = socket_.Open(target_.address.Family());
    if (error == 0) error = socket_.StartConnect(target_.address);
    if (error == 0) {
        Opened(epoll, now);
        return;
    }
    if (error != EINPROGRESS) {
        Fail(epoll, error, now);
        return;
    }
    phase_ = Phase::kConnecting;
    Watch(epoll, EPOLLOUT);
}

void StreamLink::Opened(platform::Epoll& epoll, Clock::time_point now) {
    if (target_.proto != kRelayTls) {
        Connected(epoll);
        Send(epoll, now);
        return;
    }
    session_ = std::make_unique<platform::TlsSession>();
    std::string reason = session_->Open(*tls_, socket_.Fd());
    if (reason.empty()) reason = session_->ExpectServerName(target_.address.Text());
    if (!reason.empty()) {
        Fail(epoll, EPROTO, now, reason);
        return;
    }
    phase_ = Phase::kHandshake;
    Shake(epoll, now);
}

void StreamLink::Shake(platform::Epoll& epoll, Clock::time_point now) {
    switch (session_->Handshake()) {
        case platform::TlsStatus::kOk:
            Connected(epoll);
            Send(epoll, now);
            return;
        case platform::TlsStatus::kWantRead: Watch(epoll, kWatchReads); return;
        case platform::TlsStatus::kWantWrite: Watch(epoll, EPOLLOUT); return;
        case platform::TlsStatus::kClosed:
        case platform::TlsStatus::kFailed: Fail(epoll, EPROTO, now, session_->Failure()); return;
    }
}

void StreamLink::Connected(platform::Epoll& epoll) {
    phase_ = Phase::kSending;
    cursor_ = backlog_->Head();
    Watch(epoll, kWatchReads);
    core_.Report(core::Severity::Info, core::str::kRelayConnected, target_.label);
    reportedDown_ = false;
}

void StreamLink::Ready(platform::Epoll& epoll, uint32_t events, Clock::time_point now) {
    if (phase_ == Phase::kConnecting) {
        if (!(events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) return;
        if (const int error = socket_.ConnectResult()) {
            Fail(epoll, error, now);
            return;
        }
        Opened(epoll, now);
        return;
    }
    if (phase_ == Phase::kHandshake) {
        Shake(epoll, now);
        return;
    }
    if (phase_ != Phase::kSending) return;
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && !Drain(epoll, now)) return;
    // A TLS write that waited for the peer's bytes goes on after they came.
    if ((events & EPOLLOUT) || (wantsRead_ && !(watched_ & EPOLLOUT))) Send(epoll, now);
}

bool StreamLink::Drain(platform::Epoll& epoll, Clock::time_point now) {
    // A syslog receiver says nothing on this stream; whatever comes is read
    // only to see the close behind it.
    char buffer[4096];
    if (session_) {
        for (;;) {
            size_t count = 0;
            switch (session_->Read(buffer, count)) {
                case platform::TlsStatus::kOk: continue;
                case platform::TlsStatus::kWantRead:
                case platform::TlsStatus::kWantWrite: return true;
                case platform::TlsStatus::kClosed: Fail(epoll, 0, now); return false;
                case platform::TlsStatus::kFailed: Fail(epoll, EPROTO, now, session_->Failure()); return false;
            }
        }
    }
    for (;;) {
        const ssize_t n = socket_.Receive(buffer);
        if (n > 0) continue;
        if (n == -EAGAIN) return true;
        Fail(epoll, n == 0 ? 0 : int(-n), now);
        return false;
    }
}

ssize_t StreamLink::Write(std::string_view bytes) {
    wantsRead_ = false;
    if (!session_) return socket_.Send(bytes);
    size_t count = 0;
    switch (session_->Write(bytes, count)) {
        case platform::TlsStatus::kOk: return ssize_t(count);
        case platform::TlsStatus::kWantRead: wantsRead_ = true; return -EAGAIN;
        case platform::TlsStatus::kWantWrite: return -EAGAIN;
        case platform::TlsStatus::kClosed: return -EPIPE;
        case platform::TlsStatus::kFailed: break;
    }
    return -EPROTO;
}

bool StreamLink::Send(platform::Epoll& epoll, Clock::time_point now) {
    for (;;) {
        if (out_.empty()) {
            int error = 0;
            uint64_t frames = 0;
            const uint64_t next = backlog_->Read(
                cursor_, kChunk,
                [&](std::string_view line) {
                    AppendOctetCounted(out_, line);
                    ++frames;
                },
                error);
            if (error != 0) {
                core_.Report(core::Severity::Error, core::str::kFileError, target_.key, error);
                out_.clear();
                Fail(epoll, error, now);
                return false;
            }
            cursor_ = next;
            if (frames == 0) {
                Watch(epoll, kWatchReads);
                return true;
            }
            inFlight_.push_back({next, streamBytes_ + out_.size(), frames, std::nullopt});
        }
        const ssize_t n = Write(std::string_view(out_).substr(outSent_));
        if (n == -EAGAIN) {
            Watch(epoll, wantsRead_ ? kWatchReads : kWatchReads | EPOLLOUT);
            return true;
        }
        if (n < 0) {
            Fail(epoll, int(-n), now, n == -EPROTO && session_ ? session_->Failure() : std::string());
            return false;
        }
        outSent_ += size_t(n);
        streamBytes_ += uint64_t(n);
        if (outSent_ == out_.size()) {
            const uint64_t frames = inFlight_.back().frames;
            if (counters_.forwarded) counters_.forwarded->fetch_add(frames);
            if (counters_.packets) counters_.packets->fetch_add(frames, std::memory_order_relaxed);
            if (counters_.bytes) counters_.bytes->fetch_add(out_.size(), std::memory_order_relaxed);
            out_.clear();
            outSent_ = 0;
        }
    }
}

void StreamLink::Watch(platform::Epoll& epoll, uint32_t events) {
    if (watched_ == events) return;
    const int error = watched_ == 0 ? epoll.Add(socket_.Fd(), events, tag_) : epoll.Modify(socket_.Fd(), events, tag_);
    if (error == 0) watched_ = events;
}

void StreamLink::Fail(platform::Epoll& epoll, int error, Clock::time_point now, std::string tlsReason) {
    const bool wasSending = phase_ == Phase::kSending;
    CloseSocket(epoll);
    // Everything not yet released goes again on the next connection.
    out_.clear();
    outSent_ = 0;
    streamBytes_ = 0;
    inFlight_.clear();
    cursor_ = backlog_->Head();
    phase_ = Phase::kWaiting;
    retryAt_ = now + retry_;
    retry_ = std::min(retry_ * 2, kLastRetry);
    // One report per outage, not one per attempt.
    if (!tlsReason.empty() && (wasSending || !reportedDown_)) {
        core_.Report(core::Severity::Warning, core::str::kRelayTlsFailed, target_.label, tlsReason);
    } else if (wasSending) {
        core_.Report(core::Severity::Warning, core::str::kRelayConnectionLost, target_.label, error);
    } else if (!reportedDown_) {
        core_.Report(core::Severity::Warning, core::str::kRelayNoConnection, target_.label, error);
    }
    reportedDown_ = true;
}

void StreamLink::Acknowledge(Clock::time_point now, std::chrono::milliseconds keep) {
    int unacknowledged = 0;
    // A connection that is going or gone says nothing about what arrived.
    if (!socket_.IsEstablished() || socket_.UnacknowledgedBytes(unacknowledged) != 0) return;
    const uint64_t acknowledged = streamBytes_ - std::min<uint64_t>(streamBytes_, uint64_t(unacknowledged));
    // The receiver takes what it is sent: the pause before the next outage
    // starts short again.
    if (acknowledged > 0) retry_ = kFirstRetry;
    for (InFlight& chunk : inFlight_) {
        if (chunk.streamEnd > acknowledged) break;
        if (!chunk.acknowledged) chunk.acknowledged = now;
    }
    uint64_t delivered = 0;
    while (!inFlight_.empty() && inFlight_.front().acknowledged && *inFlight_.front().acknowledged + keep <= now) {
        delivered = inFlight_.front().end;
        inFlight_.pop_front();
    }
    if (delivered != 0) backlog_->Release(delivered);
}

void StreamLink::Tick(Clock::time_point now) {
    if (phase_ == Phase::kSending) Acknowledge(now, kKeepAfterAck);
    if (now >= nextSave_) {
        backlog_->SavePosition();
        nextSave_ = now + kSaveEvery;
    }
    droppedUnreported_ += backlog_->TakeDropped();
    if (droppedUnreported_ != 0 && now >= nextDropReport_) {
        core_.Report(core::Severity::Warning, core::str::kRelayBacklogDropped, target_.label, droppedUnreported_);
        droppedUnreported_ = 0;
        nextDropReport_ = now + kDropReportEvery;
    }
}

void StreamLink::Close(platform::Epoll& epoll) {
    const Clock::time_point now = Clock::now();
    if (phase_ == Phase::kSending) Acknowledge(now, std::chrono::milliseconds(0));
    CloseSocket(epoll, phase_ == Phase::kSending);
    phase_ = Phase::kWaiting;
    droppedUnreported_ += backlog_->TakeDropped();
    if (droppedUnreported_ != 0)
        core_.Report(core::Severity::Warning, core::str::kRelayBacklogDropped, target_.label, droppedUnreported_);
    droppedUnreported_ = 0;
    backlog_->SavePosition();
}

void StreamLink::CloseSocket(platform::Epoll& epoll, bool orderly) {
    if (session_ && orderly) session_->Close();
    session_.reset();
    wantsRead_ = false;
    if (watched_ != 0) epoll.Remove(socket_.Fd());
    watched_ = 0;
    socket_.Close();
}

}  // namespace qm::transport
