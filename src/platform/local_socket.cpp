#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace qm::platform {

namespace {

// The address of `path` through an open descriptor of its folder; the
// folder descriptor must stay open while the address is used.
bool AddressOf(const std::filesystem::path& path, UniqueFd& folder, sockaddr_un& address) {
    folder.Reset(::open(path.parent_path().empty() ? "." : path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid()) return false;
    const std::string name = "/proc/self/fd/" + std::to_string(folder.Get()) + "/" + path.filename().string();
    if (name.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    return true;
}

UniqueFd Connect(const sockaddr_un& address) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return fd;
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        fd.Reset();
        errno = error;
    }
    return fd;
}

}  // namespace

UniqueFd ListenLocal(const std::filesystem::path& path) {
    UniqueFd folder;
    sockaddr_un address;
    if (!AddressOf(path, folder, address)) return UniqueFd();
    if (UniqueFd other = Connect(address); other.Valid()) {
        errno = EADDRINUSE;
        return UniqueFd();
    }
    // Nobody answers there: whatever is left of an earlier run goes.
    ::unlinkat(folder.Get(), path.filename().c_str(), 0);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return fd;
    // The umask is the whole process's and other threads create files, so
    // the mode is set after bind; a peer of another user that connects in
    // between is turned away by its user id.
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::fchmodat(folder.Get(), path.filename().c_str(), S_IRUSR | S_IWUSR, 0) != 0 || ::listen(fd.Get(), 8) != 0) {
        const int error = errno;
        fd.Reset();
        errno = error;
    }
    return fd;
}

UniqueFd ConnectLocal(const std::filesystem::path& path) {
    UniqueFd folder;
    sockaddr_un address;
    if (!AddressOf(path, folder, address)) return UniqueFd();
    return Connect(address);
}

std::optional<uid_t> PeerUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
    return credentials.uid;
}

}  // namespace qm::platform
