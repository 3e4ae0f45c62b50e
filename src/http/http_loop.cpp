#include "http/http_loop.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <thread>

#include "core/core_context.h"
#include "http/http_request.h"
#include "http/server_item.h"
#include "platform/clock.h"
#include "platform/send_file.h"
#include "platform/udp_socket.h"
#include "transport/tcp/tcp_session.h"

namespace qm::http {

using transport::TcpSession;

namespace {
constexpr uint64_t kListenerTag = 0;
constexpr uint64_t kWakeTag = 1;
// How often the loop looks at the item's run flag when nothing wakes it
// (the module's running flag is cleared without a wake-up).
constexpr int kStopCheckMs = 100;
// Connections accepted at one wake-up: the rest wait for the next, or for
// another loop, so one loop does not take every connection of a burst.
constexpr int kAcceptsPerWake = 16;
// Chunks read from one connection at one wake-up, so a client that floods
// cannot keep the loop from its other connections.
constexpr int kChunksPerWake = 16;

uint64_t Tag(const void* connection) { return reinterpret_cast<uint64_t>(connection); }
}  // namespace

int HttpLoop::Open() {
    if (const int rc = epoll_.Create()) return rc;
    if (const int rc = wake_.Create()) return rc;
    readBuffer_.resize(item_.common_.chunkSize);
    return epoll_.Add(wake_.Fd(), EPOLLIN, kWakeTag);
}

void HttpLoop::Run() {
    std::array<epoll_event, 64> events;
    while (item_.Live()) {
        const int waitMs = ExpireAndNextWaitMs();
        ListenIfRoom();
        int count = 0;
        if (const int rc = epoll_.Wait(events, waitMs, count); rc != 0) {
            // Cannot happen with a valid set; if it does, do not spin on it.
            item_.ReportSystemError(rc);
            std::this_thread::sleep_for(std::chrono::milliseconds(kStopCheckMs));
            continue;
        }
        for (int i = 0; i < count; ++i) {
            const uint64_t tag = events[static_cast<size_t>(i)].data.u64;
            if (tag == kListenerTag) {
                AcceptWaiting();
            } else if (tag == kWakeTag) {
                wake_.Drain();
                TakeBackSetAside();
            } else {
                Advance(reinterpret_cast<Connection*>(tag)->self);
            }
        }
    }
    // A stop ends every connection as any idle connection ends at a stop:
    // at once, with what it exchanged so far, and logged.
    while (!connections_.empty()) Finish(connections_.begin(), TcpSession::kOk, 0);
}

void HttpLoop::ListenIfRoom() {
    const bool room = connections_.size() < item_.loopCapacity_ && Clock::now() >= listenAgainAt_;
    if (room == listening_) return;
    const int fd = item_.listener_.SocketHandle();
    // Every loop waits on the one listener; exclusive, so a connection wakes
    // one of them, not all.
    if (room ? epoll_.Add(fd, EPOLLIN | EPOLLEXCLUSIVE, kListenerTag) == 0 : epoll_.Remove(fd) == 0) listening_ = room;
}

void HttpLoop::AcceptWaiting() {
    for (int i = 0; i < kAcceptsPerWake && connections_.size() < item_.loopCapacity_; ++i) {
        platform::TcpSocket socket;
        sockaddr_in peer{};
        const int rc = item_.listener_.AcceptWaitingSocket(socket, peer);
        if (rc == EAGAIN) return;
        if (rc != 0) {
            // Out of descriptors, say: the listener rests for ErrorTimeout
            // while the connections already open are served on.
            item_.AcceptFailed(rc);
            listenAgainAt_ = Clock::now() + std::chrono::milliseconds(item_.common_.errorTimeout);
            return;
        }
        Accepted(std::move(socket), peer);
    }
}

void HttpLoop::Accepted(platform::TcpSocket socket, const sockaddr_in& peer) {
    item_.CountAccepted();
    Connection& c = connections_.emplace_back();
    c.self = std::prev(connections_.end());
    c.socket = std::move(socket);
    c.peer = peer;
    c.acceptedMs = platform::MonotonicMs();
    c.deadline = Clock::now() + std::chrono::milliseconds(item_.common_.timeout);
    if (item_.setup_.defaults.logLevel > 0) c.logLine = "[" + platform::Ipv4Text(peer) + "]";
    // Most clients send their request with the connect: it is served now,
    // without a round through epoll.
    Advance(c.self);
}

void HttpLoop::Advance(Handle c) {
    switch (c->phase) {
        case Phase::kWaiting:
        case Phase::kGathering:
        case Phase::kDraining:
            if (!ReadIn(c)) return;
            break;
        case Phase::kWriting:
            if (SendOut(c) == Sent::kEnded) return;
            break;
    }
}

bool HttpLoop::ReadIn(Handle c) {
    if (c->phase == Phase::kWaiting && !c->slot) {
        if (!item_.TakeSlot()) {
            SetAside(c);
            return true;
        }
        c->slot = true;
    }
    const size_t chunk = readBuffer_.size();
    for (int i = 0; i < kChunksPerWake; ++i) {
        const ssize_t n = c->socket.Receive(std::span<char>(readBuffer_.data(), chunk));
        if (n == -EAGAIN) break;
        if (n < 0) {
            Finish(c, TcpSession::kSocketError, static_cast<int>(-n));
            return false;
        }
        if (n == 0) {
            c->peerClosed = true;
            break;
        }
        // Past the one answer a connection gives, what still comes is read
        // only so the peer's close can be seen.
        if (c->phase == Phase::kDraining) continue;
        if (c->phase == Phase::kWaiting) {
            c->phase = Phase::kGathering;
            // The whole request within one timeout of its first bytes.
            Rearm(c);
        }
        c->gathered.append(readBuffer_.data(), static_cast<size_t>(n));
        if (c->gathered.size() > TcpSession::kReadLimit || static_cast<size_t>(n) < chunk) break;
    }
    switch (c->phase) {
        case Phase::kWaiting:
            // Nothing came after all: the slot is for requests.
            c->slot = false;
            item_.ReleaseSlot();
            if (c->peerClosed) {
                Finish(c, TcpSession::kOk, 0);
                return false;
            }
            return Watch(c, EPOLLIN);
        case Phase::kGathering:
            // A peer that closes mid-request still gets an answer to what it sent.
            if (c->peerClosed || c->gathered.size() > TcpSession::kReadLimit || RequestHeadComplete(c->gathered))
                return Answer(c);
            return Watch(c, EPOLLIN);
        case Phase::kDraining:
            if (c->peerClosed) {
                Finish(c, TcpSession::kOk, 0);
                return false;
            }
            return true;
        case Phase::kWriting: break;
    }
    return true;
}

bool HttpLoop::Answer(Handle c) {
    c->received = static_cast<uint32_t>(c->gathered.size());
    {
        RequestHandler handler(item_.setup_, platform::Ipv4Text(c->peer), item_.Names(), c->logLine);
        c->answer = handler.Handle(c->gathered);
    }
    std::string().swap(c->gathered);
    c->phase = Phase::kWriting;
    Rearm(c);
    switch (SendOut(c)) {
        case Sent::kEnded: return false;
        case Sent::kPending: return Watch(c, EPOLLOUT);
        case Sent::kDone: return true;
    }
    return true;
}

HttpLoop::Sent HttpLoop::SendOut(Handle c) {
    HttpAnswer& a = c->answer;
    bool progress = false;
    Sent state = Sent::kDone;
    const size_t inMemory = a.bytes.size() + a.body.size();
    while (c->answerSent < inMemory) {
        const std::string_view head(a.bytes), body(a.body);
        const size_t at = c->answerSent;
        const ssize_t n = at < head.size() ? platform::SendPair(c->socket.Fd(), head.substr(at), body)
                                           : platform::SendPair(c->socket.Fd(), {}, body.substr(at - head.size()));
        if (n == -EAGAIN) {
            state = Sent::kPending;
            break;
        }
        if (n < 0) {
            Finish(c, TcpSession::kSocketError, static_cast<int>(-n));
            return Sent::kEnded;
        }
        c->answerSent += static_cast<size_t>(n);
        c->sent += static_cast<uint32_t>(n);
        progress = true;
    }
    while (state == Sent::kDone && a.file.Valid() && static_cast<uint64_t>(c->fileOffset) < a.fileSize) {
        const ssize_t n = platform::SendFileChunk(c->socket.Fd(), a.file.Get(), c->fileOffset,
                                                  static_cast<size_t>(a.fileSize - static_cast<uint64_t>(c->fileOffset)));
        if (n == -EAGAIN) {
            state = Sent::kPending;
            break;
        }
        // A file cut short since its length was announced: the answer can
        // only end unfinished, and the client sees it short.
        if (n <= 0) {
            Finish(c, TcpSession::kSocketError, n == 0 ? EIO : static_cast<int>(-n));
            return Sent::kEnded;
        }
        c->sent += static_cast<uint32_t>(n);
        progress = true;
    }
    if (state == Sent::kPending) {
        // The peer gets one timeout to take more, from the last it took.
        if (progress) Rearm(c);
        return state;
    }
    c->answer = HttpAnswer();
    if (c->peerClosed) {
        Finish(c, TcpSession::kOk, 0);
        return Sent::kEnded;
    }
    // Every answer says "Connection: close": the sending side ends here, and
    // the peer gets one timeout to close its own.
    c->socket.ShutdownSend();
    c->phase = Phase::kDraining;
    Rearm(c);
    return Watch(c, EPOLLIN) ? Sent::kDone : Sent::kEnded;
}

void HttpLoop::Finish(Handle c, int result, int error) {
    item_.Ended(result, error, c->sent, c->received, c->acceptedMs, c->logLine);
    if (c->slot) item_.ReleaseSlot();
    if (const auto aside = std::find(setAside_.begin(), setAside_.end(), c); aside != setAside_.end()) {
        setAside_.erase(aside);
        item_.setAside_.fetch_sub(1);
    }
    // Closing alone would not do: while a program is being started, its
    // copy of the descriptor keeps the socket, and its events, alive.
    if (c->watched) epoll_.Remove(c->socket.Fd());
    c->socket.Close();
    connections_.erase(c);
}

void HttpLoop::Rearm(Handle c) {
    c->deadline = Clock::now() + std::chrono::milliseconds(item_.common_.timeout);
    // Every deadline is "now plus the one timeout", so the latest set is
    // also the latest due: the list stays in order by moving it last.
    connections_.splice(connections_.end(), connections_, c);
}

bool HttpLoop::Watch(Handle c, uint32_t events) {
    const int fd = c->socket.Fd();
    const int rc = c->watched ? epoll_.Modify(fd, events, Tag(&*c)) : epoll_.Add(fd, events, Tag(&*c));
    if (rc != 0) {
        Finish(c, TcpSession::kSocketError, rc);
        return false;
    }
    c->watched = true;
    return true;
}

void HttpLoop::SetAside(Handle c) {
    if (c->watched) {
        epoll_.Remove(c->socket.Fd());
        c->watched = false;
    }
    setAside_.push_back(c);
    item_.setAside_.fetch_add(1);
    // A slot freed between the failed try and the count above woke no one.
    if (item_.busy_.load() < item_.common_.maxConn) Wake();
}

void HttpLoop::TakeBackSetAside() {
    std::vector<Handle> back;
    back.swap(setAside_);
    item_.setAside_.fetch_sub(static_cast<uint32_t>(back.size()));
    // Watched again, each comes back at once when its bytes are there, and
    // tries for a slot anew.
    for (Handle c : back) Watch(c, EPOLLIN);
}

int HttpLoop::ExpireAndNextWaitMs() {
    const Clock::time_point now = Clock::now();
    while (!connections_.empty() && connections_.front().deadline <= now) {
        const Handle c = connections_.begin();
        // A peer that stopped taking the answer fails the write; any other
        // has not been heard from in time.
        if (c->phase == Phase::kWriting)
            Finish(c, TcpSession::kSocketError, TcpSession::kTimedOutError);
        else
            Finish(c, TcpSession::kTimedOut, TcpSession::kTimedOutError);
    }
    long long waitMs = kStopCheckMs;
    if (!connections_.empty())
        waitMs = std::min<long long>(
            waitMs, std::chrono::ceil<std::chrono::milliseconds>(connections_.front().deadline - now).count());
    if (!listening_ && listenAgainAt_ > now)
        waitMs = std::min<long long>(waitMs, std::chrono::ceil<std::chrono::milliseconds>(listenAgainAt_ - now).count());
    return static_cast<int>(std::max<long long>(waitMs, 0));
}

}  // namespace qm::http
