#include "processing/dbase/dbase_module.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "core/core_context.h"
#include "core/line_scanner.h"
#include "core/operating_statistics.h"
#include "platform/file_io.h"
#include "platform/memory.h"
#include "platform/utf16.h"
#include "processing/dbase/line_backlog.h"
#include "processing/dbase/log_format.h"

namespace qm::processing {

using platform::Blocking;
using platform::GuardedLock;

namespace {
// Lines kept for a target that cannot be written; beyond this the oldest go,
// with a report, rather than the program's memory.
constexpr size_t kMaxUnwrittenBytes = size_t(64) << 20;
constexpr unsigned kFinalSettleMs = 10000;
constexpr size_t kChunkBytes = 128 * 1024;
constexpr size_t kLoadBatchLines = 256;
}  // namespace

std::unique_ptr<core::Module> CreateDbaseModule(core::CoreContext& core) { return std::make_unique<DbaseModule>(core); }

DbaseModule::DbaseModule(core::CoreContext& core) : TableModule(core, core::kModuleDbase, "mod_dbase", kDbaseLayout) {}

DbaseModule::~DbaseModule() { Stop(Blocking::Yes); }

bool DbaseModule::Start(Blocking) {
    if (worker_.Started()) return false;
    active_ = true;
    flushRequest_ = false;
    loadRequest_ = true;
    core::ServiceRounds rounds;
    rounds.firstPause = [this] { return Period(); };
    rounds.round = [this] {
        if (loadRequest_ && active_) {
            LoadBufferFile();
            loadRequest_ = false;
        } else {
            Cycle(false);
        }
        return Period();
    };
    rounds.finish = [this] {
        // A stop before the buffer file was read back would overwrite it
        // unread: read it now, so its events go out with this final flush.
        if (loadRequest_) {
            LoadBufferFile();
            loadRequest_ = false;
        }
        Cycle(true);
    };
    rounds.startedReport = core::str::kDbaseStarted;
    rounds.lowPriority = true;
    return worker_.Start(std::move(rounds));
}

bool DbaseModule::Stop(Blocking) {
    if (!worker_.Started()) return false;
    active_ = false;
    flushRequest_ = true;
    return worker_.Stop();
}

uint32_t DbaseModule::Period() {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    // The field's floor keeps a zero period, which would spin on the module
    // and queue locks, out of the settings.
    return settings_.common.timeout;
}

void DbaseModule::Cycle(bool final) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    core::EventCore* events = core_.events.get();
    if (!events) return;

    std::vector<core::EventPtr> batch;
    if (final) {
        // Whatever producers submitted before they stopped must be in the
        // queue before the last drain, and a busy queue lock is waited for.
        events->Settle(kFinalSettleMs);
        if (events->Drain(batch, Blocking::Yes) != core::kOk) return;
    } else if (events->DrainIfMoreThan(settings_.common.msgLimit, Blocking::No, batch) != core::kOk) {
        // A quiet moment after writing: give the freed batches back to the
        // system now, not mid-flood, where it would hold up the allocator.
        if (std::exchange(trimDue_, false)) platform::ReturnFreeMemory();
        return;
    }
    RecordMemorySnapshot();
    trimDue_ = trimDue_ || !batch.empty();

    if (!final) {
        if (!batch.empty()) WriteTargets(batch, platform::LocalTimeNow());
        return;
    }
    WriteTargets({}, platform::LocalTimeNow());  // a last try for earlier failures
    // Lines a target still could not take go to the buffer file, ahead of the
    // newer ones: once, when several targets missed the same lines, and in
    // the order they were formed.
    std::string lines = LineBacklog::Merge(unwritten_);
    for (LineBacklog& pending : unwritten_) pending.clear();
    for (const core::EventPtr& e : batch) {
        if (e->type & settings_.common.eventParam) AppendLogLine(lines, settings_.common.logFormat, *e);
    }
    batch.clear();
    WriteBufferFile(std::move(lines));
}

void DbaseModule::WriteTargets(const std::vector<core::EventPtr>& batch, const platform::SystemTime& now) {
    unwritten_.resize(settings_.records.size());
    const uint8_t mask = settings_.common.eventParam;
    const std::string& format = settings_.common.logFormat;
    const uint64_t batchFirst = linesFormed_;
    const uint64_t batchLines = static_cast<uint64_t>(
        std::count_if(batch.begin(), batch.end(), [mask](const core::EventPtr& e) { return e->type & mask; }));
    linesFormed_ += batchLines;
    for (size_t i = 0; i < settings_.records.size(); ++i) {
        const auto& slot = settings_.records[i];
        if (slot.deleted || !slot.record.enable) continue;
        LineBacklog& pending = unwritten_[i];
        if (pending.empty() && batchLines == 0) continue;
        const std::filesystem::path path = core_.paths.logFolder / LogFileName(slot.record.logNameFormat, now);

        // Lines are formed in pieces that stay in the processor's cache
        // while the kernel copies them; one large buffer would be formed
        // into memory and read back from it, at a multiple of the cost.
        chunk_.clear();  // a piece left from the previous target is not this one's
        platform::AppendFile file;
        int error = core_.paths.logFolder.empty() ? ENAMETOOLONG : file.Open(path);
        if (error == 0 && !pending.empty()) {
            error = file.Write(pending.Joined());
            if (error == 0) pending.clear();
        }
        size_t next = 0;
        uint64_t ordinal = batchFirst;     // of the next line formed
        uint64_t chunkFirst = batchFirst;  // of the first line in chunk_
        bool wrote = false;
        while (error == 0 && next < batch.size()) {
            chunk_.clear();
            chunkFirst = ordinal;
            for (; next < batch.size() && chunk_.size() < kChunkBytes; ++next) {
                if (!(batch[next]->type & mask)) continue;
                AppendLogLine(chunk_, format, *batch[next]);
                ++ordinal;
            }
            if (chunk_.empty()) break;
            error = file.Write(chunk_);
            if (error == 0) wrote = true;
        }
        if (error == 0) error = file.Close();
        if (error == 0) {
            if (wrote) core_.Report(core::Severity::Info, core::str::kDbaseSaved, path.string());
            continue;
        }
        // Whatever did not reach the file is kept for the next cycle: the
        // failed piece and the lines after it.
        FileError(path, error, true);
        pending.Append(chunkFirst, chunk_);
        chunk_.clear();
        for (; next < batch.size(); ++next) {
            if (batch[next]->type & mask) AppendLogLine(chunk_, format, *batch[next]);
        }
        pending.Append(ordinal, chunk_);
        chunk_.clear();
        if (const size_t dropped = pending.KeepNewest(kMaxUnwrittenBytes)) {
            std::fprintf(stderr, "mod_dbase: %zu bytes of log lines for %s dropped after repeated write errors\n",
                         dropped, path.string().c_str());
        }
    }
}

std::filesystem::path DbaseModule::BufferFilePath() {
    if (core_.paths.logFolder.empty()) return {};
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    const std::string name = settings_.common.lastLogFile;
    return core_.paths.logFolder / (IsPlainFileName(name) ? name : std::string(kDefaultLastLog));
}

void DbaseModule::WriteBufferFile(std::string lines) {
    std::filesystem::path path = BufferFilePath();
    if (path.empty()) return;
    if (bufferFileUnread_) {
        // The previous run's events are still in the buffer file; this run's
        // go beside it instead of over it, after those of any earlier run
        // that could not read it either (nothing reads that file back).
        path += ".next";
        std::fprintf(stderr, "mod_dbase: %s could not be read back; this run's remaining events are in %s\n",
                     BufferFilePath().string().c_str(), path.string().c_str());
    }
    const int error = bufferFileUnread_ ? platform::AppendToFile(path, lines) : platform::ReplaceFile(path, lines);
    if (error != 0) {
        FileError(path, error, false);
        std::fprintf(stderr, "mod_dbase: could not write %s (error %d): %zu bytes of events lost\n", path.string().c_str(),
                     error, lines.size());
    }
}

void DbaseModule::LoadBufferFile() {
    const std::filesystem::path path = BufferFilePath();
    if (path.empty()) return;
    core_.Report(core::Severity::Info, core::str::kDbaseLoading, path.string());
    std::string content;
    if (int error = platform::ReadWholeFile(path, content)) {
        FileError(path, error, true);
        bufferFileUnread_ = error != ENOENT;
        return;
    }
    bufferFileUnread_ = false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Lines go to the intake as the UTF-8 they are, not through the ANSI
    // code page, which may lack their characters.
    core::IntakeBatch lines(core::kEventArchive, core::kNoSeverity);
    lines.programText = true;
    const auto handOver = [&] {
        // A full intake is waited out rather than losing the archive.
        while (core_.events && lines.size() != 0 && core_.events->HandOver(lines, true) != core::kOk) {
            if (!core_.events->Running()) return false;
            platform::SleepMs(10);
        }
        return true;
    };
    bool stopped = false;
    size_t refused = 0;
    ForEachStoredLine(content, [&](const std::string& line) {
        if (line.empty()) return true;
        // The intake drops what it cannot parse without a word: an event that
        // had no raw text (its line is the bare suffix) or a stray line. Such
        // lines are counted here so the loss is told.
        std::string probe = line;
        if (!core::ScanLine(probe)) {
            ++refused;
            return true;
        }
        lines.Add(line, local);
        if (lines.size() >= kLoadBatchLines && !handOver()) {
            stopped = true;
            return false;
        }
        return true;
    });
    if (refused)
        std::fprintf(stderr, "mod_dbase: %zu lines of %s are no event lines and were not loaded\n", refused,
                     path.string().c_str());
    if (stopped || !handOver()) return;
    core_.Report(core::Severity::Info, core::str::kDbaseLoaded,
                 static_cast<uint32_t>(std::min<size_t>(content.size(), UINT32_MAX)));
}

void DbaseModule::RecordMemorySnapshot() {
    const core::MemorySnapshot now = core::TakeMemorySnapshot();
    core_.counters.memorySnapshots.Shift(now);
    // The save points, drawn beside the ten-second memory curve.
    core::PushMemoryPoint(core_, now);
}

void DbaseModule::FileError(const std::filesystem::path& path, int error, bool report) {
    errors_.fetch_add(1);
    if (report && active_) core_.Report(core::Severity::Error, core::str::kFileError, path.string(), error);
}

void DbaseModule::AfterLoad() {
    // Every database has somewhere to write: the default target when the section names none.
    if (settings_.records.size() == 0) settings_.records.Add(DefaultTarget());
    settings_.records[0].record.primary = true;
}

}  // namespace qm::processing
