#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/unique_fd.h"

extern char** environ;

namespace qm::platform {

namespace {

class SpawnFileActions {
public:
    SpawnFileActions() : initError_(posix_spawn_file_actions_init(&actions_)) {}
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    ~SpawnFileActions() {
        if (initError_ == 0) posix_spawn_file_actions_destroy(&actions_);
    }
    int InitError() const { return initError_; }
    posix_spawn_file_actions_t* Get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    int initError_;
};

class SpawnAttributes {
public:
    SpawnAttributes() : initError_(posix_spawnattr_init(&attr_)) {}
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() {
        if (initError_ == 0) posix_spawnattr_destroy(&attr_);
    }
    int InitError() const { return initError_; }
    posix_spawnattr_t* Get() { return &attr_; }

private:
    posix_spawnattr_t attr_;
    int initError_;
};

// Returns an errno value. stdoutFd, if >= 0, becomes the child's stdout and
// must not be 0, 1 or 2 (stdin is replaced before it is duplicated).
int Spawn(const std::vector<std::string>& argv, int stdoutFd, pid_t* pid) {
    if (argv.empty()) return EINVAL;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv) {
        // A C argv cannot hold a NUL; cutting the argument short there would
        // hand the program something other than what the caller asked for.
        if (arg.find('\0') != std::string::npos) return EINVAL;
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    SpawnFileActions actions;
    if (actions.InitError()) return actions.InitError();
    if (int e = posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null",
                                                 O_RDONLY, 0)) {
        return e;
    }
    if (stdoutFd >= 0) {
        if (int e = posix_spawn_file_actions_adddup2(actions.Get(), stdoutFd, STDOUT_FILENO)) {
            return e;
        }
    }

    // The server blocks or ignores signals for its own purposes (SIGPIPE,
    // signals taken by a dedicated thread); a started program must not
    // inherit that, or it could not be stopped or would misbehave on a
    // closed pipe.
    SpawnAttributes attr;
    if (attr.InitError()) return attr.InitError();
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(attr.Get(), &none);
    posix_spawnattr_setsigdefault(attr.Get(), &all);
    posix_spawnattr_setflags(attr.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // glibc reports a failed exec (ENOENT, EACCES, ...) here and reaps the
    // failed child itself, so an error never leaves a process behind.
    const bool searchPath = argv[0].find('/') == std::string::npos;
    return searchPath ? posix_spawnp(pid, args[0], actions.Get(), attr.Get(), args.data(), environ)
                      : posix_spawn(pid, args[0], actions.Get(), attr.Get(), args.data(), environ);
}

bool ReapIfEnded(pid_t pid) {
    pid_t r;
    do {
        r = waitpid(pid, nullptr, WNOHANG);
    } while (r == -1 && errno == EINTR);
    // -1 (ECHILD): nothing left to reap, because SIGCHLD is ignored or some
    // other code reaped it; either way it no longer needs us.
    return r != 0;
}

// Set once the reaper has been destroyed at exit, so that destructors of
// other static objects running after it do not touch it.
constinit std::atomic<bool> g_reaperGone{false};

// Waits only for the children registered with it: waitpid(-1) would take
// the exit status of children that other code is waiting for. Children end
// without telling us (SIGCHLD belongs to the whole process, not to this
// file), so while any are outstanding they are polled, soon after a start
// and then less often; with none, the thread sleeps until the next one.
class Reaper {
public:
    Reaper() = default;
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;

    ~Reaper() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        g_reaperGone = true;
        if (!thread_.joinable()) return;
        // A forked copy of this process has the object but not the thread;
        // joining there would wait forever. Children still running at exit
        // are simply inherited by init, which reaps them.
        if (threadOwner_ == getpid()) {
            thread_.join();
        } else {
            thread_.detach();
        }
    }

    void Add(pid_t pid) {
        std::lock_guard lock(mutex_);
        if (thread_.joinable() && threadOwner_ != getpid()) {
            // We are a forked copy: the registered pids are our parent's
            // children and the thread does not exist here.
            thread_.detach();
            pids_.clear();
        }
        const bool wasIdle = pids_.empty();
        pids_.push_back(pid);
        recentStart_ = true;
        if (!thread_.joinable()) StartThread();
        if (wasIdle) cv_.notify_one();
    }

    size_t Outstanding() {
        std::lock_guard lock(mutex_);
        return pids_.size();
    }

private:
    static constexpr std::chrono::milliseconds kFirstPoll{5};
    static constexpr std::chrono::milliseconds kLongestPoll{200};

    // Called with mutex_ held. The thread starts with every signal blocked,
    // so process-directed signals go to the threads meant to handle them.
    void StartThread() {
        sigset_t all;
        sigset_t old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        try {
            thread_ = std::thread([this] { Run(); });
            threadOwner_ = getpid();
        } catch (const std::system_error&) {
            // Out of threads: the pids stay registered and the next Add
            // tries again.
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }

    void Run() {
        std::unique_lock lock(mutex_);
        auto period = kFirstPoll;
        while (!stopping_) {
            if (recentStart_) {
                recentStart_ = false;
                period = kFirstPoll;
            }
            std::erase_if(pids_, ReapIfEnded);
            if (pids_.empty()) {
                cv_.wait(lock, [this] { return stopping_ || !pids_.empty(); });
                continue;
            }
            // A start does not cut this wait short: with many starts in a
            // row that would poll every outstanding child for each one.
            cv_.wait_for(lock, period, [this] { return stopping_; });
            period = std::min(period * 2, kLongestPoll);
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<pid_t> pids_;
    bool recentStart_ = false;
    bool stopping_ = false;
    std::thread thread_;
    pid_t threadOwner_ = -1;
};

Reaper& TheReaper() {
    static Reaper reaper;
    return reaper;
}

void HandToReaper(pid_t pid) {
    if (!g_reaperGone) TheReaper().Add(pid);
}

int ExitCode(int status) {
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace

StartResult StartDetached(const std::vector<std::string>& argv) {
    StartResult result;
    pid_t pid = -1;
    result.error = Spawn(argv, -1, &pid);
    if (result.error == 0) {
        result.pid = pid;
        HandToReaper(pid);
    }
    return result;
}

std::optional<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv, int* error,
                                                bool stdoutToPipe) {
    auto fail = [error](int e) {
        if (error) *error = e;
        return std::nullopt;
    };
    UniqueFd readEnd;
    UniqueFd writeEnd;
    if (stdoutToPipe) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return fail(errno);
        readEnd.Reset(fds[0]);
        writeEnd.Reset(fds[1]);
        // With stdin or stdout closed in this process the pipe may land on
        // 0..2, where the child's own redirections would overwrite it.
        if (writeEnd.Get() <= STDERR_FILENO) {
            int moved = fcntl(writeEnd.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            if (moved < 0) return fail(errno);
            writeEnd.Reset(moved);
        }
    }
    pid_t pid = -1;
    if (int e = Spawn(argv, writeEnd.Get(), &pid)) return fail(e);
    if (error) *error = 0;
    return ChildProcess(pid, std::move(readEnd));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      stdout_(std::move(other.stdout_)),
      status_(std::exchange(other.status_, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Release();
        pid_ = std::exchange(other.pid_, -1);
        stdout_ = std::move(other.stdout_);
        status_ = std::exchange(other.status_, std::nullopt);
    }
    return *this;
}

ChildProcess::~ChildProcess() { Release(); }

void ChildProcess::Release() noexcept {
    // Closed first: a child blocked writing to a full pipe nobody reads
    // would otherwise never end.
    stdout_.Reset();
    if (pid_ > 0 && !status_ && !ReapIfEnded(pid_)) {
        try {
            HandToReaper(pid_);
        } catch (...) {
            // Out of memory: the child stays a zombie, which is the lesser harm.
        }
    }
    pid_ = -1;
    status_.reset();
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    using namespace std::chrono;
    if (status_ || pid_ <= 0) return status_;
    const auto start = steady_clock::now();
    milliseconds pause{1};
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = ExitCode(status);
            return status_;
        }
        if (r == -1 && errno != EINTR) {
            status_ = -1;
            return status_;
        }
        if (r == -1) continue;
        // In whole milliseconds, so that a timeout of milliseconds::max()
        // (wait for ever) cannot overflow.
        const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - start);
        if (elapsed >= timeout) return std::nullopt;
        std::this_thread::sleep_for(std::min(pause, timeout - elapsed));
        pause = std::min(pause * 2, milliseconds{20});
    }
}

size_t OutstandingChildren() { return g_reaperGone ? 0 : TheReaper().Outstanding(); }

}  // namespace qm::platform
