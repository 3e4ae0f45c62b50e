#pragma once
// One TCP endpoint as the HTTP server and the pollers see it: a listener that
// hands out a session per accepted connection, a connection accepted or
// attached from elsewhere, or a client connection this side opened. Every
// wait is bounded by the session's timeout and by a stop request, so no peer
// can hold a thread that is asked to finish. With `verbose` negative each
// step leaves a line in the session's own log, which its owner copies out.
// The session knows no protocol: what makes a request whole, and whether a
// connection ends after an answer, is its user's business (the HTTP server
// runs its own serving loop on WaitEvents, Read and Write).
#include <netinet/in.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/text_format.h"
#include "platform/tcp_socket.h"

namespace qm::transport {

// What one served connection exchanged most recently, kept by the owner of
// the serving loop. The session replaces `data` on every read, so a
// connection that carries many requests holds only the latest.
struct TcpExchange {
    uint32_t sent = 0;
    uint32_t received = 0;
    std::string data;
    uint32_t receivedCopy = 0;  // for the owner, who may clear `received`
};

// Network notifications of one wait. When several come together, handle
// them in this order: connect, read, close (bytes the peer sent just before
// closing are read before its close is seen).
struct TcpEvents {
    bool connect = false;  // a started connect has ended (failed: connectError)
    int connectError = 0;
    bool read = false;     // bytes are waiting (or the receive failed: readError)
    int readError = 0;
    bool close = false;    // the peer closed its side
    bool stopped = false;  // RequestStop() ended the wait
};

class TcpSession {
public:
    enum Result : int {
        kOk = 0,
        kNotUsable = 1,      // no socket, not open, or memory exhausted in a read
        kSocketError = 2,    // the errno comes through `error`
        kNothingToDo = 3,    // a read that got no bytes, a write with no data
        kHostNotFound = 4,
        kTimedOut = 5,
    };
    // The error numbers that go with results 4 and 5. Everything in this
    // layer speaks errno, so these are errno values too: a name that does not
    // resolve reads as "no route to host" (the resolver's own EAI_* code is
    // a separate numbering nobody downstream would understand), and a wait
    // that runs out as ETIMEDOUT, which is what the kernel uses for a
    // connection that timed out.
    static constexpr int kHostNotFoundError = EHOSTUNREACH;
    static constexpr int kTimedOutError = ETIMEDOUT;

    static constexpr uint32_t kDefaultChunkSize = 1024;
    static constexpr uint32_t kDefaultTimeoutMs = 5000;
    // One read stops gathering after the first chunk that takes it past
    // this, so a request is at most this plus one chunk.
    static constexpr size_t kReadLimit = 10240;

    // The answer to a request; empty means none (and fails the write).
    using RequestHandler = std::function<std::string(std::string_view request)>;

    // chunkSize 0 means 1024 bytes, timeoutMs 0 means 5000 ms.
    TcpSession(uint32_t chunkSize, uint32_t timeoutMs, int8_t verbose);
    ~TcpSession() = default;  // the socket closes with the session
    TcpSession(const TcpSession&) = delete;
    TcpSession& operator=(const TcpSession&) = delete;

    // Attaches a connected socket made elsewhere (accepted here or by the
    // caller). 0 or 2.
    int Open(platform::TcpSocket connected, const sockaddr_in& peer, int& error);
    // Attaches a socket whose non-blocking connect has been started (and may
    // have finished): the next WaitEvents reports the connect's outcome,
    // once, as a connect event, a refusal as a connect event with its error.
    // 0 or 2.
    int OpenConnecting(platform::TcpSocket connecting, const sockaddr_in& peer, int& error);
    // Starts a non-blocking connect to host:port and attaches it as above,
    // for users that wait for the connect among their other events. 0, 2
    // (a connect that failed at once) or 4.
    int StartConnect(std::string_view host, uint16_t port, int& error);
    // Listens on host:port. 0, 2 or 4.
    int OpenServer(std::string_view host, uint16_t port, int backlog, int& error);
    // Connects to host:port, waiting at most the timeout. 0, 2 (a refused
    // connection gives ECONNREFUSED), 4 or 5.
    int OpenClient(std::string_view host, uint16_t port, int& error);

    // Waits, without a time limit but not past a stop request, for the next
    // connection on this listening session. Nothing on failure.
    std::unique_ptr<TcpSession> AcceptConnection(int& error);
    // The next connection if one is waiting now; nothing, with EAGAIN, when
    // none is (for owners that wait on the listener among other sockets).
    std::unique_ptr<TcpSession> AcceptWaitingConnection(int& error);
    // The same as a bare non-blocking socket, for owners that serve their
    // connections in an event loop of their own. 0, EAGAIN when none is
    // waiting, or errno.
    int AcceptWaitingSocket(platform::TcpSocket& connection, sockaddr_in& peer);

    // Serves requests on this connection until the peer closes, the timeout
    // passes without a request, an error occurs or a stop is requested;
    // every read is one request. 0, 1, 2 or 5.
    int ServerSession(TcpExchange& exchange, const RequestHandler& handler, int& error);

    // Waits at most the timeout (or `timeoutMs`) for a read or close
    // notification, or the outcome of a connect still pending; 0 ms only
    // looks at what has already arrived. 0 (see `events`, also when
    // stopped), 1, 2 or 5.
    int WaitEvents(TcpEvents& events, int& error);
    int WaitEvents(TcpEvents& events, int& error, uint32_t timeoutMs);

    // Gathers what has arrived into `data` (replacing its contents).
    // 0, 1, 2 or 3.
    int Read(std::string& data, int& error);
    // Sends all of `data`, waiting at most the timeout whenever the peer
    // does not take more. 0, 1, 2 (ETIMEDOUT for a peer that stopped
    // reading) or 3.
    int Write(std::string_view data, uint32_t& sent, int& error);

    // Ends this side's sending, so the peer sees the end of the stream while
    // it may still send. 0 or errno.
    int ShutdownSend() { return socket_.ShutdownSend(); }
    // 0; the socket is released.
    int Close();

    // Ends the current and every later wait soon (within about 100 ms); safe
    // from any thread.
    void RequestStop() { stop_.store(true); }
    bool StopRequested() const { return stop_.load(); }

    void AppendLog(std::string_view line);
    std::string LogText() const;
    // One log line, formatted only when the session is verbose.
    template <typename... Args>
    void Trace(std::string_view format, const Args&... args) {
        if (verbose_ >= 0) return;
        if (auto line = core::Format(format, args...)) AppendLog(*line);
    }

    bool IsOpen() const { return open_; }
    bool Verbose() const { return verbose_ < 0; }
    uint32_t ChunkSize() const { return chunkSize_; }
    uint32_t TimeoutMs() const { return timeoutMs_; }
    const sockaddr_in& Address() const { return address_; }
    // The bound port of a listener (useful after binding port 0); 0 when none.
    uint16_t LocalPort() const;
    int SocketHandle() const { return socket_.Fd(); }

private:
    enum class Wait { kReady, kTimedOut, kStopped, kFailed };
    int Attach(platform::TcpSocket socket, const sockaddr_in& peer, int& error);
    // Forgets the previous socket and resolves where the next one goes;
    // `caller` and `kind` name it in the log.
    int Prepare(std::string_view caller, std::string_view kind, std::string_view host, uint16_t port,
                sockaddr_in& address, int& error);
    int WaitConnect(TcpEvents& events, int& error, uint32_t timeoutMs);
    std::unique_ptr<TcpSession> Accept(int& error, bool wait);
    // Polls for `events` until ready, the time is up or a stop is requested;
    // timeoutMs < 0 waits without a time limit.
    Wait WaitFor(short events, int timeoutMs, short& ready, int& error);
    bool Usable() const { return open_ && !stop_.load(); }

    platform::TcpSocket socket_;
    sockaddr_in address_{};
    uint32_t chunkSize_;
    uint32_t timeoutMs_;
    bool open_ = false;
    // A started connect whose outcome WaitEvents has not reported yet. Only
    // until then does a wait ask for writability: it stays set once the
    // connect is done, and would report the connect again at every wait.
    bool connectPending_ = false;
    int8_t verbose_;
    std::atomic<bool> stop_{false};
    mutable std::mutex logLock_;
    std::string log_;
};

}  // namespace qm::transport
