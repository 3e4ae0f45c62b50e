#pragma once
// The relay's TCP and TLS destinations: a backlog file per destination,
// which the relay's worker appends to, and one sending thread with an epoll
// set that keeps a connection per destination and empties the backlogs into
// them. No destination waits for another, and the worker never waits for
// the network: a receiver that is slow, away or refusing only makes its own
// backlog grow.
//
// Threads: Use and Deliver are the worker's (one thread at a time, under
// the module lock); Start and Stop the module's, never at the same time as
// the worker's calls; the rest is the sending thread's.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/core_context.h"
#include "platform/epoll.h"
#include "platform/thread.h"
#include "transport/relay/relay_backlog.h"
#include "transport/relay/stream_link.h"

namespace qm::transport {

class RelayStreams {
public:
    struct Limits {
        uint64_t backlogBytes = 64ull << 20;
        std::chrono::milliseconds connectTimeout{5000};
    };

    RelayStreams(core::CoreContext& core, StreamCounters counters) : core_(core), counters_(counters) {}
    ~RelayStreams() { Stop(); }
    RelayStreams(const RelayStreams&) = delete;
    RelayStreams& operator=(const RelayStreams&) = delete;

    // Starts the sending thread, with the backlog files in `folder` (made
    // when first needed). 0 or errno.
    int Start(std::filesystem::path folder);
    // Ends the thread: each destination closes as StreamLink::Close says,
    // and its backlog is saved and closed.
    void Stop();

    // The destinations in use now. A new one gets its backlog, opened here
    // (and reported when it holds lines from before); one that is gone is
    // closed by the sending thread, its backlog file left for its return.
    void Use(const std::vector<StreamTarget>& targets, const Limits& limits);
    // Appends lines to a destination's backlog (one named by Use). False
    // when it has none or the file refused them: the lines are lost.
    bool Deliver(const std::string& key, std::span<const std::string_view> lines);

private:
    struct Wanted {
        StreamTarget target;
        std::shared_ptr<RelayBacklog> backlog;
    };
    void Run();
    // Brings the links in line with what Use published.
    void Follow();

    core::CoreContext& core_;
    std::filesystem::path folder_;
    StreamCounters counters_;

    // The worker's side.
    std::map<std::string, Wanted> backlogs_;
    std::vector<StreamTarget> used_;
    Limits limits_;
    // Backlogs that could not be opened or written, each reported once.
    std::set<std::string> refused_;

    // Published by the worker, read by the sending thread.
    std::mutex publishMutex_;
    std::vector<Wanted> published_;
    Limits publishedLimits_;
    uint64_t generation_ = 0;

    // The sending thread's side.
    platform::Epoll epoll_;
    platform::WakeFd wake_;
    std::atomic<bool> running_{false};
    std::map<std::string, std::unique_ptr<StreamLink>> links_;
    uint64_t followed_ = 0;
    uint64_t nextTag_ = 1;
    platform::Thread thread_;
};

}  // namespace qm::transport
