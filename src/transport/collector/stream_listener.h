#pragma once
// One running TCP or TLS listener: a listening socket and the thread that
// serves every connection on it from one epoll set. Each connection's stream
// is cut into frames (SyslogFramer), and each frame goes to the intake as a
// datagram would: the peer as its sender, counted, through the packet
// filter, its bytes as they came.
//
// No connection can hold up the others: a connection gets a few reads per
// turn of the loop and waits for the next turn when it has more; a peer
// that stays silent past the item's IdleTimeout is closed; a TLS handshake
// must end within kHandshakeMs; a connection
// past the limit is closed at once. Everything here runs on the listener's
// thread except the constructor, Stop() and BoundPort().
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "core/event_core.h"
#include "platform/epoll.h"
#include "platform/socket_address.h"
#include "platform/tcp_socket.h"
#include "platform/thread.h"
#include "platform/tls.h"
#include "transport/collector/collector_item.h"
#include "transport/collector/collector_settings.h"
#include "transport/collector/listener.h"
#include "transport/collector/syslog_framer.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::transport {

class StreamListener final : public CollectorItem {
public:
    // Binds, listens and starts the thread; check Started() afterwards
    // (failures are reported as System events and leave it stopped).
    StreamListener(core::CoreContext& core, CollectorShared& shared, const ListenerRecord& record,
                   const CollectorCommon& common);
    ~StreamListener() override { Stop(); }
    StreamListener(const StreamListener&) = delete;
    StreamListener& operator=(const StreamListener&) = delete;

    bool Started() const override { return started_; }
    void Stop() override;
    uint16_t BoundPort() const override { return boundPort_; }

    static constexpr uint32_t kHandshakeMs = 10000;
    // Bytes of one read, and reads of one connection per turn of the loop.
    static constexpr size_t kReadBytes = 16384;
    static constexpr int kReadsPerTurn = 4;

private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        platform::TcpSocket socket;
        platform::SocketAddress peer;
        std::string peerText;
        std::unique_ptr<platform::TlsSession> tls;
        SyslogFramer framer;
        Clock::time_point deadline;  // of the handshake, then of the silence
        uint32_t watching = 0;       // the epoll events asked for
        bool more = false;           // stopped reading with bytes left
        uint64_t servedTurn = 0;
        std::list<Connection>::iterator self;
        explicit Connection(size_t maxFrame) : framer(maxFrame) {}
    };
    using Handle = std::list<Connection>::iterator;
    class Intake;

    bool Open();
    bool OpenTls();
    void Run();
    void AcceptWaiting();
    void Accepted(platform::TcpSocket socket, const platform::SocketAddress& peer);
    // Whatever the connection is ready for: the handshake, then reading.
    void Serve(Handle c);
    bool ShakeHands(Handle c);
    void ReadIn(Handle c);
    bool Watch(Handle c, uint32_t events);
    void End(Handle c);
    void ServeMore();
    void ExpireSilent();
    void ResumeListening();
    bool HandOverHeld(bool wait);
    void TakeFrame(std::string_view bytes, const platform::SocketAddress& from);
    void FrameTooLong(uint64_t length, const std::string& peer);
    void ReportNetworkError(int code);
    bool Live() const { return shared_.running.load() && running_.load(); }
    const char* ProtoName() const { return record_.proto == kProtoTls ? "TLS" : "TCP"; }
    std::string ResolvedPath(const std::string& setting) const;

    core::CoreContext& core_;
    CollectorShared& shared_;
    const ListenerRecord record_;
    const CollectorCommon common_;
    const size_t maxFrame_;
    std::atomic<bool> running_{true};
    platform::TcpSocket socket_;
    platform::Epoll epoll_;
    platform::WakeFd wake_;
    platform::TlsContext tls_;
    uint16_t boundPort_ = 0;
    bool started_ = false;

    // The loop's own (listener thread only).
    std::list<Connection> connections_;
    size_t moreCount_ = 0;
    uint64_t turn_ = 0;
    bool listening_ = false;
    Clock::time_point listenAgainAt_{};
    Clock::time_point nextExpiry_{};
    uint64_t lastOversizeReportMs_ = 0;
    uint64_t lastRefusalReportMs_ = 0;
    std::unique_ptr<char[]> buffer_;
    core::IntakeBatch held_{core::kEventExternal, core::kNoSeverity};

    platform::Thread thread_;
};

}  // namespace qm::transport
