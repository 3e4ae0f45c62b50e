#pragma once
// The ICMP poller (module id 7, section mod_icmp): pings each enabled host
// once a cycle (two attempts), turns the answer into one event and, for the
// hosts that ask for it, a "msec" reading or a gap in the value collector.
// The service thread holds the module lock for a whole cycle; Stop ends a
// cycle that waits on the network within a tenth of a second.
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "core/service_worker.h"
#include "core/table_module.h"
#include "polling/icmp/echo_transport.h"
#include "polling/icmp/icmp_settings.h"

namespace qm::polling {

class IcmpModule : public core::TableModule<IcmpCommon, IcmpHost> {
public:
    // `opener` (tests) stands in for the system's sockets.
    explicit IcmpModule(core::CoreContext& core, TransportOpener opener = {});
    ~IcmpModule() override;

    bool Start(platform::Blocking blocking) override;
    bool Stop(platform::Blocking blocking) override;

    // Network failures, counted in the core's statistics.
    uint32_t ErrorCount() const;
    void Wake() { worker_.Wake(); }

protected:
    // One host address is pinged once: a second host with it would only
    // double its events and mix two hosts' values under one vendor.
    std::string Conflict(const IcmpHost& host, std::optional<size_t> index) const override;

private:
    uint32_t Round();
    void PollHost(size_t index, const IcmpHost& host, const IcmpCommon& common);
    struct Answer {
        double msec = 0;
        int ttl = -1;
        sockaddr_in from{};
    };
    // One attempt: the reply, or nothing after a send or receive failure.
    std::optional<Answer> Attempt(const EchoRequest& request, const sockaddr_in& to, uint32_t recvTimeout);
    void Emit(uint32_t stringId, const std::string& text, const sockaddr_in& sender);
    void NetworkError(int code);
    void CountError();

    TransportOpener opener_;
    std::mutex serviceMutex_;  // one Start or Stop at a time
    std::unique_ptr<EchoTransport> transport_;  // while the service runs; its thread's alone
    std::vector<uint8_t> buffer_;
    core::ServiceWorker worker_{core_};
};

// The system's sockets: the ping socket, else a raw socket.
OpenedTransport OpenSystemTransport();

std::unique_ptr<core::Module> CreateIcmpModule(core::CoreContext& core);

}  // namespace qm::polling
