#include "platform/snmp_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "support/udp_peer.h"

namespace qm::platform {
namespace {

// An agent that never answers is asked once and once more per retry, and
// the request then ends timed out; a Stop ends it before its time.
TEST(SnmpSession, ASilentAgentIsAskedOncePerRetryUnlessTheCallerStops) {
    const testing::UdpPeer silent;
    const SnmpTarget target{"127.0.0.1:" + std::to_string(silent.Port()), "public", 200, 2};
    EXPECT_EQ(SnmpGet(target, {{1, 3, 6, 1, 2, 1, 1, 5, 0}}).outcome, SnmpOutcome::kTimedOut);
    int asked = 0;
    while (silent.Receive(std::chrono::milliseconds(500))) ++asked;
    EXPECT_EQ(asked, 3);
    const SnmpTarget patient{target.agent, "public", 60000, 5};
    const auto stopping = [&] { return silent.Receive(std::chrono::seconds(0)).has_value(); };
    EXPECT_EQ(SnmpGet(patient, {{1, 3, 6, 1, 2, 1, 1, 5, 0}}, stopping).outcome, SnmpOutcome::kStopped);
}

// Opens the first sessions of the process from many threads at once, each
// asking a peer that never answers, and exits 0 when every one ended timed
// out: none without a session.
[[noreturn]] void OpenFirstSessionsAtOnce() {
    const testing::UdpPeer silent;
    const SnmpTarget target{"127.0.0.1:" + std::to_string(silent.Port()), "public", 20, 0};
    constexpr int kThreads = 24;
    std::atomic<int> waiting{kThreads}, timedOut{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            for (--waiting; waiting > 0;) std::this_thread::yield();
            if (SnmpGet(target, {{1, 3, 6, 1, 2, 1, 1, 5, 0}}).outcome == SnmpOutcome::kTimedOut) ++timedOut;
        });
    }
    for (std::thread& t : threads) t.join();
    std::fprintf(stderr, "timed out: %d of %d\n", timedOut.load(), kThreads);
    std::_Exit(timedOut == kThreads ? 0 : 1);
}

// net-snmp starts itself in the first session's set-up; the first sessions
// of a fresh process, opened at once by the poller and the name
// resolution's workers, must all open. The threads do not always meet in the
// library's start-up: a few fresh processes make it likely that one does.
TEST(SnmpSessionDeathTest, FirstSessionsFromManyThreadsAtOnceAllOpen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, the library not yet started
    for (int run = 0; run < 10; ++run)
        EXPECT_EXIT(OpenFirstSessionsAtOnce(), ::testing::ExitedWithCode(0), "timed out: 24 of 24") << run;
}

}  // namespace
}  // namespace qm::platform
