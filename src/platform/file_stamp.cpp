#include "platform/file_stamp.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

namespace qm::platform {

namespace {
int64_t Ns(const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

int Fill(int rc, const struct stat& st, FileStamp& out) {
    out = FileStamp{};
    if (rc != 0) return errno == ENOENT || errno == ENOTDIR ? 0 : errno;
    out.exists = true;
    out.regular = S_ISREG(st.st_mode);
    out.directory = S_ISDIR(st.st_mode);
    out.symlink = S_ISLNK(st.st_mode);
    out.device = st.st_dev;
    out.inode = st.st_ino;
    out.size = static_cast<uint64_t>(st.st_size);
    out.modifiedNs = Ns(st.st_mtim);
    out.changedNs = Ns(st.st_ctim);
    return 0;
}
}  // namespace

bool FileStamp::ChangedWithin(int seconds) const {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t limit = int64_t(seconds) * 1000000000;
    return Ns(now) - modifiedNs < limit || Ns(now) - changedNs < limit;
}

int FileStampOf(const std::filesystem::path& path, FileStamp& out) {
    struct stat st{};
    const int rc = ::stat(path.c_str(), &st);
    return Fill(rc, st, out);
}

int LinkStamp(const std::filesystem::path& path, FileStamp& out) {
    struct stat st{};
    const int rc = ::lstat(path.c_str(), &st);
    return Fill(rc, st, out);
}

int StampOfOpen(int fd, FileStamp& out) {
    struct stat st{};
    const int rc = ::fstat(fd, &st);
    if (rc != 0) {
        out = FileStamp{};
        return errno;
    }
    return Fill(rc, st, out);
}

}  // namespace qm::platform
