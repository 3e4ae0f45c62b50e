#include "http/server_item.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "core/core_context.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "processing/dns/dns_module.h"

namespace qm::http {

namespace fs = std::filesystem;

namespace {
constexpr const char* kSection = "mod_httpserver";
// Two loops keep both processors of a small machine busy; more would only
// take turns on the listener.
constexpr uint32_t kMostLoops = 2;
// Silent connections an item keeps open beyond MaxConn; past this, new ones
// wait in the listen backlog, so idle clients cannot use up the descriptors.
constexpr size_t kMostSilent = 256;

fs::path CanonicalOrEmpty(const fs::path& p) {
    std::error_code ec;
    fs::path real = p.empty() ? fs::path() : fs::canonical(p, ec);
    return ec ? fs::path() : real;
}
}  // namespace

ServerItem::ServerItem(core::CoreContext& core, HttpShared& shared, const HttpServerItem& record,
                       const HttpCommon& common)
    : core_(core),
      shared_(shared),
      record_(core::Ruled(record)),
      common_(core::Ruled(common)),
      ini_(core.paths.webRoot.empty() ? fs::path() : core.paths.webRoot / "http.ini"),
      log_(core.paths.webLogFolder),
      listener_(common_.chunkSize, common_.timeout, 0) {
    int error = 0;
    if (listener_.OpenServer(record_.name, record_.Port(), static_cast<int>(common_.maxConn), error) != TcpSession::kOk) {
        core_.Report(core::Severity::Error, core::str::kNetworkErrorAt,
                     kSection, record_.name, uint32_t(record_.Port()), error);
        return;
    }
    boundPort_ = listener_.LocalPort();
    setup_.core = &core_;
    setup_.webRoot = CanonicalOrEmpty(core.paths.webRoot);
    setup_.programFolder = CanonicalOrEmpty(core.paths.programFolder);
    setup_.defaults = ini_.ReadDefaults();
    setup_.ini = &ini_;
    setup_.files = &files_;
    setup_.logExport.eventParam = record_.eventParam;
    setup_.logExport.msgBufferSize = record_.msgBufferSize;
    setup_.logExport.cache = &logLines_;

    // No more loops than requests may be answered at once.
    const uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
    const uint32_t loops = std::clamp(std::min(cores, kMostLoops), 1u, std::max(1u, common_.maxConn));
    loopCapacity_ = (kMostSilent + common_.maxConn) / loops;
    try {
        for (uint32_t i = 0; i < loops; ++i) {
            auto loop = std::make_unique<HttpLoop>(*this);
            if (const int rc = loop->Open()) throw std::system_error(rc, std::generic_category());
            loops_.push_back(std::move(loop));
        }
        itemThread_ = platform::Thread(&core_.counters.threads, [this] { ItemThread(); });
        started_ = true;
    } catch (const std::system_error& e) {
        core_.Report(core::Severity::Error, core::str::kSystemError, static_cast<uint32_t>(e.code().value()));
        loops_.clear();
        listener_.Close();
    }
}

void ServerItem::Stop() {
    run_.store(false);
    for (const auto& loop : loops_) loop->Wake();
    itemThread_.Join();
    listener_.Close();
}

void ServerItem::ItemThread() {
    platform::CountedScope moduleThreads(&shared_.threadCount);
    platform::CountedScope coreModuleThreads(&core_.counters.moduleThreads);
    if (setup_.defaults.logLevel != 0) log_.OpenNew();
    core_.Report(core::Severity::Info, core::str::kWebServerStarted, record_.name, uint32_t(record_.Port()));
    std::vector<platform::Thread> others;
    for (size_t i = 1; i < loops_.size(); ++i) {
        try {
            HttpLoop* loop = loops_[i].get();
            others.emplace_back(&core_.counters.threads, [loop] { loop->Run(); });
        } catch (const std::system_error& e) {
            // The first loop serves alone.
            core_.Report(core::Severity::Error, core::str::kSystemError, static_cast<uint32_t>(e.code().value()));
        }
    }
    loops_.front()->Run();
    // The module's running flag may have ended the first loop before any
    // stop reached the others: they see it within their next look.
    for (const auto& loop : loops_) loop->Wake();
    for (platform::Thread& t : others) t.Join();
    log_.Close();
    core_.Report(core::Severity::Info, core::str::kWebServerStopped, record_.name, uint32_t(record_.Port()));
}

bool ServerItem::TakeSlot() {
    uint32_t taken = busy_.load();
    while (taken < common_.maxConn)
        if (busy_.compare_exchange_weak(taken, taken + 1)) return true;
    return false;
}

void ServerItem::ReleaseSlot() {
    busy_.fetch_sub(1);
    // Connections set aside for a slot, in any loop, try again.
    if (setAside_.load() > 0)
        for (const auto& loop : loops_) loop->Wake();
}

void ServerItem::CountAccepted() {
    serving_.fetch_add(1);
    if (setup_.defaults.logLevel == 0) return;
    std::lock_guard hold(requestsMutex_);
    if (++requests_ > static_cast<uint64_t>(setup_.defaults.logLimit)) {
        requests_ = 1;
        log_.OpenNew();
    }
}

void ServerItem::AcceptFailed(int error) {
    failedAccepts_.fetch_add(1);
    core_.Report(core::Severity::Error, core::str::kNetworkErrorAt, kSection, record_.name, uint32_t(record_.Port()),
                 error);
}

void ServerItem::ReportSystemError(int error) {
    core_.Report(core::Severity::Error, core::str::kSystemError, static_cast<uint32_t>(error));
}

processing::DnsModule* ServerItem::Names() {
    if (!(record_.param & kResolveNames) || !core_.registry) return nullptr;
    return core_.registry->FindAs<processing::DnsModule>(core::kModuleDns);
}

void ServerItem::Ended(int result, int error, uint32_t sent, uint32_t received,
                       uint64_t acceptedMs, std::string& line) {
    core_.counters.CountReceived(received);
    core_.counters.CountSent(sent);
    serving_.fetch_sub(1);
    const int level = setup_.defaults.logLevel;
    if (level <= 0) return;
    line += '\t';
    line += result == TcpSession::kOk
                ? core::Format("Success: Send=%d, Receive=%d", sent, received).value_or("")
                : core::Format("Fail: WSError=%d; Internal=%u", error, uint32_t(result)).value_or("");
    if (level > 2) {
        line += '\t';
        line += core::Format("< %I64d msec. >", int64_t(platform::MonotonicMs() - acceptedMs)).value_or("");
    }
    log_.Write(line);
}

}  // namespace qm::http
