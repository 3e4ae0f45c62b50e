#pragma once
// The event database (module id 3, section mod_dbase): a worker that drains
// the processing queue in batches into time-stamped log files, keeps what is
// left at shutdown in the temporary buffer file, and reads that file back as
// Archive events at the next start.
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/event_record.h"
#include "core/service_worker.h"
#include "core/table_module.h"
#include "processing/dbase/dbase_settings.h"
#include "processing/dbase/line_backlog.h"
#include "processing/dbase/log_rotation.h"

namespace qm::processing {

class DbaseModule : public core::TableModule<DbaseCommon, LogTarget> {
public:
    explicit DbaseModule(core::CoreContext& core);
    ~DbaseModule() override;
    // Starts the worker with a pending load of the buffer file; a second start does nothing.
    bool Start(platform::Blocking blocking) override;
    // Ends the worker after a final flush of the whole queue into the buffer file.
    bool Stop(platform::Blocking blocking) override;

    uint32_t ErrorCount() const { return errors_.load(); }
    // Wakes the worker now instead of at its next period.
    void Wake() { worker_.Wake(); }
    // The wall clock (seconds since 1970 UTC) the worker names files by and
    // ages them against; the system's unless a test crosses midnight.
    using WallClock = std::function<int64_t()>;
    void SetClock(WallClock clock);

protected:
    void AfterLoad() override;

private:
    // The period between rounds, read under the module lock.
    uint32_t Period();
    // One pass: drain when the queue is over the limit (or, at the end,
    // whatever is there) and write it out.
    void Cycle(bool final);
    void LoadBufferFile();
    // Writes the batch's lines to every target, freeing each event once its
    // line is formed.
    void WriteTargets(std::vector<core::EventPtr>& batch, int64_t nowUnix);
    // What target `index` must know of the others to choose its first file.
    Neighbours NeighboursOf(size_t index);
    // Retention for the targets that wrote in this cycle.
    void DeleteOldFiles(const std::vector<size_t>& wrote, int64_t nowUnix);
    // The buffer file and what it may leave beside it: never a target's to delete or take up.
    std::set<std::string> BufferFileNames();
    void WriteBufferFile(std::string lines);
    std::filesystem::path BufferFilePath();
    void RecordMemorySnapshot();
    void FileError(const std::filesystem::path& path, int error, bool report);

    // Lines a target could not take yet, per record index, retried each cycle.
    std::vector<LineBacklog> unwritten_;
    // The file each target writes, per record index.
    std::vector<TargetLog> files_;
    WallClock clock_;
    uint64_t linesFormed_ = 0;  // the ordinal the next batch's first line gets
    std::string chunk_;  // the piece of lines being written
    // The limit this module last gave the event core as its drainer, which
    // then wakes it when the queue passes the limit instead of letting a
    // flood pile up until the next period.
    std::optional<size_t> drainerLimit_;

    std::atomic<bool> active_{true};
    std::atomic<bool> flushRequest_{false};
    std::atomic<bool> loadRequest_{false};
    // The buffer file could not be read: it must not be overwritten.
    bool bufferFileUnread_ = false;
    bool trimDue_ = false;  // batches were freed since memory was last given back
    uint64_t lastDrainMs_ = 0;
    std::atomic<uint32_t> errors_{0};
    core::ServiceWorker worker_{core_};
};

std::unique_ptr<core::Module> CreateDbaseModule(core::CoreContext& core);

}  // namespace qm::processing
