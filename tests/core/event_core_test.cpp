#include "core/event_core.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/codepage.h"

#include <atomic>
#include <set>
#include <thread>

#include "support/wait_until.h"

namespace qm::core {
namespace {

using platform::Blocking;

sockaddr_in Addr(const char* ip) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

// Everything in the queue, read the way every reader does.
std::vector<EventRecord> ReadAll(EventCore& core, ReaderState& reader) {
    std::vector<EventRecord> out;
    QueueSlice slice;
    while (core.ReadNext(reader, Blocking::Yes, slice) == kOk) {
        EXPECT_LE(slice.size(), EventCore::kSliceMax);
        for (const EventPtr& r : slice.Records()) out.push_back(*r);
        slice.Release();
    }
    return out;
}

TEST(EventCore, SubmitParsesIntoTheQueue) {
    CoreCounters counters;
    EventCore core(counters);
    EXPECT_EQ(core.Submit(kEventExternal, kNoSeverity, "", Addr("10.1.2.3")), kRefused);
    EXPECT_EQ(core.Submit(kEventExternal, kNoSeverity, "<13>hello", Addr("10.1.2.3")), kOk);
    EXPECT_EQ(core.Submit(kEventExternal, kNoSeverity, "no priority", Addr("10.1.2.3")), kOk);
    EXPECT_EQ(core.Submit(kEventExternal, kNoSeverity, "<13>x|a2;10.0.0.5;31 12 2023 23 59 58 999;", Addr("10.1.2.3")), kOk);
    EXPECT_EQ(core.Report(4, "Модуль загружен: mod_rules"), kOk);
    // A bad byte before the message must not shift where the message starts.
    EXPECT_EQ(core.Submit(kEventInternal, kNoSeverity, "<\xff" "3> h\xc3\xa9llo\xff", Addr("10.1.2.4")), kOk);
    ASSERT_TRUE(core.Settle(5000));

    ReaderState reader;
    std::vector<EventRecord> events = ReadAll(core, reader);
    ASSERT_EQ(events.size(), 4u);  // the refused line leaves no record
    std::set<uint64_t> sequences;
    for (const EventRecord& e : events) sequences.insert(e.sequence);
    EXPECT_EQ(sequences.size(), 4u);
    EXPECT_EQ(core.MessageCounter(), 5u);  // a refused line still counts as an intake

    for (const EventRecord& e : events) {
        if (e.type == kEventInternal) {
            EXPECT_EQ(platform::EncodeAsReceived(e.Raw(), e.charset), "<\xff" "3> h\xc3\xa9llo\xff");
            if (platform::AnsiCharset() != "UTF-8") continue;
            // Not UTF-8 as a whole: every byte through the single-byte
            // fallback (CP1251), none replaced, and the bytes come back.
            EXPECT_EQ(e.Message(), " hГ©lloя");
            EXPECT_EQ(e.Raw(), "<я3>" + std::string(e.Message()));
        } else if (e.type == kEventSystem) {
            EXPECT_EQ(e.severity, 4u);
            EXPECT_EQ(e.facility, kDefaultFacility);
            EXPECT_EQ(e.sender, "127.0.0.1");
            EXPECT_EQ(e.Message(), "Модуль загружен: mod_rules");
            EXPECT_EQ(e.Raw(), "");
        } else if (e.relayed) {
            EXPECT_EQ(e.sender, "10.0.0.5");
            EXPECT_EQ(e.time.year, 2023);
            EXPECT_EQ(e.time.milliseconds, 999);
            EXPECT_EQ(e.Message(), "x");
            EXPECT_EQ(e.charset, platform::kUtf8Text);
        } else {
            EXPECT_EQ(e.sender, "10.1.2.3");
            EXPECT_EQ(e.Message(), "hello");
            EXPECT_EQ(e.rawLength, 9u);
            EXPECT_EQ(e.severity, 5u);
        }
    }
}

TEST(EventCore, ConcurrentProducersLoseNothing) {
    CoreCounters counters;
    EventCore core(counters);
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 5000;
    std::vector<std::thread> producers;
    std::atomic<int> refused{0};
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                std::string line = "<14>p" + std::to_string(p) + " n" + std::to_string(i);
                if (core.Submit(kEventExternal, kNoSeverity, line, Addr("127.0.0.2")) != kOk) ++refused;
            }
        });
    }
    // A reader and a drainer run meanwhile, as the windows and the database do.
    std::atomic<bool> done{false};
    std::vector<EventPtr> drained;
    std::thread drainer([&] {
        while (!done) {
            std::vector<EventPtr> part;
            if (core.Drain(part) == kOk)
                for (auto& r : part) drained.push_back(std::move(r));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::thread reader([&] {
        ReaderState state;
        while (!done) ReadAll(core, state);
    });
    for (auto& t : producers) t.join();
    ASSERT_TRUE(core.Settle(20000));
    done = true;
    drainer.join();
    reader.join();
    std::vector<EventPtr> rest;
    while (core.Drain(rest) != kOk) {}
    for (auto& r : rest) drained.push_back(std::move(r));

    EXPECT_EQ(refused.load(), 0);
    ASSERT_EQ(drained.size(), size_t(kProducers * kPerProducer));
    std::set<uint64_t> sequences;
    std::set<std::string> messages;
    for (const EventPtr& r : drained) {
        sequences.insert(r->sequence);
        messages.insert(std::string(r->Message()));
    }
    EXPECT_EQ(sequences.size(), drained.size());
    EXPECT_EQ(*sequences.begin(), 1u);
    EXPECT_EQ(*sequences.rbegin(), uint64_t(kProducers * kPerProducer));
    EXPECT_EQ(messages.size(), drained.size());
}

TEST(EventCore, ReceiveBatchesWaitForASlowDrainerInsteadOfPilingUp) {
    CoreCounters counters;
    EventCore core(counters, 1);
    IntakeBounds bounds;
    bounds.handOverLines = 64;
    bounds.handOverBytes = 1 << 20;
    bounds.drainHeadroomRecords = 100;
    bounds.undrainedBytes = 16 * 1024;
    core.SetBounds(bounds);
    constexpr size_t kLimit = 50;
    std::atomic<int> wakes{0};
    core.SetDrainer(kLimit, [&] { ++wakes; });

    // A receiver with far more lines than the bounds let in, handing them
    // over the way a listener does when the workers are behind.
    constexpr int kBatches = 100, kPerBatch = 16;
    std::atomic<bool> producerDone{false};
    std::thread producer([&] {
        for (int b = 0; b < kBatches; ++b) {
            IntakeBatch batch;
            for (int i = 0; i < kPerBatch; ++i)
                batch.Add("<13>line " + std::to_string(b * kPerBatch + i), Addr("10.0.0.9"));
            ASSERT_EQ(core.HandOver(batch, true), kOk);
        }
        producerDone = true;
    });

    // With nobody draining, the intake fills up to its bounds and stops there:
    // the rest of the lines stay with the receiver.
    const auto full = [&] {
        const IntakeBacklog b = core.Backlog();
        return b.undrainedRecords > kLimit + bounds.drainHeadroomRecords && b.pendingLines + kPerBatch > bounds.handOverLines;
    };
    ASSERT_TRUE(qm::testing::WaitUntil(full));
    EXPECT_FALSE(producerDone.load());
    const IntakeBacklog held = core.Backlog();
    EXPECT_LE(held.pendingLines, bounds.handOverLines + kPerBatch);
    EXPECT_LE(held.undrainedRecords, kLimit + bounds.drainHeadroomRecords + 256 + kPerBatch);
    // The drainer is told once a move leaves the queue over its limit.
    EXPECT_TRUE(qm::testing::WaitUntil([&] { return wakes > 0; }));

    // Draining lets the receiver go on; nothing is lost and the order holds.
    std::vector<EventPtr> drained;
    while (!producerDone) {
        std::vector<EventPtr> part;
        if (core.DrainIfMoreThan(kLimit, Blocking::Yes, part) == kOk)
            for (auto& r : part) drained.push_back(std::move(r));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    producer.join();
    core.ClearDrainer();
    ASSERT_TRUE(core.Settle(20000));
    std::vector<EventPtr> rest;
    ASSERT_EQ(core.Drain(rest, Blocking::Yes), kOk);
    for (auto& r : rest) drained.push_back(std::move(r));
    ASSERT_EQ(drained.size(), size_t(kBatches * kPerBatch));
    for (size_t i = 0; i < drained.size(); ++i) {
        EXPECT_EQ(drained[i]->Message(), "line " + std::to_string(i));
        EXPECT_EQ(drained[i]->sequence, i + 1);
    }
    EXPECT_EQ(core.Backlog().undrainedRecords, 0u);
}

TEST(EventCore, RecordsTheDrainerHasNotFreedYetCountAgainstTheBound) {
    CoreCounters counters;
    EventCore core(counters, 1);
    const auto handOver = [&](int first) {
        IntakeBatch batch;
        for (int i = first; i < first + 20; ++i) batch.Add("<13>" + std::string(100, 'x') + std::to_string(i), Addr("10.0.0.9"));
        ASSERT_EQ(core.HandOver(batch, true), kOk);
    };
    handOver(0);
    ASSERT_TRUE(core.Settle(20000));
    const size_t batchBytes = core.Backlog().undrainedBytes;
    ASSERT_GT(batchBytes, 0u);

    // Room for one batch of parsed lines and a half, wherever they are.
    IntakeBounds bounds;
    bounds.drainHeadroomRecords = 0;
    bounds.undrainedBytes = batchBytes + batchBytes / 2;
    core.SetBounds(bounds);
    core.SetDrainer(0, [] {});
    std::vector<EventPtr> writing;
    ASSERT_EQ(core.Drain(writing, Blocking::Yes), kOk);
    EXPECT_EQ(core.Backlog().unfreedBytes, batchBytes);

    // The drainer still holds its batch: one more fits beside it, a third
    // waits for the drainer instead of doubling what is held.
    handOver(20);
    ASSERT_TRUE(core.Settle(20000));
    handOver(40);
    EXPECT_FALSE(qm::testing::WaitUntil([&] { return core.Backlog().pendingLines == 0; }, std::chrono::seconds(2)));

    writing.clear();
    core.Freed(batchBytes * 2);  // more than it holds leaves nothing, not a wrapped count
    EXPECT_EQ(core.Backlog().unfreedBytes, 0u);
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return core.Backlog().pendingLines == 0 && core.ActiveIntake() == 0; }));
    core.ClearDrainer();
    ASSERT_TRUE(core.Settle(20000));
    std::vector<EventPtr> rest;
    ASSERT_EQ(core.Drain(rest, Blocking::Yes), kOk);
    ASSERT_EQ(rest.size(), 40u);
    EXPECT_EQ(rest.back()->sequence, 60u);
}

TEST(EventCore, ReadersRestartAfterADrainAndSlicesStayBounded) {
    CoreCounters counters;
    EventCore core(counters);
    for (int i = 0; i < 250; ++i) core.Submit(kEventExternal, kNoSeverity, "<13>m" + std::to_string(i), Addr("1.2.3.4"));
    ASSERT_TRUE(core.Settle(5000));

    QueueSlice slice;
    EXPECT_EQ(core.ReadSlice(240, Blocking::Yes, slice), kOk);
    EXPECT_EQ(slice.size(), 10u);
    slice.Release();
    EXPECT_EQ(core.ReadSlice(250, Blocking::Yes, slice), kNothingToRead);

    ReaderState reader;
    EXPECT_EQ(ReadAll(core, reader).size(), 250u);
    EXPECT_EQ(reader.position, 250u);

    // While a reader holds a slice, the drainer collides instead of freeing
    // records underneath it, and the collision is counted.
    ASSERT_EQ(core.ReadSlice(0, Blocking::Yes, slice), kOk);
    std::vector<EventPtr> drained;
    const uint32_t collisionsBefore = counters.locks.collisions;
    std::thread other([&] { EXPECT_EQ(core.Drain(drained), kCollision); });
    other.join();
    EXPECT_EQ(counters.locks.collisions, collisionsBefore + 1);
    slice.Release();

    ASSERT_EQ(core.Drain(drained), kOk);
    EXPECT_EQ(drained.size(), 250u);
    for (int i = 0; i < 5; ++i) core.Submit(kEventExternal, kNoSeverity, "<13>new" + std::to_string(i), Addr("1.2.3.4"));
    ASSERT_TRUE(core.Settle(5000));
    std::vector<EventRecord> again = ReadAll(core, reader);
    ASSERT_EQ(again.size(), 5u);  // from position 0 of the new queue, nothing skipped
    EXPECT_EQ(again[0].Message().rfind("new", 0), 0u);
    EXPECT_EQ(reader.generation, core.Generation());
}

TEST(EventCore, ShutdownWithRecordsInFlightFreesEverything) {
    CoreCounters counters;
    const MemorySnapshot before = TakeMemorySnapshot();
    {
        EventCore core(counters);
        std::thread producer([&] {
            for (int i = 0; i < 20000; ++i) core.Submit(kEventExternal, kNoSeverity, "<13>in flight", Addr("1.2.3.4"));
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        core.Shutdown();
        producer.join();
        EXPECT_EQ(core.Submit(kEventExternal, kNoSeverity, "<13>late", Addr("1.2.3.4")), kRefused);
        QueueSlice slice;
        EXPECT_EQ(core.ReadSlice(0, Blocking::Yes, slice), kRefused);
        EXPECT_EQ(core.ActiveIntake(), 0u);
    }
    EXPECT_EQ(counters.threads.load(), 0u);
    EXPECT_EQ(counters.locks.users.load(), 0u);
    // Everything the core allocated was given back (other threads of the test
    // binary are idle here, so the difference is the core's own).
    const MemorySnapshot after = TakeMemorySnapshot();
    EXPECT_LE(after.InUse(), before.InUse() + 4096);
}

}  // namespace
}  // namespace qm::core
