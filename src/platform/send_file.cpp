#include "platform/send_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

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
    // sendfile has no MSG_NOSIGNAL: a peer gone mid-file would raise SIGPIPE
    // and end whatever process the server runs in. The signal is held back
    // on this thread for the call, and one the call raised is taken here.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    const bool alreadyPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    ssize_t result = 0;
    for (;;) {
        const ssize_t n = ::sendfile(socket, file, &offset, count);
        if (n >= 0) {
            result = n;
            break;
        }
        if (errno == EINTR) continue;
        result = errno == EWOULDBLOCK ? -EAGAIN : -errno;
        break;
    }
    if (result == -EPIPE && !alreadyPending) {
        const timespec now{};
        while (sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return result;
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
