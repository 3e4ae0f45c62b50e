#include "processing/dbase/log_rotation.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <tuple>

#include "processing/dbase/log_format.h"

namespace qm::processing {

namespace {
// Numbered names tried for one new file before giving up.
constexpr unsigned kMaxNumberedNames = 10000;
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kSecondsPerDay = 86400;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int64_t FloorSeconds(int64_t ns) { return ns / kNsPerSecond - (ns % kNsPerSecond < 0 ? 1 : 0); }
}  // namespace

LogNamePattern::LogNamePattern(std::string_view format) {
    std::string literal;
    const auto flush = [&] {
        if (!literal.empty()) plain_.push_back({std::move(literal), 0});
        literal.clear();
    };
    for (size_t i = 0; i < format.size();) {
        const char c = format[i++];
        if (c != '%') {
            literal += c;
            continue;
        }
        if (i < format.size() && format[i] == '%') {
            literal += '%';
            ++i;
            continue;
        }
        bool zero = false;
        for (; i < format.size() && std::strchr("-+ #0", format[i]); ++i) {
            if (format[i] == '0') zero = true;
            else usable_ = false;  // signs, blanks and left alignment
        }
        size_t width = 0, precision = 0;
        bool hasPrecision = false;
        for (; i < format.size() && IsDigit(format[i]); ++i) width = std::min<size_t>(width * 10 + size_t(format[i] - '0'), 9999);
        if (i < format.size() && format[i] == '.') {
            hasPrecision = true;
            for (++i; i < format.size() && IsDigit(format[i]); ++i)
                precision = std::min<size_t>(precision * 10 + size_t(format[i] - '0'), 9999);
        }
        for (std::string_view length : {"I64", "I32", "ll", "l", "h", "w", "z"}) {
            if (format.substr(i, length.size()) == length) {
                i += length.size();
                break;
            }
        }
        const char letter = i < format.size() ? format[i++] : '\0';
        // A width pads with blanks unless zero-padding fills it without a precision.
        if (letter == '\0' || !std::strchr("udi", letter) || (width > 1 && (!zero || hasPrecision) && width > precision))
            usable_ = false;
        flush();
        const size_t least = hasPrecision ? precision : (zero ? std::max<size_t>(width, 1) : 1);
        // Runs side by side are one run: the name cannot tell where one ends.
        if (!plain_.empty() && plain_.back().text.empty()) plain_.back().minDigits += least;
        else plain_.push_back({std::string(), least});
    }
    // The number goes before the extension: the last dot in the text after
    // the last conversion, or at the end when that text has none.
    size_t dot = std::string::npos;
    if (!literal.empty()) dot = literal.rfind('.');
    if (dot != std::string::npos) {
        tail_ = literal.substr(dot);
        literal.resize(dot);
    }
    flush();
    numbered_ = plain_;
    if (!tail_.empty()) plain_.push_back({tail_, 0});
    if (!numbered_.empty() && !numbered_.back().text.empty()) numbered_.back().text += '-';
    else numbered_.push_back({"-", 0});
    numbered_.push_back({std::string(), 1});
    if (!tail_.empty()) numbered_.push_back({tail_, 0});
}

bool LogNamePattern::MatchPieces(std::span<const Piece> pieces, std::string_view name) {
    // The positions in the name each piece can end at, piece by piece: no
    // backtracking, so a long name of digits costs no more than a short one.
    std::vector<char> at(name.size() + 1, 0), next(name.size() + 1, 0);
    at[0] = 1;
    for (const Piece& piece : pieces) {
        std::fill(next.begin(), next.end(), 0);
        bool any = false;
        for (size_t pos = 0; pos <= name.size(); ++pos) {
            if (!at[pos]) continue;
            if (!piece.text.empty()) {
                if (name.substr(pos, piece.text.size()) == piece.text) {
                    next[pos + piece.text.size()] = 1;
                    any = true;
                }
                continue;
            }
            size_t run = 0;
            while (pos + run < name.size() && IsDigit(name[pos + run])) ++run;
            for (size_t n = piece.minDigits; n <= run; ++n) {
                next[pos + n] = 1;
                any = true;
            }
        }
        if (!any) return false;
        at.swap(next);
    }
    return at[name.size()] != 0;
}

bool LogNamePattern::Matches(std::string_view fileName) const {
    return usable_ && (MatchPieces(plain_, fileName) || MatchPieces(numbered_, fileName));
}

std::string LogNamePattern::Numbered(std::string_view name, unsigned n) const {
    const size_t cut = name.ends_with(tail_) ? name.size() - tail_.size() : name.size();
    return std::string(name.substr(0, cut)) + "-" + std::to_string(n) + std::string(name.substr(cut));
}

uint32_t LocalDay(const platform::SystemTime& t) { return uint32_t(t.year) * 10000 + uint32_t(t.month) * 100 + t.day; }

bool NeedsNewFile(const RotationRule& rule, const CurrentLog& log, const platform::SystemTime& now) {
    return (rule.maxBytes != 0 && log.bytes >= rule.maxBytes) || (rule.midnight && log.day != LocalDay(now));
}

std::optional<CurrentLog> Resumable(std::span<const platform::FolderFile> files, const LogNamePattern& own,
                                    std::span<const LogNamePattern> others, const std::set<std::string>& never,
                                    const RotationRule& rule, const platform::SystemTime& now) {
    const platform::FolderFile* newest = nullptr;
    for (const platform::FolderFile& f : files) {
        if (never.contains(f.name) || !own.Matches(f.name)) continue;
        if (std::any_of(others.begin(), others.end(), [&](const LogNamePattern& p) { return p.Matches(f.name); })) continue;
        if (!newest || std::tie(f.modifiedNs, f.name) > std::tie(newest->modifiedNs, newest->name)) newest = &f;
    }
    if (!newest) return std::nullopt;
    if (rule.maxBytes != 0 && newest->size >= rule.maxBytes) return std::nullopt;
    if (rule.midnight && LocalDay(platform::ToLocalTime(FloorSeconds(newest->modifiedNs))) != LocalDay(now))
        return std::nullopt;
    return CurrentLog{newest->name, newest->size, LocalDay(now)};
}

std::vector<std::string> ExpiredFiles(std::vector<platform::FolderFile> files, const RetentionRule& rule,
                                      int64_t nowUnix, const std::set<std::string>& keep) {
    std::sort(files.begin(), files.end(), [](const platform::FolderFile& a, const platform::FolderFile& b) {
        return std::tie(a.modifiedNs, a.name) > std::tie(b.modifiedNs, b.name);
    });
    // A file last written before this second is too old.
    const int64_t cutoff = rule.keepDays != 0 ? nowUnix - int64_t(rule.keepDays) * kSecondsPerDay : INT64_MIN;
    std::vector<std::string> due;
    for (size_t rank = 0; rank < files.size(); ++rank) {
        const platform::FolderFile& f = files[rank];
        const bool beyond = rule.keepFiles != 0 && rank >= rule.keepFiles;
        if ((beyond || FloorSeconds(f.modifiedNs) < cutoff) && !keep.contains(f.name)) due.push_back(f.name);
    }
    std::reverse(due.begin(), due.end());
    return due;
}

int TargetLog::Open(const std::filesystem::path& folder, std::string_view nameFormat, const RotationRule& rule,
                    const platform::SystemTime& now, platform::AppendFile& file,
                    const std::function<Neighbours()>& neighbours) {
    const std::string format(UsableLogNameFormat(nameFormat));
    if (format != format_ || rule.On() != rule_.On()) current_ = {};
    format_ = format;
    rule_ = rule;
    if (!rule.On()) {
        current_ = {LogFileName(format_, now), 0, LocalDay(now)};
        path_ = folder / current_.name;
        return file.Open(path_);
    }
    if (current_.name.empty()) {
        std::vector<platform::FolderFile> files;
        if (platform::ListFolderFiles(folder, files) == 0) {
            const Neighbours around = neighbours();
            std::vector<LogNamePattern> others;
            for (const std::string& f : around.formats) others.emplace_back(UsableLogNameFormat(f));
            if (auto found = Resumable(files, LogNamePattern(format_), others, around.names, rule, now)) current_ = *found;
        }
    }
    if (current_.name.empty() || NeedsNewFile(rule, current_, now)) return Start(folder, now, file);
    path_ = folder / current_.name;
    return file.Open(path_, &current_.bytes);
}

int TargetLog::RollIfFull(const std::filesystem::path& folder, const platform::SystemTime& now, platform::AppendFile& file) {
    if (!rule_.On() || rule_.maxBytes == 0 || current_.bytes < rule_.maxBytes) return 0;
    if (int error = file.Close()) return error;
    return Start(folder, now, file);
}

int TargetLog::Start(const std::filesystem::path& folder, const platform::SystemTime& now, platform::AppendFile& file) {
    // Made, never opened for appending: a new file is always a file of its
    // own, never another target's nor one left from earlier.
    const LogNamePattern pattern(format_);
    const std::string name = LogFileName(format_, now);
    for (unsigned n = 0; n <= kMaxNumberedNames; ++n) {
        std::string candidate = n == 0 ? name : pattern.Numbered(name, n);
        path_ = folder / candidate;
        const int error = file.Create(path_);
        if (error == EEXIST) continue;
        if (error == 0) current_ = {std::move(candidate), 0, LocalDay(now)};
        return error;
    }
    return EEXIST;
}

}  // namespace qm::processing
