#pragma once
// "http.ini" in the web root: who may ask (per client address), what may be
// served (per resource and directory), Basic authorization, MIME types,
// cache headers, aliases and the request log. The defaults are read once at
// start; the per-request entries come from the file as it is at the request.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_stamp.h"
#include "platform/profile_file.h"

namespace qm::http {

struct HttpIniDefaults {
    bool clientAccess = false;
    bool contentAccess = false;
    std::string cacheControl = "no-cache";
    std::string mimeType = "application/octet-stream";
    int authType = 0;
    std::string realm;
    std::string credential;
    int logLevel = 0;
    int logLimit = 1000;  // requests per request log file, at least 100
};

// The access rule of every "access" entry: "A", "a" or "*" first allows.
bool AccessAllowed(std::string_view value);

class HttpIni {
public:
    explicit HttpIni(std::filesystem::path file) : file_(std::move(file)) {}

    const std::filesystem::path& Path() const { return file_; }
    HttpIniDefaults ReadDefaults() const;

    // The file as it is now. It is parsed again only when it changed, so a
    // busy server does not pay for an unchanged file on every request.
    std::shared_ptr<const platform::ProfileFile> Current();

private:
    const std::filesystem::path file_;
    std::mutex mutex_;
    std::shared_ptr<const platform::ProfileFile> cached_;
    platform::FileStamp cachedStamp_;
    bool cachedMissing_ = false;
};

// Room for the one-line entries (types, cache headers, access rules): 63
// characters, as the defaults read at start.
inline constexpr size_t kIniValueCapacity = 64;

// Entry lookups on one parsed file; an empty value counts as no entry.
std::optional<std::string> IniEntry(const platform::ProfileFile& ini, std::string_view section, std::string_view key,
                                    size_t capacity = 1024);

}  // namespace qm::http
