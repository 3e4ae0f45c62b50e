#include "http/http_ini.h"

#include <algorithm>
#include <system_error>

#include "platform/file_stamp.h"

namespace qm::http {

namespace fs = std::filesystem;

namespace {
// Header values come from here; a line break in one would start a header of its own.
std::string HeaderSafe(std::string value) {
    std::erase_if(value, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    return value;
}
}  // namespace

bool AccessAllowed(std::string_view value) {
    return !value.empty() && (value[0] == 'A' || value[0] == 'a' || value[0] == '*');
}

std::optional<std::string> IniEntry(const platform::ProfileFile& ini, std::string_view section, std::string_view key,
                                    size_t capacity) {
    // Checked after cleaning: a value of control characters alone is no
    // entry either, so the lookup falls back as for a missing one.
    std::string value = HeaderSafe(ini.ReadString(section, key, capacity));
    if (value.empty()) return std::nullopt;
    return value;
}

HttpIniDefaults HttpIni::ReadDefaults() const {
    const platform::ProfileFile ini = platform::ProfileFile::Load(file_);
    HttpIniDefaults d;
    d.clientAccess = AccessAllowed(ini.ReadString("ip-access", "*", 64));
    d.contentAccess = AccessAllowed(ini.ReadString("content-access", "*", 64));
    if (auto v = IniEntry(ini, "cache", "*", 64)) d.cacheControl = *v;
    if (auto v = IniEntry(ini, "mime", "*", 64)) d.mimeType = *v;
    d.authType = ini.ReadInt("auth", "type", 0);
    d.realm = HeaderSafe(ini.ReadString("auth", "realm", 63));
    std::erase(d.realm, '"');  // it is written inside quotes
    d.credential = ini.ReadString("auth", "*", 63);
    d.logLevel = ini.ReadInt("log", "level", 0);
    d.logLimit = std::max(ini.ReadInt("log", "limit", 1000), 100);
    return d;
}

std::shared_ptr<const platform::ProfileFile> HttpIni::Current() {
    platform::FileStamp stamp;
    const bool missing = platform::FileStampOf(file_, stamp) != 0 || !stamp.exists;
    // A file written within the last moments may be written again within
    // the same tick of the file system's clock, with the same size: until
    // it has aged, it is parsed at every request, so no edit is missed.
    const bool fresh = !missing && stamp.ChangedWithin(2);
    std::lock_guard hold(mutex_);
    if (!cached_ || fresh || missing != cachedMissing_ || (!missing && !stamp.SameFile(cachedStamp_))) {
        cached_ = std::make_shared<const platform::ProfileFile>(platform::ProfileFile::Load(file_));
        cachedStamp_ = stamp;
        cachedMissing_ = missing;
    }
    return cached_;
}

}  // namespace qm::http
