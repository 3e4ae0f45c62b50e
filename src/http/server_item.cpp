#include "http/server_item.h"

#include <system_error>

#include "core/core_context.h"
#include "http/http_request.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "processing/dns/dns_module.h"

namespace qm::http {

namespace fs = std::filesystem;

namespace {
constexpr const char* kSection = "mod_httpserver";

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
      record_(Sanitized(record)),
      common_(Sanitized(common)),
      ini_(core.paths.webRoot.empty() ? fs::path() : core.paths.webRoot / "http.ini"),
      log_(core.paths.webLogFolder),
      listener_(&core, common_.chunkSize, common_.timeout, 0) {
    int error = 0;
    if (listener_.OpenServer(record_.name, record_.Port(), static_cast<int>(common_.maxConn), error) != TcpSession::kOk) {
        core_.Report(3, 174, kSection, record_.name, uint32_t(record_.Port()), error);
        return;
    }
    boundPort_ = listener_.LocalPort();
    setup_.core = &core_;
    setup_.webRoot = CanonicalOrEmpty(core.paths.webRoot);
    setup_.programFolder = CanonicalOrEmpty(core.paths.programFolder);
    setup_.defaults = ini_.ReadDefaults();
    setup_.ini = &ini_;
    setup_.logExport.eventParam = record_.eventParam;
    setup_.logExport.msgBufferSize = record_.msgBufferSize;
    try {
        acceptThread_ = platform::Thread(&core_.counters.threads, [this] { AcceptLoop(); });
        started_ = true;
    } catch (const std::system_error& e) {
        core_.Report(3, 170, static_cast<uint32_t>(e.code().value()));
        listener_.Close();
    }
}

void ServerItem::Stop() {
    run_.store(false);
    stopEvent_.Set();
    // Ends a waiting accept; the loop then ends every connection it serves.
    listener_.RequestStop();
    {
        std::lock_guard hold(connectionsMutex_);
        connectionEnded_.notify_all();
    }
    acceptThread_.Join();
    listener_.Close();
}

void ServerItem::AcceptLoop() {
    platform::CountedScope moduleThreads(&shared_.threadCount);
    platform::CountedScope coreModuleThreads(&core_.counters.moduleThreads);
    const bool logging = setup_.defaults.logLevel != 0;
    const uint64_t perFile = static_cast<uint64_t>(setup_.defaults.logLimit);
    if (logging) log_.OpenNew();
    core_.Report(6, 301, record_.name, uint32_t(record_.Port()));

    uint64_t requests = 0;
    while (Live()) {
        {
            // Connections beyond MaxConn wait in the listen backlog until one ends.
            std::unique_lock hold(connectionsMutex_);
            while (Live() && serving_.load() >= common_.maxConn)
                connectionEnded_.wait_for(hold, std::chrono::milliseconds(100));
        }
        if (!Live()) break;
        if (++requests > perFile && logging) {
            log_.OpenNew();
            requests = 0;
        }
        processing::DnsModule* names = nullptr;
        if ((record_.param & kResolveNames) && core_.registry)
            names = core_.registry->FindAs<processing::DnsModule>(core::kModuleDns);

        int error = 0;
        std::unique_ptr<TcpSession> session = listener_.AcceptConnection(error);
        if (!session) {
            // A stop ends the wait for a connection: that is no network error.
            if (!Live()) break;
            failedAccepts_.fetch_add(1);
            core_.Report(3, 174, kSection, record_.name, uint32_t(record_.Port()), error);
            stopEvent_.Wait(std::chrono::milliseconds(common_.errorTimeout));
            continue;
        }
        Dispatch(Job{std::move(session), names});
    }
    StopConnections();
    log_.Close();
    core_.Report(6, 302, record_.name, uint32_t(record_.Port()));
}

void ServerItem::Dispatch(Job job) {
    std::lock_guard hold(connectionsMutex_);
    if (stopping_) job.session->RequestStop();
    pending_.push_back(std::move(job));
    serving_.fetch_add(1);
    if (idle_ > 0) {
        --idle_;
        work_.notify_one();
        return;
    }
    try {
        threads_.emplace_back([this] {
            platform::CountedScope threads(&core_.counters.threads);
            ConnectionThread();
        });
    } catch (const std::system_error& e) {
        pending_.pop_back();
        serving_.fetch_sub(1);
        core_.Report(3, 170, static_cast<uint32_t>(e.code().value()));
    }
}

void ServerItem::ConnectionThread() {
    std::unique_lock hold(connectionsMutex_);
    for (;;) {
        work_.wait(hold, [this] { return !pending_.empty() || stopping_; });
        if (pending_.empty()) return;
        Job job = std::move(pending_.front());
        pending_.pop_front();
        active_.insert(job.session.get());
        hold.unlock();
        Serve(*job.session, job.names);
        hold.lock();
        active_.erase(job.session.get());
        job.session.reset();
        serving_.fetch_sub(1);
        ++idle_;
        connectionEnded_.notify_all();
    }
}

void ServerItem::Serve(TcpSession& session, processing::DnsModule* names) {
    const uint64_t startMs = platform::MonotonicMs();
    const std::string client = platform::Ipv4Text(session.Address());
    const int level = setup_.defaults.logLevel;
    std::string line;
    if (level > 0) line = "[" + client + "]";

    RequestHandler handler(setup_, client, names, line);
    session.SetRequestComplete(RequestHeadComplete);
    session.SetCloseAfterAnswer(true);
    TcpExchange exchange;
    int error = 0;
    const int result =
        session.ServerSession(exchange, [&handler](std::string_view bytes) { return handler.Handle(bytes); }, error);
    core_.counters.CountReceived(exchange.received);
    core_.counters.CountSent(exchange.sent);
    if (level > 0) {
        line += '\t';
        line += result == TcpSession::kOk
                    ? core::Format("Success: Send=%d, Receive=%d", exchange.sent, exchange.received).value_or("")
                    : core::Format("Fail: WSError=%d; Internal=%u", error, uint32_t(result)).value_or("");
    }
    session.Close();
    if (level > 2) {
        line += '\t';
        line += core::Format("< %I64d msec. >", int64_t(platform::MonotonicMs() - startMs)).value_or("");
    }
    if (level > 0) log_.Write(line);
}

void ServerItem::StopConnections() {
    std::vector<std::thread> threads;
    {
        std::unique_lock hold(connectionsMutex_);
        stopping_ = true;
        for (TcpSession* s : active_) s->RequestStop();
        for (Job& job : pending_) job.session->RequestStop();
        work_.notify_all();
        threads.swap(threads_);
    }
    // Each thread serves what was handed to it (at once, as it is stopped) and ends.
    for (std::thread& t : threads) t.join();
}

}  // namespace qm::http
