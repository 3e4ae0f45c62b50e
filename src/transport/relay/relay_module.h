#pragma once
// The relay (module id 5, section mod_relay): forwards External and Internal
// events to other syslog receivers as relay lines, which carry the original
// sender and time: one UDP datagram per event and destination, or, to a TCP
// or TLS destination, one octet-counted frame on a kept connection, through
// a backlog on disk that holds what the receiver has not surely got.
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/event_core.h"
#include "core/event_record.h"
#include "core/service_worker.h"
#include "core/table_module.h"
#include "platform/udp_socket.h"
#include "transport/relay/relay_settings.h"
#include "transport/relay/relay_streams.h"

namespace qm::transport {

// "%s|a2;%s;%u %u %u %u %u %u %u;" without a terminator: the raw text as the
// bytes it came in, the rest in the ANSI code page.
std::string RelayLine(const core::EventRecord& event);
// External and Internal events with a raw text that did not come through a relay.
bool IsForwardable(const core::EventRecord& event);
// A TCP or TLS destination as the sending side needs it; nothing for UDP
// and for a name that is not an address.
std::optional<StreamTarget> StreamTargetOf(const RelayDestination& destination, const core::Paths& paths);
// Where the backlogs of a home's stream destinations are kept.
std::filesystem::path BacklogFolder(const core::Paths& paths);

class RelayModule : public core::TableModule<RelayCommon, RelayDestination> {
public:
    explicit RelayModule(core::CoreContext& core);
    ~RelayModule() override;

    // Forwards what arrives from now on; a second start while running does nothing.
    bool Start(platform::Blocking blocking) override;
    bool Stop(platform::Blocking blocking) override;

    uint32_t ErrorCount() const { return errors_.load(); }
    uint64_t Forwarded() const { return forwarded_.load(); }
    void Wake() { worker_.Wake(); }

private:
    // One round, module lock held; returns the pause before the next.
    uint32_t Round();
    // Forwards everything from the reader's position to the end of the queue
    // (with `streamsOnly`, to the stream destinations alone). Called with
    // the module lock held; takes the queue lock per slice.
    void ForwardAvailable(bool streamsOnly = false);
    // The drain observer: on the drainer's thread, with the queue lock held.
    void CatchUpBeforeDrain();
    // Sends the copies a drain left for the worker; module lock held.
    void ForwardHeldBack(bool streamsOnly);
    // The worker's last act: what reached the queue goes into the stream
    // destinations' backlogs, so a stop loses none of it.
    void FinalPass();
    // Tells the sending side which stream destinations there are; module lock held.
    void UseStreams();
    struct Outgoing {
        uint32_t type;
        std::string line;
    };
    // Sends lines to every destination whose type mask takes them; module lock held.
    void Send(const std::vector<Outgoing>& lines, bool streamsOnly = false);
    void NetworkError(int code);

    platform::UdpSocket socket_;
    platform::UdpSocket socket6_;
    core::ReaderState reader_;
    uint64_t drainObserver_ = 0;
    // Set from the start until Stop: the drain observer works only then.
    std::atomic<bool> active_{false};
    std::atomic<uint32_t> errors_{0};
    std::atomic<uint64_t> forwarded_{0};
    // Unread records a drain took while the module lock was busy, copied for
    // the worker, which sends them before anything read after that drain.
    std::mutex heldBackMutex_;
    std::vector<core::EventRecord> heldBack_;
    RelayStreams streams_{core_, {&forwarded_, &core_.counters.bytesSent, &core_.counters.datagramsSent}};
    core::ServiceWorker worker_{core_};
};

std::unique_ptr<core::Module> CreateRelayModule(core::CoreContext& core);

}  // namespace qm::transport
