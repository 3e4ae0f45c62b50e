#pragma once
// A stand-in Laurent board on loopback: a TCP listener thread that reads
// "\r\n"-ended lines and answers each as the test says (a reply after an
// optional delay, or silence), keeping every line it was sent. There is no
// packaged board to run, so this plays its side of the protocol.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_server.h"

namespace qm::testing {

struct BoardReply {
    std::string text;  // sent as it is: the test adds "\r\n" where it wants one
    int delayMs = 0;
};

class FakeBoard {
public:
    // Nothing from `answer`: the board stays silent on that line.
    using Answer = std::function<std::optional<BoardReply>(const std::string& line)>;

    explicit FakeBoard(Answer answer) : answer_(std::move(answer)) {}

    uint16_t Port() const { return server_.Port(); }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    size_t Count(const std::string& line) const {
        size_t n = 0;
        for (const std::string& l : Lines()) n += l == line ? 1 : 0;
        return n;
    }
    int Connections() const { return server_.Connections(); }

private:
    // One connection: lines until the client ends or the server stops.
    bool Talk(const LoopbackServer& server, int fd) {
        std::string pending;
        char buf[512];
        for (bool open = true; open && !server.Stopping();) {
            if (!LoopbackServer::Readable(fd)) continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            pending.append(buf, static_cast<size_t>(n));
            for (size_t end; open && (end = pending.find("\r\n")) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(line);
                }
                if (const std::optional<BoardReply> reply = answer_(line)) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(reply->delayMs));
                    open = ::send(fd, reply->text.data(), reply->text.size(), MSG_NOSIGNAL) >= 0;
                }
            }
        }
        return true;
    }

    Answer answer_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    LoopbackServer server_{[this](LoopbackServer& s, int fd, int) { return Talk(s, fd); }};
};

// A loopback port bound but not listening: every connect to it is refused.
class RefusingPort {
public:
    RefusingPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~RefusingPort() { ::close(fd_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    uint16_t Port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace qm::testing
