#pragma once
// An exclusive lock on a file (flock), held while its owner lives. The kernel
// drops it with the last descriptor of the holding process, however that
// process ends, so a crash never leaves a stale lock behind. The descriptor
// is not inherited by programs the holder starts: a started program that
// outlived its parent would otherwise keep the lock.
#include <filesystem>

#include "platform/unique_fd.h"

namespace qm::platform {

class FileLock {
public:
    FileLock() = default;

    // Makes the file (mode 0600) when it is missing, and takes the lock
    // without waiting. Not Held() when it could not: Error() is EWOULDBLOCK
    // when someone else holds it, or why the file could not be opened.
    static FileLock TryTake(const std::filesystem::path& path);

    bool Held() const { return fd_.Valid(); }
    int Error() const { return error_; }

private:
    UniqueFd fd_;
    int error_ = 0;
};

}  // namespace qm::platform
