#include "script/script_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/local_socket.h"

namespace qm::script {

namespace {

// A client that connects and then sends nothing must not hold the one
// script slot for ever.
constexpr int kReadTimeoutMs = 30000;

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(size_t(n));
    }
    return true;
}

}  // namespace

std::filesystem::path ScriptSocketPath(const std::filesystem::path& settingsFolder) {
    return settingsFolder / "quillmark.sock";
}

ScriptServer::ScriptServer(std::filesystem::path path, Runner run, std::atomic<uint32_t>* threadCounter)
    : path_(std::move(path)), run_(std::move(run)), threadCounter_(threadCounter) {}

bool ScriptServer::Start() {
    listener_ = platform::ListenLocal(path_);
    if (!listener_.Valid()) return false;
    wake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_.Valid()) {
        listener_.Reset();
        return false;
    }
    thread_ = platform::Thread(threadCounter_, [this] { Serve(); });
    return true;
}

void ScriptServer::Stop() {
    if (!thread_.Joinable()) return;
    stop_.Set();
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
    thread_.Join();
    listener_.Reset();
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

void ScriptServer::Serve() {
    while (!stop_.IsSet()) {
        pollfd fds[2] = {{listener_.Get(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "script socket: %s; scripts from the command line are no longer taken\n", std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) return;
        platform::UniqueFd client(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (client.Valid()) Answer(std::move(client));
    }
}

void ScriptServer::Answer(platform::UniqueFd client) {
    const std::optional<uid_t> peer = platform::PeerUser(client.Get());
    if (!peer || *peer != ::geteuid()) {
        std::fprintf(stderr, "script socket: a connection of user %ld refused\n", peer ? long(*peer) : -1L);
        return;
    }
    std::string script;
    char buffer[65536];
    for (;;) {
        pollfd fds[2] = {{client.Get(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, kReadTimeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || fds[1].revents != 0) return;
        const ssize_t n = ::recv(client.Get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return;
        if (n == 0) break;
        if (script.size() + size_t(n) > kMaxScriptBytes) {
            SendAll(client.Get(), "1FAIL (_SCRIPT_): the script is larger than 16 MiB");
            return;
        }
        script.append(buffer, size_t(n));
    }
    const ScriptRun run = run_(script, &stop_);
    SendAll(client.Get(), (run.failures == 0 && !run.cancelled ? "0" : "1") + run.text);
}

}  // namespace qm::script
