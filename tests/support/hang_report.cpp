// A case that hangs is killed by ctest at its time-out, and all that is left
// is its name: this prints every thread's stack shortly before, so a hang
// seen once on a loaded machine can be read instead of guessed at.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

class HangReport : public ::testing::EmptyTestEventListener {
public:
    explicit HangReport(std::chrono::seconds limit) : limit_(limit) {
        // gdb runs as a child of this process and attaches to its parent,
        // which Yama's default scope refuses unless the parent allows it.
        ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
        watcher_ = std::thread([this] { Watch(); });
    }
    ~HangReport() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        watcher_.join();
    }

    void OnTestStart(const ::testing::TestInfo&) override { Arm(true); }
    void OnTestEnd(const ::testing::TestInfo&) override { Arm(false); }

private:
    void Arm(bool on) {
        {
            std::lock_guard lock(mutex_);
            armed_ = on;
            deadline_ = std::chrono::steady_clock::now() + limit_;
        }
        changed_.notify_all();
    }
    void Watch() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (!armed_) {
                changed_.wait(lock);
                continue;
            }
            if (changed_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ && !quit_ &&
                std::chrono::steady_clock::now() >= deadline_) {
                armed_ = false;
                lock.unlock();
                PrintStacks();
                lock.lock();
            }
        }
    }
    void PrintStacks() const {
        std::fprintf(stderr, "\n*** the case has run %llds: every thread's stack follows\n", (long long)limit_.count());
        std::fflush(stderr);
        const std::string pid = std::to_string(::getpid());
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(2, 1);
            ::execlp("gdb", "gdb", "-p", pid.c_str(), "-batch", "-nx", "-ex", "thread apply all bt", static_cast<char*>(nullptr));
            std::fprintf(stderr, "*** gdb could not be started\n");
            ::_exit(127);
        }
        if (child > 0) ::waitpid(child, nullptr, 0);
    }

    const std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false;
    bool quit_ = false;
    std::chrono::steady_clock::time_point deadline_;
    std::thread watcher_;
};

// Below ctest's own time-out, so the stacks are printed before it kills the case.
const bool kInstalled = [] {
    const char* text = std::getenv("QM_HANG_REPORT_SECONDS");
    const long seconds = text ? std::atol(text) : 150;
    if (seconds > 0)  // the listener list owns what it is given
        ::testing::UnitTest::GetInstance()->listeners().Append(std::make_unique<HangReport>(std::chrono::seconds(seconds)).release());
    return true;
}();

}  // namespace
