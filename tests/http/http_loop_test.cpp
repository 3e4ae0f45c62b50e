// How the server's event loops treat clients that are slow, silent or cut
// off by a stop, asked by raw sockets and curl on loopback.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "http/http_settings.h"
#include "http_test_support.h"
#include "support/wait_until.h"

namespace qm::http {
namespace {

using namespace qm::testing;
using namespace std::chrono_literals;

class HttpLoopTest : public HttpModuleTest {
protected:
    void SetUp() override {
        HttpModuleTest::SetUp();
        WriteIni("[ip-access]\n*=A\n[content-access]\n*=A\n[mime]\ntxt=text/plain\n[log]\nlevel=3\n");
        WriteFile("a.txt", std::string(1024, 'a'));
        big_.reserve(1 << 20);
        for (size_t i = 0; i < (1u << 20); ++i) big_ += char((i * 131 + i / 977) % 251);
        WriteFile("big.bin", big_);
    }
    std::string big_;
};

TEST_F(HttpLoopTest, FiftyIdleConnectionsDelayNoRequestEvenWithOneSlot) {
    // One slot: the idle clients must not take it, and every request in
    // turn gets it, long before the idle ones' time-out.
    const uint16_t port = StartServer(http::HttpCommon{.maxConn = 1, .timeout = 120000});
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 50; ++i) {
        idle.push_back(std::make_unique<RawClient>(port));
        ASSERT_TRUE(idle.back()->Ok());
    }
    ASSERT_TRUE(WaitUntil([&] { return module_->Serving(0) == 50; }, 30s));
    auto requests = std::async(std::launch::async, [&] {
        int ok = 0;
        for (int i = 0; i < 20; ++i) {
            RawClient c(port);
            if (c.Send("GET /a.txt HTTP/1.0\r\n\r\n") && ParseReply(c.ReceiveAll()).body.size() == 1024) ++ok;
        }
        return ok;
    });
    // Far below the idle ones' 120 s.
    ASSERT_EQ(requests.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(requests.get(), 20);
    for (const auto& c : idle) {
        pollfd p{c->Fd(), POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 0), 0) << "an idle client was dropped";
    }
}

TEST_F(HttpLoopTest, AMegabyteFileArrivesWholeAlsoToAClientThatReadsSlowly) {
    const uint16_t port = StartServer(http::HttpCommon{.timeout = 30000});
    HttpReply r = Curl({Url(port, "/big.bin")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Length"), "1048576");
    EXPECT_TRUE(r.body == big_) << "the file arrived changed (" << r.body.size() << " bytes)";

    // A small receive buffer and pauses: the answer goes out in many rounds.
    RawClient slow(port);
    const int small = 4096;
    ASSERT_EQ(::setsockopt(slow.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    ASSERT_TRUE(slow.Send("GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::string got;
    char buffer[8192];
    for (int round = 0; round < 100000; ++round) {
        pollfd p{slow.Fd(), POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) break;
        const ssize_t n = ::recv(slow.Fd(), buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, size_t(n));
        if (round % 16 == 0) std::this_thread::sleep_for(5ms);
    }
    r = ParseReply(got);
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.body == big_) << "the slow client got " << r.body.size() << " bytes";
    slow.Close();

    // Each connection's line counts the whole answer, head and file.
    ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));
    size_t whole = 0;
    for (const auto& entry : fs::directory_iterator(core_.paths.webLogFolder)) {
        const std::string text = ReadWholeFile(entry.path());
        const std::string sent = "Success: Send=" + std::to_string(1048576 + r.raw.size() - r.body.size()) + ", ";
        for (size_t at = 0; (at = text.find(sent, at)) != std::string::npos; ++at) ++whole;
    }
    EXPECT_EQ(whole, 2u);
}

TEST_F(HttpLoopTest, StopClosesIdleHalfSentStalledAndHeldClientsAndLeavesNoThread) {
    const uint32_t threadsBefore = core_.counters.threads.load();
    const uint16_t port = StartServer(http::HttpCommon{.maxConn = 3, .timeout = 120000});
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 5; ++i) clients.push_back(std::make_unique<RawClient>(port));  // silent
    for (int i = 0; i < 2; ++i) {
        clients.push_back(std::make_unique<RawClient>(port));  // half a request each
        ASSERT_TRUE(clients.back()->Send("GET /a.txt HTTP/1.1\r\nHost:"));
    }
    // The third slot: a client that stops reading a large answer.
    auto stalled = std::make_unique<RawClient>(port);
    const int small = 4096;
    ASSERT_EQ(::setsockopt(stalled->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    ASSERT_TRUE(stalled->Send("GET /big.bin HTTP/1.0\r\n\r\n"));
    RawClient* stalledClient = stalled.get();
    clients.push_back(std::move(stalled));
    ASSERT_TRUE(WaitUntil([&] { return module_->Serving(0) == 8; }, 30s));
    // A whole request while every slot is taken: held back.
    clients.push_back(std::make_unique<RawClient>(port));
    ASSERT_TRUE(clients.back()->Send("GET /a.txt HTTP/1.0\r\n\r\n"));
    for (const auto& c : clients) ASSERT_TRUE(c->Ok());
    ASSERT_TRUE(WaitUntil([&] { return module_->Serving(0) == 9; }, 30s));
    EXPECT_GT(core_.counters.threads.load(), threadsBefore);

    auto stopped = std::async(std::launch::async, [&] { return module_->Stop(platform::Blocking::Yes); });
    ASSERT_EQ(stopped.wait_for(60s), std::future_status::ready) << "Stop waited on a client";
    EXPECT_TRUE(stopped.get());
    // Every client sees its connection end; only the stalled one had (part of) an answer.
    for (const auto& c : clients) {
        const HttpReply r = ParseReply(c->ReceiveAll(30s));
        if (c.get() == stalledClient) {
            EXPECT_EQ(r.status, 200);
            EXPECT_LE(r.body.size(), big_.size());
        } else {
            EXPECT_EQ(r.raw, "");
        }
        char byte;
        EXPECT_LE(::recv(c->Fd(), &byte, 1, MSG_DONTWAIT), 0) << "still open";
    }
    EXPECT_EQ(core_.counters.threads.load(), threadsBefore);
    EXPECT_EQ(module_->Shared().threadCount.load(), 0u);
    EXPECT_EQ(log_->CountSystem("Проблемы при работе с сетью"), 0u);
}

TEST_F(HttpLoopTest, AnEditedHttpIniTakesEffectAtTheNextRequest) {
    const uint16_t port = StartServer();
    HttpReply r = Curl({Url(port, "/a.txt")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "text/plain");

    // Same length, so only the content (and the time) tells the change.
    WriteIni("[ip-access]\n*=A\n[content-access]\n*=A\n[mime]\ntxt=text/xlain\n[log]\nlevel=3\n");
    EXPECT_EQ(Curl({Url(port, "/a.txt")}).Header("Content-Type"), "text/xlain");
    WriteIni("[ip-access]\n*=A\n[content-access]\n*=A\n\\a.txt=D\n");
    EXPECT_EQ(Curl({Url(port, "/a.txt")}).status, 403);
    fs::remove(WebRoot() / "http.ini");
    // No file: the defaults read at the start decide, access to the content included.
    r = Curl({Url(port, "/a.txt")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "application/octet-stream");
}

TEST_F(HttpLoopTest, ASmallFileServedAgainIsFreshAfterEveryKindOfEdit) {
    const uint16_t port = StartServer();
    WriteFile("kept.txt", "first version");
    // Settled files are the ones served from memory.
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(Curl({Url(port, "/kept.txt")}).body, "first version");
    EXPECT_EQ(Curl({Url(port, "/kept.txt")}).body, "first version");

    // Rewritten in place with the same length, at once after a request.
    WriteFile("kept.txt", "other version");
    EXPECT_EQ(Curl({Url(port, "/kept.txt")}).body, "other version");
    // Replaced by another file under the same name, after settling.
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(Curl({Url(port, "/kept.txt")}).body, "other version");
    WriteFile("kept.new", "third version");
    fs::rename(WebRoot() / "kept.new", WebRoot() / "kept.txt");
    EXPECT_EQ(Curl({Url(port, "/kept.txt")}).body, "third version");
    fs::remove(WebRoot() / "kept.txt");
    EXPECT_EQ(Curl({Url(port, "/kept.txt")}).status, 404);
}

}  // namespace
}  // namespace qm::http
