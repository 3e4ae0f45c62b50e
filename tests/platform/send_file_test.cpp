#include "platform/send_file.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>

#include "support/temp_dir.h"

namespace qm::platform {
namespace {

// A peer gone mid-file gives an error, also in a process that does not
// ignore SIGPIPE (a test, or a program embedding the server).
TEST(SendFile, APeerGoneGivesEpipeAndNoSignal) {
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    testing::TempDir dir("qm-sendfile");
    const auto path = dir.path() / "f.bin";
    std::ofstream(path) << std::string(65536, 'x');
    UniqueFd file;
    FileStamp stamp;
    ASSERT_EQ(OpenForSending(path, file, stamp), 0);
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ::close(pair[1]);
    off_t offset = 0;
    EXPECT_EQ(SendFileChunk(pair[0], file.Get(), offset, 65536), -EPIPE);
    EXPECT_EQ(SendFileChunk(pair[0], file.Get(), offset, 65536), -EPIPE);
    ::close(pair[0]);
    sigset_t pending;
    ASSERT_EQ(sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "a SIGPIPE was left pending";
    std::signal(SIGPIPE, previous);
}

}  // namespace
}  // namespace qm::platform
