#pragma once
// The backlog of one stream destination of the relay: the relay lines that
// are not yet surely delivered, oldest first, in a file beside the logs, so
// a receiver that is away for a while, or a restart of this program, loses
// none of them. The relay's worker appends; the destination's sender reads
// from any offset and releases what was delivered. A bound keeps the file
// small: past it the oldest lines go, and are counted.
//
// The file: a 16-byte header ("QMRELAYQ", then the offset of the first
// record as a little-endian u64), then records: the line's length and its
// CRC-32 (u32 little-endian each), then the line. Offsets given out are
// logical: they only grow, also when the file is rewritten without its
// delivered head. Beside it, <name>.pos holds the offset of the oldest
// record not yet delivered as decimal text. That file is replaced through a
// rename and may lag behind the backlog: after a crash a few lines are sent
// twice rather than lost. A record cut short by a crash in the middle of a
// write fails its length or checksum and is cut off at the next open, with
// anything after it.
//
// Thread-safe: each call takes the backlog's own lock, held only for file
// work (no network waits).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "platform/data_file.h"

namespace qm::transport {

class RelayBacklog {
public:
    RelayBacklog() = default;
    ~RelayBacklog() { Close(); }
    RelayBacklog(const RelayBacklog&) = delete;
    RelayBacklog& operator=(const RelayBacklog&) = delete;

    // Opens (or makes) `file` and its position file, keeping at most `bound`
    // bytes of records. 0 or errno.
    int Open(const std::filesystem::path& file, uint64_t bound);
    void SetBound(uint64_t bytes);
    // Appends the lines as records, in order. What does not fit the bound
    // pushes out the oldest records (the batch's own first lines when the
    // batch alone is larger); they are added to the drop count. 0 or errno,
    // and then none of the lines is kept.
    int Append(std::span<const std::string_view> lines);
    // Calls `each` with the lines from `from` (moved up to the oldest record
    // kept) on, as long as their records fit in `maxBytes`, and at least one.
    // Returns the offset after the last line given: `from` (or the oldest
    // kept) when there is nothing. `error` is the errno of a failed read.
    uint64_t Read(uint64_t from, size_t maxBytes, const std::function<void(std::string_view)>& each, int& error);
    // Everything before `offset` is delivered and goes; an empty backlog
    // leaves an empty file.
    void Release(uint64_t offset);
    // Writes the oldest kept offset to the position file when it moved. 0 or errno.
    int SavePosition();
    // Position saved, file flushed to the disk and closed.
    void Close();

    uint64_t Head() const;  // the oldest record kept
    uint64_t End() const;   // after the newest
    // Records dropped to the bound since the last call.
    uint64_t TakeDropped();
    // Records found waiting when the file was opened.
    uint64_t Recovered() const { return recovered_; }

    static constexpr size_t kHeaderSize = 16;
    static constexpr size_t kRecordHeaderSize = 8;
    // A length beyond this is damage, not a line.
    static constexpr uint32_t kMaxLine = 16u << 20;

private:
    uint64_t Physical(uint64_t logical) const { return logical - base_ + kHeaderSize; }
    // Checks the records from `from` on; the end moves to the first bad one.
    int Scan(uint64_t from, uint64_t& goodEnd, uint64_t& count) const;
    // Moves the head past the oldest records until `bytes` are gone.
    int DropOldest(uint64_t bytes);
    // A fresh file holding the records from the head on; the head is its base.
    int Rewrite();
    int WriteHeader(platform::DataFile& file, uint64_t base);

    mutable std::mutex mutex_;
    std::filesystem::path path_;
    std::filesystem::path positionPath_;
    platform::DataFile file_;
    uint64_t bound_ = 0;
    uint64_t base_ = 0;  // the logical offset of the first byte after the header
    uint64_t head_ = 0;
    uint64_t end_ = 0;
    uint64_t savedHead_ = UINT64_MAX;
    uint64_t dropped_ = 0;
    uint64_t recovered_ = 0;
};

// The CRC-32 (IEEE 802.3) of `bytes`, as zlib and gzip compute it.
uint32_t Crc32(std::string_view bytes);

}  // namespace qm::transport
