#include "core/event_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "platform/codepage.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"

namespace qm::core {
namespace {

using platform::Blocking;

sockaddr_in Addr(const char* ip) { return qm::testing::Loopback(0, ip); }

// Appends what a drain took.
void Append(std::vector<EventPtr>& to, std::vector<EventPtr>& part) {
    for (auto& r : part) to.push_back(std::move(r));
    part.clear();
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
    const auto submit = [&](const std::string& line) {
        return core.Submit(kEventExternal, kNoSeverity, line, Addr("10.1.2.3"));
    };
    EXPECT_EQ(submit(""), kRefused);
    EXPECT_EQ(std::tuple(submit("<13>hello"), submit("no priority"), submit("<13>x|a2;10.0.0.5;31 12 2023 23 59 58 999;")),
              std::tuple(kOk, kOk, kOk));
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
            EXPECT_EQ(std::tie(e.severity, e.facility, e.sender), std::tuple(4u, kDefaultFacility, "127.0.0.1"));
            EXPECT_EQ(e.Message(), "Модуль загружен: mod_rules");
            EXPECT_EQ(e.Raw(), "");
        } else if (e.relayed) {
            EXPECT_EQ(std::tie(e.sender, e.time.year, e.time.milliseconds), std::tuple("10.0.0.5", 2023, 999));
            EXPECT_EQ(std::tuple(e.Message(), e.charset), std::tuple(std::string_view("x"), platform::kUtf8Text));
        } else {
            EXPECT_EQ(std::tie(e.sender, e.rawLength, e.severity), std::tuple("10.1.2.3", 9u, 5u));
            EXPECT_EQ(e.Message(), "hello");
        }
    }
}

TEST(EventCore, ConcurrentProducersLoseNothingAndRecordsKeepTheirNumbersInOrder) {
    CoreCounters counters;
    EventCore core(counters, 3);  // workers that finish in any order
    constexpr int kProducers = 4, kPerProducer = 5000;
    std::vector<std::thread> producers;
    std::atomic<int> refused{0};
    for (int p = 0; p < kProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i)
                refused += core.Submit(kEventExternal, kNoSeverity, "<14>p" + std::to_string(p) + " n" + std::to_string(i),
                                       Addr("127.0.0.2")) != kOk;
        });
    // A reader and a drainer run meanwhile, as the windows and the database do.
    std::atomic<bool> done{false};
    std::vector<EventPtr> drained;
    std::thread drainer([&] {
        for (std::vector<EventPtr> part; !done; std::this_thread::sleep_for(std::chrono::milliseconds(50)))
            if (core.Drain(part) == kOk) Append(drained, part);
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
    Append(drained, rest);

    EXPECT_EQ(refused.load(), 0);
    ASSERT_EQ(drained.size(), size_t(kProducers * kPerProducer));
    std::set<uint64_t> sequences;
    std::set<std::string> messages;
    for (const EventPtr& r : drained) sequences.insert(r->sequence), messages.insert(std::string(r->Message()));
    EXPECT_EQ(std::tuple(sequences.size(), messages.size()), std::tuple(drained.size(), drained.size()));
    EXPECT_EQ(std::tuple(*sequences.begin(), *sequences.rbegin()), std::tuple(1u, uint64_t(kProducers * kPerProducer)));
    // Drains take the queue whole, so their order is the queue's.
    const auto disorder = std::adjacent_find(drained.begin(), drained.end(),
                                             [](const EventPtr& a, const EventPtr& b) { return a->sequence >= b->sequence; });
    EXPECT_EQ(disorder, drained.end()) << "number " << (*disorder)->sequence << " before " << (*std::next(disorder))->sequence;
}

TEST(EventCore, ReceiveBatchesWaitForASlowDrainerInsteadOfPilingUp) {
    CoreCounters counters;
    EventCore core(counters, 1);
    const IntakeBounds bounds{
        .handOverLines = 64, .handOverBytes = 1 << 20, .drainHeadroomRecords = 100, .undrainedBytes = 16 << 10};
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
    std::vector<EventPtr> drained, part;
    for (; !producerDone; std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (core.DrainIfMoreThan(kLimit, Blocking::Yes, part) == kOk) Append(drained, part);
    producer.join();
    core.ClearDrainer();
    ASSERT_TRUE(core.Settle(20000));
    ASSERT_EQ(core.Drain(part, Blocking::Yes), kOk);
    Append(drained, part);
    ASSERT_EQ(drained.size(), size_t(kBatches * kPerBatch));
    for (size_t i = 0; i < drained.size(); ++i)
        EXPECT_EQ(std::tuple(drained[i]->Message(), drained[i]->sequence), std::tuple("line " + std::to_string(i), i + 1));
    EXPECT_EQ(core.Backlog().undrainedRecords, 0u);
}

TEST(EventCore, RecordsTheDrainerHasNotFreedYetCountAgainstTheBound) {
    CoreCounters counters;
    EventCore core(counters, 1);
    const auto handOver = [&](int first) {
        IntakeBatch batch;
        for (int i = first; i < first + 20; ++i)
            batch.Add("<13>" + std::string(100, 'x') + std::to_string(i), Addr("10.0.0.9"));
        ASSERT_EQ(core.HandOver(batch, true), kOk);
    };
    handOver(0);
    ASSERT_TRUE(core.Settle(20000));
    const size_t batchBytes = core.Backlog().undrainedBytes;
    ASSERT_GT(batchBytes, 0u);

    // Room for one batch of parsed lines and a half, wherever they are.
    core.SetBounds(IntakeBounds{.drainHeadroomRecords = 0, .undrainedBytes = batchBytes + batchBytes / 2});
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
    EXPECT_EQ(rest.back()->sequence, 60u);  // nothing lost while the intake waited
}

TEST(EventCore, ReadersRestartAfterADrainAndSlicesStayBounded) {
    CoreCounters counters;
    EventCore core(counters);
    for (int i = 0; i < 250; ++i) core.Submit(kEventExternal, kNoSeverity, "<13>m" + std::to_string(i), Addr("1.2.3.4"));
    ASSERT_TRUE(core.Settle(5000));

    QueueSlice slice;
    EXPECT_EQ(core.ReadSlice(240, Blocking::Yes, slice), kOk);
    EXPECT_EQ(slice.size(), 10u);  // the rest from that position, not a whole slice
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
    // binary are idle here, so the difference is the core's own). The figure
    // is the whole heap, whose level also holds what the ended threads left
    // in its caches: a few KiB, where the records in flight would be hundreds.
    const MemorySnapshot after = TakeMemorySnapshot();
    EXPECT_LE(after.InUse(), before.InUse() + 64 * 1024);
}

// The database thread shifts while windows read: every snapshot read holds
// the four values of one drain, never half of two.
TEST(MemorySnapshots, AReadNeverMixesTwoDrainsAndKeepsTheOldestFirst) {
    MemorySnapshots snapshots;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (uint64_t k = 1; k <= 2000000; ++k) snapshots.Shift({k, k, k, k});
        done = true;
    });
    size_t torn = 0, disordered = 0;
    while (!done) {
        const MemorySnapshots::Array read = snapshots.Get();
        for (size_t i = 0; i < read.size(); ++i) {
            const MemorySnapshot& s = read[i];
            torn += s.resizeIn != s.allocated || s.resizeOut != s.allocated || s.freed != s.allocated;
            disordered += i > 0 && read[i - 1].allocated != 0 && read[i - 1].allocated + 1 != s.allocated;
        }
    }
    writer.join();
    EXPECT_EQ(std::tuple(torn, disordered), std::tuple(0u, 0u));
    const MemorySnapshots::Array last = snapshots.Get();
    EXPECT_EQ(std::tuple(last.front().allocated, last.back().allocated), std::tuple(1999997u, 2000000u));
}

bool Inside(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

TEST(EventRecord, MessageSharesTheRawTextAndSurvivesCopiesAndMoves) {
    // A short line lives inside the string object itself, so a record that
    // pointed into it would read freed or foreign bytes after a move.
    for (const std::string& line : {std::string("<13>hi"), "<13>" + std::string(600, 'm')}) {
        EventRecord e;
        e.SetRaw(line, 4);
        std::vector<EventRecord> moved;
        for (int i = 0; i < 40; ++i) moved.push_back(e);  // reallocations move the earlier ones
        EventRecord copy = moved.front();
        EventRecord last = std::move(moved.back());
        moved.clear();
        for (const EventRecord* r : {&e, &copy, &last}) {
            EXPECT_EQ(std::tuple(r->Raw(), r->Message()), std::tuple(line, line.substr(4)));
            EXPECT_TRUE(Inside(r->Message(), r->Raw()));
        }
    }
}

TEST(EventRecord, TextsThatAreNotPartOfOneAnotherReadBackAsGiven) {
    EventRecord e;
    const auto texts = [&] { return std::tuple(std::string(e.Raw()), std::string(e.Message())); };
    // A message that is not a byte-identical part of the raw text (a
    // conversion changed it, or a record made by hand) is kept as it is.
    e.SetTexts("<14>Gr\xfc\xdf", "Grüß");
    EXPECT_EQ(texts(), std::tuple("<14>Gr\xfc\xdf", "Grüß"));
    // One that is shared, also when it is not the tail.
    e.SetTexts("<14>ab|cd", "ab");
    EXPECT_EQ(texts(), std::tuple("<14>ab|cd", "ab"));
    EXPECT_TRUE(Inside(e.Message(), e.Raw()));
    // Replacing the texts by views of the record's own texts.
    e.SetTexts("", e.Message());
    EXPECT_EQ(texts(), std::tuple("", "ab"));
    e.SetMessage("Служба запущена");
    EXPECT_EQ(texts(), std::tuple("", "Служба запущена"));
    e.SetRaw("<13>", 4);  // a line without a message
    EXPECT_EQ(texts(), std::tuple("<13>", ""));
    e.SetRaw("<13>x", 99);
    EXPECT_EQ(e.Message(), "");
    e.SetTexts("<13>x", "");
    EXPECT_EQ(e.Message(), "");
}

}  // namespace
}  // namespace qm::core
