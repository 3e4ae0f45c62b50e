// TCP sessions on loopback: a listener serving requests through a handler,
// and the client side as a poller uses it (a connect started without
// waiting, then one wait loop for the connect, the answers and the close).
#include "transport/tcp/tcp_session.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace qm::transport {
namespace {

using namespace std::chrono_literals;

class TcpSessionTest : public ::testing::Test {
protected:
    std::unique_ptr<TcpSession> Listen(uint32_t timeoutMs = 2000) {
        auto listener = std::make_unique<TcpSession>(0, timeoutMs, -1);
        int error = -1;
        EXPECT_EQ(listener->OpenServer("127.0.0.1", 0, 5, error), TcpSession::kOk);
        EXPECT_NE(listener->LocalPort(), 0);
        return listener;
    }
    std::unique_ptr<TcpSession> Connect(TcpSession& listener, uint32_t timeoutMs = 2000) {
        auto client = std::make_unique<TcpSession>(0, timeoutMs, 0);
        int error = -1;
        EXPECT_EQ(client->OpenClient("127.0.0.1", listener.LocalPort(), error), TcpSession::kOk);
        return client;
    }
    // Serves one accepted connection on another thread; the result and error.
    std::future<std::pair<int, int>> Serve(TcpSession& listener, TcpSession::RequestHandler handler,
                                           std::unique_ptr<TcpSession>& served) {
        int error = 0;
        served = listener.AcceptConnection(error);
        EXPECT_TRUE(served) << error;
        return std::async(std::launch::async, [session = served.get(), handler, this] {
            int error = 0;
            const int result = session->ServerSession(exchange, handler, error);
            return std::make_pair(result, error);
        });
    }
    // A client that started its connect without waiting; `serve` gets the
    // accepted end on another thread.
    template <typename Serve>
    std::future<void> Peer(TcpSession& listener, TcpSession& client, Serve serve) {
        auto done = std::async(std::launch::async, [&listener, serve] {
            int error = 0;
            if (auto connection = listener.AcceptConnection(error)) serve(*connection);
        });
        int error = 0;
        EXPECT_EQ(client.StartConnect("127.0.0.1", listener.LocalPort(), error), TcpSession::kOk);
        return done;
    }
    static TcpEvents Wait(TcpSession& session) {
        TcpEvents events;
        int error = 0;
        EXPECT_EQ(session.WaitEvents(events, error, 20000), TcpSession::kOk) << error;
        return events;
    }
    static std::string Answer(TcpSession& client) {
        EXPECT_TRUE(Wait(client).read);
        std::string data;
        int error = 0;
        EXPECT_EQ(client.Read(data, error), TcpSession::kOk);
        return data;
    }
    static bool Has(const TcpSession& s, std::string_view line) { return s.LogText().find(line) != std::string::npos; }

    TcpExchange exchange;
};

// Bound but not listening: the kernel refuses connections to it.
struct RefusingPort {
    RefusingPort() {
        EXPECT_EQ(holder.Open(), 0);
        EXPECT_EQ(platform::ResolveIpv4("127.0.0.1", 0, local), 0);
        EXPECT_EQ(holder.Bind(local), 0);
        EXPECT_EQ(holder.LocalAddress(local), 0);
    }
    uint16_t Port() const { return ntohs(local.sin_port); }
    platform::TcpSocket holder;
    sockaddr_in local{};
};

TEST_F(TcpSessionTest, OneConnectionCarriesSeveralRequestsWithVerboseLogLines) {
    TcpSession listener(0, 0, -1);
    EXPECT_EQ(listener.ChunkSize(), 1024u);
    EXPECT_EQ(listener.TimeoutMs(), 5000u);
    int error = 0;
    ASSERT_EQ(listener.OpenServer("127.0.0.1", 0, 5, error), TcpSession::kOk);
    auto client = Connect(listener);
    std::unique_ptr<TcpSession> served;
    int requests = 0;
    auto done = Serve(listener, [&](std::string_view r) { ++requests; return "re:" + std::string(r); }, served);
    EXPECT_EQ(listener.LogText(),
              "* Initialization complete. Chunk size =0, Timeout =0\r\n* OPEN Server session for 127.0.0.1:0\r\n"
              "OK\tSession prepared\r\nOK\tAcceptConnection() -> Wait for connection...\r\n"
              "OK\tAcceptConnection() -> Hallo, new client!");
    EXPECT_TRUE(Has(*served, "* Initialization complete. Chunk size =1024, Timeout =5000\r\n" +
                                 *core::Format("* OPEN transmit session [%X]", unsigned(served->SocketHandle())) +
                                 "\r\nOK\tSession prepared"));

    for (const std::string request : {"first request, the longest", "second", "abc"}) {
        uint32_t sent = 0;
        ASSERT_EQ(client->Write(request, sent, error), TcpSession::kOk);
        EXPECT_EQ(sent, request.size());
        EXPECT_EQ(Answer(*client), "re:" + request);
    }
    client->Close();
    EXPECT_EQ(done.get(), std::make_pair(int(TcpSession::kOk), 0));
    EXPECT_EQ(requests, 3);
    // The latest request replaces the earlier ones.
    EXPECT_EQ(std::tie(exchange.data, exchange.received, exchange.receivedCopy, exchange.sent),
              std::make_tuple(std::string("abc"), 3u, 3u, 6u));
    EXPECT_EQ(served->Close(), TcpSession::kOk);
    // The peer's close is no read.
    EXPECT_TRUE(Has(*served, "OK\tServerSession() -> FD_READ\r\nOK\tServerSession() -> Received: 3 bytes\r\n"
                             "OK\tServerSession() -> Sended: 6 bytes\r\nOK\tServerSession() -> FD_CLOSE\r\n"
                             "OK\tServerSession() -> Successfully complete\r\nOK\tClose() -> Session close"));
    EXPECT_EQ(client->LogText(), "");  // not verbose: silent
}

TEST_F(TcpSessionTest, SilentPeerTimesOut) {
    auto listener = Listen(200);
    auto client = Connect(*listener);
    std::unique_ptr<TcpSession> served;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Serve(*listener, nullptr, served).get(), std::make_pair(int(TcpSession::kTimedOut), ETIMEDOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
    EXPECT_TRUE(Has(*served, "FAIL\tServerSession() -> Timed out\r\nFAIL\tServerSession() -> Complete with error"));
}

TEST_F(TcpSessionTest, ARefusedConnectFailsOpenClientAndIsAConnectEventForStartConnect) {
    RefusingPort refusing;
    TcpSession blocking(0, 2000, -1);
    int error = 0;
    EXPECT_EQ(blocking.OpenClient("127.0.0.1", refusing.Port(), error), TcpSession::kSocketError);
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_FALSE(blocking.IsOpen());
    EXPECT_TRUE(Has(blocking, *core::Format("FAIL\tOpenClient() -> connect(). ERROR: %d", ECONNREFUSED)));

    TcpSession client(0, 20000, -1);
    ASSERT_EQ(client.StartConnect("127.0.0.1", refusing.Port(), error), TcpSession::kOk);
    const TcpEvents events = Wait(client);
    EXPECT_TRUE(events.connect);
    EXPECT_EQ(events.connectError, ECONNREFUSED);
    EXPECT_FALSE(events.close || events.read);
}

TEST_F(TcpSessionTest, UnresolvableHostsBadSocketsAndUnopenedSessionsAreRefused) {
    int error = 0;
    TcpSession server(0, 0, -1), client(0, 0, 0);
    EXPECT_EQ(server.OpenServer("no-such-host.invalid", 80, 5, error), TcpSession::kHostNotFound);
    EXPECT_EQ(error, TcpSession::kHostNotFoundError);
    EXPECT_TRUE(Has(server, "FAIL\tOpenServer() -> Wrong host no-such-host.invalid"));
    EXPECT_EQ(client.StartConnect("no-such-host.invalid", 502, error), TcpSession::kHostNotFound);
    EXPECT_EQ(error, TcpSession::kHostNotFoundError);

    TcpSession attached(0, 0, -1);
    EXPECT_EQ(attached.Open(platform::TcpSocket(), sockaddr_in{}, error), TcpSession::kSocketError);
    EXPECT_EQ(error, EBADF);
    EXPECT_TRUE(Has(attached, *core::Format("FAIL\tOpen() -> WSAEventSelect(). ERROR: %d", EBADF)));

    TcpSession unopened(0, 0, 0);
    std::string data;
    uint32_t sent = 0;
    TcpEvents events;
    EXPECT_EQ(unopened.Read(data, error), TcpSession::kNotUsable);
    EXPECT_EQ(unopened.Write("x", sent, error), TcpSession::kNotUsable);
    EXPECT_EQ(unopened.ServerSession(exchange, nullptr, error), TcpSession::kNotUsable);
    EXPECT_EQ(unopened.WaitEvents(events, error), TcpSession::kNotUsable);
    EXPECT_EQ(unopened.Close(), TcpSession::kOk);
}

TEST_F(TcpSessionTest, ReadStopsPastTheLimitAndLosesNothing) {
    auto listener = Listen();
    auto client = Connect(*listener);
    int error = 0;
    auto served = listener->AcceptConnection(error);
    ASSERT_TRUE(served);
    const std::string big(50 * 1024, 'q');
    uint32_t sent = 0;
    ASSERT_EQ(client->Write(big, sent, error), TcpSession::kOk);
    ASSERT_EQ(sent, big.size());
    std::this_thread::sleep_for(50ms);  // all of it on the receiving side

    std::string data;
    size_t total = 0;
    for (int reads = 0; total < big.size(); ++reads) {
        TcpEvents events;
        ASSERT_EQ(served->WaitEvents(events, error), TcpSession::kOk);
        ASSERT_EQ(served->Read(data, error), TcpSession::kOk);
        EXPECT_LE(data.size(), TcpSession::kReadLimit + served->ChunkSize());
        if (reads == 0) {
            EXPECT_GT(data.size(), TcpSession::kReadLimit);
        }
        total += data.size();
    }
    EXPECT_EQ(total, big.size());
    EXPECT_TRUE(Has(*served, "FAIL\t_read() -> Data overflow"));
}

TEST_F(TcpSessionTest, NoAnswerFailsTheWrite) {
    auto listener = Listen();
    auto client = Connect(*listener);
    std::unique_ptr<TcpSession> served;
    auto done = Serve(*listener, nullptr, served);
    uint32_t sent = 0;
    int error = 0;
    ASSERT_EQ(client->Write("ping", sent, error), TcpSession::kOk);
    EXPECT_EQ(done.get().first, TcpSession::kSocketError);
    EXPECT_TRUE(Has(*served, "FAIL\t_write() -> Memory allocation\r\nFAIL\tServerSession() -> _write(). ERROR: 0"));
}

TEST_F(TcpSessionTest, StopEndsAWaitingAcceptAndServingAFloodingClient) {
    auto idle = Listen();
    auto waiting = std::async(std::launch::async, [&] {
        int error = 0;
        return std::make_pair(idle->AcceptConnection(error) == nullptr, error);
    });
    std::this_thread::sleep_for(50ms);
    idle->RequestStop();
    ASSERT_EQ(waiting.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), std::make_pair(true, ECANCELED));

    auto listener = Listen(5000);
    auto client = Connect(*listener, 200);
    std::unique_ptr<TcpSession> served;
    auto done = Serve(*listener, [](std::string_view r) { return std::string(r); }, served);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const std::string burst(4096, 'f');
        while (flooding) {
            uint32_t sent = 0;
            int error = 0;
            if (client->Write(burst, sent, error) != TcpSession::kOk) std::this_thread::sleep_for(5ms);
        }
    });
    std::this_thread::sleep_for(200ms);
    const auto start = std::chrono::steady_clock::now();
    served->RequestStop();
    EXPECT_EQ(done.wait_for(20s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    flooding = false;
    client->RequestStop();
    flood.join();
    EXPECT_EQ(done.get().first, TcpSession::kOk);
}

TEST_F(TcpSessionTest, AStartedConnectIsReportedOnceAndTheAnswerAfterIt) {
    auto listener = Listen();
    TcpSession client(0, 20000, -1);
    auto peer = Peer(*listener, client, [](TcpSession& connection) {
        TcpEvents events;
        int error = 0;
        std::string request;
        uint32_t sent = 0;
        if (connection.WaitEvents(events, error) != TcpSession::kOk || connection.Read(request, error) != 0) return;
        connection.Write("re:" + request, sent, error);
        connection.WaitEvents(events, error);  // until the client closes
    });
    const TcpEvents connected = Wait(client);
    EXPECT_TRUE(connected.connect);
    EXPECT_EQ(connected.connectError, 0);
    EXPECT_FALSE(connected.read || connected.close);
    // A made connection stays writable; that is no second connect.
    TcpEvents quiet;
    int error = 0;
    EXPECT_EQ(client.WaitEvents(quiet, error, 300), TcpSession::kTimedOut);
    EXPECT_FALSE(quiet.connect);

    uint32_t sent = 0;
    ASSERT_EQ(client.Write("read 1", sent, error), TcpSession::kOk);
    EXPECT_EQ(Answer(client), "re:read 1");
    EXPECT_TRUE(Has(client, "OK\tWaitEvents() -> FD_CONNECT"));
    client.Close();
}

TEST_F(TcpSessionTest, BytesSentWithTheCloseAreReadBeforeTheClose) {
    const std::string greeting(3000, 'g');
    auto listener = Listen();
    TcpSession client(0, 20000, 0);
    auto peer = Peer(*listener, client, [&](TcpSession& connection) {
        uint32_t sent = 0;
        int error = 0;
        connection.Write(greeting, sent, error);
        connection.Close();
    });
    ASSERT_TRUE(Wait(client).connect);
    std::string received;
    bool closed = false;
    for (int waits = 0; !closed && waits < 100; ++waits) {
        const TcpEvents events = Wait(client);
        ASSERT_FALSE(events.connect);
        if (events.read) {
            ASSERT_EQ(events.readError, 0);
            std::string piece;
            int error = 0;
            ASSERT_EQ(client.Read(piece, error), TcpSession::kOk);
            received += piece;
        }
        if ((closed = events.close)) {
            EXPECT_EQ(received, greeting) << "everything sent before the close is read by now";
        }
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ(received, greeting);
}

// A connect the caller started itself, attached while it is under way.
TEST_F(TcpSessionTest, AnAttachedConnectIsReportedAsAConnect) {
    auto listener = Listen();
    auto peer = std::async(std::launch::async, [&] {
        int error = 0;
        TcpEvents events;
        if (auto connection = listener->AcceptConnection(error)) connection->WaitEvents(events, error);
    });
    platform::TcpSocket socket;
    ASSERT_EQ(socket.Open(), 0);
    sockaddr_in remote{};
    ASSERT_EQ(platform::ResolveIpv4("127.0.0.1", listener->LocalPort(), remote), 0);
    const int started = socket.StartConnect(remote);
    ASSERT_TRUE(started == 0 || started == EINPROGRESS) << started;
    TcpSession client(0, 20000, 0);
    int error = 0;
    ASSERT_EQ(client.OpenConnecting(std::move(socket), remote, error), TcpSession::kOk);
    const TcpEvents events = Wait(client);
    EXPECT_TRUE(events.connect);
    EXPECT_EQ(events.connectError, 0);
    client.Close();
}

}  // namespace
}  // namespace qm::transport
