#include "platform/send_file.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qm::platform {

int OpenForSending(const std::filesystem::path& path, UniqueFd& file, FileStamp& stamp) {
    stamp = FileStamp{};
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd.Valid()) return errno;
    if (const int rc = StampOfOpen(fd.Get(), stamp)) return rc;
    if (!stamp.regular) return EISDIR;
    file = std::move(fd);
    return 0;
}

ssize_t SendFileChunk(int socket, int file, off_t& offset, size_t count) {
    for (;;) {
        const ssize_t n = ::sendfile(socket, file, &offset, count);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? -EAGAIN : -errno;
    }
}

ssize_t SendPair(int socket, std::string_view first, std::string_view second) {
    iovec parts[2] = {{const_cast<char*>(first.data()), first.size()}, {const_cast<char*>(second.data()), second.size()}};
    msghdr message{};
    message.msg_iov = first.empty() ? parts + 1 : parts;
    message.msg_iovlen = first.empty() ? 1 : 2;
    for (;;) {
        const ssize_t n = ::sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? -EAGAIN : -errno;
    }
}

int AppendFileBytes(int file, uint64_t size, std::string& into) {
    const size_t start = into.size();
    into.resize(start + size);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(file, into.data() + start + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            into.resize(start);
            return error;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace qm::platform
