#pragma once
// A file read and written at known offsets, for stores that keep records in
// one file and track their own ends (the relay's backlog). Errors come back
// as errno values. The object owns its descriptor; one thread at a time
// uses it.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "platform/unique_fd.h"

namespace qm::platform {

class DataFile {
public:
    // Read and write; made (empty) when missing. 0 or errno.
    int Open(const std::filesystem::path& path);
    int Size(uint64_t& size) const;
    // Fills `into` from `offset`; `got` is short only at the end of the file.
    int ReadAt(uint64_t offset, std::span<char> into, size_t& got) const;
    // Writes every byte at `offset`, or gives the errno of the write that failed.
    int WriteAt(uint64_t offset, std::string_view bytes);
    int Truncate(uint64_t size);
    // The file's data on the disk (fdatasync).
    int Sync();
    void Close() { fd_.Reset(); }
    bool IsOpen() const { return fd_.Valid(); }

private:
    UniqueFd fd_;
};

// rename(2): replaces `to` in one step. 0 or errno.
int RenameFile(const std::filesystem::path& from, const std::filesystem::path& to);
// unlink(2); a file that is not there is no error. 0 or errno.
int RemoveFile(const std::filesystem::path& path);
// The folder and its parents; one that exists is no error. 0 or errno.
int MakeFolders(const std::filesystem::path& path);

}  // namespace qm::platform
