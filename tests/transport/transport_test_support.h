#pragma once
// What the transport tests share: a plain UDP peer on a loopback address, a
// free port, waiting for a condition, and child processes (logger, rsyslogd,
// the program itself) that are always reaped.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qm::testing {

using Clock = std::chrono::steady_clock;

inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline sockaddr_in Loopback(uint16_t port, const char* ip = "127.0.0.1") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

inline std::string ReadWholeFile(const std::filesystem::path& p) {
    std::ostringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
}

// A UDP socket bound to `ip` (port 0: one the system picks).
class UdpPeer {
public:
    explicit UdpPeer(const char* ip = "127.0.0.1", uint16_t port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in local = Loopback(port, ip);
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            bindError_ = errno;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~UdpPeer() {
        if (fd_ >= 0) ::close(fd_);
    }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int BindError() const { return bindError_; }
    uint16_t Port() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    bool SendTo(uint16_t port, std::string_view bytes, const char* ip = "127.0.0.1") const {
        const sockaddr_in to = Loopback(port, ip);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(bytes.size());
    }
    // One datagram, or nothing within the timeout.
    std::optional<std::string> Receive(std::chrono::milliseconds timeout, sockaddr_in* from = nullptr) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
        std::string buffer(65536, '\0');
        sockaddr_in sender{};
        socklen_t len = sizeof sender;
        const ssize_t got = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&sender), &len);
        if (got < 0) return std::nullopt;
        if (from) *from = sender;
        buffer.resize(static_cast<size_t>(got));
        return buffer;
    }

private:
    int fd_ = -1;
    int bindError_ = 0;
};

// A port nothing is bound to on 127.0.0.1 right now.
inline uint16_t FreePort() {
    UdpPeer probe;
    return probe.Ok() ? probe.Port() : 0;
}

// A child process with its output in a file; killed and reaped when the object
// ends, unless it already ended.
class ChildProcess {
public:
    // `env` empty: the test's own environment.
    ChildProcess(std::vector<std::string> argv, const std::filesystem::path& output, std::vector<std::string> env = {}) {
        std::vector<char*> args, envp;
        for (std::string& w : argv) args.push_back(w.data());
        args.push_back(nullptr);
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int rc = env.empty() ? posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ)
                                   : posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) pid_ = -1;
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0 || status_.has_value(); }
    bool Alive() {
        if (pid_ <= 0) return false;
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == 0) return true;
        if (r == pid_) status_ = status;
        pid_ = -1;
        return false;
    }
    bool Signal(int sig) const { return pid_ > 0 && ::kill(pid_, sig) == 0; }
    // The exit code, or nothing when the process did not end normally in time.
    std::optional<int> Exit(std::chrono::milliseconds timeout) {
        WaitUntil([&] { return !Alive(); }, timeout);
        if (pid_ > 0 || !status_ || !WIFEXITED(*status_)) return std::nullopt;
        return WEXITSTATUS(*status_);
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

}  // namespace qm::testing
