#pragma once
// One running server item: its listening session and one or two event
// loops (HttpLoop) that accept and serve its connections. The item's own
// thread runs the first loop, reports the start and the stop and owns the
// request log's lifetime; a second loop, when there is one, has a thread of
// its own. MaxConn bounds the requests being answered at once (slots taken
// from a connection's first bytes to its end); connections that have said
// nothing yet take no slot.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/http_handler.h"
#include "http/http_ini.h"
#include "http/http_loop.h"
#include "http/http_settings.h"
#include "http/request_log.h"
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
    // Opens the listening session and starts the item's thread; check
    // Started() afterwards (failures are reported as System events).
    ServerItem(core::CoreContext& core, HttpShared& shared, const HttpServerItem& record, const HttpCommon& common);
    ~ServerItem() { Stop(); }
    ServerItem(const ServerItem&) = delete;
    ServerItem& operator=(const ServerItem&) = delete;

    bool Started() const { return started_; }
    // Ends the loops and every connection, and waits for them.
    void Stop();

    uint16_t BoundPort() const { return boundPort_; }
    // Connections open now, silent ones included.
    uint32_t Serving() const { return serving_.load(); }
    uint32_t FailedAccepts() const { return failedAccepts_.load(); }
    std::filesystem::path RequestLogPath() { return log_.CurrentPath(); }

private:
    friend class HttpLoop;

    bool Live() const { return shared_.running.load() && run_.load(); }
    void ItemThread();

    // For the loops, from their threads.
    bool TakeSlot();
    void ReleaseSlot();
    void CountAccepted();
    void AcceptFailed(int error);
    void ReportSystemError(int error);
    processing::DnsModule* Names();
    // A connection has ended: the counters, and its line in the request log.
    void Ended(int result, int error, uint32_t sent, uint32_t received, uint64_t acceptedMs,
               std::string& logLine);

    core::CoreContext& core_;
    HttpShared& shared_;
    const HttpServerItem record_;
    const HttpCommon common_;
    HttpIni ini_;
    FileCache files_;
    LogLinesCache logLines_;
    HandlerSetup setup_;
    RequestLog log_;

    std::atomic<bool> run_{true};
    TcpSession listener_;
    uint16_t boundPort_ = 0;
    bool started_ = false;

    std::atomic<uint32_t> serving_{0};
    std::atomic<uint32_t> failedAccepts_{0};
    std::atomic<uint32_t> busy_{0};      // slots taken
    std::atomic<uint32_t> setAside_{0};  // connections waiting for a slot, in all loops
    size_t loopCapacity_ = 0;            // connections one loop keeps open at most
    std::mutex requestsMutex_;
    uint64_t requests_ = 0;  // under requestsMutex_: since the request log file was opened

    std::vector<std::unique_ptr<HttpLoop>> loops_;  // fixed once the item's thread runs
    platform::Thread itemThread_;
};

}  // namespace qm::http
