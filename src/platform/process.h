#pragma once
// Starting other programs. Arguments often carry network data, so a program
// is always started from an argument vector, never through a shell: each
// string reaches the child's argv exactly as given.
//
// The child inherits the environment and the current directory; its stdin is
// /dev/null, its signal mask is empty and all its signal dispositions are the
// defaults, whatever this process blocks or ignores. argv[0] is the program:
// with a '/' it is used as a path, without one it is looked up in PATH.
// Arguments cannot contain NUL bytes; such a vector is refused with EINVAL.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace qm::platform {

struct StartResult {
    int error = 0;   // errno value, 0 on success
    pid_t pid = -1;
};

// Starts a program nobody waits for. A process-wide background thread reaps
// it once it ends, so it never lingers as a zombie.
StartResult StartDetached(const std::vector<std::string>& argv);

// A started child that the owner can wait for. If the owner has not seen
// it end, the destructor hands it to the background reaper; it neither kills
// the child nor blocks until it ends.
class ChildProcess {
public:
    // With stdoutToPipe, the child's stdout is a pipe whose read end is
    // StdoutFd(), owned (and closed) by this object. On failure *error
    // receives the errno value; on success it is set to 0.
    static std::optional<ChildProcess> Start(const std::vector<std::string>& argv,
                                             int* error = nullptr, bool stdoutToPipe = false);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // The exit code, or 128 + signal number if a signal ended the child;
    // nullopt if it is still running when the timeout passes. Once known,
    // the status is returned again by later calls. -1 if the child was
    // reaped behind our back (SIGCHLD ignored, or a waitpid(-1) elsewhere).
    std::optional<int> Wait(std::chrono::milliseconds timeout);

    pid_t Pid() const { return pid_; }
    int StdoutFd() const { return stdout_.Get(); }  // -1 unless piped

private:
    ChildProcess(pid_t pid, UniqueFd stdoutFd) : pid_(pid), stdout_(std::move(stdoutFd)) {}
    void Release() noexcept;

    pid_t pid_ = -1;
    UniqueFd stdout_;
    std::optional<int> status_;
};

// Detached (or handed-over) children that have not been reaped yet.
size_t OutstandingChildren();

}  // namespace qm::platform
