#pragma once
// One running UDP listener: a bound UDP socket and the thread that receives on
// it, answers the control exchange, submits syslog datagrams and probes the
// peer server.
#include <atomic>
#include <cstdint>
#include <vector>

#include "core/event_core.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "platform/udp_socket.h"
#include "transport/collector/collector_item.h"
#include "transport/collector/collector_settings.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::transport {

// What a listener shares with its module: the module's running flag and error count.
struct CollectorShared {
    std::atomic<bool> running{false};
    std::atomic<uint32_t> threadCount{0};
    std::atomic<uint32_t> startCount{0};
    std::atomic<uint32_t> networkErrors{0};
    std::atomic<uint64_t> oversize{0};       // datagrams longer than the buffer (frames: the limit), dropped
    std::atomic<uint64_t> submitRefused{0};  // datagrams the event intake could not take
    // Datagrams the system dropped at a full socket buffer while a flood
    // outran the program: the one place a flood may lose anything.
    std::atomic<uint64_t> kernelDrops{0};
    // Period of the server check; shortened only by tests.
    std::atomic<uint64_t> serverCheckMs{30000};
    // TCP and TLS listeners: the connections open now, those refused at
    // the limit, and the limit of each listener (lowered only by tests).
    std::atomic<uint32_t> connections{0};
    std::atomic<uint64_t> refusedConnections{0};
    std::atomic<uint32_t> maxConnections{1000};
};

class Listener final : public CollectorItem {
public:
    // Binds and starts the thread; check Running() afterwards (failures are
    // reported as System events and leave the listener stopped).
    Listener(core::CoreContext& core, CollectorShared& shared, const ListenerRecord& record, const CollectorCommon& common);
    ~Listener() override { Stop(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool Started() const override { return started_; }
    void Stop() override;
    uint16_t BoundPort() const override { return boundPort_; }

    static constexpr const char* kHello = "$$$HI";
    static std::string OkReply();  // "$$$OK [QMK 3.2.0]"

private:
    void Run();
    void HandleDatagram(const char* data, size_t length, const platform::SocketAddress& from);
    // Hands the held lines to the intake; with `wait` false it keeps them
    // when the handover is busy. False when lines are still held.
    bool HandOverHeld(bool wait);
    void ServerCheck();
    // Counts and tells what the system dropped at this socket since the last look.
    void CheckKernelDrops(bool now);
    void ReportNetworkError(int code);

    core::CoreContext& core_;
    CollectorShared& shared_;
    const ListenerRecord record_;
    const CollectorCommon common_;  // the receive thread keeps the sizes it started with
    std::atomic<bool> running_{true};
    platform::AutoResetEvent stopEvent_;
    platform::UdpSocket socket_;
    uint16_t boundPort_ = 0;
    bool started_ = false;

    // Server check state (receive thread only).
    uint64_t referenceMs_ = 0;
    bool probeOutstanding_ = false;
    uint64_t lastOversizeReportMs_ = 0;
    std::optional<uint32_t> kernelDropsSeen_;
    uint64_t lastDropCheckMs_ = 0;
    uint64_t lastDropReportMs_ = 0;
    uint64_t dropsUnreported_ = 0;
    // Lines received and not yet handed to the intake.
    core::IntakeBatch held_{core::kEventExternal, core::kNoSeverity};

    platform::Thread thread_;
};

}  // namespace qm::transport
