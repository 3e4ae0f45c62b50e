#include "polling/laurent/board_session.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace qm::polling::laurent {

namespace {
constexpr uint32_t kDefaultTimeoutMs = 5000;
constexpr int kConnectAttempts = 3;
constexpr auto kAttemptPause = std::chrono::milliseconds(10);
// Waits are cut into slices this long, so a Stop is seen in time.
constexpr uint32_t kSliceMs = 50;
}  // namespace

uint32_t UsableTimeoutMs(uint32_t configured) { return configured ? configured : kDefaultTimeoutMs; }

BoardSession::BoardSession(const BoardTimeouts& timeouts, std::function<bool()> stopping, core::CoreCounters& counters)
    : timeouts_{UsableTimeoutMs(timeouts.connectMs), UsableTimeoutMs(timeouts.sendMs), UsableTimeoutMs(timeouts.recvMs)},
      stopping_(std::move(stopping)),
      counters_(counters) {}

bool BoardSession::Wait(const platform::TcpSocket& socket, short events, uint32_t ms) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || (stopping_ && stopping_())) return false;
        short ready = 0;
        if (socket.Poll(events, static_cast<int>(std::min<long long>(left, kSliceMs)), ready) != 0) return false;
        // An error or hang-up shows as ready too: the call that follows says which.
        if (ready) return true;
    }
}

int BoardSession::Connect(const sockaddr_in& board) {
    int error = ECONNREFUSED;
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(kAttemptPause);
        if (stopping_ && stopping_()) return ECANCELED;
        platform::TcpSocket socket;  // closed with this scope unless it connects
        if ((error = socket.Open()) != 0) return error;
        error = socket.StartConnect(board);
        if (error == EINPROGRESS) {
            if (!Wait(socket, POLLOUT, timeouts_.connectMs)) return (stopping_ && stopping_()) ? ECANCELED : ETIMEDOUT;
            // A refused connect is "writable" as well; only the pending error tells.
            error = socket.ConnectResult();
        }
        if (error == 0) {
            socket_ = std::move(socket);
            return 0;
        }
    }
    return error;
}

bool BoardSession::SendLine(std::string_view line) {
    if (!socket_.IsOpen()) return false;
    while (!line.empty()) {
        if (!Wait(socket_, POLLOUT, timeouts_.sendMs)) return false;
        const ssize_t n = socket_.Send(line);
        if (n == -EAGAIN) continue;
        if (n <= 0) return false;
        counters_.CountSent(static_cast<uint64_t>(n));
        line.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<std::string_view> BoardSession::Receive() {
    if (!socket_.IsOpen() || !Wait(socket_, POLLIN, timeouts_.recvMs)) return std::nullopt;
    const ssize_t n = socket_.Receive(buffer_);
    if (n <= 0) return std::nullopt;
    counters_.CountReceived(static_cast<uint64_t>(n));
    return std::string_view(buffer_.data(), static_cast<size_t>(n));
}

}  // namespace qm::polling::laurent
