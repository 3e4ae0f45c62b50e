#include "http/http_connection.h"

#include <algorithm>
#include <string>
#include <thread>

#include "http/http_request.h"

namespace qm::http {

using transport::TcpEvents;
using transport::TcpSession;

int ServeHttpConnection(TcpSession& session, transport::TcpExchange& exchange,
                        const TcpSession::RequestHandler& handler, int& error,
                        std::chrono::steady_clock::time_point firstBytesBy) {
    error = 0;
    if (!session.IsOpen() || session.SocketHandle() < 0) return TcpSession::kNotUsable;
    using Clock = std::chrono::steady_clock;
    const uint32_t timeoutMs = session.TimeoutMs();
    int result = TcpSession::kOk;
    bool failed = false;
    bool answered = false;  // the sending side is shut
    std::string gathered;   // a request still arriving in pieces
    // By when the next thing must happen: the first bytes, the rest of the
    // request, or after the answer the peer's close.
    Clock::time_point deadline = firstBytesBy;
    std::string piece;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const bool late = left <= 0;
        const uint32_t waitMs = static_cast<uint32_t>(std::clamp<long long>(left, 1, timeoutMs));
        TcpEvents events;
        int waitError = 0;
        const int waited = late ? TcpSession::kTimedOut : session.WaitEvents(events, waitError, waitMs);
        if (waited != TcpSession::kOk) {
            // Whatever ended the wait, the peer has not been heard from in time.
            error = TcpSession::kTimedOutError;
            session.Trace("FAIL\tServerSession() -> Timed out");
            result = TcpSession::kTimedOut;
            failed = true;
            break;
        }
        // A stop wins over whatever else the wait brought.
        if (events.stopped || session.StopRequested()) break;
        bool request = false;
        if (events.read) {
            if (events.readError) {
                error = events.readError;
                session.Trace("FAIL\tServerSession() -> FD_READ");
                result = TcpSession::kSocketError;
                failed = true;
                break;
            }
            session.Trace("OK\tServerSession() -> FD_READ");
            int readError = 0;
            if (session.Read(piece, readError) != TcpSession::kOk) {
                error = readError;
                session.Trace("FAIL\tServerSession() -> _read(). ERROR: %d", readError);
                result = TcpSession::kSocketError;
                failed = true;
                break;
            }
            session.Trace("OK\tServerSession() -> Received: %d bytes", static_cast<uint32_t>(piece.size()));
            if (!answered) {
                if (gathered.empty()) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
                gathered += piece;
                // A peer that closes mid-request still gets an answer to
                // what it sent.
                request = events.close || gathered.size() > TcpSession::kReadLimit || RequestHeadComplete(gathered);
            }
            // Past the one answer a connection gives, what still comes is
            // read only so the peer's close can be seen.
        } else if (events.close && !gathered.empty()) {
            request = true;
        }
        if (request) {
            exchange.data.swap(gathered);
            gathered.clear();
            exchange.received = static_cast<uint32_t>(exchange.data.size());
            exchange.receivedCopy = exchange.received;
            std::string answer;
            if (handler) answer = handler(exchange.data);
            int writeError = 0;
            if (session.Write(answer, exchange.sent, writeError) != TcpSession::kOk) {
                error = writeError;
                session.Trace("FAIL\tServerSession() -> _write(). ERROR: %d", writeError);
                result = TcpSession::kSocketError;
                failed = true;
                break;
            }
            session.Trace("OK\tServerSession() -> Sended: %d bytes", exchange.sent);
            session.ShutdownSend();
            answered = true;
            // A peer that goes on sending gets one timeout to close, not as
            // long as it keeps sending.
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        }
        if (events.close) {
            session.Trace("OK\tServerSession() -> FD_CLOSE");
            if (!answered) {
                session.ShutdownSend();
                // A moment for the FIN to leave before the owner closes the socket.
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            break;
        }
        if (!session.IsOpen() || session.StopRequested()) break;
    }
    if (failed)
        session.Trace("FAIL\tServerSession() -> Complete with error");
    else
        session.Trace("OK\tServerSession() -> Successfully complete");
    return result;
}

}  // namespace qm::http
