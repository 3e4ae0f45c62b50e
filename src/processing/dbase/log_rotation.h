#pragma once
// Rotation and retention of a log target's files. With rotation a target
// keeps writing one file, its name formed once when the file was started,
// until the file passes a size or local midnight passes; retention deletes
// the oldest of a target's files beyond a count or an age. A target's files
// are those whose names its name format can give, every conversion read as
// a run of digits. Nothing here reads a clock: every call is given the time
// it decides for. Owned and used by the database's worker thread only.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"

namespace qm::processing {

// RotateSize counts megabytes of 1,048,576 bytes.
constexpr uint64_t kRotateUnitBytes = uint64_t(1) << 20;

// The names a name format gives: its text as it is, each %u, %d or %i (plain
// or zero-padded) a run of at least as many digits as it prints. A new file
// whose name is taken already gets "-N" before its extension
// ("log_06122026.log", then "log_06122026-1.log"), so those names are the
// format's too. A format with any other conversion (%x, a space-padded
// width) matches no name, so retention never deletes by it.
class LogNamePattern {
public:
    explicit LogNamePattern(std::string_view nameFormat);
    bool Matches(std::string_view fileName) const;
    // `name`, formed by the format, with the number `n` put in.
    std::string Numbered(std::string_view name, unsigned n) const;

private:
    struct Piece {
        std::string text;      // literal text, or empty for a run of digits
        size_t minDigits = 0;  // a run: the fewest digits it has
    };
    static bool MatchPieces(std::span<const Piece> pieces, std::string_view name);
    std::vector<Piece> plain_;
    std::vector<Piece> numbered_;
    std::string tail_;  // what follows the number in a numbered name: the extension
    bool usable_ = true;
};

struct RotationRule {
    uint64_t maxBytes = 0;  // a new file once the current one holds this much; 0: no limit
    bool midnight = false;  // a new file on each new local day
    bool On() const { return maxBytes != 0 || midnight; }
};

struct RetentionRule {
    uint32_t keepFiles = 0;  // 0: any number
    uint32_t keepDays = 0;   // 0: any age
    bool On() const { return keepFiles != 0 || keepDays != 0; }
    bool operator==(const RetentionRule&) const = default;
};

// The local date as one number (20261206), which midnight rotation compares.
uint32_t LocalDay(const platform::SystemTime& t);

// The file a rotating target writes.
struct CurrentLog {
    std::string name;
    uint64_t bytes = 0;
    uint32_t day = 0;  // the LocalDay it was started (for one taken up again: today)
};

// Whether lines written at `now` belong in a new file.
bool NeedsNewFile(const RotationRule& rule, const CurrentLog& log, const platform::SystemTime& now);

// After a restart: the file to take up again. It is the newest by last write
// of the files matching `own` and no other target's pattern (so a target
// never continues another's file) and not named in `never`; it is taken
// when it is under the size limit and, with midnight rotation, was last
// written today. Otherwise nothing, and the target starts a new file.
std::optional<CurrentLog> Resumable(std::span<const platform::FolderFile> files, const LogNamePattern& own,
                                    std::span<const LogNamePattern> others, const std::set<std::string>& never,
                                    const RotationRule& rule, const platform::SystemTime& now);

// Retention: which of a target's files to delete, oldest first. Files rank
// by last write, newest first; a file is due when it ranks beyond
// `keepFiles` or was last written more than `keepDays` times 24 hours before
// `nowUnix`. A file named in `keep` is never due but still takes its rank.
// Age is the last write, not a time in the name: a file started long ago
// may hold lines of today, and a name need not hold a time at all.
std::vector<std::string> ExpiredFiles(std::vector<platform::FolderFile> files, const RetentionRule& rule,
                                      int64_t nowUnix, const std::set<std::string>& keep);

// What a target's first choice of file in a run must know of the others:
// their name formats, and the files none may take up (the buffer file and
// the files the others write).
struct Neighbours {
    std::vector<std::string> formats;
    std::set<std::string> names;
};

// One target's file as the worker writes it.
class TargetLog {
public:
    // Opens the file lines written at `now` go to. Without rotation that is
    // the name the format gives at `now`, as always. With it, the current
    // file, or after a restart the one Resumable finds, until NeedsNewFile;
    // then a new one. A changed format or rotation switched on or off starts
    // the choice over. 0 or errno; Path() names the file opened or tried.
    int Open(const std::filesystem::path& folder, std::string_view nameFormat, const RotationRule& rule,
             const platform::SystemTime& now, platform::AppendFile& file,
             const std::function<Neighbours()>& neighbours);
    // Between the pieces of one write: a file that passed its size is
    // closed and a new one opened in its place. 0 or errno.
    int RollIfFull(const std::filesystem::path& folder, const platform::SystemTime& now, platform::AppendFile& file);
    // True when the file's pages should be released from the cache now
    // (AppendFile::ReleaseCache): every kReleaseCacheBytes written. A few
    // lines now and then are left alone, so that the system still gathers
    // them into one disk write; a flood's would otherwise fill the page
    // cache with dirty pages until the system stalls the writer to flush
    // gigabytes at once.
    bool Wrote(size_t bytes) {
        current_.bytes += bytes;
        cachedBytes_ += bytes;
        if (cachedBytes_ < kReleaseCacheBytes) return false;
        cachedBytes_ = 0;
        return true;
    }
    static constexpr size_t kReleaseCacheBytes = size_t(16) << 20;

    const std::filesystem::path& Path() const { return path_; }
    // The file written last (empty before the first write).
    const std::string& Name() const { return current_.name; }

    // Retention reads the folder again only when it may find something new
    // to delete: the target started another file, its rule changed, or a
    // minute passed (files age, and a failed deletion is tried again). A
    // target under a flood writes many times a second.
    bool RetentionDue(const RetentionRule& rule, int64_t nowUnix) const {
        return current_.name != retainedAfter_ || !(rule == retainedWith_) || nowUnix - retainedAt_ >= kRetentionPeriod;
    }
    void Retained(const RetentionRule& rule, int64_t nowUnix) {
        retainedAfter_ = current_.name;
        retainedWith_ = rule;
        retainedAt_ = nowUnix;
    }

    // An error was reported and nothing has been written since: the next
    // errors are the same episode and are not reported again.
    bool writeFailing = false;
    bool deleteFailing = false;

private:
    int Start(const std::filesystem::path& folder, const platform::SystemTime& now, platform::AppendFile& file);

    std::string format_;
    RotationRule rule_;
    CurrentLog current_;
    size_t cachedBytes_ = 0;
    std::filesystem::path path_;
    static constexpr int64_t kRetentionPeriod = 60;
    std::string retainedAfter_;  // the file written when retention last ran
    RetentionRule retainedWith_;
    int64_t retainedAt_ = INT64_MIN / 2;
};

}  // namespace qm::processing
