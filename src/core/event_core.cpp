#include "core/event_core.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <random>
#include <thread>

#include "core/line_scanner.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/udp_socket.h"

namespace qm::core {

using platform::Blocking;
using platform::GuardedLock;

namespace {
// Bounds on lines waiting for an intake worker: a flood beyond them is refused
// back to the producer (which counts its loss) instead of exhausting memory.
// Single lines (Submit, Report) meet only these; they never wait.
constexpr size_t kMaxPendingLines = 2'000'000;
constexpr size_t kMaxPendingBytes = size_t(512) << 20;
constexpr size_t kIntakeBatchLines = 256;
constexpr size_t kMaxSpareBatches = 8;
constexpr auto kDrainerPoll = std::chrono::milliseconds(200);

uint64_t NewRunId() {
    uint64_t id = platform::MonotonicNs();
    try {
        std::random_device random;
        id ^= (uint64_t{random()} << 32) ^ random();
    } catch (const std::exception&) {
        // No random source: the clock alone still differs between runs.
    }
    return id;
}

}  // namespace

EventCore::EventCore(CoreCounters& counters, unsigned intakeWorkers) : counters_(counters), runId_(NewRunId()) {
    // One core is left for the receivers and the writer that feed and drain the intake.
    if (intakeWorkers == 0) intakeWorkers = std::clamp(std::thread::hardware_concurrency(), 2u, 5u) - 1;
    workers_.reserve(intakeWorkers);
    for (unsigned i = 0; i < intakeWorkers; ++i)
        workers_.emplace_back(&counters_.threads, [this] { IntakeWorker(); });
    mover_ = platform::Thread(&counters_.threads, [this] { MoverLoop(); });
}

EventCore::~EventCore() { Shutdown(); }

int EventCore::Submit(uint32_t type, uint32_t severity, std::string_view bytes, const platform::SocketAddress& sender) {
    if (!Running() || bytes.empty() || bytes.data() == nullptr) return kRefused;
    Pending p(type, severity);
    p.Add(bytes, sender);
    return Enqueue(std::move(p), true);
}

int EventCore::HandOver(IntakeBatch& batch, bool wait) {
    if (!Running()) return kRefused;
    if (batch.empty()) return kOk;
    {
        std::unique_lock lock(pendingMutex_, std::defer_lock);
        if (wait) lock.lock();
        else if (!lock.try_lock()) return kCollision;
        if (!RoomForHandOver(batch.size(), batch.bytes.size())) {
            if (!wait) return kCollision;
            roomCv_.wait(lock, [&] { return stopWorkers_ || RoomForHandOver(batch.size(), batch.bytes.size()); });
        }
    }
    const int rc = Enqueue(std::move(batch), wait);
    // A batch that was taken was moved from; one that was not keeps its lines.
    if (rc != kOk) return rc;
    batch.clear();
    std::lock_guard lock(pendingMutex_);
    if (!spares_.empty()) {
        // An emptied buffer of the same producer's size: no fresh pages to fault in.
        batch.bytes.swap(spares_.back().bytes);
        batch.entries.swap(spares_.back().entries);
        spares_.pop_back();
    }
    return rc;
}

// Under pendingMutex_. An empty handover queue always takes a batch, however large.
bool EventCore::RoomForHandOver(size_t lines, size_t bytes) const {
    if (pendingLines_ == 0) return true;
    // A receive batch waits here while the workers are behind: enough lines
    // to keep them busy, few enough that a flood stays in the socket buffers.
    return pendingLines_ + lines <= bounds_.handOverLines && pendingBytes_ + bytes <= bounds_.handOverBytes;
}

// Under drainerMutex_.
bool EventCore::DrainerBehind() const {
    // Always a little past the drainer's limit, so that it is reached; beyond
    // that, what a mover turn brings at a high rate, so the drainer's pace
    // and not the heap holds a flood back.
    return hasDrainer_ && undrainedRecords_.load(std::memory_order_relaxed) > drainLimit_ + bounds_.drainHeadroomRecords &&
           undrainedBytes_.load(std::memory_order_relaxed) + unfreedBytes_.load(std::memory_order_relaxed) >
               bounds_.undrainedBytes;
}

void EventCore::SetBounds(const IntakeBounds& bounds) {
    {
        std::scoped_lock lock(pendingMutex_, drainerMutex_);
        bounds_ = bounds;
    }
    roomCv_.notify_all();
    drainedCv_.notify_all();
}

IntakeBacklog EventCore::Backlog() {
    IntakeBacklog b;
    {
        std::lock_guard lock(pendingMutex_);
        b.pendingLines = pendingLines_;
        b.pendingBytes = pendingBytes_;
    }
    b.undrainedRecords = undrainedRecords_.load(std::memory_order_relaxed);
    b.undrainedBytes = undrainedBytes_.load(std::memory_order_relaxed);
    b.unfreedBytes = unfreedBytes_.load(std::memory_order_relaxed);
    return b;
}

void EventCore::Freed(size_t bytes) {
    size_t held = unfreedBytes_.load(std::memory_order_relaxed);
    while (!unfreedBytes_.compare_exchange_weak(held, held - std::min(held, bytes), std::memory_order_relaxed)) {
    }
    drainedCv_.notify_all();
}

void EventCore::SetDrainer(size_t limit, std::function<void()> wake) {
    {
        std::lock_guard lock(drainerMutex_);
        hasDrainer_ = true;
        drainLimit_ = limit;
        wakeDrainer_ = std::move(wake);
    }
    drainedCv_.notify_all();
}

void EventCore::ClearDrainer() {
    {
        std::lock_guard lock(drainerMutex_);
        hasDrainer_ = false;
        wakeDrainer_ = nullptr;
    }
    drainedCv_.notify_all();
}

void EventCore::Recycle(std::vector<Pending>& done) {
    std::lock_guard lock(pendingMutex_);
    for (Pending& p : done) {
        if (spares_.size() >= kMaxSpareBatches) break;
        if (p.bytes.capacity() == 0) continue;
        p.clear();
        spares_.push_back(std::move(p));
    }
    done.clear();
}

int EventCore::Report(uint32_t severity, std::string_view text) {
    if (!Running() || text.empty()) return kRefused;
    Pending p(kEventSystem, severity);
    p.programText = true;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    p.Add(text, local);
    return Enqueue(std::move(p), true);
}

int EventCore::Enqueue(Pending&& pending, bool wait) {
    const size_t lines = pending.entries.size();
    bool wake = false;
    {
        std::unique_lock lock(pendingMutex_, std::defer_lock);
        if (wait) lock.lock();
        else if (!lock.try_lock()) return kCollision;
        if (stopWorkers_ || pendingLines_ + lines > kMaxPendingLines ||
            pendingBytes_ + pending.bytes.size() > kMaxPendingBytes)
            return kRefused;
        pendingBytes_ += pending.bytes.size();
        const size_t before = pendingLines_;
        pendingLines_ += lines;
        activeIntake_.fetch_add(static_cast<uint32_t>(lines), std::memory_order_relaxed);
        pending_.push_back(std::move(pending));
        // A worker is woken for the first lines and then once per batch's
        // worth, not for every handover: under a flood most wake-ups would
        // find a handful of lines.
        wake = before == 0 || before / kIntakeBatchLines != pendingLines_ / kIntakeBatchLines;
    }
    if (wake) pendingCv_.notify_one();
    return kOk;
}

EventPtr EventCore::Parse(const Pending& p, const Pending::Entry& e, char* bytes, uint64_t place,
                          const platform::SystemTime& now) const {
    auto record = std::make_unique<EventRecord>();
    record->time = now;
    record->type = p.type;
    record->rawLength = static_cast<uint32_t>(std::min<size_t>(e.length, UINT32_MAX));
    record->sequence = place;
    const std::string_view text(bytes, e.length);

    if (p.type == kEventSystem) {
        record->severity = p.severity;
        record->SetMessage(p.programText ? std::string(text) : platform::AnsiToUtf8(text));
        record->sender = "127.0.0.1";
        return record;
    }

    // A log file read back holds the program's own reports, whose text may
    // have a bar of its own before the suffix the file added.
    std::optional<ScannedLine> line =
        ScanLine(bytes, e.length, p.type == kEventArchive ? SuffixAt::WrittenSuffix : SuffixAt::FirstBar);
    if (!line) return nullptr;
    record->severity = line->severity;
    record->facility = line->facility;
    // One charset for the whole line, so a line in a single-byte charset is
    // never read half as UTF-8; the program's own text already is UTF-8.
    const std::string_view suffixSender = line->relayed && line->suffix.hasSender ? line->suffix.sender : std::string_view();
    const platform::TextCharset charset =
        p.programText ? platform::kUtf8Text : platform::ChooseCharset({line->raw, suffixSender});
    record->charset = charset;
    // The message is the tail of the raw text, and the part before it ends
    // with '>', so converting the raw text once gives both, and the record
    // keeps the message as where it begins in that one text.
    // A received line chosen as UTF-8 was found valid just now: it is taken
    // as it is rather than checked a second time on the way in.
    const std::string_view head = line->raw.substr(0, line->raw.size() - line->message.size());
    if (!p.programText && charset == platform::kUtf8Text) {
        record->SetRaw(std::string(line->raw), head.size());
    } else {
        std::string raw = platform::DecodeWith(line->raw, charset);
        const size_t headLength =
            line->message.empty() ? raw.size() : charset == platform::kUtf8Text ? head.size() : platform::DecodeWith(head, charset).size();
        record->SetRaw(std::move(raw), headLength);
    }
    record->ReadHeader();
    record->sender = e.sender.Text();
    if (line->relayed) {
        record->relayed = true;
        const RelaySuffix& s = line->suffix;
        if (s.hasSender) record->sender = platform::DecodeWith(s.sender, charset);
        if (s.hasTime) {
            // The day of week stays the intake's: the suffix does not carry one.
            record->time.day = static_cast<uint16_t>(s.day);
            record->time.month = static_cast<uint16_t>(s.month);
            record->time.year = static_cast<uint16_t>(s.year);
            record->time.hour = static_cast<uint16_t>(s.hour);
            record->time.minute = static_cast<uint16_t>(s.minute);
            record->time.second = static_cast<uint16_t>(s.second);
            record->time.milliseconds = static_cast<uint16_t>(s.millisecond);
        }
    }
    return record;
}

void EventCore::IntakeWorker() {
    // A worker takes what is waiting in one go and appends it under one intake
    // lock hold, so a burst costs one lock round per batch, not per line.
    // Workers run at the receivers' priority: a receiver that outruns them
    // waits for them, so a lower priority would only leave the flood
    // longer in the socket buffer, where it overflows.
    std::vector<Pending> batch;
    std::vector<EventPtr> parsed;
    for (;;) {
        {
            // A drainer far behind is waited for here, before more lines are
            // parsed: the lines wait where they are, and the receivers behind
            // them stop reading their sockets.
            std::unique_lock lock(drainerMutex_);
            while (Running() && DrainerBehind()) drainedCv_.wait_for(lock, kDrainerPoll);
        }
        size_t lines = 0;
        {
            std::unique_lock lock(pendingMutex_);
            pendingCv_.wait(lock, [this] { return stopWorkers_ || !pending_.empty(); });
            // A few lines are worth a short wait for more: the latency is
            // nothing next to the mover's period, the saved wake-ups are many.
            pendingCv_.wait_for(lock, std::chrono::milliseconds(2),
                                [this] { return stopWorkers_ || pendingLines_ >= kIntakeBatchLines; });
            if (pending_.empty()) return;  // stopping and nothing left
            while (!pending_.empty() && lines < kIntakeBatchLines) {
                pendingBytes_ -= pending_.front().bytes.size();
                pendingLines_ -= pending_.front().entries.size();
                lines += pending_.front().entries.size();
                batch.push_back(std::move(pending_.front()));
                pending_.pop_front();
            }
        }
        roomCv_.notify_all();
        // One clock reading per batch: its lines arrived within the same moment.
        const platform::SystemTime now = platform::LocalTimeNow();
        // A record first holds its line's place in the batch; it gets its
        // number when it joins the intake buffer.
        uint64_t place = 0;
        parsed.reserve(lines);
        size_t parsedBytes = 0;
        for (Pending& p : batch) {
            for (const Pending::Entry& e : p.entries) {
                if (EventPtr record = Parse(p, e, p.bytes.data() + e.offset, ++place, now)) {
                    parsedBytes += Footprint(*record);
                    parsed.push_back(std::move(record));
                }
            }
        }
        Recycle(batch);
        bool numbered = false;
        if (!parsed.empty()) {
            if (platform::AcquireRetrying(intakeLock_, counters_.locks, [this] { return Running(); })) {
                // Numbered under the intake lock, so the buffer and then the
                // queue hold records in the order of their numbers whichever
                // worker finished first: a reader that follows the numbers
                // (the JSON feed) never sees a lower one arrive after a higher.
                const uint64_t base = messageCounter_.fetch_add(lines, std::memory_order_relaxed);
                numbered = true;
                for (EventPtr& record : parsed) record->sequence += base;
                if (Running()) {
                    try {
                        intake_.insert(intake_.end(), std::make_move_iterator(parsed.begin()),
                                       std::make_move_iterator(parsed.end()));
                        intakeBytes_ += parsedBytes;
                        undrainedRecords_.fetch_add(parsed.size(), std::memory_order_relaxed);
                        undrainedBytes_.fetch_add(parsedBytes, std::memory_order_relaxed);
                    } catch (const std::bad_alloc&) {
                        // The records are freed below; the rest of the program goes on.
                    }
                }
                platform::Release(intakeLock_, counters_.locks);
            }
        }
        // Lines that gave no record (refused, or dropped while stopping) count as intakes too.
        if (!numbered) messageCounter_.fetch_add(lines, std::memory_order_relaxed);
        parsed.clear();
        activeIntake_.fetch_sub(static_cast<uint32_t>(lines), std::memory_order_release);
    }
}

bool EventCore::MoveOnce(bool retryUntilStopped) {
    std::lock_guard move(moveMutex_);
    std::vector<EventPtr> taken;
    size_t takenBytes = 0;
    {
        GuardedLock lock(intakeLock_, counters_.locks, Blocking::No);
        if (!lock) {
            if (!retryUntilStopped) return false;
            if (!platform::AcquireRetrying(intakeLock_, counters_.locks, [] { return true; })) return false;
            taken.swap(intake_);
            takenBytes = std::exchange(intakeBytes_, 0);
            platform::Release(intakeLock_, counters_.locks);
        } else {
            taken.swap(intake_);
            takenBytes = std::exchange(intakeBytes_, 0);
        }
    }
    if (taken.empty()) return true;

    const size_t takenCount = taken.size();
    if (!platform::AcquireRetrying(queueLock_, counters_.locks,
                                   [&] { return Running() || retryUntilStopped; })) {
        Forget(takenCount, takenBytes);
        return false;  // stopped: `taken` frees its records
    }
    size_t queued = 0;
    try {
        if (queue_.empty()) queue_.swap(taken);
        else queue_.insert(queue_.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
        queueBytes_ += takenBytes;
    } catch (const std::bad_alloc&) {
        Forget(takenCount, takenBytes);
    }
    queued = queue_.size();
    platform::Release(queueLock_, counters_.locks);

    std::lock_guard lock(drainerMutex_);
    if (hasDrainer_ && wakeDrainer_ && queued > drainLimit_) wakeDrainer_();
    return true;
}

void EventCore::Forget(size_t records, size_t bytes) {
    undrainedRecords_.fetch_sub(records, std::memory_order_relaxed);
    undrainedBytes_.fetch_sub(bytes, std::memory_order_relaxed);
    drainedCv_.notify_all();
}

void EventCore::MoverLoop() {
    while (Running()) {
        MoveOnce(false);
        if (stopMover_.Wait(std::chrono::milliseconds(kMoverPeriodMs))) break;
    }
}

void EventCore::MoveNow() {
    if (Running()) MoveOnce(true);
}

bool EventCore::Settle(unsigned timeoutMs) {
    const uint64_t deadline = platform::MonotonicMs() + timeoutMs;
    while (activeIntake_.load(std::memory_order_acquire) != 0) {
        if (platform::MonotonicMs() >= deadline) return false;
        platform::SleepMs(2);
    }
    MoveNow();
    return true;
}

int EventCore::ReadSlice(size_t start, Blocking blocking, QueueSlice& out) {
    out.Release();
    if (!Running()) return kRefused;
    GuardedLock lock(queueLock_, counters_.locks, blocking);
    if (!lock) return kCollision;
    if (start >= queue_.size()) return kNothingToRead;
    const size_t count = std::min(queue_.size() - start, kSliceMax);
    out.records_ = std::span<const EventPtr>(queue_.data() + start, count);
    out.lock_ = std::move(lock);
    return kOk;
}

int EventCore::ReadNext(ReaderState& reader, Blocking blocking, QueueSlice& out) {
    out.Release();
    if (!Running()) return kRefused;
    GuardedLock lock(queueLock_, counters_.locks, blocking);
    if (!lock) return kCollision;
    const uint32_t generation = generation_.load(std::memory_order_relaxed);
    if (generation != reader.generation) {
        reader.generation = generation;
        reader.position = 0;
    }
    if (reader.position >= queue_.size()) return kNothingToRead;
    const size_t count = std::min(queue_.size() - reader.position, kSliceMax);
    out.records_ = std::span<const EventPtr>(queue_.data() + reader.position, count);
    out.lock_ = std::move(lock);
    reader.position += count;
    return kOk;
}

int EventCore::Drain(std::vector<EventPtr>& out, Blocking blocking) {
    return DrainWhen([](size_t) { return true; }, blocking, out);
}

int EventCore::DrainIfMoreThan(size_t limit, Blocking blocking, std::vector<EventPtr>& out) {
    return DrainWhen([limit](size_t count) { return count > limit; }, blocking, out);
}

template <typename Pred>
int EventCore::DrainWhen(Pred shouldDrain, Blocking blocking, std::vector<EventPtr>& out) {
    out.clear();
    if (!Running()) return kRefused;
    GuardedLock lock(queueLock_, counters_.locks, blocking);
    if (!lock) return kCollision;
    if (!shouldDrain(queue_.size())) return kNothingToRead;
    for (auto& [id, observer] : drainObservers_) observer();
    if (!queue_.empty()) drainedThrough_.store(queue_.back()->sequence, std::memory_order_release);
    out.swap(queue_);
    generation_.fetch_add(1, std::memory_order_release);
    unfreedBytes_.store(queueBytes_, std::memory_order_relaxed);
    Forget(out.size(), std::exchange(queueBytes_, 0));
    return kOk;
}

uint64_t EventCore::AddDrainObserver(DrainObserver observer) {
    GuardedLock lock(queueLock_, counters_.locks, Blocking::Yes);
    drainObservers_.emplace_back(nextObserverId_, std::move(observer));
    return nextObserverId_++;
}

void EventCore::RemoveDrainObserver(uint64_t id) {
    GuardedLock lock(queueLock_, counters_.locks, Blocking::Yes);
    std::erase_if(drainObservers_, [id](const auto& entry) { return entry.first == id; });
}

ReaderState EventCore::Tail() {
    GuardedLock lock(queueLock_, counters_.locks, Blocking::Yes);
    return ReaderState{queue_.size(), generation_.load(std::memory_order_relaxed)};
}

size_t EventCore::QueueCount() {
    GuardedLock lock(queueLock_, counters_.locks, Blocking::Yes);
    return queue_.size();
}

void EventCore::Shutdown() {
    std::call_once(shutdownOnce_, [this] {
        running_.store(false, std::memory_order_release);
        {
            std::lock_guard lock(pendingMutex_);
            stopWorkers_ = true;
        }
        pendingCv_.notify_all();
        roomCv_.notify_all();
        {
            std::lock_guard lock(drainerMutex_);
        }
        drainedCv_.notify_all();
        for (platform::Thread& w : workers_) w.Join();
        workers_.clear();
        stopMover_.Set();
        mover_.Join();
        // Whatever is left belongs to nobody now; take both locks so no reader
        // still holding a slice sees its records freed underneath it.
        {
            GuardedLock lock(intakeLock_, counters_.locks, Blocking::Yes);
            intake_.clear();
            intake_.shrink_to_fit();
        }
        {
            GuardedLock lock(queueLock_, counters_.locks, Blocking::Yes);
            queue_.clear();
            queue_.shrink_to_fit();
        }
    });
}

}  // namespace qm::core
