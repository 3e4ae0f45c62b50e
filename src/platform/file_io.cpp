#include "platform/file_io.h"

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

int AppendFile::Open(const std::filesystem::path& path) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return fd_ < 0 ? errno : 0;
}

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

}  // namespace qm::platform
