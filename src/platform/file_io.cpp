#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace qm::platform {

namespace {
int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(size_t(n));
    }
    return 0;
}

int CloseChecked(int fd, int error) {
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
}
}  // namespace

int AppendFile::OpenWith(const std::filesystem::path& path, int flags) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | flags, 0644);
    return fd_ < 0 ? errno : 0;
}

int AppendFile::Open(const std::filesystem::path& path, uint64_t* size) {
    if (int error = OpenWith(path, 0)) return error;
    if (size) {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            const int error = errno;
            Close();
            return error;
        }
        *size = static_cast<uint64_t>(st.st_size);
    }
    return 0;
}

int AppendFile::Create(const std::filesystem::path& path) { return OpenWith(path, O_EXCL); }

int AppendFile::Write(std::string_view bytes) {
    if (fd_ < 0) return EBADF;
    struct stat st {};
    const bool sized = ::fstat(fd_, &st) == 0;
    const int error = WriteAll(fd_, bytes);
    if (error != 0 && sized) {
        const int keep = errno;
        if (::ftruncate(fd_, st.st_size) != 0) errno = keep;
    }
    return error;
}

void AppendFile::ReleaseCache() {
    // Advice only: a failure leaves the pages cached, as without the call.
    // Pages still dirty or under writeback stay; the next call takes them.
    if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
}

int AppendFile::Close() {
    if (fd_ < 0) return 0;
    const int fd = fd_;
    fd_ = -1;
    return CloseChecked(fd, 0);
}

int AppendToFile(const std::filesystem::path& path, std::string_view bytes) {
    AppendFile file;
    if (int error = file.Open(path)) return error;
    const int error = file.Write(bytes);
    const int closeError = file.Close();
    return error ? error : closeError;
}

int ReplaceFile(const std::filesystem::path& path, std::string_view bytes) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = path;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    int error = WriteAll(fd, bytes);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    error = CloseChecked(fd, error);
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(temp.c_str());
    return error;
}

int ReadWholeFile(const std::filesystem::path& path, std::string& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (n == 0) break;
        out.append(buf, size_t(n));
    }
    ::close(fd);
    return 0;
}

int ListFolderFiles(const std::filesystem::path& folder, std::vector<FolderFile>& out) {
    out.clear();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            error = errno;
            break;
        }
        // Not followed: a link named like a log file is no log file.
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        out.push_back({entry->d_name, static_cast<uint64_t>(st.st_size),
                       int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
    }
    ::closedir(dir);  // closes fd as well
    return error;
}

}  // namespace qm::platform
