#pragma once
// One running server item: its listening session, the accept thread, and a
// thread per connection being served, at most MaxConn at a time.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "http/http_handler.h"
#include "http/http_ini.h"
#include "http/http_settings.h"
#include "http/request_log.h"
#include "http/tcp_session.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace qm::processing {
class DnsModule;
}

namespace qm::http {

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
    // A connection waiting for its thread.
    struct Job {
        std::unique_ptr<TcpSession> session;
        processing::DnsModule* names = nullptr;
    };

    bool Live() const { return shared_.running.load() && run_.load(); }
    void AcceptLoop();
    // Hands the connection to an idle connection thread, or starts one.
    void Dispatch(Job job);
    // A connection thread: serves one connection after another until the
    // item stops. Threads stay for the next connection rather than being
    // made and ended per connection, which would cost more than most answers.
    void ConnectionThread();
    void Serve(TcpSession& session, processing::DnsModule* names);
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
    // Under connectionsMutex_: the hand-over queue, the sessions being
    // served (so a stop reaches them), the threads and how many are idle.
    std::mutex connectionsMutex_;
    std::condition_variable connectionEnded_;
    std::condition_variable work_;
    std::deque<Job> pending_;
    std::set<TcpSession*> active_;
    std::vector<std::thread> threads_;
    size_t idle_ = 0;
    bool stopping_ = false;

    platform::Thread acceptThread_;
};

}  // namespace qm::http
