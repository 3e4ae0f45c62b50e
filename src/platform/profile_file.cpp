#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <utility>

#include "platform/unique_fd.h"
#include "platform/utf16.h"

namespace qm::platform {
namespace {

// Settings files are small; these bounds only keep a corrupt or hostile file
// from exhausting memory (invalid bytes can triple in size as U+FFFD).
constexpr size_t kMaxFileBytes = size_t{64} << 20;
constexpr size_t kMaxLineBytes = size_t{64} << 10;

constexpr std::string_view kSpace = " \t\r\v\f";

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(kSpace);
    // An empty result still points into s: callers turn it into an offset.
    if (first == std::string_view::npos) return s.substr(s.size());
    return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

bool IsSpace(char c) { return kSpace.find(c) != std::string_view::npos; }

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Names as the file stores them: valid UTF-8, trimmed.
std::string CleanName(std::string_view name) {
    return std::string(Trim(SanitizeUtf8(name)));
}

std::string LookupKey(std::string_view name) { return Lower(CleanName(name)); }

bool IsQuoted(std::string_view v) {
    return v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'');
}

// Cuts at a character boundary; s is valid UTF-8.
void CapLine(std::string& s) {
    if (s.size() <= kMaxLineBytes) return;
    size_t cut = kMaxLineBytes;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    s.resize(cut);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Removes the temporary file unless it was renamed into place, without
// disturbing the errno that describes the original failure.
class TempFileGuard {
public:
    explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    ~TempFileGuard() {
        if (path_.empty()) return;
        const int saved = errno;
        ::unlink(path_.c_str());
        errno = saved;
    }
    void Release() { path_.clear(); }

private:
    std::string path_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::mutex& WriteMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

ProfileFile::Line ProfileFile::ParseLine(std::string text) {
    Line line;
    line.text = std::move(text);
    const std::string_view t = line.text;
    const std::string_view body = Trim(t);
    if (body.empty() || body.front() == ';') return line;
    const size_t eq = body.find('=');
    if (eq == std::string_view::npos) return line;
    const std::string_view key = Trim(body.substr(0, eq));
    if (key.empty()) return line;
    std::string_view value = Trim(body.substr(eq + 1));
    if (IsQuoted(value)) value = value.substr(1, value.size() - 2);
    line.isKey = true;
    line.keyPos = static_cast<size_t>(key.data() - t.data());
    line.keyLen = key.size();
    line.valuePos = static_cast<size_t>(value.data() - t.data());
    line.valueLen = value.size();
    return line;
}

void ProfileFile::AddLine(std::string text) {
    const std::string_view body = Trim(text);
    if (!body.empty() && body.front() == '[') {
        std::string_view name = body.substr(1);
        name = Trim(name.substr(0, name.find(']')));
        Section section;
        section.name = std::string(name);
        section.header = std::move(text);
        sectionIndex_.try_emplace(Lower(section.name), sections_.size());
        sections_.push_back(std::move(section));
        return;
    }
    if (sections_.empty()) {
        preamble_.push_back(std::move(text));
        return;
    }
    Section& section = sections_.back();
    Line line = ParseLine(std::move(text));
    if (line.isKey) {
        const size_t index = section.lines.size();
        section.keyIndex.try_emplace(Lower(line.Key()), index);
        section.lastKey = index;
    }
    section.lines.push_back(std::move(line));
}

std::optional<ProfileFile> ProfileFile::TryLoad(const std::filesystem::path& path) {
    // O_NONBLOCK so that a FIFO planted at the path cannot hang the caller.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0) {
        if (errno == ENOENT) return ProfileFile{};
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return std::nullopt;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return std::nullopt;
    }
    std::string raw(std::min(static_cast<size_t>(st.st_size), kMaxFileBytes), '\0');
    size_t got = 0;
    while (got < raw.size()) {
        const ssize_t n = ::read(fd.Get(), raw.data() + got, raw.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;  // shrank while we were reading
        got += static_cast<size_t>(n);
    }
    raw.resize(got);

    std::string_view text = raw;
    std::string converted;
    bool needsSanitizing = true;
    if (text.starts_with("\xFF\xFE")) {
        converted = Utf16LEBytesToUtf8(text.substr(2));
        text = converted;
        needsSanitizing = false;
    } else if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    // A second byte-order mark (an editor adding its own) is no content
    // either: left in the first line, it would hide a section header there,
    // and a save would write it back as a UTF-8 mark that the next read drops,
    // so the file would read differently from what was saved.
    while (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

    ProfileFile doc;
    while (!text.empty()) {
        const size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        // Capping before sanitizing bounds the work on one monstrous line.
        line = line.substr(0, kMaxLineBytes);
        std::string owned = needsSanitizing ? SanitizeUtf8(line) : std::string(line);
        CapLine(owned);
        doc.AddLine(std::move(owned));
    }
    return doc;
}

ProfileFile ProfileFile::Load(const std::filesystem::path& path) {
    std::optional<ProfileFile> doc = TryLoad(path);
    return doc ? std::move(*doc) : ProfileFile{};
}

const ProfileFile::Line* ProfileFile::Find(std::string_view section,
                                           std::string_view key) const {
    const auto s = sectionIndex_.find(LookupKey(section));
    if (s == sectionIndex_.end()) return nullptr;
    const Section& sec = sections_[s->second];
    const auto k = sec.keyIndex.find(LookupKey(key));
    return k == sec.keyIndex.end() ? nullptr : &sec.lines[k->second];
}

bool ProfileFile::HasSection(std::string_view section) const {
    return sectionIndex_.contains(LookupKey(section));
}

std::optional<std::string> ProfileFile::Get(std::string_view section,
                                            std::string_view key) const {
    const Line* line = Find(section, key);
    if (!line) return std::nullopt;
    return std::string(line->Value());
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    size_t capacityUtf16) const {
    const Line* line = Find(section, key);
    if (!line || capacityUtf16 == 0) return {};
    return TruncateUtf16(line->Value(), capacityUtf16 - 1);
}

std::optional<std::vector<uint8_t>> ProfileFile::ReadStruct(std::string_view section,
                                                            std::string_view key,
                                                            size_t size) const {
    const Line* line = Find(section, key);
    if (!line) return std::nullopt;
    const std::string_view hex = line->Value();
    // Compared this way round so a huge size cannot overflow.
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() / 2 - 1 != size) return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(size + 1);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]);
        const int lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    const uint8_t checksum = bytes.back();
    bytes.pop_back();
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    if (sum != checksum) return std::nullopt;
    return bytes;
}

int ProfileFile::ReadInt(std::string_view section, std::string_view key,
                         int defaultValue) const {
    const Line* line = Find(section, key);
    if (!line) return defaultValue;
    std::string_view v = line->Value();
    bool negative = false;
    if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    constexpr int64_t kLimit = int64_t{INT_MAX} + 1;
    int64_t magnitude = 0;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        magnitude = std::min(magnitude * 10 + (c - '0'), kLimit);
    }
    return static_cast<int>(negative ? -magnitude : std::min<int64_t>(magnitude, INT_MAX));
}

ProfileFile::Section& ProfileFile::SectionForWrite(std::string_view name) {
    const auto [it, added] = sectionIndex_.try_emplace(Lower(name), sections_.size());
    if (!added) return sections_[it->second];
    // Keep a blank line between sections for whoever edits the file by hand.
    if (!sections_.empty()) {
        std::vector<Line>& lines = sections_.back().lines;
        if (lines.empty() || !Trim(lines.back().text).empty()) lines.emplace_back();
    } else if (!preamble_.empty() && !Trim(preamble_.back()).empty()) {
        preamble_.emplace_back();
    }
    Section section;
    section.name = std::string(name);
    section.header = "[" + section.name + "]";
    sections_.push_back(std::move(section));
    return sections_.back();
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
    const std::string sectionName = CleanName(section);
    const std::string keyName = CleanName(key);
    if (sectionName.empty() || sectionName.find_first_of("]\r\n") != std::string::npos ||
        keyName.empty() || keyName.find_first_of("=\r\n") != std::string::npos ||
        keyName.front() == ';' || keyName.front() == '[') {
        errno = EINVAL;
        return false;
    }

    std::string stored = SanitizeUtf8(value);
    for (char& c : stored) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    const bool altered = !stored.empty() && (IsSpace(stored.front()) || IsSpace(stored.back()));
    if (altered || IsQuoted(stored)) stored = '"' + stored + '"';
    Line line = ParseLine(keyName + "=" + stored);

    Section& sec = SectionForWrite(sectionName);
    const auto [it, added] = sec.keyIndex.try_emplace(Lower(keyName), 0);
    if (!added) {
        sec.lines[it->second] = std::move(line);
        return true;
    }
    // Lines after the insertion point are never key lines, so no index moves.
    size_t pos;
    if (sec.lastKey) {
        pos = *sec.lastKey + 1;
    } else {
        pos = sec.lines.size();
        while (pos > 0 && Trim(sec.lines[pos - 1].text).empty()) --pos;
    }
    sec.lines.insert(sec.lines.begin() + static_cast<std::ptrdiff_t>(pos), std::move(line));
    it->second = pos;
    sec.lastKey = pos;
    return true;
}

bool ProfileFile::WriteStruct(std::string_view section, std::string_view key,
                              std::span<const uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * (bytes.size() + 1));
    uint8_t sum = 0;
    const auto append = [&](uint8_t b) {
        hex += kHex[b >> 4];
        hex += kHex[b & 0xF];
    };
    for (uint8_t b : bytes) {
        append(b);
        sum = static_cast<uint8_t>(sum + b);
    }
    append(sum);
    return WriteString(section, key, hex);
}

bool ProfileFile::EmptySection(std::string_view section) {
    const std::string name = CleanName(section);
    if (name.empty() || name.find_first_of("]\r\n") != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    const std::string lowered = Lower(name);
    SectionForWrite(name);
    for (Section& sec : sections_) {
        if (Lower(sec.name) != lowered) continue;
        std::erase_if(sec.lines, [](const Line& l) { return l.isKey; });
        sec.keyIndex.clear();
        sec.lastKey.reset();
    }
    return true;
}

std::vector<std::string> ProfileFile::Keys(std::string_view section) const {
    std::vector<std::string> keys;
    const auto s = sectionIndex_.find(LookupKey(section));
    if (s == sectionIndex_.end()) return keys;
    const Section& sec = sections_[s->second];
    for (size_t i = 0; i < sec.lines.size(); ++i) {
        const Line& line = sec.lines[i];
        if (line.isKey && sec.keyIndex.at(Lower(line.Key())) == i) {
            keys.emplace_back(line.Key());
        }
    }
    return keys;
}

std::vector<std::string> ProfileFile::Sections() const {
    std::vector<std::string> names;
    for (size_t i = 0; i < sections_.size(); ++i) {
        if (sectionIndex_.at(Lower(sections_[i].name)) == i) names.push_back(sections_[i].name);
    }
    return names;
}

std::string ProfileFile::Serialize() const {
    std::string out;
    for (const std::string& text : preamble_) {
        out += text;
        out += '\n';
    }
    for (const Section& sec : sections_) {
        out += sec.header;
        out += '\n';
        for (const Line& line : sec.lines) {
            out += line.text;
            out += '\n';
        }
    }
    return out;
}

bool ProfileFile::Save(const std::filesystem::path& path) const {
    if (!path.has_filename()) {
        errno = EISDIR;
        return false;
    }
    static std::atomic<uint64_t> counter{0};
    std::filesystem::path tmp = path;
    tmp.replace_filename(path.filename().native() + ".tmp-" + std::to_string(::getpid()) + "-" +
                         std::to_string(counter.fetch_add(1)));

    mode_t mode = 0600;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 07777;

    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.Get() < 0) return false;
    TempFileGuard guard(tmp.native());
    // fchmod rather than the open mode, which the umask would alter.
    if (::fchmod(fd.Get(), mode) != 0) return false;
    if (!WriteAll(fd.Get(), Serialize())) return false;
    if (::fsync(fd.Get()) != 0) return false;
    if (!fd.Close()) return false;
    if (::rename(tmp.c_str(), path.c_str()) != 0) return false;
    guard.Release();

    // Makes the rename itself durable; the data is already safe, so a
    // failure here does not make the save a failure.
    const int saved = errno;
    std::filesystem::path dir = path.parent_path();
    UniqueFd dirFd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() >= 0) ::fsync(dirFd.Get());
    errno = saved;
    return true;
}

std::string GetPrivateProfileString(const std::filesystem::path& file, std::string_view section,
                                    std::string_view key, size_t capacityUtf16) {
    return ProfileFile::Load(file).ReadString(section, key, capacityUtf16);
}

std::optional<std::vector<uint8_t>> GetPrivateProfileStruct(const std::filesystem::path& file,
                                                            std::string_view section,
                                                            std::string_view key, size_t size) {
    return ProfileFile::Load(file).ReadStruct(section, key, size);
}

int GetPrivateProfileInt(const std::filesystem::path& file, std::string_view section,
                         std::string_view key, int defaultValue) {
    return ProfileFile::Load(file).ReadInt(section, key, defaultValue);
}

bool WritePrivateProfileString(const std::filesystem::path& file, std::string_view section,
                               std::string_view key, std::string_view value) {
    std::lock_guard lock(WriteMutex());
    std::optional<ProfileFile> doc = ProfileFile::TryLoad(file);
    return doc && doc->WriteString(section, key, value) && doc->Save(file);
}

bool WritePrivateProfileStruct(const std::filesystem::path& file, std::string_view section,
                               std::string_view key, std::span<const uint8_t> bytes) {
    std::lock_guard lock(WriteMutex());
    std::optional<ProfileFile> doc = ProfileFile::TryLoad(file);
    return doc && doc->WriteStruct(section, key, bytes) && doc->Save(file);
}

}  // namespace qm::platform
