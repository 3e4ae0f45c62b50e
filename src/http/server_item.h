#pragma once
// One running server item: its listening session, the accept thread, and a
// thread per connection being served, at most MaxConn at a time.
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "http/http_handler.h"
#include "http/http_ini.h"
#include "http/http_settings.h"
#include "http/request_log.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "transport/tcp/tcp_session.h"

namespace qm::processing {
class DnsModule;
}

namespace qm::http {

using transport::TcpSession;

// What the items share with their module.
struct HttpShared {
    std::atomic<bool> running{false};
    std::atomic<uint32_t> threadCount{0};
};

class ServerItem {
public:
    // Opens the listening session and starts the accept thread; check
    // Started() afterwards (failures are reported as System events).
    ServerItem(core::CoreContext& core, HttpShared& shared, const HttpServerItem& record, const HttpCommon& common);
    ~ServerItem() { Stop(); }
    ServerItem(const ServerItem&) = delete;
    ServerItem& operator=(const ServerItem&) = delete;

    bool Started() const { return started_; }
    // Ends the accept loop and every connection, and waits for them.
    void Stop();

    uint16_t BoundPort() const { return boundPort_; }
    uint32_t Serving() const { return serving_.load(); }
    uint32_t FailedAccepts() const { return failedAccepts_.load(); }
    std::filesystem::path RequestLogPath() { return log_.CurrentPath(); }

private:
    using Clock = std::chrono::steady_clock;
    // An accepted connection, with when its first bytes are due.
    struct Connection {
        std::unique_ptr<TcpSession> session;
        uint64_t acceptedMs = 0;  // for the request log's duration
        Clock::time_point firstBytesBy{};
    };

    bool Live() const { return shared_.running.load() && run_.load(); }
    // The item's own thread: reports, opens the request log, serves like
    // every connection thread, and at the end stops and waits for the rest.
    void AcceptLoop();
    // A connection thread: takes the next connection itself and serves it,
    // then the next, until the item stops. Handing each connection from an
    // accepting thread to a serving one cost a thread switch per request,
    // more than a small answer itself. Whenever a thread takes a connection
    // and no other is left accepting, another is started, up to MaxConn:
    // further connections wait in the listen backlog.
    void ConnectionLoop();
    // Under acceptTurn_: the next connection that has something to serve
    // (bytes, its close, its time up, or the item stopping). Connections
    // that have said nothing yet wait in waiting_, watched together with the
    // listener by whichever thread has the turn, so silent clients never
    // hold a connection thread while others are kept in the backlog.
    Connection NextConnection(int& error);
    Connection Take(std::vector<Connection>::iterator waiting);
    void StartConnectionThread();
    void Serve(Connection& connection);
    // Under connectionsMutex_: no new connection is served, and every
    // session being served is told to stop.
    void StopSessionsLocked();
    void StopConnections();

    core::CoreContext& core_;
    HttpShared& shared_;
    const HttpServerItem record_;
    const HttpCommon common_;
    HttpIni ini_;
    HandlerSetup setup_;
    RequestLog log_;

    std::atomic<bool> run_{true};
    platform::ManualResetEvent stopEvent_;
    TcpSession listener_;
    uint16_t boundPort_ = 0;
    bool started_ = false;

    std::atomic<uint32_t> serving_{0};
    std::atomic<uint32_t> failedAccepts_{0};
    // Under connectionsMutex_: the sessions being served (so a stop reaches
    // them), the connection threads and how many of them wait for a connection.
    std::mutex connectionsMutex_;
    std::mutex acceptTurn_;
    std::vector<Connection> waiting_;  // under acceptTurn_
    std::vector<pollfd> pollSet_;      // under acceptTurn_
    std::set<TcpSession*> active_;
    std::vector<std::thread> threads_;
    size_t accepting_ = 0;
    size_t connectionThreads_ = 1;  // the item's own thread serves too
    uint64_t requests_ = 0;         // under acceptTurn_: since the request log file was opened
    bool stopping_ = false;

    platform::Thread acceptThread_;
};

}  // namespace qm::http
