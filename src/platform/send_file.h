#pragma once
// Files opened for sending and sent straight from the page cache into a
// socket (sendfile), so a large answer is never copied through the program.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/file_stamp.h"
#include "platform/unique_fd.h"

namespace qm::platform {

// Opens a regular file read-only and tells its stamp (size and all). 0 or
// errno (EISDIR for anything but a regular file).
int OpenForSending(const std::filesystem::path& path, UniqueFd& file, FileStamp& stamp);

// Sends at most `count` bytes of `file` from `offset` (advanced by what was
// sent) into the non-blocking socket. Bytes sent (0: the file ended early),
// or -errno (-EAGAIN when the socket's buffer is full).
ssize_t SendFileChunk(int socket, int file, off_t& offset, size_t count);

// Sends as much of `first` and then `second` as the non-blocking socket
// takes, in one call. Bytes sent, or -errno (-EAGAIN when the buffer is full).
ssize_t SendPair(int socket, std::string_view first, std::string_view second);

// Appends `size` bytes of `file` from its start to `into`. 0, or errno (EIO
// for a file that ended early).
int AppendFileBytes(int file, uint64_t size, std::string& into);

}  // namespace qm::platform
