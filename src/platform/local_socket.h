#pragma once
// Stream sockets in the file system for one user's own tools: the socket
// file is made for its owner alone (mode 0600) and each connecting peer's
// user is checked as well, since some systems ignore the mode on connect.
// Paths of any length work: a socket address holds only 108 bytes, so the
// folder is reached through a descriptor of its own.
#include <sys/types.h>

#include <filesystem>
#include <optional>

#include "platform/unique_fd.h"

namespace qm::platform {

// A listening socket at `path`. A socket file left by a program that ended
// is replaced; one that still answers is not (-1 with errno EADDRINUSE).
UniqueFd ListenLocal(const std::filesystem::path& path);
// Connected, or invalid with errno set (ENOENT, ECONNREFUSED: nobody listens).
UniqueFd ConnectLocal(const std::filesystem::path& path);
// The user id of the peer of a connected local socket.
std::optional<uid_t> PeerUser(int fd);

}  // namespace qm::platform
