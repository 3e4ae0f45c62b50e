#pragma once
// A scripted device on loopback for the TCP pollers' tests: it cuts what a
// connection sends into requests (a Laurent board's lines, Modbus frames),
// keeps every request, and answers each as the test says. There is no
// packaged Laurent board to run, and pymodbus never sends what the tests
// need (short byte counts, answers split on their way, a connection kept
// open, silence).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/loopback_server.h"

namespace qm::testing {

struct PeerRequest {
    int connection = 0;  // 1 for the first accepted
    std::string bytes;   // a line without its "\r\n"
    uint8_t At(size_t i) const { return static_cast<uint8_t>(bytes.at(i)); }
    uint16_t Word(size_t i) const { return static_cast<uint16_t>(At(i) << 8 | At(i + 1)); }  // big-endian
};

struct PeerAnswer {
    std::vector<std::string> pieces;  // sent one after another,
    int pauseMs = 0;                  // each after this pause;
    bool close = false;               // then the connection is closed
};

class ScriptedPeer {
public:
    // Nothing from the script leaves the request unanswered.
    using Script = std::function<std::optional<PeerAnswer>(const PeerRequest&)>;
    // Of what a connection sent so far: the size of the first whole
    // request (0: none yet) and of its ending that is not kept.
    using Cut = std::function<std::pair<size_t, size_t>(const std::string& pending)>;
    static std::pair<size_t, size_t> Lines(const std::string& p) {
        const size_t end = p.find("\r\n");
        return end == std::string::npos ? std::pair<size_t, size_t>{0, 0} : std::pair<size_t, size_t>{end + 2, 2};
    }
    static std::pair<size_t, size_t> ModbusRequests(const std::string& p) { return {p.size() >= 12 ? 12 : 0, 0}; }

    // A client's end of stream is answered by a close unless `keepOpen`.
    ScriptedPeer(Cut cut, Script script, bool keepOpen = false)
        : cut_(std::move(cut)), script_(std::move(script)), keepOpen_(keepOpen) {}

    uint16_t Port() const { return server_.Port(); }
    std::vector<PeerRequest> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    size_t Count(const std::string& bytes) const {
        return std::ranges::count_if(Requests(), [&](const PeerRequest& r) { return r.bytes == bytes; });
    }
    int Connections() const { return server_.Connections(); }
    // Connections whose client ended its sending.
    int ClientEnds() const { return clientEnds_.load(); }

private:
    // One connection: requests until the client ends, an answer closes it,
    // or the server stops. Kept open, only the server's end closes it.
    bool Talk(const LoopbackServer& server, int fd, int connection) {
        std::string pending;
        char buf[512];
        for (bool open = true; open && !server.Stopping();) {
            if (!LoopbackServer::Readable(fd)) continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                clientEnds_ += n == 0 ? 1 : 0;
                break;
            }
            pending.append(buf, static_cast<size_t>(n));
            for (auto [size, ending] = cut_(pending); open && size > 0; std::tie(size, ending) = cut_(pending)) {
                const PeerRequest request{connection, pending.substr(0, size - ending)};
                pending.erase(0, size);
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(request);
                }
                const std::optional<PeerAnswer> answer = script_(request);
                for (size_t i = 0; answer && open && i < answer->pieces.size(); ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(answer->pauseMs));
                    open = ::send(fd, answer->pieces[i].data(), answer->pieces[i].size(), MSG_NOSIGNAL) >= 0;
                }
                if (answer && answer->close) open = false;
            }
        }
        return !keepOpen_;
    }

    Cut cut_;
    Script script_;
    bool keepOpen_;
    std::atomic<int> clientEnds_{0};
    mutable std::mutex mutex_;
    std::vector<PeerRequest> requests_;
    LoopbackServer server_{[this](LoopbackServer& s, int fd, int n) { return Talk(s, fd, n); }};
};

// A loopback port bound but not listening: every connect to it is refused.
class RefusingPort {
public:
    RefusingPort() {
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
    int fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    uint16_t port_ = 0;
};

}  // namespace qm::testing
