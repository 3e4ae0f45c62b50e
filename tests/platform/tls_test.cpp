// The TLS wrapper on real sockets: our server and client sessions with each
// other (certificates required, refused, names checked), against plain text,
// and our client against openssl s_server.
#include "platform/tls.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include "platform/socket_address.h"
#include "platform/tcp_socket.h"
#include "support/files.h"
#include "support/test_certificates.h"
#include "support/udp_peer.h"

namespace qm::platform {
namespace {

using namespace qm::testing;

struct SocketPair {
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fd), 0); }
    ~SocketPair() {
        ::close(fd[0]);
        ::close(fd[1]);
    }
    int fd[2] = {-1, -1};
};

// Runs both handshakes until each side is done or has given up.
std::pair<TlsStatus, TlsStatus> ShakeHands(TlsSession& server, TlsSession& client) {
    TlsStatus s = TlsStatus::kWantRead, c = TlsStatus::kWantRead;
    const auto pending = [](TlsStatus t) { return t == TlsStatus::kWantRead || t == TlsStatus::kWantWrite; };
    WaitUntil([&] {
        if (pending(c)) c = client.Handshake();
        if (pending(s)) s = server.Handshake();
        return !pending(s) && !pending(c);
    }, std::chrono::seconds(10));
    return {s, c};
}

class Tls : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestCertificates::Installed()) GTEST_SKIP() << "no openssl command (Debian package openssl)";
        ASSERT_TRUE(certs.Ok()) << ReadWholeFile(certs.Log());
    }
    TlsFiles ServerFiles(bool verifyClients) const {
        return {certs.ServerCert(), certs.ServerKey(), verifyClients ? certs.Ca() : ""};
    }
    TestCertificates certs;
};

TEST_F(Tls, SessionsAgreeCheckEachOtherAndCarryBytesBothWays) {
    TlsContext server, client;
    ASSERT_EQ(server.OpenServer(ServerFiles(true)), "");
    EXPECT_TRUE(server.VerifiesPeers());
    ASSERT_EQ(client.OpenClient({certs.ClientCert(), certs.ClientKey(), certs.Ca()}), "");
    SocketPair pair;
    TlsSession s, c;
    ASSERT_EQ(s.Open(server, pair.fd[0]), "");
    ASSERT_EQ(c.Open(client, pair.fd[1]), "");
    ASSERT_EQ(c.ExpectServerName("localhost"), "");
    ASSERT_EQ(ShakeHands(s, c), std::make_pair(TlsStatus::kOk, TlsStatus::kOk)) << s.Failure() << " / " << c.Failure();
    EXPECT_TRUE(s.HandshakeDone() && c.HandshakeDone());
    EXPECT_EQ(s.PeerSubject(), "CN=sender.example");
    EXPECT_EQ(c.PeerSubject(), "CN=localhost");
    EXPECT_TRUE(c.Version() == "TLSv1.3" || c.Version() == "TLSv1.2") << c.Version();

    const std::string text = "<13>over tls\n" + std::string(3000, 'x');
    size_t sent = 0;
    ASSERT_EQ(c.Write(text, sent), TlsStatus::kOk);
    EXPECT_EQ(sent, text.size());
    // Read in small pieces: the rest of a record waits inside the session,
    // where the socket does not show it.
    std::string got;
    char piece[100];
    size_t n = 0;
    ASSERT_TRUE(WaitUntil([&] { return s.Read(piece, n) == TlsStatus::kOk; }));
    got.append(piece, n);
    EXPECT_TRUE(s.HasBuffered());
    while (got.size() < text.size() && WaitUntil([&] { return s.Read(piece, n) == TlsStatus::kOk; }, std::chrono::seconds(5)))
        got.append(piece, n);
    EXPECT_EQ(got, text);
    EXPECT_FALSE(s.HasBuffered());
    ASSERT_EQ(s.Write("ack", sent), TlsStatus::kOk);
    ASSERT_TRUE(WaitUntil([&] { return c.Read(piece, n) == TlsStatus::kOk; }));
    EXPECT_EQ(std::string(piece, n), "ack");

    // A close alert ends the other side's reading as a close, not a failure.
    c.Close();
    ASSERT_TRUE(WaitUntil([&] { return s.Read(piece, n) != TlsStatus::kWantRead; }));
    EXPECT_EQ(s.Read(piece, n), TlsStatus::kClosed);
}

TEST_F(Tls, RefusalsSayWhy) {
    TlsContext verifying, plain, trusting, distrusting, anonymous;
    ASSERT_EQ(verifying.OpenServer(ServerFiles(true)), "");
    ASSERT_EQ(plain.OpenServer(ServerFiles(false)), "");
    ASSERT_EQ(trusting.OpenClient({"", "", certs.Ca()}), "");
    ASSERT_EQ(distrusting.OpenClient({certs.ClientCert(), certs.ClientKey(), certs.OtherCa()}), "");
    ASSERT_EQ(anonymous.OpenClient({"", "", certs.Ca()}), "");
    struct Case {
        const char* what;
        const TlsContext& server;
        const TlsContext& client;
        const char* serverName;
        bool serverFails, clientFails;
        const char* clientReason;
        const char* serverReason;
    } cases[] = {
        {"server not trusted", plain, distrusting, "localhost", true, true, "certificate check failed", "alert unknown ca"},
        {"name mismatch", plain, trusting, "wrong.example", true, true, "certificate check failed: hostname mismatch", ""},
        {"address checked", plain, trusting, "127.0.0.1", false, false, "", ""},
        {"no client certificate", verifying, anonymous, "localhost", true, false, "", "certificate"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SocketPair pair;
        TlsSession s, c;
        ASSERT_EQ(s.Open(k.server, pair.fd[0]), "");
        ASSERT_EQ(c.Open(k.client, pair.fd[1]), "");
        ASSERT_EQ(c.ExpectServerName(k.serverName), "");
        const auto [sr, cr] = ShakeHands(s, c);
        EXPECT_EQ(sr != TlsStatus::kOk, k.serverFails) << s.Failure();
        // TLS 1.3 clients finish before the server has looked at their certificate.
        EXPECT_EQ(cr, k.clientFails ? TlsStatus::kFailed : TlsStatus::kOk) << c.Failure();
        EXPECT_TRUE(Contains(c.Failure(), k.clientReason)) << c.Failure();
        EXPECT_TRUE(Contains(s.Failure(), k.serverReason)) << s.Failure();
    }

    // Plain text to a TLS server, and files that do not fit.
    SocketPair pair;
    TlsSession s;
    ASSERT_EQ(s.Open(plain, pair.fd[0]), "");
    ASSERT_EQ(::send(pair.fd[1], "<13>plain text\n", 15, 0), 15);
    EXPECT_EQ(s.Handshake(), TlsStatus::kFailed);
    EXPECT_TRUE(Contains(s.Failure(), "handshake failed: ")) << s.Failure();
    EXPECT_GT(s.BytesFromPeer(), 0u);
    TlsContext broken;
    EXPECT_TRUE(Contains(broken.OpenServer({certs.Path("missing.pem"), certs.ServerKey(), ""}), "missing.pem"));
    EXPECT_TRUE(Contains(broken.OpenServer({certs.ServerCert(), certs.ClientKey(), ""}), "key values mismatch"));
    EXPECT_TRUE(Contains(broken.OpenServer({certs.ServerCert(), certs.ServerKey(), certs.ServerKey()}), "CA file"));
    EXPECT_FALSE(broken.IsOpen());
    EXPECT_FALSE(KeyFileOpenToOthers(certs.ServerKey())) << "openssl writes keys for their owner only";
    ::chmod(certs.ServerKey().c_str(), 0640);
    EXPECT_TRUE(KeyFileOpenToOthers(certs.ServerKey()));
}

// The client side against a real server: openssl s_server -rev answers each
// line with the line reversed.
TEST_F(Tls, ClientSessionTalksToOpensslServer) {
    const uint16_t port = FreePort();
    ChildProcess server({TestCertificates::kOpenssl, "s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
                         certs.ServerCert(), "-key", certs.ServerKey(), "-rev", "-naccept", "1"},
                        certs.Path("s_server.txt"));
    TlsContext client;
    ASSERT_EQ(client.OpenClient({"", "", certs.Ca()}), "");
    TcpSocket socket;
    const std::optional<SocketAddress> to = SocketAddress::Parse("127.0.0.1", port);
    ASSERT_TRUE(WaitUntil([&] {
        short ready = 0;
        return socket.Open(AF_INET) == 0 && socket.StartConnect(*to) == EINPROGRESS &&
               socket.Poll(POLLOUT, 1000, ready) == 0 && socket.ConnectResult() == 0;
    })) << ReadWholeFile(certs.Path("s_server.txt"));
    TlsSession session;
    ASSERT_EQ(session.Open(client, socket.Fd()), "");
    ASSERT_EQ(session.ExpectServerName("localhost"), "");
    TlsStatus status = TlsStatus::kWantRead;
    ASSERT_TRUE(WaitUntil([&] { return (status = session.Handshake()) != TlsStatus::kWantRead; }));
    ASSERT_EQ(status, TlsStatus::kOk) << session.Failure();
    size_t sent = 0;
    ASSERT_EQ(session.Write("<14>hello s_server\n", sent), TlsStatus::kOk);
    std::string answer;
    char piece[256];
    size_t n = 0;
    EXPECT_TRUE(WaitUntil([&] {
        if (session.Read(piece, n) == TlsStatus::kOk) answer.append(piece, n);
        return Contains(answer, "revres_s olleh>41<");
    })) << answer;
    session.Close();
}

}  // namespace
}  // namespace qm::platform
