#pragma once
// A TCP server on a free loopback port for tests that play a device's side:
// one thread accepts connections in turn and hands each to the test's
// conversation. Declare it after everything the conversation uses, so it
// stops (joining its thread) before those go.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace qm::testing {

class LoopbackServer {
public:
    // Runs on the server's thread for each connection (numbered from 1)
    // until the conversation is over; false keeps the connection open until
    // the server ends, true lets the server close it.
    using Talk = std::function<bool(LoopbackServer& server, int fd, int connection)>;

    explicit LoopbackServer(Talk talk) : talk_(std::move(talk)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t Port() const { return port_; }
    int Connections() const { return connections_.load(); }
    bool Stopping() const { return stop_.load(); }
    // Whether the socket has something to read within a short slice, so a
    // conversation notices the server's end in time.
    static bool Readable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 20) > 0;
    }

private:
    void Serve() {
        std::vector<int> held;
        while (!stop_) {
            if (!Readable(listener_)) continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            if (talk_(*this, fd, ++connections_)) ::close(fd);
            else held.push_back(fd);
        }
        for (int fd : held) ::close(fd);
    }

    Talk talk_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace qm::testing
