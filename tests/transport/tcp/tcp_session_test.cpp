#include "transport/tcp/tcp_session.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "core/text_format.h"

namespace qm::transport {
namespace {

using namespace std::chrono_literals;

class TcpSessionTest : public ::testing::Test {
protected:
    // A listener on a free loopback port.
    std::unique_ptr<TcpSession> Listen(uint32_t timeoutMs = 2000, int8_t verbose = -1) {
        auto listener = std::make_unique<TcpSession>(0, timeoutMs, verbose);
        int error = -1;
        EXPECT_EQ(listener->OpenServer("127.0.0.1", 0, 5, error), TcpSession::kOk);
        EXPECT_EQ(error, 0);
        EXPECT_NE(listener->LocalPort(), 0);
        return listener;
    }
    std::unique_ptr<TcpSession> Connect(TcpSession& listener, uint32_t timeoutMs = 2000) {
        auto client = std::make_unique<TcpSession>(0, timeoutMs, 0);
        int error = -1;
        EXPECT_EQ(client->OpenClient("127.0.0.1", listener.LocalPort(), error), TcpSession::kOk);
        EXPECT_EQ(error, 0);
        return client;
    }
    // Serves one accepted connection on another thread; the result and error.
    std::future<std::pair<int, int>> Serve(TcpSession& listener, TcpSession::RequestHandler handler,
                                           std::unique_ptr<TcpSession>& served) {
        int error = 0;
        served = listener.AcceptConnection(error);
        EXPECT_TRUE(served) << error;
        TcpSession* session = served.get();
        return std::async(std::launch::async, [session, handler, this] {
            int error = 0;
            const int result = session->ServerSession(exchange, handler, error);
            return std::make_pair(result, error);
        });
    }
    static std::string Echo(std::string_view request) { return std::string(request); }
    // Waits for and reads one answer.
    static std::string Answer(TcpSession& client) {
        TcpEvents events;
        int error = 0;
        EXPECT_EQ(client.WaitEvents(events, error), TcpSession::kOk);
        EXPECT_TRUE(events.read);
        std::string data;
        EXPECT_EQ(client.Read(data, error), TcpSession::kOk);
        return data;
    }
    static bool Has(const TcpSession& s, std::string_view line) {
        return s.LogText().find(line) != std::string::npos;
    }

    TcpExchange exchange;
};

TEST_F(TcpSessionTest, ServerAcceptsAndEchoesThroughHandler) {
    auto listener = Listen();
    auto client = Connect(*listener);
    std::unique_ptr<TcpSession> served;
    auto done = Serve(*listener, Echo, served);

    uint32_t sent = 0;
    int error = 0;
    ASSERT_EQ(client->Write("hello", sent, error), TcpSession::kOk);
    EXPECT_EQ(sent, 5u);
    EXPECT_EQ(Answer(*client), "hello");
    client->Close();

    const auto [result, serveError] = done.get();
    EXPECT_EQ(result, TcpSession::kOk);
    EXPECT_EQ(serveError, 0);
    EXPECT_EQ(exchange.data, "hello");
    EXPECT_EQ(exchange.received, 5u);
    EXPECT_EQ(exchange.receivedCopy, 5u);
    EXPECT_EQ(exchange.sent, 5u);
    EXPECT_EQ(served->Close(), TcpSession::kOk);
}

TEST_F(TcpSessionTest, PeerCloseEndsTheSessionSuccessfully) {
    auto listener = Listen();
    auto client = Connect(*listener);
    std::unique_ptr<TcpSession> served;
    auto done = Serve(*listener, Echo, served);
    client->Close();
    EXPECT_EQ(done.get().first, TcpSession::kOk);
    EXPECT_TRUE(Has(*served, "OK\tServerSession() -> FD_CLOSE\r\nOK\tServerSession() -> Successfully complete"));
    EXPECT_FALSE(Has(*served, "FD_READ"));
}

TEST_F(TcpSessionTest, SilentPeerTimesOut) {
    auto listener = Listen(200);
    auto client = Connect(*listener);
    std::unique_ptr<TcpSession> served;
    const auto start = std::chrono::steady_clock::now();
    auto done = Serve(*listener, Echo, served);
    const auto [result, error] = done.get();
    EXPECT_EQ(result, TcpSession::kTimedOut);
    EXPECT_EQ(error, ETIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
    EXPECT_TRUE(Has(*served, "FAIL\tServerSession() -> Timed out\r\nFAIL\tServerSession() -> Complete with error"));
}

TEST_F(TcpSessionTest, RefusedConnectIsASocketError) {
    // Bound but not listening: the kernel refuses connections to it.
    platform::TcpSocket holder;
    ASSERT_EQ(holder.Open(), 0);
    sockaddr_in local{};
    ASSERT_EQ(platform::ResolveIpv4("127.0.0.1", 0, local), 0);
    ASSERT_EQ(holder.Bind(local), 0);
    ASSERT_EQ(holder.LocalAddress(local), 0);

    TcpSession client(0, 2000, -1);
    int error = 0;
    EXPECT_EQ(client.OpenClient("127.0.0.1", ntohs(local.sin_port), error), TcpSession::kSocketError);
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_TRUE(Has(client, *core::Format("FAIL\tOpenClient() -> connect(). ERROR: %d", ECONNREFUSED)));
}

TEST_F(TcpSessionTest, UnresolvableHostAndUnopenedSession) {
    TcpSession server(0, 0, -1);
    int error = 0;
    EXPECT_EQ(server.OpenServer("no-such-host.invalid", 80, 5, error), TcpSession::kHostNotFound);
    EXPECT_EQ(error, TcpSession::kHostNotFoundError);
    EXPECT_TRUE(Has(server, "FAIL\tOpenServer() -> Wrong host no-such-host.invalid"));

    TcpSession unopened(0, 0, 0);
    std::string data;
    uint32_t sent = 0;
    TcpEvents events;
    EXPECT_EQ(unopened.Read(data, error), TcpSession::kNotUsable);
    EXPECT_EQ(unopened.Write("x", sent, error), TcpSession::kNotUsable);
    EXPECT_EQ(unopened.ServerSession(exchange, Echo, error), TcpSession::kNotUsable);
    EXPECT_EQ(unopened.WaitEvents(events, error), TcpSession::kNotUsable);
    EXPECT_EQ(unopened.Close(), TcpSession::kOk);
}

TEST_F(TcpSessionTest, AttachRefusesABadSocket) {
    TcpSession session(0, 0, -1);
    int error = 0;
    EXPECT_EQ(session.Open(platform::TcpSocket(), sockaddr_in{}, error), TcpSession::kSocketError);
    EXPECT_EQ(error, EBADF);
    EXPECT_TRUE(Has(session, *core::Format("FAIL\tOpen() -> WSAEventSelect(). ERROR: %d", EBADF)));
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
    int reads = 0;
    while (total < big.size()) {
        TcpEvents events;
        ASSERT_EQ(served->WaitEvents(events, error), TcpSession::kOk);
        ASSERT_EQ(served->Read(data, error), TcpSession::kOk);
        EXPECT_LE(data.size(), TcpSession::kReadLimit + served->ChunkSize());
        if (reads++ == 0) {
            EXPECT_GT(data.size(), TcpSession::kReadLimit);
        }
        total += data.size();
    }
    EXPECT_EQ(total, big.size());
    EXPECT_TRUE(Has(*served, "FAIL\t_read() -> Data overflow"));
}

TEST_F(TcpSessionTest, OneConnectionCarriesSeveralRequests) {
    auto listener = Listen();
    auto client = Connect(*listener);
    std::unique_ptr<TcpSession> served;
    std::atomic<int> requests{0};
    auto done = Serve(*listener, [&](std::string_view r) { ++requests; return "re:" + std::string(r); }, served);

    for (const std::string request : {"first request, the longest", "second", "3rd"}) {
        uint32_t sent = 0;
        int error = 0;
        ASSERT_EQ(client->Write(request, sent, error), TcpSession::kOk);
        EXPECT_EQ(Answer(*client), "re:" + request);
    }
    client->Close();
    EXPECT_EQ(done.get().first, TcpSession::kOk);
    EXPECT_EQ(requests, 3);
    EXPECT_EQ(exchange.data, "3rd");  // replaced, not accumulated
    EXPECT_EQ(exchange.received, 3u);
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

TEST_F(TcpSessionTest, StopEndsServingAFloodingClient) {
    auto listener = Listen(5000);
    auto client = Connect(*listener, 200);
    std::unique_ptr<TcpSession> served;
    auto done = Serve(*listener, Echo, served);
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

TEST_F(TcpSessionTest, StopEndsAWaitingAccept) {
    auto listener = Listen();
    auto waiting = std::async(std::launch::async, [&] {
        int error = 0;
        auto none = listener->AcceptConnection(error);
        return std::make_pair(none == nullptr, error);
    });
    std::this_thread::sleep_for(50ms);
    listener->RequestStop();
    ASSERT_EQ(waiting.wait_for(20s), std::future_status::ready);
    const auto [none, error] = waiting.get();
    EXPECT_TRUE(none);
    EXPECT_EQ(error, ECANCELED);
}

TEST_F(TcpSessionTest, VerboseLogLines) {
    TcpSession listener(0, 0, -1);
    EXPECT_EQ(listener.LogText(), "* Initialization complete. Chunk size =0, Timeout =0");
    EXPECT_EQ(listener.ChunkSize(), 1024u);
    EXPECT_EQ(listener.TimeoutMs(), 5000u);
    int error = 0;
    ASSERT_EQ(listener.OpenServer("127.0.0.1", 0, 5, error), TcpSession::kOk);
    auto client = Connect(listener);
    auto served = listener.AcceptConnection(error);
    ASSERT_TRUE(served);
    EXPECT_EQ(listener.LogText(),
              "* Initialization complete. Chunk size =0, Timeout =0\r\n"
              "* OPEN Server session for 127.0.0.1:0\r\n"
              "OK\tSession prepared\r\n"
              "OK\tAcceptConnection() -> Wait for connection...\r\n"
              "OK\tAcceptConnection() -> Hallo, new client!");
    EXPECT_EQ(served->LogText(),
              "* Initialization complete. Chunk size =1024, Timeout =5000\r\n" +
                  *core::Format("* OPEN transmit session [%X]", unsigned(served->SocketHandle())) +
                  "\r\nOK\tSession prepared");
    auto done = std::async(std::launch::async, [&] {
        int serveError = 0;
        return served->ServerSession(exchange, Echo, serveError);
    });
    uint32_t sent = 0;
    ASSERT_EQ(client->Write("abc", sent, error), TcpSession::kOk);
    EXPECT_EQ(Answer(*client), "abc");
    client->Close();
    EXPECT_EQ(done.get(), TcpSession::kOk);
    served->Close();
    EXPECT_TRUE(Has(*served,
                    "OK\tServerSession() -> FD_READ\r\n"
                    "OK\tServerSession() -> Received: 3 bytes\r\n"
                    "OK\tServerSession() -> Sended: 3 bytes\r\n"));
    EXPECT_TRUE(Has(*served, "OK\tServerSession() -> Successfully complete\r\nOK\tClose() -> Session close"));
    EXPECT_EQ(client->LogText(), "");  // not verbose: silent
}

}  // namespace
}  // namespace qm::transport
