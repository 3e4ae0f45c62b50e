#include "platform/unique_fd.h"

#include <unistd.h>

namespace qm::platform {

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

bool UniqueFd::Close() {
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0;
}

}  // namespace qm::platform
