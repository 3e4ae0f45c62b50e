#pragma once
// One connection to a Laurent board: connect with up to three attempts, send
// a line, take one reply. Every wait has a limit (a zero time-out stands for
// the default) and ends early when the caller is stopping, so a poll never
// holds its module's lock longer than one time-out past a Stop. Owns its
// socket; used by one thread (the service's) at a time.
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "core/counters.h"
#include "platform/tcp_socket.h"

namespace qm::polling::laurent {

// A configured time-out as used: 0 (never set) means 5000 ms, not "wait for ever".
uint32_t UsableTimeoutMs(uint32_t configured);

struct BoardTimeouts {
    uint32_t connectMs = 5000;
    uint32_t sendMs = 5000;
    uint32_t recvMs = 5000;
};

class BoardSession {
public:
    static constexpr size_t kReplyCapacity = 2048;

    // `stopping` is asked between slices of every wait; `counters` get the
    // bytes and lines sent and received.
    BoardSession(const BoardTimeouts& timeouts, std::function<bool()> stopping, core::CoreCounters& counters);

    // 0 when connected; else the error of the last attempt (ETIMEDOUT when a
    // wait ran out, ECANCELED when stopped). A refused attempt is retried
    // after 10 ms, a wait that ran out ends the attempts.
    int Connect(const sockaddr_in& board);
    // The whole line within the send time-out.
    bool SendLine(std::string_view line);
    // One reply of at most kReplyCapacity bytes, valid until the next call;
    // nothing when none came within the receive time-out.
    std::optional<std::string_view> Receive();

private:
    // Waits for `events`; false when the time ran out or the caller stops.
    bool Wait(const platform::TcpSocket& socket, short events, uint32_t ms) const;

    BoardTimeouts timeouts_;
    std::function<bool()> stopping_;
    core::CoreCounters& counters_;
    platform::TcpSocket socket_;
    std::array<char, kReplyCapacity> buffer_{};
};

}  // namespace qm::polling::laurent
