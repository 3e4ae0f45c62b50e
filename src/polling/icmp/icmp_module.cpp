#include "polling/icmp/icmp_module.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "core/core_context.h"
#include "platform/codepage.h"
#include "platform/udp_socket.h"
#include "polling/icmp/icmp_output.h"
#include "polling/list_poller.h"

namespace qm::polling {

using platform::Blocking;
using platform::GuardedLock;

namespace {
constexpr const char* kSection = "mod_icmp";
constexpr const char* kTag = "msec";
constexpr uint32_t kIdleWaitMs = 10000;    // no hosts, or the lock was busy
constexpr uint32_t kRetryPauseMs = 10;     // after a failed attempt
constexpr uint32_t kStopCheckMs = 100;     // how soon a waiting cycle sees Stop
constexpr size_t kReceiveBytes = 2048;
constexpr size_t kBufferBytes = 3072;

uint64_t NowNs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

uint32_t ThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

// Said once per run on stderr: the System event alone does not tell what to grant.
void ExplainMissingSocket(int pingError, int rawError) {
    static std::atomic<bool> told{false};
    if (told.exchange(true)) return;
    std::fprintf(stderr,
                 "mod_icmp: no ICMP socket (ping socket: error %d, raw socket: error %d). Allow the ping socket "
                 "for the program's group (sysctl net.ipv4.ping_group_range=\"0 2147483647\") or grant the raw "
                 "socket (setcap cap_net_raw+ep on the program, or run it as root).\n",
                 pingError, rawError);
}
}  // namespace

OpenedTransport OpenSystemTransport() {
    platform::IcmpSocket socket;
    int pingError = 0;
    if (const int error = socket.Open(&pingError)) {
        ExplainMissingSocket(pingError, error);
        return {nullptr, error};
    }
    return {std::make_unique<SocketTransport>(std::move(socket)), 0};
}

std::unique_ptr<core::Module> CreateIcmpModule(core::CoreContext& core) { return std::make_unique<IcmpModule>(core); }

IcmpModule::IcmpModule(core::CoreContext& core, TransportOpener opener)
    : TableModule(core, core::kModuleIcmp, kSection, kIcmpLayout),
      opener_(opener ? std::move(opener) : TransportOpener(OpenSystemTransport)) {}

IcmpModule::~IcmpModule() { Stop(Blocking::Yes); }

bool IcmpModule::Start(Blocking blocking) {
    std::lock_guard service(serviceMutex_);
    if (worker_.Started()) return false;
    IcmpCommon common;
    {
        // Only for the settings: the first round must not find the module
        // locked by this start and lose a whole period to it.
        GuardedLock lock(Lock(), core_.counters.locks, blocking);
        if (!lock) return false;
        common = settings_.common;
    }
    if (!common.enableService) {
        core_.Report(core::Severity::Warning, core::str::kIcmpDisabled);
        return false;
    }
    OpenedTransport opened = opener_();
    if (!opened.transport) {
        NetworkError(opened.error);
        return false;
    }
    transport_ = std::move(opened.transport);
    if (const int error = transport_->SetTimeouts(common.sendTimeout, common.recvTimeout)) NetworkError(error);
    core::ServiceRounds rounds;
    rounds.round = [this] { return Round(); };
    rounds.lock = &Lock();
    rounds.busyPause = kIdleWaitMs;
    rounds.startedReport = core::str::kIcmpStarted;
    rounds.stoppedReport = core::str::kIcmpStopped;
    if (!worker_.Start(std::move(rounds))) {
        transport_.reset();
        return false;
    }
    return true;
}

bool IcmpModule::Stop(Blocking) {
    std::lock_guard service(serviceMutex_);
    if (!worker_.Stop()) return false;
    transport_.reset();
    return true;
}

std::string IcmpModule::Conflict(const IcmpHost& host, std::optional<size_t> index) const {
    const std::optional<sockaddr_in> address = platform::ParseIpv4(host.name, 0);
    // Texts that are not addresses name the same host when they read alike,
    // without regard to ASCII case, as DNS names do.
    const auto same = [&](const IcmpHost& other) {
        const std::optional<sockaddr_in> o = platform::ParseIpv4(other.name, 0);
        if (address && o) return address->sin_addr.s_addr == o->sin_addr.s_addr;
        return !address && !o && core::SameIgnoringCase(host.name, other.name);
    };
    for (size_t i = 0; i < settings_.records.size(); ++i) {
        const auto& slot = settings_.records[i];
        if (i == index || slot.deleted || !same(slot.record)) continue;
        return core_.Text(core::str::kIcmpHostTaken, host.name.c_str());
    }
    return {};
}

uint32_t IcmpModule::Round() {
    if (settings_.records.LiveCount() == 0) return kIdleWaitMs;
    const IcmpCommon common = settings_.common;
    buffer_.assign(kBufferBytes, 0);
    for (size_t i = 0; i < settings_.records.size() && worker_.Running(); ++i) {
        const auto& slot = settings_.records[i];
        if (slot.deleted || !slot.record.enable) continue;
        PollHost(i, slot.record, common);
    }
    return common.repeatTimeout;
}

void IcmpModule::PollHost(size_t index, const IcmpHost& host, const IcmpCommon& common) {
    const bool toCollector = (host.param & kIcmpToCollector) != 0;
    const std::optional<sockaddr_in> to = platform::ParseIpv4(host.name, 0);
    // Not an address: the event says so with the address no host has, as
    // every poller does.
    sockaddr_in sender = to ? *to : PollSender(host.name);
    std::optional<Answer> answer;
    if (!to) {
        // Not an address: the host cannot answer, which is a failed poll,
        // not a reason to send to whatever a bad text would parse as.
        CountError();
    } else {
        EchoRequest request;
        request.identifier = static_cast<uint16_t>(index);
        request.thread = ThreadId();
        request.filler = std::min(common.packetSize, kMaxPacketSize);
        for (uint16_t attempt = 0; attempt < 2 && !answer; ++attempt) {
            if (!worker_.Running()) return;
            request.sequence = attempt;
            answer = Attempt(request, *to, common.recvTimeout);
            if (!answer && attempt == 0) worker_.Pause(kRetryPauseMs);
        }
        // Stopped while waiting: no verdict on this host.
        if (!answer && !worker_.Running()) return;
    }
    if (!answer) {
        if (toCollector && core_.values) core_.values->Push(kSection, host.name, std::nullopt, std::nullopt);
        Emit(core::str::kIcmpSessionErrorEvent, core_.Text(core::str::kLimitBreachMarker), sender);
        return;
    }
    if (toCollector && core_.values)
        core_.values->Push(kSection, host.name, kTag, core::Reading::I32(RoundedMsec(answer->msec)));
    const IcmpOutput out = FormatIcmpOutput(host, answer->msec, answer->ttl, core_.Text(core::str::kLimitBreachMarker));
    if (common.realIp) sender = answer->from;
    Emit(out.breach ? core::str::kIcmpWarningEvent : core::str::kIcmpInfoEvent, out.text, sender);
}

std::optional<IcmpModule::Answer> IcmpModule::Attempt(const EchoRequest& base, const sockaddr_in& to,
                                                      uint32_t recvTimeout) {
    EchoRequest request = base;
    std::fill(buffer_.begin(), buffer_.begin() + kReceiveBytes, 0);
    request.stamp = NowNs();
    const std::vector<uint8_t> message = BuildEchoRequest(request);
    if (const int error = transport_->Send(message, to)) {
        CountError();
        (void)error;
        return std::nullopt;
    }
    core_.counters.CountSent(message.size());

    const uint64_t start = NowNs();
    const uint64_t limit = uint64_t(recvTimeout) * 1000000;
    for (;;) {
        const uint64_t elapsed = NowNs() - start;
        if (elapsed >= limit) break;
        if (!worker_.Running()) return std::nullopt;
        const uint32_t wait = static_cast<uint32_t>(std::min<uint64_t>((limit - elapsed) / 1000000 + 1, kStopCheckMs));
        sockaddr_in from{};
        int ttl = -1;
        const int n = transport_->Receive(std::span(buffer_.data(), kReceiveBytes), wait, from, ttl);
        if (n < 0) {
            CountError();
            return std::nullopt;
        }
        if (n == 0) continue;
        const auto datagram = std::span<const uint8_t>(buffer_.data(), static_cast<size_t>(n));
        const std::optional<EchoReply> reply = MatchEchoReply(datagram, transport_->Form(), request);
        if (!reply) continue;
        const uint64_t now = NowNs();
        Answer answer;
        answer.msec = static_cast<double>(now - reply->stamp) / 1e6;
        answer.ttl = reply->ttl >= 0 ? reply->ttl : ttl;
        answer.from = from;
        core_.counters.CountReceived(static_cast<uint64_t>(n));
        return answer;
    }
    CountError();  // the time-out
    return std::nullopt;
}

void IcmpModule::Emit(uint32_t stringId, const std::string& text, const sockaddr_in& sender) {
    if (!core_.events) return;
    const std::string line = core_.Text(stringId, text);
    core_.events->Submit(core::kEventInternal, core::kNoSeverity, platform::Utf8ToAnsi(line), sender);
}

uint32_t IcmpModule::ErrorCount() const { return core_.counters.icmpErrors.load(); }

void IcmpModule::CountError() { core_.counters.icmpErrors.fetch_add(1); }

void IcmpModule::NetworkError(int code) {
    CountError();
    core_.Report(core::Severity::Error, core::str::kNetworkError, kSection, code);
}

}  // namespace qm::polling
