#include "http/file_cache.h"

namespace qm::http {

std::shared_ptr<const std::string> FileCache::Find(const std::filesystem::path& path,
                                                   const platform::FileStamp& stamp) {
    std::lock_guard hold(mutex_);
    const auto it = entries_.find(path.native());
    if (it == entries_.end() || !it->second.stamp.SameFile(stamp)) return nullptr;
    return it->second.bytes;
}

void FileCache::Keep(const std::filesystem::path& path, const platform::FileStamp& stamp, std::string bytes) {
    if (bytes.size() != stamp.size || stamp.size > kMostBytesPerFile || stamp.ChangedWithin(2)) return;
    auto kept = std::make_shared<const std::string>(std::move(bytes));
    std::lock_guard hold(mutex_);
    // Simplest bound: a full cache starts over. The files a server serves
    // again and again are back after one request each.
    if (entries_.size() >= kMostFiles && !entries_.contains(path.native())) entries_.clear();
    entries_[path.native()] = Entry{stamp, std::move(kept)};
}

}  // namespace qm::http
