#include "http/server_item.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "core/core_context.h"
#include "http/http_connection.h"
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
    setup_.logExport.eventParam = record_.eventParam;
    setup_.logExport.msgBufferSize = record_.msgBufferSize;
    try {
        acceptThread_ = platform::Thread(&core_.counters.threads, [this] { AcceptLoop(); });
        started_ = true;
    } catch (const std::system_error& e) {
        core_.Report(core::Severity::Error, core::str::kSystemError, static_cast<uint32_t>(e.code().value()));
        listener_.Close();
    }
}

void ServerItem::Stop() {
    run_.store(false);
    stopEvent_.Set();
    // Every thread serves connections, the item's own too: the sessions are
    // told to stop here, the waits for a connection end with the listener's.
    {
        std::lock_guard hold(connectionsMutex_);
        StopSessionsLocked();
    }
    listener_.RequestStop();
    acceptThread_.Join();
    listener_.Close();
}

void ServerItem::AcceptLoop() {
    platform::CountedScope moduleThreads(&shared_.threadCount);
    platform::CountedScope coreModuleThreads(&core_.counters.moduleThreads);
    if (setup_.defaults.logLevel != 0) log_.OpenNew();
    core_.Report(core::Severity::Info, core::str::kWebServerStarted, record_.name, uint32_t(record_.Port()));
    ConnectionLoop();
    StopConnections();
    // Connections that never said anything end as any idle connection does
    // at a stop: served, at once, and logged.
    for (Connection& waiting : waiting_) {
        waiting.session->RequestStop();
        Serve(waiting);
        serving_.fetch_sub(1);
    }
    waiting_.clear();
    log_.Close();
    core_.Report(core::Severity::Info, core::str::kWebServerStopped, record_.name, uint32_t(record_.Port()));
}

void ServerItem::ConnectionLoop() {
    while (Live()) {
        {
            std::lock_guard hold(connectionsMutex_);
            ++accepting_;
        }
        int error = 0;
        Connection connection;
        {
            // One thread watches the listener and the silent connections,
            // the others wait for their turn: several watching would all
            // wake for every connection.
            std::lock_guard turn(acceptTurn_);
            connection = NextConnection(error);
        }
        {
            std::lock_guard hold(connectionsMutex_);
            --accepting_;
            if (connection.session) {
                if (stopping_) connection.session->RequestStop();
                active_.insert(connection.session.get());
                if (accepting_ == 0 && connectionThreads_ < common_.maxConn && !stopping_ && Live()) StartConnectionThread();
            }
        }
        if (!connection.session) {
            // A stop ends the wait for a connection: that is no network error.
            if (!Live()) break;
            failedAccepts_.fetch_add(1);
            core_.Report(core::Severity::Error, core::str::kNetworkErrorAt,
                         kSection, record_.name, uint32_t(record_.Port()), error);
            stopEvent_.Wait(std::chrono::milliseconds(common_.errorTimeout));
            continue;
        }
        Serve(connection);
        std::lock_guard hold(connectionsMutex_);
        active_.erase(connection.session.get());
        connection.session.reset();
        serving_.fetch_sub(1);
    }
}

ServerItem::Connection ServerItem::Take(std::vector<Connection>::iterator waiting) {
    Connection taken = std::move(*waiting);
    waiting_.erase(waiting);
    return taken;
}

ServerItem::Connection ServerItem::NextConnection(int& error) {
    error = 0;
    // How often the watch looks at the stop flag, as the session's own waits do.
    constexpr long long kStopCheckMs = 100;
    // Silent connections kept open at once; past this, new ones wait in the
    // listen backlog, so idle clients cannot use up the descriptors.
    constexpr size_t kMostWaiting = 256;
    const bool logging = setup_.defaults.logLevel != 0;
    const uint64_t perFile = static_cast<uint64_t>(setup_.defaults.logLimit);
    for (;;) {
        if (!Live() || listener_.StopRequested()) {
            error = ECANCELED;
            return {};
        }
        const Clock::time_point now = Clock::now();
        long long waitMs = kStopCheckMs;
        for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
            // Its time is up: served now, it times out as any silent connection.
            if (it->firstBytesBy <= now) return Take(it);
            waitMs = std::min<long long>(
                waitMs, std::chrono::ceil<std::chrono::milliseconds>(it->firstBytesBy - now).count());
        }
        const bool listening = waiting_.size() < kMostWaiting;
        pollSet_.clear();
        if (listening) pollSet_.push_back(pollfd{listener_.SocketHandle(), POLLIN, 0});
        for (const Connection& c : waiting_) pollSet_.push_back(pollfd{c.session->SocketHandle(), POLLIN | POLLRDHUP, 0});
        int ready = 0;
        if (const int rc = platform::PollSockets(pollSet_, static_cast<int>(waitMs), ready); rc != 0 && rc != EINTR) {
            error = rc;
            return {};
        }
        if (ready == 0) continue;
        // Connections that have waited come first, oldest first.
        const size_t first = listening ? 1 : 0;
        for (size_t i = first; i < pollSet_.size(); ++i)
            if (pollSet_[i].revents) return Take(waiting_.begin() + static_cast<ptrdiff_t>(i - first));
        if (!listening || !pollSet_[0].revents) continue;

        std::unique_ptr<TcpSession> session = listener_.AcceptWaitingConnection(error);
        if (!session) {
            if (error == EAGAIN) continue;  // gone again before the accept
            return {};
        }
        serving_.fetch_add(1);
        if (logging && ++requests_ > perFile) {
            requests_ = 1;
            log_.OpenNew();
        }
        Connection accepted{std::move(session), platform::MonotonicMs(),
                            Clock::now() + std::chrono::milliseconds(common_.timeout)};
        // Most clients send their request with the connect: then it is
        // served at once, without a round through the watch.
        transport::TcpEvents events;
        int peekError = 0;
        if (accepted.session->WaitEvents(events, peekError, 0) == TcpSession::kOk) return accepted;
        waiting_.push_back(std::move(accepted));
    }
}

void ServerItem::StartConnectionThread() {
    try {
        threads_.emplace_back([this] {
            platform::CountedScope threads(&core_.counters.threads);
            ConnectionLoop();
        });
        ++connectionThreads_;
    } catch (const std::system_error& e) {
        core_.Report(core::Severity::Error, core::str::kSystemError, static_cast<uint32_t>(e.code().value()));
    }
}

void ServerItem::Serve(Connection& connection) {
    TcpSession& session = *connection.session;
    processing::DnsModule* names = nullptr;
    if ((record_.param & kResolveNames) && core_.registry)
        names = core_.registry->FindAs<processing::DnsModule>(core::kModuleDns);
    const std::string client = platform::Ipv4Text(session.Address());
    const int level = setup_.defaults.logLevel;
    std::string line;
    if (level > 0) line = "[" + client + "]";

    RequestHandler handler(setup_, client, names, line);
    transport::TcpExchange exchange;
    int error = 0;
    const int result = ServeHttpConnection(
        session, exchange, [&handler](std::string_view bytes) { return handler.Handle(bytes); }, error,
        connection.firstBytesBy);
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
        line += core::Format("< %I64d msec. >", int64_t(platform::MonotonicMs() - connection.acceptedMs)).value_or("");
    }
    if (level > 0) log_.Write(line);
}

void ServerItem::StopSessionsLocked() {
    stopping_ = true;
    for (TcpSession* s : active_) s->RequestStop();
}

void ServerItem::StopConnections() {
    std::vector<std::thread> threads;
    {
        // Again here: the module's running flag can end the loops before
        // the item's own Stop has reached the sessions.
        std::unique_lock hold(connectionsMutex_);
        StopSessionsLocked();
        threads.swap(threads_);
    }
    // The listener's stop has ended their waits for a connection; each
    // thread finishes what it serves (at once, as it is stopped) and ends.
    for (std::thread& t : threads) t.join();
}

}  // namespace qm::http
