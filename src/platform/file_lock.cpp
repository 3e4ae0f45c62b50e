#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace qm::platform {

FileLock FileLock::TryTake(const std::filesystem::path& path) {
    FileLock lock;
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
        lock.error_ = errno;
        return lock;
    }
    while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        lock.error_ = errno;
        return lock;
    }
    lock.fd_ = std::move(fd);
    return lock;
}

}  // namespace qm::platform
