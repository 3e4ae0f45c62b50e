#pragma once
// The contents of small files served lately, kept while their stamp (inode,
// size, times) is unchanged, so a busy server answers a small file without
// opening it; the stamp is the one the path check reads anyway. A file
// changed within the last moments is not kept: a second write in the same
// tick of the file system's clock could leave its stamp unchanged. Shared by
// an item's loops; guarded by its own lock.
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/file_stamp.h"

namespace qm::http {

class FileCache {
public:
    static constexpr uint64_t kMostBytesPerFile = 32 * 1024;
    static constexpr size_t kMostFiles = 256;

    // The kept bytes of the file at `path` when its stamp is `stamp`; null otherwise.
    std::shared_ptr<const std::string> Find(const std::filesystem::path& path, const platform::FileStamp& stamp);
    // Keeps `bytes` as the contents of `path` with `stamp` (read from the
    // open file the bytes came from), when small and settled enough.
    void Keep(const std::filesystem::path& path, const platform::FileStamp& stamp, std::string bytes);

private:
    struct Entry {
        platform::FileStamp stamp;
        std::shared_ptr<const std::string> bytes;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace qm::http
