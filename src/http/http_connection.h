#pragma once
// How the HTTP server serves one connection on the TCP session layer: a
// request head may arrive in pieces and is gathered until it is whole, and
// every answer promises "Connection: close", so after it the sending side is
// shut at once and the connection only drains until the peer closes. Runs
// on the connection's serving thread; the session stays with its owner.
#include <chrono>

#include "transport/tcp/tcp_session.h"

namespace qm::http {

// Serves requests until the peer closes, the timeout passes, an error
// occurs or the session is asked to stop; the results and log lines are
// those of TcpSession::ServerSession. The first bytes must arrive by
// `firstBytesBy` (one timeout after the connection was accepted), the whole
// request within one timeout of its first bytes.
int ServeHttpConnection(transport::TcpSession& session, transport::TcpExchange& exchange,
                        const transport::TcpSession::RequestHandler& handler, int& error,
                        std::chrono::steady_clock::time_point firstBytesBy);

}  // namespace qm::http
