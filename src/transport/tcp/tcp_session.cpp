#include "transport/tcp/tcp_session.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

#include "platform/codepage.h"

namespace qm::transport {

namespace {
// How often a wait looks at the stop flag. Short enough that a stopping
// server does not notice, long enough to cost nothing while idle.
constexpr int kStopCheckMs = 100;
}  // namespace

TcpSession::TcpSession(uint32_t chunkSize, uint32_t timeoutMs, int8_t verbose)
    : chunkSize_(chunkSize ? chunkSize : kDefaultChunkSize),
      timeoutMs_(timeoutMs ? timeoutMs : kDefaultTimeoutMs),
      verbose_(verbose) {
    // The values as given, so a log shows when the defaults stepped in.
    Trace("* Initialization complete. Chunk size =%u, Timeout =%u", chunkSize, timeoutMs);
}

void TcpSession::AppendLog(std::string_view line) {
    std::lock_guard<std::mutex> hold(logLock_);
    if (!log_.empty()) log_ += "\r\n";
    log_ += line;
}

std::string TcpSession::LogText() const {
    std::lock_guard<std::mutex> hold(logLock_);
    return log_;
}

uint16_t TcpSession::LocalPort() const {
    sockaddr_in local{};
    if (!socket_.IsOpen() || socket_.LocalAddress(local) != 0) return 0;
    return ntohs(local.sin_port);
}

TcpSession::Wait TcpSession::WaitFor(short events, int timeoutMs, short& ready, int& error) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (stop_.load()) return Wait::kStopped;
        int slice = kStopCheckMs;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return Wait::kTimedOut;
            slice = static_cast<int>(std::min<long long>(slice, left));
        }
        const int rc = socket_.Poll(events, slice, ready);
        if (rc == EINTR) continue;
        if (rc != 0) {
            error = rc;
            return Wait::kFailed;
        }
        if (ready) return Wait::kReady;
    }
}

int TcpSession::Prepare(std::string_view caller, std::string_view kind, std::string_view host, uint16_t port,
                        sockaddr_in& address, int& error) {
    error = 0;
    open_ = false;
    connectPending_ = false;
    socket_.Close();
    Trace("* OPEN %s session for %s:%u", kind, host, port);
    if (platform::ResolveIpv4(platform::Utf8ToAnsi(host), port, address) != 0) {
        error = kHostNotFoundError;
        Trace("FAIL\t%s() -> Wrong host %s", caller, host);
        return kHostNotFound;
    }
    return kOk;
}

int TcpSession::Open(platform::TcpSocket connected, const sockaddr_in& peer, int& error) {
    return Attach(std::move(connected), peer, error);
}

int TcpSession::OpenConnecting(platform::TcpSocket connecting, const sockaddr_in& peer, int& error) {
    const int result = Attach(std::move(connecting), peer, error);
    connectPending_ = result == kOk;
    return result;
}

int TcpSession::StartConnect(std::string_view host, uint16_t port, int& error) {
    sockaddr_in remote{};
    if (const int rc = Prepare("StartConnect", "Client", host, port, remote, error)) return rc;
    platform::TcpSocket connecting;
    int rc = connecting.Open();
    if (rc == 0) rc = connecting.StartConnect(remote);
    if (rc != 0 && rc != EINPROGRESS) {
        error = rc;
        Trace("FAIL\tStartConnect() -> connect(). ERROR: %d", rc);
        return kSocketError;
    }
    return OpenConnecting(std::move(connecting), remote, error);
}

int TcpSession::Attach(platform::TcpSocket socket, const sockaddr_in& peer, int& error) {
    error = 0;
    socket_ = std::move(socket);
    address_ = peer;
    open_ = false;
    connectPending_ = false;
    Trace("* OPEN transmit session [%X]", static_cast<unsigned>(socket_.Fd()));
    // There is no event object to create here: every wait polls the socket
    // itself. What remains of "asking for notifications" is making sure no
    // call on a socket made elsewhere can block past our own timeouts.
    if (const int rc = socket_.SetNonBlocking()) {
        error = rc;
        Trace("FAIL\tOpen() -> WSAEventSelect(). ERROR: %d", rc);
        return kSocketError;
    }
    Trace("OK\tSession prepared");
    open_ = true;
    return kOk;
}

int TcpSession::OpenServer(std::string_view host, uint16_t port, int backlog, int& error) {
    sockaddr_in local{};
    if (const int rc = Prepare("OpenServer", "Server", host, port, local, error)) return rc;
    address_ = local;
    if (const int rc = socket_.Open()) {
        error = rc;
        Trace("FAIL\tOpenServer() -> socket(). ERROR: %d", rc);
        return kSocketError;
    }
    // Without it a restarted server could not bind while old connections
    // linger in TIME_WAIT; not fatal, so only worth a warning.
    if (const int rc = socket_.SetReuseAddress()) Trace("WARN\tOpenServer() -> setsockopt(). ERROR: %d", rc);
    if (const int rc = socket_.Bind(local)) {
        error = rc;
        Trace("FAIL\tOpenServer() -> bind(). ERROR: %d", rc);
        socket_.Close();
        return kSocketError;
    }
    if (const int rc = socket_.Listen(backlog)) {
        error = rc;
        Trace("FAIL\tOpenServer() -> listen(). ERROR: %d", rc);
        socket_.Close();
        return kSocketError;
    }
    Trace("OK\tSession prepared");
    open_ = true;
    return kOk;
}

int TcpSession::OpenClient(std::string_view host, uint16_t port, int& error) {
    sockaddr_in remote{};
    if (const int rc = Prepare("OpenClient", "Client", host, port, remote, error)) return rc;
    address_ = remote;
    if (const int rc = socket_.Open()) {
        error = rc;
        Trace("FAIL\tOpenClient() -> socket(). ERROR: %d", rc);
        return kSocketError;
    }
    int rc = socket_.StartConnect(remote);
    if (rc == EINPROGRESS) {
        short ready = 0;
        int waitError = 0;
        switch (WaitFor(POLLOUT, static_cast<int>(timeoutMs_), ready, waitError)) {
            // A refused connect also shows as writable; only SO_ERROR tells.
            case Wait::kReady: rc = socket_.ConnectResult(); break;
            case Wait::kTimedOut:
                error = kTimedOutError;
                Trace("FAIL\tOpenClient() -> Timed out");
                socket_.Close();
                return kTimedOut;
            case Wait::kStopped: rc = ECANCELED; break;
            case Wait::kFailed: rc = waitError; break;
        }
    }
    if (rc != 0) {
        error = rc;
        Trace("FAIL\tOpenClient() -> connect(). ERROR: %d", rc);
        socket_.Close();
        return kSocketError;
    }
    Trace("OK\tSession prepared");
    open_ = true;
    return kOk;
}

std::unique_ptr<TcpSession> TcpSession::AcceptConnection(int& error) { return Accept(error, true); }

std::unique_ptr<TcpSession> TcpSession::AcceptWaitingConnection(int& error) { return Accept(error, false); }

int TcpSession::AcceptWaitingSocket(platform::TcpSocket& connection, sockaddr_in& peer) {
    if (!open_ || !socket_.IsOpen()) return EBADF;
    for (;;) {
        const int rc = socket_.Accept(connection, peer);
        // A connection that went again before its accept is no failure.
        if (rc == EINTR || rc == ECONNABORTED) continue;
        return rc;
    }
}

std::unique_ptr<TcpSession> TcpSession::Accept(int& error, bool wait) {
    error = 0;
    if (!open_ || !socket_.IsOpen()) return nullptr;
    Trace("OK\tAcceptConnection() -> Wait for connection...");
    std::unique_ptr<TcpSession> session;
    try {
        session = std::make_unique<TcpSession>(chunkSize_, timeoutMs_, verbose_);
    } catch (const std::bad_alloc&) {
        Trace("FAIL\tAcceptConnection() -> Memory allocation");
        return nullptr;
    }
    platform::TcpSocket connection;
    sockaddr_in peer{};
    // A busy listener usually has the next connection waiting already, so
    // it is taken first and waited for only when there is none.
    bool waitFirst = false;
    for (;;) {
        short ready = 0;
        int rc = 0;
        switch (waitFirst ? WaitFor(POLLIN, -1, ready, rc) : (StopRequested() ? Wait::kStopped : Wait::kReady)) {
            case Wait::kReady:
                rc = socket_.Accept(connection, peer);
                if (rc == EAGAIN && !wait) break;
                // The connection may have gone again between the wake-up and
                // the accept; that is no reason to stop listening.
                waitFirst = rc == EAGAIN;
                if (rc == EAGAIN || rc == EINTR || rc == ECONNABORTED) continue;
                break;
            case Wait::kStopped: rc = ECANCELED; break;
            case Wait::kTimedOut:  // no time limit, cannot happen
            case Wait::kFailed: break;
        }
        if (rc == EAGAIN) {
            error = rc;  // nothing waiting, and no wait asked for
            return nullptr;
        }
        if (rc != 0) {
            error = rc;
            Trace("FAIL\tAcceptConnection() -> accept(). ERROR: %d", rc);
            return nullptr;
        }
        break;
    }
    int openError = 0;
    if (session->Open(std::move(connection), peer, openError) != kOk) {
        error = openError;
        Trace("FAIL\tAcceptConnection() -> Open(). ERROR: %d", openError);
        return nullptr;  // the accepted socket closes with the session
    }
    Trace("OK\tAcceptConnection() -> Hallo, new client!");
    return session;
}

int TcpSession::WaitEvents(TcpEvents& events, int& error) { return WaitEvents(events, error, timeoutMs_); }

int TcpSession::WaitEvents(TcpEvents& events, int& error, uint32_t timeoutMs) {
    events = TcpEvents{};
    error = 0;
    if (!socket_.IsOpen()) return kNotUsable;
    if (connectPending_) return WaitConnect(events, error, timeoutMs);
    char probe = 0;
    // What has already arrived (a request, or the peer's close after an
    // answer) needs no wait: a look without waiting saves the poll.
    if (!StopRequested()) {
        const ssize_t early = socket_.Receive(std::span<char>(&probe, 1), true);
        if (early > 0) {
            events.read = true;
            return kOk;
        }
        if (early == 0) {
            events.close = true;
            return kOk;
        }
    }
    short ready = 0;
    switch (WaitFor(POLLIN | POLLRDHUP, static_cast<int>(timeoutMs), ready, error)) {
        case Wait::kReady: break;
        case Wait::kStopped: events.stopped = true; return kOk;
        case Wait::kTimedOut: error = kTimedOutError; return kTimedOut;
        case Wait::kFailed: return kSocketError;
    }
    if (ready & POLLNVAL) {
        error = EBADF;
        return kSocketError;
    }
    // Readable means either bytes or the peer's end of stream; a one-byte
    // peek tells which without taking anything away from the next Read.
    const ssize_t n = socket_.Receive(std::span<char>(&probe, 1), true);
    const bool hangUp = (ready & (POLLRDHUP | POLLHUP)) != 0;
    if (n > 0) {
        events.read = true;
        // Bytes that came with the peer's close are answered before the
        // close is handled, as a half-closed client expects.
        events.close = hangUp;
    } else if (n == 0) {
        events.close = true;
    } else if (n == -EAGAIN) {
        if (const int pending = socket_.PendingError()) {
            events.read = true;
            events.readError = pending;
        } else {
            events.close = hangUp;
        }
    } else {
        events.read = true;
        events.readError = static_cast<int>(-n);
    }
    return kOk;
}

int TcpSession::WaitConnect(TcpEvents& events, int& error, uint32_t timeoutMs) {
    // Writable, or an error or hang-up (which poll reports unasked), ends a
    // pending connect; a refused one shows the same way.
    short ready = 0;
    switch (WaitFor(POLLOUT, static_cast<int>(timeoutMs), ready, error)) {
        case Wait::kReady: break;
        case Wait::kStopped: events.stopped = true; return kOk;
        case Wait::kTimedOut: error = kTimedOutError; return kTimedOut;
        case Wait::kFailed: return kSocketError;
    }
    if (ready & POLLNVAL) {
        error = EBADF;
        return kSocketError;
    }
    connectPending_ = false;
    events.connect = true;
    // Only SO_ERROR tells a refused connect from a made one.
    events.connectError = socket_.ConnectResult();
    if (events.connectError)
        Trace("FAIL\tWaitEvents() -> FD_CONNECT. ERROR: %d", events.connectError);
    else
        Trace("OK\tWaitEvents() -> FD_CONNECT");
    return kOk;
}

int TcpSession::ServerSession(TcpExchange& exchange, const RequestHandler& handler, int& error) {
    error = 0;
    if (!open_ || !socket_.IsOpen()) return kNotUsable;
    int result = kOk;
    bool failed = false;
    std::string piece;
    for (;;) {
        TcpEvents events;
        int waitError = 0;
        if (WaitEvents(events, waitError) != kOk) {
            // Whatever ended the wait, the peer has not been heard from in time.
            error = kTimedOutError;
            Trace("FAIL\tServerSession() -> Timed out");
            result = kTimedOut;
            failed = true;
            break;
        }
        // A stop wins over whatever else the wait brought.
        if (events.stopped || StopRequested()) break;
        if (events.read) {
            if (events.readError) {
                error = events.readError;
                Trace("FAIL\tServerSession() -> FD_READ");
                result = kSocketError;
                failed = true;
                break;
            }
            Trace("OK\tServerSession() -> FD_READ");
            int readError = 0;
            if (Read(piece, readError) != kOk) {
                error = readError;
                Trace("FAIL\tServerSession() -> _read(). ERROR: %d", readError);
                result = kSocketError;
                failed = true;
                break;
            }
            exchange.data.swap(piece);
            exchange.received = static_cast<uint32_t>(exchange.data.size());
            exchange.receivedCopy = exchange.received;
            Trace("OK\tServerSession() -> Received: %d bytes", exchange.received);
            std::string answer;
            if (handler) answer = handler(exchange.data);
            int writeError = 0;
            if (Write(answer, exchange.sent, writeError) != kOk) {
                error = writeError;
                Trace("FAIL\tServerSession() -> _write(). ERROR: %d", writeError);
                result = kSocketError;
                failed = true;
                break;
            }
            Trace("OK\tServerSession() -> Sended: %d bytes", exchange.sent);
        }
        if (events.close) {
            Trace("OK\tServerSession() -> FD_CLOSE");
            socket_.ShutdownSend();
            // A moment for the FIN to leave before the owner closes the socket.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            break;
        }
        if (!Usable()) break;
    }
    if (failed)
        Trace("FAIL\tServerSession() -> Complete with error");
    else
        Trace("OK\tServerSession() -> Successfully complete");
    return result;
}

int TcpSession::Read(std::string& data, int& error) {
    data.clear();
    error = 0;
    if (!socket_.IsOpen()) return kNotUsable;
    std::vector<char> chunk;
    try {
        chunk.resize(chunkSize_);
    } catch (const std::bad_alloc&) {
        Trace("FAIL\t_read() -> Memory allocation");
        return kNotUsable;
    }
    // The first receive happens even when a stop has just been requested:
    // the caller saw bytes waiting and should get them, not an empty read.
    for (bool first = true; open_ && (first || !stop_.load()); first = false) {
        const ssize_t n = socket_.Receive(chunk);
        if (n < 0 && n != -EAGAIN) {
            error = static_cast<int>(-n);
            Trace("FAIL\t_read() -> recv(). ERROR: %d", error);
            data.clear();
            return kSocketError;
        }
        const size_t got = n > 0 ? static_cast<size_t>(n) : 0;
        data.append(chunk.data(), got);
        if (data.size() > kReadLimit) {
            // What was gathered stays; the rest waits for the next read.
            Trace("FAIL\t_read() -> Data overflow");
            break;
        }
        int waiting = 0;
        if (const int rc = socket_.PendingBytes(waiting)) {
            Trace("WARN\t_read() -> ioctlsocket(). ERROR: %d", rc);
            // Receive again, but only while receiving still yields bytes:
            // the socket does not block, so an empty receive would repeat
            // forever.
            if (got == 0) break;
            continue;
        }
        if (got == 0 || waiting == 0) break;
    }
    if (data.empty()) {
        Trace("FAIL\t_read() -> Empty buffer");
        return kNothingToDo;
    }
    return kOk;
}

int TcpSession::Write(std::string_view data, uint32_t& sent, int& error) {
    sent = 0;
    error = 0;
    if (!socket_.IsOpen()) return kNotUsable;
    if (data.empty()) {
        Trace("FAIL\t_write() -> Memory allocation");
        return kNothingToDo;
    }
    if (!open_) return kOk;
    size_t done = 0;
    while (done < data.size() && Usable()) {
        const ssize_t n = socket_.Send(data.substr(done));
        if (n >= 0) {
            done += static_cast<size_t>(n);
            sent = static_cast<uint32_t>(done);
            continue;
        }
        int rc = static_cast<int>(-n);
        if (rc == EAGAIN) {
            // The peer is not taking more; wait for room, but not forever.
            short ready = 0;
            int waitError = 0;
            const Wait w = WaitFor(POLLOUT, static_cast<int>(timeoutMs_), ready, waitError);
            if (w == Wait::kReady || w == Wait::kStopped) continue;
            rc = w == Wait::kTimedOut ? kTimedOutError : waitError;
        }
        error = rc;
        Trace("FAIL\t_write() -> send(). ERROR: %d", rc);
        return kSocketError;
    }
    return kOk;
}

int TcpSession::Close() {
    open_ = false;
    connectPending_ = false;
    socket_.Close();
    address_ = sockaddr_in{};
    Trace("OK\tClose() -> Session close");
    return kOk;
}

}  // namespace qm::transport
