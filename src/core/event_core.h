#pragma once
// The event core: producers hand in raw lines with Submit/Report and return at
// once; intake workers parse them into records and collect them in the intake
// buffer; the mover appends that buffer to the processing queue every 500 ms,
// where readers scan by position and the event database drains it. The
// queue holds records in the order of their sequence numbers.
#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/counters.h"
#include "core/event_record.h"
#include "platform/guarded_lock.h"
#include "platform/socket_address.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace qm::core {

// Result codes of the intake operations.
enum IntakeResult : int {
    kOk = 0,
    kRefused = 10,       // not running, bad arguments or no memory
    kCollision = 11,     // lock not obtained
    kNothingToRead = 13,
};

// A view of up to 100 queue records, valid while the slice holds the queue
// lock. Readers copy what they need and never keep a record pointer.
class QueueSlice {
public:
    QueueSlice() = default;
    std::span<const EventPtr> Records() const { return records_; }
    size_t size() const { return records_.size(); }
    const EventRecord& operator[](size_t i) const { return *records_[i]; }
    void Release() {
        lock_.Unlock();
        records_ = {};
    }

private:
    friend class EventCore;
    platform::GuardedLock lock_;
    std::span<const EventPtr> records_;
};

// Lines for the intake, collected by a producer and handed over together:
// one buffer, however many lines it carries.
class IntakeBatch {
public:
    IntakeBatch(uint32_t type = kEventExternal, uint32_t severity = kNoSeverity) : type(type), severity(severity) {}
    // Copies the line; empty lines are not lines and are skipped.
    void Add(std::string_view line, const platform::SocketAddress& sender) {
        if (line.empty()) return;
        entries.push_back({bytes.size(), line.size(), sender});
        bytes.append(line);
    }
    size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }
    void clear() {
        bytes.clear();
        entries.clear();
    }

    uint32_t type;
    uint32_t severity;
    bool programText = false;  // already UTF-8 (the program's own reports, its log files read back)
    std::string bytes;         // the lines, back to back
    struct Entry {
        size_t offset;
        size_t length;
        platform::SocketAddress sender;
    };
    std::vector<Entry> entries;
};

// Where the intake holds a flood back. The defaults suit a two-core machine
// at a few hundred thousand lines a second; tests make them small.
struct IntakeBounds {
    // Lines waiting for a worker past which a receive batch's handover waits.
    size_t handOverLines = 32768;
    size_t handOverBytes = size_t(16) << 20;
    // Records waiting for the drainer past which the workers wait for it:
    // both this far past its limit (so the limit is always reached) and
    // this many bytes, counted up to the moment the drainer frees each
    // record. The bytes must hold well over what one mover turn brings
    // (about 560 bytes a 400-byte line, 84 MB in 500 ms at 300,000 lines a
    // second): below that the workers stop for the mover's next turn while
    // the drainer has nothing to do, and the flood overflows the sockets.
    size_t drainHeadroomRecords = 8192;
    size_t undrainedBytes = size_t(128) << 20;
};

// What waits inside the intake now, for the program's own view of a flood.
struct IntakeBacklog {
    size_t pendingLines = 0;     // handed over, not parsed yet
    size_t pendingBytes = 0;
    size_t undrainedRecords = 0;  // parsed, not taken by the drainer yet
    size_t undrainedBytes = 0;
    size_t unfreedBytes = 0;      // taken by the drainer, not freed yet
};

// Position and generation every queue reader keeps.
struct ReaderState {
    size_t position = 0;
    uint32_t generation = 0;
};

class EventCore {
public:
    static constexpr size_t kSliceMax = 100;
    static constexpr unsigned kMoverPeriodMs = 500;

    explicit EventCore(CoreCounters& counters, unsigned intakeWorkers = 0);
    ~EventCore();
    EventCore(const EventCore&) = delete;
    EventCore& operator=(const EventCore&) = delete;

    // Copies the bytes for an intake worker and returns at once. Producers pass
    // severity 100 except for System events.
    int Submit(uint32_t type, uint32_t severity, std::string_view bytes, const platform::SocketAddress& sender);
    // Several lines in one handover (a receive batch): the same as a Submit
    // of each, for a fraction of the cost. kOk empties the batch (it may come
    // back with a spare buffer's capacity); kRefused (stopping) leaves the
    // lines for the caller to count as lost; kCollision, only without `wait`,
    // means the handover lock was busy or the lines already waiting for the
    // workers are at their bound, and the batch is kept for the next try.
    // With `wait` a handover over that bound waits until the workers have
    // made room: a receiver that outruns them stops reading its socket, so
    // a flood waits in (and overflows) the kernel's buffer, not the heap.
    int HandOver(IntakeBatch& batch, bool wait);
    // A System event from the program itself; `text` is already program text
    // (UTF-8), so it skips the code-page round trip that would spoil it in a
    // non-UTF-8 locale.
    int Report(uint32_t severity, std::string_view text);

    // Slice of the queue from `start`; keeps the queue lock in `out` on success.
    int ReadSlice(size_t start, platform::Blocking blocking, QueueSlice& out);
    // The reader protocol: restarts at 0 when the queue was drained since the
    // reader's last turn (checked under the same lock hold), then reads a slice
    // from the reader's position and advances it by the slice's size.
    int ReadNext(ReaderState& reader, platform::Blocking blocking, QueueSlice& out);
    // Takes the whole queue and raises the generation (event database only).
    int Drain(std::vector<EventPtr>& out, platform::Blocking blocking = platform::Blocking::No);
    // Drains only when the queue holds more than `limit` records, deciding and
    // taking under one lock hold; kNothingToRead otherwise.
    int DrainIfMoreThan(size_t limit, platform::Blocking blocking, std::vector<EventPtr>& out);

    // The drainer (the event database) takes the queue once it holds more
    // than `limit` records. While one is set, `wake` is called (on the
    // mover's thread, without any lock of the core held) when a move leaves
    // the queue over the limit, and the intake stops parsing once what waits
    // for the drainer is well past the limit and large, so that a writer
    // slower than the intake holds the flood back in the socket buffers
    // rather than in parsed records. Cleared before the final drain.
    void SetDrainer(size_t limit, std::function<void()> wake);
    void ClearDrainer();
    void SetBounds(const IntakeBounds& bounds);
    // The drainer frees what it took while it writes it; telling the intake
    // so keeps those records inside the bound on parsed bytes, which would
    // otherwise let a second backlog of that size build up beside a batch
    // still being written. A drain forgets what the previous one left untold.
    void Freed(size_t bytes);
    // What a record counts for in those bounds.
    static size_t Footprint(const EventRecord& e) { return sizeof(EventRecord) + e.TextBytes(); }
    IntakeBacklog Backlog();

    // A reader that must not miss records (the relay) can ask to be called
    // just before a drain takes the queue: on the drainer's thread, with the
    // queue lock held, so it can read what it has not read yet. The call must
    // not wait for anything that waits for the queue lock.
    using DrainObserver = std::function<void()>;
    uint64_t AddDrainObserver(DrainObserver observer);
    // After this returns the observer is not running and will not run again.
    void RemoveDrainObserver(uint64_t id);
    // The reader state of a reader that wants only what arrives from now on.
    ReaderState Tail();

    // Moves the intake buffer to the queue now instead of at the mover's next turn.
    void MoveNow();
    // Waits until every submitted line has been parsed and then moves the
    // intake buffer, so a final drain at shutdown sees everything submitted so far.
    bool Settle(unsigned timeoutMs);

    // Stops intake and the mover and frees every record still held; called by
    // the destructor too.
    void Shutdown();

    bool Running() const { return running_.load(std::memory_order_acquire); }
    uint32_t Generation() const { return generation_.load(std::memory_order_acquire); }
    uint64_t MessageCounter() const { return messageCounter_.load(std::memory_order_relaxed); }
    // Tells one numbering from another: sequence numbers start again at 1
    // with every event core, that is with every run of the program.
    uint64_t RunId() const { return runId_; }
    // The number of the newest record a drain has taken (0 before the first):
    // every record numbered up to it has left the queue.
    uint64_t DrainedThrough() const { return drainedThrough_.load(std::memory_order_acquire); }
    uint32_t ActiveIntake() const { return activeIntake_.load(std::memory_order_relaxed); }
    size_t QueueCount();
    platform::LockStats& Locks() { return counters_.locks; }

private:
    using Pending = IntakeBatch;
    void IntakeWorker();
    void MoverLoop();
    bool MoveOnce(bool retryUntilStopped);
    int Enqueue(Pending&& pending, bool wait);
    bool RoomForHandOver(size_t lines, size_t bytes) const;
    bool DrainerBehind() const;
    void Forget(size_t records, size_t bytes);  // records that left the undrained count
    void Recycle(std::vector<Pending>& done);
    // `place` (the line's, from 1) is the record's sequence until the
    // worker numbers it.
    EventPtr Parse(const Pending& p, const Pending::Entry& e, char* bytes, uint64_t place,
                   const platform::SystemTime& now) const;
    template <typename Pred>
    int DrainWhen(Pred shouldDrain, platform::Blocking blocking, std::vector<EventPtr>& out);

    CoreCounters& counters_;
    std::atomic<bool> running_{true};
    std::atomic<uint64_t> messageCounter_{0};
    std::atomic<uint32_t> activeIntake_{0};
    std::atomic<uint32_t> generation_{0};
    const uint64_t runId_;
    std::atomic<uint64_t> drainedThrough_{0};  // written under the queue lock

    // Handover from producers to intake workers: held only for a push or a pop.
    std::mutex pendingMutex_;
    std::condition_variable pendingCv_;
    std::condition_variable roomCv_;  // a worker took lines, or the intake is stopping
    std::deque<Pending> pending_;
    std::vector<Pending> spares_;  // emptied batches whose buffers producers reuse
    IntakeBounds bounds_;          // under pendingMutex_ and drainerMutex_ both
    size_t pendingBytes_ = 0;
    size_t pendingLines_ = 0;
    bool stopWorkers_ = false;

    // Records parsed and not yet taken by the drainer, and their bytes;
    // counted so the intake can wait for a slow drainer without a queue lock.
    std::atomic<size_t> undrainedRecords_{0};
    std::atomic<size_t> undrainedBytes_{0};
    std::atomic<size_t> unfreedBytes_{0};  // drained, not yet freed by the drainer
    std::mutex drainerMutex_;  // guards the drainer's settings and orders its wake-ups
    std::condition_variable drainedCv_;
    bool hasDrainer_ = false;
    size_t drainLimit_ = 0;
    std::function<void()> wakeDrainer_;

    platform::CriticalSection intakeLock_;
    std::vector<EventPtr> intake_;
    size_t intakeBytes_ = 0;

    platform::CriticalSection queueLock_;
    std::vector<EventPtr> queue_;
    size_t queueBytes_ = 0;
    std::vector<std::pair<uint64_t, DrainObserver>> drainObservers_;  // under the queue lock
    uint64_t nextObserverId_ = 1;

    platform::ManualResetEvent stopMover_;
    std::mutex moveMutex_;  // one mover at a time (thread or MoveNow)
    std::vector<platform::Thread> workers_;
    platform::Thread mover_;
    std::once_flag shutdownOnce_;
};

}  // namespace qm::core
