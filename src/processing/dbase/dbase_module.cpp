#include "processing/dbase/dbase_module.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <utility>

#include "core/core_context.h"
#include "core/line_scanner.h"
#include "core/operating_statistics.h"
#include "platform/clock.h"
#include "platform/data_file.h"
#include "platform/file_io.h"
#include "platform/memory.h"
#include "platform/utf16.h"
#include "processing/dbase/line_backlog.h"
#include "processing/dbase/log_format.h"
#include "processing/dbase/log_rotation.h"

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
constexpr uint64_t kTrimAfterQuietMs = 2000;
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
        // The intake must not wait for a drainer that is about to leave; the
        // final drain takes whatever it still parses.
        if (core_.events) core_.events->ClearDrainer();
        drainerLimit_.reset();
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
    } else {
        const size_t limit = settings_.common.msgLimit;
        if (drainerLimit_ != limit) {
            events->SetDrainer(limit, [this] { worker_.Wake(); });
            drainerLimit_ = limit;
        }
        if (events->DrainIfMoreThan(limit, Blocking::No, batch) != core::kOk) {
            // A quiet spell after writing: give the freed batches back to the
            // system now. Not between the batches of a flood, where the
            // memory handed back would be faulted in again at once.
            if (trimDue_ && platform::MonotonicMs() - lastDrainMs_ >= kTrimAfterQuietMs) {
                trimDue_ = false;
                platform::ReturnFreeMemory();
            }
            return;
        }
        lastDrainMs_ = platform::MonotonicMs();
    }
    RecordMemorySnapshot();
    trimDue_ = trimDue_ || !batch.empty();

    const int64_t now = clock_ ? clock_() : int64_t(platform::UnixSecondsNow());
    if (!final) {
        if (!batch.empty()) WriteTargets(batch, now);
        return;
    }
    std::vector<core::EventPtr> none;
    WriteTargets(none, now);  // a last try for earlier failures
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

namespace {
// One target's file during a write.
struct OpenTarget {
    size_t index;
    platform::AppendFile file;
    int error = 0;
    bool wrote = false;  // into the file open now
};

RotationRule RotationOf(const LogTarget& target) {
    return {uint64_t(target.rotateSize) * kRotateUnitBytes, target.rotateMidnight != 0};
}
RetentionRule RetentionOf(const LogTarget& target) { return {target.keepFiles, target.keepDays}; }
}  // namespace

void DbaseModule::SetClock(WallClock clock) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    clock_ = std::move(clock);
}

void DbaseModule::WriteTargets(std::vector<core::EventPtr>& batch, int64_t nowUnix) {
    const platform::SystemTime now = platform::ToLocalTime(nowUnix);
    const std::filesystem::path& folder = core_.paths.logFolder;
    unwritten_.resize(settings_.records.size());
    files_.resize(settings_.records.size());
    const uint8_t mask = settings_.common.eventParam;
    const std::string& format = settings_.common.logFormat;
    const uint64_t batchFirst = linesFormed_;
    const uint64_t batchLines = static_cast<uint64_t>(
        std::count_if(batch.begin(), batch.end(), [mask](const core::EventPtr& e) { return e->type & mask; }));
    linesFormed_ += batchLines;

    std::vector<std::unique_ptr<OpenTarget>> targets;
    for (size_t i = 0; i < settings_.records.size(); ++i) {
        const auto& slot = settings_.records[i];
        if (slot.deleted || !slot.record.enable) continue;
        LineBacklog& pending = unwritten_[i];
        if (pending.empty() && batchLines == 0) continue;
        auto t = std::make_unique<OpenTarget>();
        t->index = i;
        TargetLog& log = files_[i];
        t->error = folder.empty() ? ENAMETOOLONG
                                  : log.Open(folder, slot.record.logNameFormat, RotationOf(slot.record), now, t->file,
                                             [this, i] { return NeighboursOf(i); });
        if (t->error == 0 && !pending.empty()) {
            const std::string lines = pending.Joined();
            t->error = t->file.Write(lines);
            if (t->error == 0) {
                if (log.Wrote(lines.size())) t->file.ReleaseCache();
                t->wrote = true;
                pending.clear();
            }
        }
        targets.push_back(std::move(t));
    }
    // A target whose file passed its size moves on between two pieces, so
    // no line is split and the files, read in turn, hold the lines in order.
    const auto rollIfFull = [&](OpenTarget& t) {
        TargetLog& log = files_[t.index];
        const std::filesystem::path before = log.Path();
        const int error = log.RollIfFull(folder, now, t.file);
        if (log.Path() != before) {
            if (t.wrote && active_) core_.Report(core::Severity::Info, core::str::kDbaseSaved, before.string());
            t.wrote = false;
        }
        return error;
    };

    // Every target takes the same lines (the format and the type mask are
    // common), so each piece is formed once and written to all of them.
    // Pieces stay in the processor's cache while the kernel copies them, and
    // each event is freed as soon as its line is formed, so a large batch
    // does not stay in memory whole until its last line is written.
    size_t next = 0;
    uint64_t ordinal = batchFirst;  // of the next line formed
    while (!targets.empty() && next < batch.size()) {
        chunk_.clear();
        const uint64_t chunkFirst = ordinal;
        size_t freed = 0;
        for (; next < batch.size() && chunk_.size() < kChunkBytes; ++next) {
            if (batch[next]->type & mask) {
                AppendLogLine(chunk_, format, *batch[next]);
                ++ordinal;
            }
            freed += core::EventCore::Footprint(*batch[next]);
            batch[next].reset();
        }
        if (core_.events) core_.events->Freed(freed);
        if (chunk_.empty()) continue;
        for (const auto& t : targets) {
            if (t->error == 0) t->error = rollIfFull(*t);
            if (t->error == 0) {
                t->error = t->file.Write(chunk_);
                if (t->error == 0) {
                    if (files_[t->index].Wrote(chunk_.size())) t->file.ReleaseCache();
                    t->wrote = true;
                    continue;
                }
            }
            // Whatever did not reach the file is kept for the next cycle.
            unwritten_[t->index].Append(chunkFirst, chunk_);
        }
    }
    chunk_.clear();

    std::vector<size_t> tried;
    for (const auto& t : targets) {
        TargetLog& log = files_[t->index];
        tried.push_back(t->index);
        if (t->error == 0) t->error = t->file.Close();
        if (t->error == 0) {
            log.writeFailing = false;
            if (t->wrote && active_) core_.Report(core::Severity::Info, core::str::kDbaseSaved, log.Path().string());
            continue;
        }
        // A full disk fails every batch until space is made: told once, at
        // the first, while the lines wait. (At shutdown nothing is told.)
        FileError(log.Path(), t->error, !log.writeFailing);
        if (active_) log.writeFailing = true;
        LineBacklog& pending = unwritten_[t->index];
        if (const size_t dropped = pending.KeepNewest(kMaxUnwrittenBytes)) {
            std::fprintf(stderr, "mod_dbase: %zu bytes of log lines for %s dropped after repeated write errors\n",
                         dropped, log.Path().string().c_str());
        }
    }
    // Also after a failed write: deleting old files is what frees a full disk.
    if (active_ && !folder.empty()) DeleteOldFiles(tried, nowUnix);
}

Neighbours DbaseModule::NeighboursOf(size_t index) {
    Neighbours around;
    around.names = BufferFileNames();
    for (size_t j = 0; j < settings_.records.size(); ++j) {
        if (j == index || settings_.records[j].deleted) continue;
        around.formats.push_back(settings_.records[j].record.logNameFormat);
        if (j < files_.size() && !files_[j].Name().empty()) around.names.insert(files_[j].Name());
    }
    return around;
}

std::set<std::string> DbaseModule::BufferFileNames() {
    const std::string buffer = BufferFilePath().filename().string();
    return {buffer, buffer + ".next"};
}

void DbaseModule::DeleteOldFiles(const std::vector<size_t>& targets, int64_t nowUnix) {
    std::vector<size_t> pruned;
    for (const size_t i : targets) {
        const RetentionRule rule = RetentionOf(settings_.records[i].record);
        if (rule.On() && files_[i].RetentionDue(rule, nowUnix)) pruned.push_back(i);
    }
    std::vector<platform::FolderFile> files;
    if (pruned.empty() || platform::ListFolderFiles(core_.paths.logFolder, files) != 0) return;
    // Never deleted: the buffer file and any target's file being written.
    std::set<std::string> keep = BufferFileNames();
    for (const TargetLog& log : files_) {
        if (!log.Name().empty()) keep.insert(log.Name());
    }
    for (const size_t i : pruned) {
        const LogTarget& target = settings_.records[i].record;
        const LogNamePattern pattern(UsableLogNameFormat(target.logNameFormat));
        std::vector<platform::FolderFile> own;
        std::copy_if(files.begin(), files.end(), std::back_inserter(own),
                     [&](const platform::FolderFile& f) { return pattern.Matches(f.name); });
        bool failed = false;
        for (const std::string& name : ExpiredFiles(std::move(own), RetentionOf(target), nowUnix, keep)) {
            const std::filesystem::path path = core_.paths.logFolder / name;
            if (const int error = platform::RemoveFile(path)) {
                if (!failed && !files_[i].deleteFailing)
                    core_.Report(core::Severity::Warning, core::str::kDbaseOldLogNotDeleted, path.string(), error);
                failed = true;
                continue;
            }
            core_.Report(core::Severity::Info, core::str::kDbaseOldLogDeleted, path.string());
            // A later target whose pattern matches it too must not count it.
            std::erase_if(files, [&](const platform::FolderFile& f) { return f.name == name; });
        }
        files_[i].deleteFailing = failed;
        files_[i].Retained(RetentionOf(target), nowUnix);
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
