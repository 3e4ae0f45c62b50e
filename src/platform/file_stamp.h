#pragma once
// What one stat call tells about a file: its kind and what changes whenever
// its contents do, so a cache can tell a file it has seen from a new one.
#include <cstdint>
#include <filesystem>

namespace qm::platform {

struct FileStamp {
    bool exists = false;
    bool regular = false;
    bool directory = false;
    bool symlink = false;  // only from LinkStamp
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;  // inode change: every write, rename or chmod

    bool SameFile(const FileStamp& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modifiedNs == o.modifiedNs && changedNs == o.changedNs;
    }
    // Changed within the last `seconds` by the system clock: another write
    // in the same tick of the file system's clock could leave the stamp as
    // it is, so such a file is not to be trusted to a cache yet.
    bool ChangedWithin(int seconds) const;
};

// stat (follows links) and lstat (does not). A file that is not there is
// no error: `exists` stays false. 0 or errno.
int FileStampOf(const std::filesystem::path& path, FileStamp& out);
int LinkStamp(const std::filesystem::path& path, FileStamp& out);
// fstat of an open file.
int StampOfOpen(int fd, FileStamp& out);

}  // namespace qm::platform
