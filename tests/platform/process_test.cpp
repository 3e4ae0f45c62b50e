#include "platform/process.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>

#include "support/wait_until.h"

namespace qm::platform {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using qm::testing::WaitUntil;

std::string ReadAll(int fd) {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    return out;
}

// Children of this process that have ended but were never waited for.
std::vector<pid_t> Zombies() {
    std::vector<pid_t> zombies;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    while (dirent* e = readdir(proc.get())) {
        if (!std::isdigit(static_cast<unsigned char>(e->d_name[0]))) continue;
        std::ifstream in("/proc/"s + e->d_name + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        char state = 0;
        int ppid = 0;
        const size_t close = stat.rfind(')');
        if (close != std::string::npos && std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
            state == 'Z' && ppid == getpid())
            zombies.push_back(std::stoi(e->d_name));
    }
    return zombies;
}

TEST(Process, ArgumentsArriveExactlyAndNoShellIsInvolved) {
    const std::vector<std::string> args = {
        "it's", "\"quoted\"", "$(touch /tmp/qm-injected)", "`id`", "a; echo injected",
        "two  words", "line1\nline2", "", "*", "$HOME", "\\n", "-n", "\xC3\xBC\xFF", ""};
    std::string expected;
    for (const auto& a : args) expected += a + '\0';
    expected += "/dev/null\ninherited\n";
    ASSERT_EQ(setenv("QM_PROCESS_TEST", "inherited", 1), 0);

    for (const char* shell : {"/bin/sh", "sh"}) {  // a path, and a name looked up in PATH
        std::vector<std::string> argv = {
            shell, "-c", "printf '%s\\0' \"$@\"; readlink /proc/self/fd/0; echo \"$QM_PROCESS_TEST\"", "recorder"};
        argv.insert(argv.end(), args.begin(), args.end());
        int error = -1;
        auto child = ChildProcess::Start(argv, &error, true);
        ASSERT_TRUE(child) << shell;
        EXPECT_EQ(error, 0);
        EXPECT_EQ(ReadAll(child->StdoutFd()), expected) << shell;
        EXPECT_EQ(child->Wait(10s), 0);
    }
}

TEST(Process, FailedStartsReportErrnoAndLeaveNothingBehind) {
    EXPECT_EQ(StartDetached({"/nonexistent/qm-program"}).error, ENOENT);
    const StartResult viaPath = StartDetached({"qm-no-such-program-4711", "arg"});
    EXPECT_EQ(std::pair(viaPath.error, viaPath.pid), std::pair(ENOENT, pid_t(-1)));
    EXPECT_EQ(StartDetached({"/etc/passwd"}).error, EACCES);
    EXPECT_EQ(StartDetached({}).error, EINVAL);
    // Cutting the argument at the NUL would run the program with other data.
    EXPECT_EQ(StartDetached({"/bin/echo", "a\0b"s}).error, EINVAL);

    int error = 0;
    EXPECT_FALSE(ChildProcess::Start({"/nonexistent/qm-program"}, &error, true));
    EXPECT_EQ(error, ENOENT);
    EXPECT_TRUE(Zombies().empty());
}

TEST(Process, DetachedChildrenAreReapedWithoutTakingOthersStatus) {
    auto waited = ChildProcess::Start({"/bin/sh", "-c", "exit 3"});
    ASSERT_TRUE(waited);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(StartDetached({"/bin/true"}).error, 0);
    EXPECT_TRUE(WaitUntil([] { return OutstandingChildren() == 0 && Zombies().size() <= 1; }));
    // The reaper waits for its own children only.
    EXPECT_EQ(waited->Wait(10s), 3);
    EXPECT_TRUE(Zombies().empty());
}

TEST(Process, WaitGivesExitCodeSignalOrTimeout) {
    auto exits = ChildProcess::Start({"/bin/sh", "-c", "exit 7"});
    ASSERT_TRUE(exits);
    ChildProcess moved = std::move(*exits);
    EXPECT_EQ(exits->Pid(), -1);
    EXPECT_EQ(moved.Wait(10s), 7);
    EXPECT_EQ(moved.Wait(0ms), 7);

    // What this process blocks or ignores must not reach the child: a shell
    // cannot undo a signal that was ignored when it started.
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    auto oldInt = signal(SIGINT, SIG_IGN);
    auto terminated = ChildProcess::Start({"/bin/sh", "-c", "kill -TERM $$; exit 0"});
    auto interrupted = ChildProcess::Start({"/bin/sh", "-c", "kill -INT $$; exit 0"});
    signal(SIGINT, oldInt);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_TRUE(terminated && interrupted);
    EXPECT_EQ(terminated->Wait(10s), 128 + SIGTERM);
    EXPECT_EQ(interrupted->Wait(10s), 128 + SIGINT);

    auto sleeper = ChildProcess::Start({"/bin/sleep", "10"});
    ASSERT_TRUE(sleeper);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sleeper->Wait(50ms), std::nullopt);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    kill(sleeper->Pid(), SIGKILL);
    EXPECT_EQ(sleeper->Wait(std::chrono::milliseconds::max()), 128 + SIGKILL);
}

TEST(Process, DroppedRunningChildIsReapedInBackground) {
    {
        auto sleeper = ChildProcess::Start({"/bin/sleep", "0.2"});
        // Writes for ever unless its pipe is closed when the owner lets go.
        auto writer = ChildProcess::Start({"/bin/sh", "-c", "while :; do echo x; done"}, nullptr, true);
        ASSERT_TRUE(sleeper && writer);
    }
    EXPECT_GE(OutstandingChildren(), 1u);
    EXPECT_TRUE(WaitUntil([] { return OutstandingChildren() == 0; }));
    EXPECT_TRUE(Zombies().empty());
}

}  // namespace
}  // namespace qm::platform
