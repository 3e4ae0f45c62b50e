#include "transport/relay/relay_backlog.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "platform/file_io.h"

namespace qm::transport {

namespace {

constexpr char kBacklogMagic[8] = {'Q', 'M', 'R', 'E', 'L', 'A', 'Y', 'Q'};
constexpr size_t kBacklogBlock = 1 << 20;
// A delivered head is cut off the file once it is this large and larger
// than what is still kept, so the file stays within about twice the bound
// and each byte is copied about once.
constexpr uint64_t kRewriteAtLeast = 1 << 20;

void PutU32(char* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(v >> (8 * i));
}
uint32_t GetU32(const char* in) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(static_cast<uint8_t>(in[i])) << (8 * i);
    return v;
}

// Reads a file forward through a window, so a walk over many small records
// costs a read per block instead of two per record.
class BacklogWindow {
public:
    BacklogWindow(const platform::DataFile& file, uint64_t fileEnd, size_t block)
        : file_(file), fileEnd_(fileEnd), block_(block) {}
    // `n` bytes at `at`; false when the file ends first or the read fails
    // (`error`). The view holds until the next call.
    bool Get(uint64_t at, size_t n, std::string_view& out, int& error) {
        if (at < start_ || at + n > start_ + bytes_.size()) {
            if (at + n > fileEnd_) return false;
            bytes_.resize(size_t(std::min<uint64_t>(std::max(n, block_), fileEnd_ - at)));
            size_t got = 0;
            error = file_.ReadAt(at, bytes_, got);
            bytes_.resize(got);
            start_ = at;
            if (error != 0 || got < n) return false;
        }
        out = std::string_view(bytes_).substr(size_t(at - start_), n);
        return true;
    }

private:
    const platform::DataFile& file_;
    uint64_t fileEnd_;
    size_t block_;
    uint64_t start_ = 0;
    std::string bytes_;
};

}  // namespace

uint32_t Crc32(std::string_view bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (const char ch : bytes) crc = table[(crc ^ static_cast<uint8_t>(ch)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

int RelayBacklog::Open(const std::filesystem::path& file, uint64_t bound) {
    std::lock_guard lock(mutex_);
    path_ = file;
    positionPath_ = std::filesystem::path(file).replace_extension(".pos");
    bound_ = bound;
    if (int error = file_.Open(file)) return error;
    uint64_t size = 0;
    if (int error = file_.Size(size)) return error;

    char header[kHeaderSize] = {};
    size_t got = 0;
    if (size >= kHeaderSize) {
        if (int error = file_.ReadAt(0, header, got)) return error;
    }
    uint64_t base = 0;
    for (int i = 0; i < 8; ++i) base |= uint64_t(static_cast<uint8_t>(header[8 + i])) << (8 * i);
    // No backlog ever passes 2^62 bytes; a larger first offset is a damaged
    // header, and offsets counted from it would wrap.
    constexpr uint64_t kMaxBase = uint64_t(1) << 62;
    if (size < kHeaderSize || std::memcmp(header, kBacklogMagic, sizeof kBacklogMagic) != 0 || base > kMaxBase) {
        // Not a backlog (or a header the crash cut short): keep it aside
        // for whoever wants to look, and begin a new one.
        if (size > 0) {
            file_.Close();
            std::filesystem::path aside = file;
            aside += ".damaged";
            if (int error = platform::RenameFile(file, aside)) return error;
            if (int error = file_.Open(file)) return error;
        }
        base_ = head_ = end_ = 0;
        if (int error = WriteHeader(file_, 0)) return error;
        recovered_ = 0;
        return 0;
    }
    base_ = base;
    end_ = base_ + (size - kHeaderSize);

    head_ = base_;
    std::string position;
    if (platform::ReadWholeFile(positionPath_, position) == 0) {
        uint64_t saved = 0;
        const auto [ptr, ec] = std::from_chars(position.data(), position.data() + position.size(), saved);
        if (ec == std::errc() && saved >= base_ && saved <= end_) head_ = saved;
    }
    uint64_t goodEnd = end_, count = 0;
    if (int error = Scan(head_, goodEnd, count)) return error;
    if (goodEnd == head_ && head_ != end_ && head_ != base_) {
        // The position names no record: trust the file over it.
        head_ = base_;
        if (int error = Scan(head_, goodEnd, count)) return error;
    }
    if (goodEnd != end_) {
        if (int error = file_.Truncate(Physical(goodEnd))) return error;
        end_ = goodEnd;
    }
    savedHead_ = head_;
    recovered_ = count;
    return 0;
}

int RelayBacklog::Scan(uint64_t from, uint64_t& goodEnd, uint64_t& count) const {
    BacklogWindow window(file_, Physical(end_), kBacklogBlock);
    count = 0;
    goodEnd = from;
    int error = 0;
    for (uint64_t at = from; at < end_;) {
        std::string_view header, line;
        if (!window.Get(Physical(at), kRecordHeaderSize, header, error)) break;
        // Taken out before the next Get, which may move the window.
        const uint32_t length = GetU32(header.data());
        const uint32_t crc = GetU32(header.data() + 4);
        if (length > kMaxLine || !window.Get(Physical(at) + kRecordHeaderSize, length, line, error)) break;
        if (Crc32(line) != crc) break;
        at += kRecordHeaderSize + length;
        goodEnd = at;
        ++count;
    }
    return error;
}

void RelayBacklog::SetBound(uint64_t bytes) {
    std::lock_guard lock(mutex_);
    bound_ = bytes;
}

int RelayBacklog::Append(std::span<const std::string_view> lines) {
    std::lock_guard lock(mutex_);
    if (!file_.IsOpen()) return EBADF;
    // A batch larger than the bound keeps only its newest lines.
    uint64_t total = 0;
    size_t first = lines.size();
    while (first > 0 && total + kRecordHeaderSize + lines[first - 1].size() <= bound_) {
        --first;
        total += kRecordHeaderSize + lines[first].size();
    }
    dropped_ += first;
    if (total == 0) return 0;
    const uint64_t kept = end_ - head_;
    if (kept + total > bound_) {
        if (int error = DropOldest(kept + total - bound_)) return error;
    }
    std::string bytes;
    bytes.reserve(size_t(total));
    char header[kRecordHeaderSize];
    for (size_t i = first; i < lines.size(); ++i) {
        PutU32(header, static_cast<uint32_t>(lines[i].size()));
        PutU32(header + 4, Crc32(lines[i]));
        bytes.append(header, sizeof header);
        bytes.append(lines[i]);
    }
    if (int error = file_.WriteAt(Physical(end_), bytes)) {
        // Whole records only: what a failed write left is taken back.
        file_.Truncate(Physical(end_));
        return error;
    }
    end_ += total;
    return 0;
}

int RelayBacklog::DropOldest(uint64_t bytes) {
    BacklogWindow window(file_, Physical(end_), kBacklogBlock);
    const uint64_t target = std::min(end_, head_ + bytes);
    int error = 0;
    while (head_ < target) {
        std::string_view header;
        if (!window.Get(Physical(head_), kRecordHeaderSize, header, error)) {
            if (error != 0) return error;
            head_ = end_;  // cannot happen with whole records; never walk past the end
            break;
        }
        head_ = std::min(end_, head_ + kRecordHeaderSize + GetU32(header.data()));
        ++dropped_;
    }
    return 0;
}

uint64_t RelayBacklog::Read(uint64_t from, size_t maxBytes, const std::function<void(std::string_view)>& each,
                            int& error) {
    std::lock_guard lock(mutex_);
    error = 0;
    uint64_t at = std::max(from, head_);
    if (!file_.IsOpen()) return at;
    BacklogWindow window(file_, Physical(end_), maxBytes + kRecordHeaderSize);
    const uint64_t start = at;
    while (at < end_) {
        std::string_view header, line;
        if (!window.Get(Physical(at), kRecordHeaderSize, header, error)) break;
        const uint32_t length = GetU32(header.data());
        if (at != start && at + kRecordHeaderSize + length - start > maxBytes) break;
        if (!window.Get(Physical(at) + kRecordHeaderSize, length, line, error)) break;
        each(line);
        at += kRecordHeaderSize + length;
    }
    return at;
}

void RelayBacklog::Release(uint64_t offset) {
    std::lock_guard lock(mutex_);
    if (offset <= head_ || offset > end_ || !file_.IsOpen()) return;
    head_ = offset;
    const uint64_t dead = head_ - base_;
    // A rewrite that fails leaves the old file, which is still right.
    if ((head_ == end_ && dead > 0) || (dead >= kRewriteAtLeast && dead > end_ - head_)) Rewrite();
}

int RelayBacklog::WriteHeader(platform::DataFile& file, uint64_t base) {
    char header[kHeaderSize];
    std::memcpy(header, kBacklogMagic, sizeof kBacklogMagic);
    for (int i = 0; i < 8; ++i) header[8 + i] = static_cast<char>(base >> (8 * i));
    if (int error = file.Truncate(0)) return error;
    return file.WriteAt(0, std::string_view(header, sizeof header));
}

int RelayBacklog::Rewrite() {
    std::filesystem::path temp = path_;
    temp += ".new";
    platform::DataFile fresh;
    int error = fresh.Open(temp);
    if (error == 0) error = WriteHeader(fresh, head_);
    // The kept records, copied a block at a time.
    std::string block;
    uint64_t written = kHeaderSize;
    for (uint64_t at = Physical(head_); error == 0 && at < Physical(end_);) {
        block.resize(size_t(std::min<uint64_t>(kBacklogBlock, Physical(end_) - at)));
        size_t got = 0;
        error = file_.ReadAt(at, block, got);
        if (error == 0 && got != block.size()) error = EIO;
        if (error == 0) error = fresh.WriteAt(written, block);
        at += got;
        written += got;
    }
    // The new file is whole on the disk before it takes the old one's name.
    if (error == 0) error = fresh.Sync();
    if (error == 0) error = platform::RenameFile(temp, path_);
    if (error != 0) {
        fresh.Close();
        platform::RemoveFile(temp);
        return error;
    }
    file_ = std::move(fresh);
    base_ = head_;
    return 0;
}

int RelayBacklog::SavePosition() {
    uint64_t head = 0;
    {
        std::lock_guard lock(mutex_);
        if (head_ == savedHead_ || positionPath_.empty()) return 0;
        head = head_;
    }
    // Written outside the lock: the worker appending meanwhile does not
    // wait for the disk. Only the sender saves, so the files come in order.
    if (int error = platform::ReplaceFile(positionPath_, std::to_string(head) + "\n")) return error;
    std::lock_guard lock(mutex_);
    savedHead_ = head;
    return 0;
}

void RelayBacklog::Close() {
    SavePosition();
    std::lock_guard lock(mutex_);
    if (!file_.IsOpen()) return;
    file_.Sync();
    file_.Close();
}

uint64_t RelayBacklog::Head() const {
    std::lock_guard lock(mutex_);
    return head_;
}

uint64_t RelayBacklog::End() const {
    std::lock_guard lock(mutex_);
    return end_;
}

uint64_t RelayBacklog::TakeDropped() {
    std::lock_guard lock(mutex_);
    return std::exchange(dropped_, 0);
}

}  // namespace qm::transport
