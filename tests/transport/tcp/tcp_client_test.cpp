// The client side as a poller uses it: a connect started without waiting,
// then one wait loop for the connect, the answers and the peer's close.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "transport/tcp/tcp_session.h"

namespace qm::transport {
namespace {

using namespace std::chrono_literals;

// A loopback listener served by a thread of the test: `serve` gets the
// accepted connection.
class Peer {
public:
    template <typename Serve>
    explicit Peer(Serve serve) : listener_(0, 20000, 0) {
        int error = 0;
        EXPECT_EQ(listener_.OpenServer("127.0.0.1", 0, 5, error), TcpSession::kOk);
        done_ = std::async(std::launch::async, [this, serve] {
            int error = 0;
            std::unique_ptr<TcpSession> connection = listener_.AcceptConnection(error);
            if (connection) serve(*connection);
        });
    }
    ~Peer() {
        listener_.RequestStop();
        done_.wait();
    }
    uint16_t Port() const { return listener_.LocalPort(); }

private:
    TcpSession listener_;
    std::future<void> done_;
};

TcpEvents Wait(TcpSession& session, uint32_t timeoutMs = 20000) {
    TcpEvents events;
    int error = 0;
    EXPECT_EQ(session.WaitEvents(events, error, timeoutMs), TcpSession::kOk) << error;
    return events;
}

TEST(TcpClient, ConnectIsReportedOnceAndTheAnswerAfterIt) {
    std::promise<void> requestSeen;
    Peer peer([&](TcpSession& connection) {
        TcpEvents events;
        int error = 0;
        std::string request;
        if (connection.WaitEvents(events, error) != TcpSession::kOk || connection.Read(request, error) != 0) return;
        requestSeen.set_value();
        uint32_t sent = 0;
        connection.Write("re:" + request, sent, error);
        connection.WaitEvents(events, error);  // until the client closes
    });
    TcpSession client(0, 20000, -1);
    int error = 0;
    ASSERT_EQ(client.StartConnect("127.0.0.1", peer.Port(), error), TcpSession::kOk);
    const TcpEvents connected = Wait(client);
    EXPECT_TRUE(connected.connect);
    EXPECT_EQ(connected.connectError, 0);
    EXPECT_FALSE(connected.read || connected.close);
    // A made connection stays writable; that is no second connect.
    TcpEvents quiet;
    EXPECT_EQ(client.WaitEvents(quiet, error, 300), TcpSession::kTimedOut);
    EXPECT_FALSE(quiet.connect);

    uint32_t sent = 0;
    ASSERT_EQ(client.Write("read 1", sent, error), TcpSession::kOk);
    const TcpEvents answered = Wait(client);
    EXPECT_FALSE(answered.connect);
    EXPECT_TRUE(answered.read);
    std::string answer;
    ASSERT_EQ(client.Read(answer, error), TcpSession::kOk);
    EXPECT_EQ(answer, "re:read 1");
    EXPECT_TRUE(client.LogText().find("OK\tWaitEvents() -> FD_CONNECT") != std::string::npos);
    client.Close();
}

TEST(TcpClient, RefusedConnectIsAConnectWithItsError) {
    // Bound but not listening: the kernel refuses connections to it.
    platform::TcpSocket holder;
    ASSERT_EQ(holder.Open(), 0);
    sockaddr_in local{};
    ASSERT_EQ(platform::ResolveIpv4("127.0.0.1", 0, local), 0);
    ASSERT_EQ(holder.Bind(local), 0);
    ASSERT_EQ(holder.LocalAddress(local), 0);

    TcpSession client(0, 20000, -1);
    int error = 0;
    ASSERT_EQ(client.StartConnect("127.0.0.1", ntohs(local.sin_port), error), TcpSession::kOk);
    const TcpEvents events = Wait(client);
    EXPECT_TRUE(events.connect);
    EXPECT_EQ(events.connectError, ECONNREFUSED);
    EXPECT_FALSE(events.close);
    EXPECT_FALSE(events.read);
}

TEST(TcpClient, BytesSentWithTheCloseAreReadBeforeTheClose) {
    const std::string greeting(3000, 'g');
    Peer peer([&](TcpSession& connection) {
        uint32_t sent = 0;
        int error = 0;
        connection.Write(greeting, sent, error);
        connection.Close();
    });
    TcpSession client(0, 20000, 0);
    int error = 0;
    ASSERT_EQ(client.StartConnect("127.0.0.1", peer.Port(), error), TcpSession::kOk);
    ASSERT_TRUE(Wait(client).connect);
    std::string received;
    bool closed = false;
    for (int waits = 0; !closed && waits < 100; ++waits) {
        const TcpEvents events = Wait(client);
        ASSERT_FALSE(events.connect);
        if (events.read) {
            ASSERT_EQ(events.readError, 0);
            std::string piece;
            ASSERT_EQ(client.Read(piece, error), TcpSession::kOk);
            received += piece;
        }
        if (events.close) {
            // Everything sent before the close has been read by now.
            EXPECT_EQ(received, greeting);
            closed = true;
        }
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ(received, greeting);
}

TEST(TcpClient, AttachedConnectAndUnresolvableHost) {
    Peer peer([](TcpSession& connection) {
        int error = 0;
        TcpEvents events;
        connection.WaitEvents(events, error);
    });
    // A connect the caller started itself, attached while it is under way.
    platform::TcpSocket socket;
    ASSERT_EQ(socket.Open(), 0);
    sockaddr_in remote{};
    ASSERT_EQ(platform::ResolveIpv4("127.0.0.1", peer.Port(), remote), 0);
    const int started = socket.StartConnect(remote);
    ASSERT_TRUE(started == 0 || started == EINPROGRESS) << started;
    TcpSession client(0, 20000, 0);
    int error = 0;
    ASSERT_EQ(client.OpenConnecting(std::move(socket), remote, error), TcpSession::kOk);
    const TcpEvents events = Wait(client);
    EXPECT_TRUE(events.connect);
    EXPECT_EQ(events.connectError, 0);
    client.Close();

    TcpSession nowhere(0, 0, 0);
    EXPECT_EQ(nowhere.StartConnect("no-such-host.invalid", 502, error), TcpSession::kHostNotFound);
    EXPECT_EQ(error, TcpSession::kHostNotFoundError);
}

}  // namespace
}  // namespace qm::transport
