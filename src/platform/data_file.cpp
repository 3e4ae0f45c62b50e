#include "platform/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace qm::platform {

int DataFile::Open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    fd_.Reset(fd);
    return 0;
}

int DataFile::Size(uint64_t& size) const {
    struct stat st {};
    size = 0;
    if (::fstat(fd_.Get(), &st) != 0) return errno;
    size = uint64_t(st.st_size);
    return 0;
}

int DataFile::ReadAt(uint64_t offset, std::span<char> into, size_t& got) const {
    got = 0;
    while (got < into.size()) {
        const ssize_t n = ::pread(fd_.Get(), into.data() + got, into.size() - got, off_t(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        got += size_t(n);
    }
    return 0;
}

int DataFile::WriteAt(uint64_t offset, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd_.Get(), bytes.data(), bytes.size(), off_t(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(size_t(n));
        offset += uint64_t(n);
    }
    return 0;
}

int DataFile::Truncate(uint64_t size) { return ::ftruncate(fd_.Get(), off_t(size)) == 0 ? 0 : errno; }

int DataFile::Sync() { return ::fdatasync(fd_.Get()) == 0 ? 0 : errno; }

int RenameFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int RemoveFile(const std::filesystem::path& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

int MakeFolders(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return error ? error.value() : 0;
}

}  // namespace qm::platform
