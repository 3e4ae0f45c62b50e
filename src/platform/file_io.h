#pragma once
// Whole-file reads and writes for log files, and what a log folder holds;
// errors come back as errno values.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qm::platform {

// A file opened for appending, written in pieces. A piece that fails is
// taken back off the file, so what stays on disk is whole pieces only.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile() { Close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens the file, made when missing; `size`, when given, gets the bytes
    // it already holds. 0 or errno.
    int Open(const std::filesystem::path& path, uint64_t* size = nullptr);
    // Makes a new, empty file; one that exists already is EEXIST and is
    // left as it is. 0 or errno.
    int Create(const std::filesystem::path& path);
    int Write(std::string_view bytes);             // 0 or errno
    int Close();                                   // 0 or errno (a failed close loses data too)
    // For a file written as a stream and not read back soon: starts writing
    // what is still dirty to disk and lets the system forget the pages
    // already written, so a flood of lines does not fill the page cache.
    void ReleaseCache();

private:
    int OpenWith(const std::filesystem::path& path, int flags);
    int fd_ = -1;
};

// Appends `bytes` and closes the file; 0 only when every byte was written and the close succeeded.
int AppendToFile(const std::filesystem::path& path, std::string_view bytes);
// Replaces the file with `bytes` through a temporary file and a rename, so a
// crash leaves either the old file or the new one, never half of either.
int ReplaceFile(const std::filesystem::path& path, std::string_view bytes);
// Reads the whole file into `out`; 0 or errno (ENOENT when it does not exist).
int ReadWholeFile(const std::filesystem::path& path, std::string& out);

// A regular file directly inside a folder.
struct FolderFile {
    std::string name;
    uint64_t size = 0;
    int64_t modifiedNs = 0;  // last write, nanoseconds since 1970 UTC
};
// The regular files in `folder`, in no particular order. Links, folders and
// anything else are left out, so whoever deletes by this list deletes
// files only. 0 or errno.
int ListFolderFiles(const std::filesystem::path& folder, std::vector<FolderFile>& out);

}  // namespace qm::platform
