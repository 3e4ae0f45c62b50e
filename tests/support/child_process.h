#pragma once
// A child process with its output in a file; killed and reaped when the object
// ends, unless it already ended.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "support/wait_until.h"

namespace qm::testing {

// A minimal environment for a child: `own` and a short PATH, plus the
// sanitizer options of a sanitizer build, so a child program's leak check
// honours the same suppressions as the test's.
inline std::vector<std::string> ChildEnvironment(std::vector<std::string> own) {
    own.push_back("PATH=/usr/bin:/bin");
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* value = std::getenv(name)) own.push_back(std::string(name) + "=" + value);
    return own;
}

class ChildProcess {
public:
    // `env` empty: the test's own environment. `errors` empty: stderr goes
    // with stdout into `output`.
    ChildProcess(std::vector<std::string> argv, const std::filesystem::path& output, std::vector<std::string> env = {},
                 const std::filesystem::path& errors = {}) {
        std::vector<char*> args, envp;
        for (std::string& w : argv) args.push_back(w.data());
        args.push_back(nullptr);
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (errors.empty()) posix_spawn_file_actions_adddup2(&actions, 1, 2);
        else posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.empty() ? environ : envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Alive() {
        int status = 0;
        const pid_t r = pid_ > 0 ? ::waitpid(pid_, &status, WNOHANG) : -1;
        if (r == 0) return true;
        if (r > 0) status_ = status;
        pid_ = -1;
        return false;
    }
    pid_t Pid() const { return pid_; }
    bool Signal(int sig) const { return pid_ > 0 && ::kill(pid_, sig) == 0; }
    // The exit code, or nothing when the process did not end normally in time.
    std::optional<int> Exit(std::chrono::milliseconds timeout) {
        WaitUntil([&] { return !Alive(); }, timeout);
        if (pid_ > 0 || !status_ || !WIFEXITED(*status_)) return std::nullopt;
        return WEXITSTATUS(*status_);
    }
    // The raw wait status once the process ended (to tell a signal from an exit).
    std::optional<int> Status() const { return status_; }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

}  // namespace qm::testing
