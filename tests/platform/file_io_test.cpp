#include "platform/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qm::platform {
namespace {

size_t ResidentPages(const std::filesystem::path& path, size_t bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return SIZE_MAX;
    void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) return SIZE_MAX;
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> in((bytes + page - 1) / page);
    size_t resident = SIZE_MAX;
    if (::mincore(map, bytes, in.data()) == 0) {
        resident = 0;
        for (unsigned char c : in) resident += c & 1;
    }
    ::munmap(map, bytes);
    return resident;
}

// A log flood must not pile up in the page cache: once the lines are on
// disk the pages go, and the bytes stay exactly as written.
TEST(AppendFileCache, ReleasedPagesLeaveTheCacheAndTheBytesStay) {
    testing::TempDir dir("qm-fileio");
    struct statfs fs {};
    ASSERT_EQ(::statfs(dir.path().c_str(), &fs), 0);
    if (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC) GTEST_SKIP() << "a memory file system keeps its pages";

    const auto path = dir.path() / "flood.log";
    std::string piece(1 << 20, '\0');
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = char('a' + i % 26);
    constexpr size_t kPieces = 8;
    AppendFile file;
    ASSERT_EQ(file.Open(path), 0);
    for (size_t i = 0; i < kPieces; ++i) ASSERT_EQ(file.Write(piece), 0);
    const size_t bytes = kPieces * piece.size();
    const size_t pages = bytes / size_t(::sysconf(_SC_PAGESIZE));
    EXPECT_GT(ResidentPages(path, bytes), pages / 2);  // just written: cached

    // The first call may only start the writing; once the pages are clean a
    // later one lets them go.
    file.ReleaseCache();
    const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_EQ(::fdatasync(other), 0);
    ::close(other);
    file.ReleaseCache();
    EXPECT_LT(ResidentPages(path, bytes), pages / 8);
    ASSERT_EQ(file.Close(), 0);

    std::ifstream in(path, std::ios::binary);
    const std::string back{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(back.size(), bytes);
    for (size_t i = 0; i < kPieces; ++i) EXPECT_EQ(back.compare(i * piece.size(), piece.size(), piece), 0);
}

}  // namespace
}  // namespace qm::platform
