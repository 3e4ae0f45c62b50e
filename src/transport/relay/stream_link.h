#pragma once
// One TCP or TLS destination of the relay, as the relay's sending loop
// drives it: the connection (for TLS with the handshake, the server's
// certificate checked against the CA file and the destination's address),
// made again after a pause that doubles while it fails (1 s up to 60 s), and
// the sending of the destination's backlog as octet-counted frames (RFC 6587
// and RFC 5425: "LEN SP MSG", MSG being the relay line a datagram would
// carry). Everything here runs on the loop's thread; only the backlog is
// shared, with the relay's worker, which appends to it.
//
// A line leaves the backlog only once the receiver has acknowledged its
// bytes and has stayed connected for kKeepAfterAck more: a receiver that
// stops takes with it what sat unread in its socket, so after a reconnect
// those lines are sent again. Duplicates are possible; loss is not.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "core/core_context.h"
#include "platform/epoll.h"
#include "platform/socket_address.h"
#include "platform/tcp_socket.h"
#include "platform/tls.h"
#include "transport/relay/relay_backlog.h"
#include "transport/relay/relay_settings.h"

namespace qm::transport {

// Where a stream destination is and what its backlog is called.
struct StreamTarget {
    std::string key;    // the backlog's file name without extension: "tcp-192.0.2.1-6514"
    std::string label;  // for reports: "192.0.2.1:6514 (TCP)", "[2001:db8::1]:6514 (TLS)"
    platform::SocketAddress address;
    uint8_t proto = kRelayTcp;
    std::string caFile;  // TLS: absolute, or empty for the system's store

    bool operator==(const StreamTarget& o) const {
        return key == o.key && label == o.label && address == o.address && proto == o.proto && caFile == o.caFile;
    }
};

// The module's figures, which the loop adds to.
struct StreamCounters {
    std::atomic<uint64_t>* forwarded = nullptr;  // frames written whole
    std::atomic<uint64_t>* bytes = nullptr;
    std::atomic<uint64_t>* packets = nullptr;
};

// "LEN SP MSG" appended to `out`.
void AppendOctetCounted(std::string& out, std::string_view message);

class StreamLink {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kFirstRetry{1000};
    static constexpr std::chrono::milliseconds kLastRetry{60000};
    static constexpr std::chrono::milliseconds kKeepAfterAck{5000};
    // What one read of the backlog puts into the socket at most.
    static constexpr size_t kChunk = 256 * 1024;

    // `tag` comes back with the socket's epoll events.
    StreamLink(core::CoreContext& core, StreamTarget target, std::shared_ptr<RelayBacklog> backlog, uint64_t tag,
               StreamCounters counters);
    StreamLink(const StreamLink&) = delete;
    StreamLink& operator=(const StreamLink&) = delete;

    const StreamTarget& Target() const { return target_; }
    uint64_t Tag() const { return tag_; }
    void SetConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }

    // Connects when it is time, gives up a connect that takes too long, and
    // sends what waits as far as the socket takes it.
    void Advance(platform::Epoll& epoll, Clock::time_point now);
    // The socket has `events` (EPOLL* bits).
    void Ready(platform::Epoll& epoll, uint32_t events, Clock::time_point now);
    // The periodic part: what is surely delivered leaves the backlog, whose
    // position is saved; lines dropped to the bound are reported.
    void Tick(Clock::time_point now);
    // When Advance has something to do without a socket event.
    Clock::time_point Due() const;
    // The end, at a stop or when the destination goes: what the receiver
    // acknowledged is delivered (it reads up to our orderly close), the rest
    // stays in the backlog, whose position is saved.
    void Close(platform::Epoll& epoll);

private:
    enum class Phase { kWaiting, kConnecting, kHandshake, kSending };
    struct InFlight {
        uint64_t end;        // backlog offset after the chunk
        uint64_t streamEnd;  // stream bytes up to the chunk's end
        uint64_t frames;
        std::optional<Clock::time_point> acknowledged;
    };

    void Connect(platform::Epoll& epoll, Clock::time_point now);
    // The TCP connection is there: TLS begins, or the sending.
    void Opened(platform::Epoll& epoll, Clock::time_point now);
    // One step of the TLS handshake.
    void Shake(platform::Epoll& epoll, Clock::time_point now);
    void Connected(platform::Epoll& epoll);
    // The connection is over; `error` is an errno, or 0 for the peer's
    // close. `tlsReason`: the TLS failure to report instead (a copy: the
    // session that gave it goes here).
    void Fail(platform::Epoll& epoll, int error, Clock::time_point now, std::string tlsReason = {});
    // Bytes the connection took, or -errno (-EAGAIN: wait; wantsRead_ says for what).
    ssize_t Write(std::string_view bytes);
    // Writes while the socket takes bytes; false when the connection failed.
    bool Send(platform::Epoll& epoll, Clock::time_point now);
    // Reads (and drops) what the receiver says; false when it has closed or failed.
    bool Drain(platform::Epoll& epoll, Clock::time_point now);
    // Asks the loop for these EPOLL* bits of the socket.
    void Watch(platform::Epoll& epoll, uint32_t events);
    // Marks what the peer has acknowledged; releases what was acknowledged
    // at least `keep` ago.
    void Acknowledge(Clock::time_point now, std::chrono::milliseconds keep);
    // `orderly`: a TLS session says goodbye first.
    void CloseSocket(platform::Epoll& epoll, bool orderly = false);

    core::CoreContext& core_;
    StreamTarget target_;
    std::shared_ptr<RelayBacklog> backlog_;
    uint64_t tag_;
    StreamCounters counters_;
    std::chrono::milliseconds connectTimeout_{5000};

    Phase phase_ = Phase::kWaiting;
    platform::TcpSocket socket_;
    std::unique_ptr<platform::TlsContext> tls_;  // TLS: made at the first connect
    std::unique_ptr<platform::TlsSession> session_;
    bool wantsRead_ = false;  // a TLS write waits for the peer's bytes
    uint32_t watched_ = 0;  // the epoll bits asked for; 0: not in the set
    Clock::time_point retryAt_{};  // kWaiting: the next attempt; kConnecting: the give-up time
    std::chrono::milliseconds retry_ = kFirstRetry;
    bool reportedDown_ = false;  // the outage was reported; the next connect is

    uint64_t cursor_ = 0;  // the backlog offset the next chunk starts at
    std::string out_;      // the frames of the chunk being written
    size_t outSent_ = 0;
    uint64_t streamBytes_ = 0;  // written into this connection
    std::deque<InFlight> inFlight_;

    Clock::time_point nextSave_{};
    Clock::time_point nextDropReport_{};
    uint64_t droppedUnreported_ = 0;
};

}  // namespace qm::transport
