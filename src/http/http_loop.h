#pragma once
// One event loop of a server item: a thread's worth of connections served
// from one epoll set, with no thread switch between accepting a connection,
// reading its request and sending the answer. The item runs one or two of
// them on the same listener; each accepts, owns and closes its own
// connections. Everything here runs on the loop's thread except Wake().
//
// A connection goes through: waiting (nothing said yet; holds no slot),
// gathering (a request under way), writing (the answer did not fit the
// socket at once), draining (answered and the sending side shut; read only
// until the peer closes). From its first bytes to its end it holds one of
// the item's MaxConn slots, so MaxConn bounds the requests being answered,
// not the clients that have said nothing; a connection whose bytes come
// while every slot is taken is set aside until one is free.
#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "http/http_handler.h"
#include "platform/epoll.h"
#include "platform/tcp_socket.h"

namespace qm::http {

class ServerItem;

class HttpLoop {
public:
    explicit HttpLoop(ServerItem& item) : item_(item) {}
    HttpLoop(const HttpLoop&) = delete;
    HttpLoop& operator=(const HttpLoop&) = delete;

    // Prepares the epoll set; 0 or errno.
    int Open();
    // Serves until the item stops; then ends every connection (each logged
    // as ended by the stop) and returns.
    void Run();
    // From any thread: the loop looks at the item's state again now.
    void Wake() { wake_.Signal(); }

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { kWaiting, kGathering, kWriting, kDraining };
    struct Connection {
        platform::TcpSocket socket;
        sockaddr_in peer{};
        Phase phase = Phase::kWaiting;
        bool slot = false;        // holds one of the item's MaxConn slots
        bool watched = false;     // in the epoll set
        bool peerClosed = false;  // the peer's end of the stream has been read
        Clock::time_point deadline;
        uint64_t acceptedMs = 0;
        std::string gathered;  // the request so far
        HttpAnswer answer;
        size_t answerSent = 0;  // of answer.bytes, then of answer.body
        off_t fileOffset = 0;   // of answer.file
        uint32_t sent = 0;
        uint32_t received = 0;
        std::string logLine;
        std::list<Connection>::iterator self;  // its place in connections_
    };
    using Connections = std::list<Connection>;  // by deadline, earliest first
    using Handle = Connections::iterator;

    void AcceptWaiting();
    void Accepted(platform::TcpSocket socket, const sockaddr_in& peer);
    // Whatever the connection's socket is ready for, by its phase.
    void Advance(Handle c);
    // Reads what has come; false when the connection has ended.
    bool ReadIn(Handle c);
    // Answers the gathered request; false when the connection has ended.
    bool Answer(Handle c);
    enum class Sent { kDone, kPending, kEnded };
    // Sends what the socket takes of the answer; kEnded when the
    // connection has ended (finished, failed or closed by the peer).
    Sent SendOut(Handle c);
    void Finish(Handle c, int result, int error);
    // Restarts the connection's one timeout from now.
    void Rearm(Handle c);
    bool Watch(Handle c, uint32_t events);
    void SetAside(Handle c);
    void TakeBackSetAside();
    void ListenIfRoom();
    // Ends connections whose time is up; how long until the next one is.
    int ExpireAndNextWaitMs();

    ServerItem& item_;
    platform::Epoll epoll_;
    platform::WakeFd wake_;
    Connections connections_;
    std::vector<Handle> setAside_;  // waiting for a free slot, not watched
    bool listening_ = false;
    Clock::time_point listenAgainAt_{};  // after a failed accept
    std::string readBuffer_;
};

}  // namespace qm::http
