// The HTTP server module on a core of its own, asked by real clients: curl,
// ab (HTTP/1.0) and raw sockets for what those will not send, and clients
// that are slow, silent, flooding or cut off by a stop.
#include <gtest/gtest.h>

#include <future>
// GCC 12 with the sanitizers sees an uninitialized member inside <regex>
// where there is none.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <thread>

#include "http/http_settings.h"
#include "http_test_support.h"

namespace qm::http {
namespace {

using namespace qm::testing;
using platform::Blocking;

constexpr const char* kTestIni =
    "[ip-access]\n*=A\n"
    "[content-access]\n*=A\n\\http.ini=D\n\\private\\=D\n"
    "[mime]\nhtml=text/html\n\\special.html=text/x-special\n"
    "[cache]\n\\a.txt=max-age=60\n"
    "[alias]\n\\changes.txt=Notes\\changes.txt\n"
    "[log]\nlevel=3\n";
constexpr const char* kNetworkProblem = "Проблемы при работе с сетью";
constexpr int kSmallReceiveBuffer = 16384;

class HttpServer : public HttpModuleTest {
protected:
    void SetUp() override {
        HttpModuleTest::SetUp();
        WriteIni(kTestIni);
        WriteFile("index.html", "<html>index</html>");
        WriteFile("special.html", "special");
        WriteFile("a.txt", std::string(1024, 'a'));
        big_ = Pattern(1u << 20);
        WriteFile("big.bin", big_);
        WriteFile("sub/page.html", "page");
        WriteFile("sub/index.html", "sub index");
        WriteFile("private/deeper/x.html", "private");
        WriteFile("Notes/changes.txt", "aliased", home_.path());
    }
    static std::string Pattern(size_t size) {
        std::string bytes;
        bytes.reserve(size);
        for (size_t i = 0; i < size; ++i) bytes += char((i * 131 + i / 977) % 251);
        return bytes;
    }
    // A file the server cannot hand to the kernel in one go: twice the most
    // a socket's send buffer grows to (on loopback it took 4 MB at once, so
    // a megabyte never made the server wait). It has to wait for a slow
    // client and go on where it stopped. Written as "huge.bin".
    std::string WriteHugeFile() {
        size_t most = 4u << 20;
        std::ifstream("/proc/sys/net/ipv4/tcp_wmem") >> most >> most >> most;
        std::string huge = Pattern(2 * most);
        WriteFile("huge.bin", huge);
        return huge;
    }
    // How often `text` occurs in the request log files.
    size_t Logged(const std::string& text) const {
        size_t found = 0;
        for (const auto& entry : fs::directory_iterator(core_.paths.webLogFolder)) {
            const std::string lines = ReadWholeFile(entry.path());
            for (size_t at = 0; (at = lines.find(text, at)) != std::string::npos; ++at) ++found;
        }
        return found;
    }
    // One after the other, each accepted before the next connects: MaxConn is
    // also the listen backlog, and a burst past it waited out the kernel's
    // retries of the dropped connection attempts, 1 s and more each: up to
    // 20 s for fifty.
    std::vector<std::unique_ptr<RawClient>> Connected(uint16_t port, int count) {
        std::vector<std::unique_ptr<RawClient>> clients;
        const uint32_t before = module_->Serving(0);
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<RawClient>(port));
            EXPECT_TRUE(clients.back()->Ok());
            EXPECT_TRUE(WaitUntil([&] { return module_->Serving(0) >= before + uint32_t(i) + 1; }, 30s));
        }
        return clients;
    }
    std::string Started(uint16_t port) const { return "Web сервер [127.0.0.1:" + std::to_string(port) + "] запущен"; }
    std::string big_;
};

// Header lines exactly as sent, status and all, with the body length.
std::vector<std::string> ExpectedHeaders(const std::string& type, const std::string& cache, size_t length) {
    return {"Server: VTX v1.0 for Quillmark", "Title: Quillmark", "Content-Length: " + std::to_string(length),
            "Connection: close", "Content-Type: " + type, "Cache-Control: " + cache};
}

TEST_F(HttpServer, FilesAndStatusesWithExactHeaders) {
    const uint16_t port = StartServer();
    HttpReply r = Curl({Url(port, "/")});
    EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(r.headerLines, ExpectedHeaders("text/html", "no-cache", 18));
    EXPECT_EQ(r.body, "<html>index</html>");
    // Byte for byte, whatever the bytes; MIME and cache by key, by
    // extension, else the defaults.
    r = Curl({Url(port, "/big.bin")});
    EXPECT_EQ(r.headerLines, ExpectedHeaders("application/octet-stream", "no-cache", big_.size()));
    EXPECT_TRUE(r.body == big_) << "the file arrived changed (" << r.body.size() << " bytes)";
    EXPECT_EQ(Curl({Url(port, "/special.html")}).Header("Content-Type"), "text/x-special");
    EXPECT_EQ(Curl({Url(port, "/a.txt")}).Header("Cache-Control"), "max-age=60");
    // Directories, request targets without a leading "/", aliases.
    for (const auto& [args, body] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{Url(port, "/sub/")}, "sub index"}, {{Url(port, "/sub/page.html")}, "page"},
             {{"--request-target", "index.html", Url(port, "/")}, "<html>index</html>"},
             {{"--request-target", "sub/page.html", Url(port, "/")}, "page"}, {{Url(port, "/changes.txt")}, "aliased"}}) {
        r = Curl(args);
        EXPECT_EQ(r.status, 200) << args.back();
        EXPECT_EQ(r.body, body) << args.back();
    }
    EXPECT_EQ(Curl({"--request-target", "http.ini", Url(port, "/")}).status, 403);
    r = Curl({Url(port, "/missing.html")});
    EXPECT_EQ(r.statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(r.headerLines, ExpectedHeaders("text/plain; charset=windows-1251", "no-cache", 13));
    EXPECT_EQ(r.body, "404 Not Found");
    EXPECT_EQ(Curl({Url(port, "/sub")}).status, 404);      // a dynamic name other than log
    EXPECT_EQ(Curl({Url(port, "/Notes/")}).status, 404);   // not in the web root
    EXPECT_EQ(Curl({"-X", "POST", "-d", "x=1", Url(port, "/")}).body, "501 Not Implemented");
    EXPECT_EQ(Curl({"-I", Url(port, "/")}).status, 501);

    // A folder's entry covers everything below it, and one path has one key
    // however it is spelled.
    for (const char* path : {"/http.ini", "//http.ini", "/./http.ini", "/%68ttp.ini", "/sub/../http.ini",
                             "/sub%2f..%2fhttp.ini", "/HTTP.INI", "/\\http.ini", "/private/deeper/x.html",
                             "//private//deeper/x.html", "/%70rivate/deeper/x.html"}) {
        r = Curl({"--path-as-is", Url(port, path)});
        EXPECT_EQ(r.statusLine, "HTTP/1.1 403 Forbidden") << path;
        EXPECT_EQ(r.body, "403 Forbidden") << path;
    }
    // What curl will not send.
    for (const auto& [request, status] : std::vector<std::pair<std::string, std::string>>{
             {"GET / HTTP/2.0\r\n\r\n", "505 HTTP Version Not Supported"},
             {"GET /\r\n\r\n", "505 HTTP Version Not Supported"},
             {"get / http/1.0\r\n\r\n", "200 OK"},
             {"\r\n\r\n", "500 Internal Server Error"},
             {"GET /a.txt\r\nX: 1\r\n HTTP/1.1\r\n\r\n", "505 HTTP Version Not Supported"}}) {
        RawClient client(port);
        ASSERT_TRUE(client.Send(request));
        const HttpReply reply = ParseReply(client.ReceiveAll());
        EXPECT_EQ(reply.statusLine, "HTTP/1.1 " + status) << request;
        if (status != "200 OK") {
            EXPECT_EQ(reply.body, status);
        }
    }
}

// Paths that try to leave the web root, sent by curl exactly as written:
// every one is refused, and no answer ever carries a file from outside.
TEST_F(HttpServer, NoSpellingOfAPathLeavesTheWebRoot) {
    const char* secret = "TOP-SECRET-4711";
    // Secrets beside and above the web root (Resource/Web), and one far away
    // that links inside the web root point at.
    for (const char* place : {"secret.txt", "Resource/secret.txt", "Settings/secret.txt"})
        WriteFile(place, secret, home_.path());
    TempDir elsewhere("qm-elsewhere");
    WriteFile("secret.txt", secret, elsewhere.path());
    fs::create_symlink(elsewhere.path() / "secret.txt", WebRoot() / "link.txt");
    fs::create_directory_symlink(elsewhere.path(), WebRoot() / "linkdir");
    const uint16_t port = StartServer();

    // Refused as a path (403), or a name inside the web root that does not exist (404).
    const std::pair<std::vector<const char*>, int> paths[] = {
        {{"/../../secret.txt", "/../secret.txt", "/..%2f..%2fsecret.txt", "/%2e%2e/%2e%2e/secret.txt",
          "/%2E%2E/%2E%2E/secret.txt", "/%2e%2E/%2E%2e/secret.txt", "/.%2e/.%2e/secret.txt", "/%2e./%2e./secret.txt",
          "/%2e%2e%2f%2e%2e%2fsecret.txt", "/%2e%2e%2F%2e%2e%2FSettings%2Fsecret.txt",
          "/%252e%252e/%252e%252e/secret.txt", "/..%252f..%252fsecret.txt", "/%25%32%65%25%32%65/secret.txt",
          "/..\\..\\secret.txt", "/\\..\\..\\secret.txt", "/..%5c..%5csecret.txt", "/..%5C..%5Csecret.txt",
          "/%2e%2e%5c%2e%2e%5csecret.txt", "/%5c..%5c..%5csecret.txt", "/sub/../../../secret.txt",
          "/index.html/../../../secret.txt", "/./../.././secret.txt", "//../../secret.txt",
          "/sub/..%2f..%2f..%2fsecret.txt", "/..%00/secret.txt", "/index.html%00../../secret.txt", "/%00", "/..%",
          "/%uff0e%uff0e/secret.txt", "/%2e%2e%2f", "/link.txt", "/linkdir/secret.txt"},
         403},
        {{"/.../.../secret.txt", "/..;/..;/secret.txt", "/....//....//secret.txt",
          "/%c0%ae%c0%ae/%c0%ae%c0%ae/secret.txt", "/..%c0%af..%c0%afsecret.txt", "//etc/passwd", "/%2fetc%2fpasswd",
          "/etc/passwd", "/Resource/secret.txt", "/secret.txt"},
         404}};
    for (const auto& [list, status] : paths) {
        for (const char* path : list) {
            const HttpReply r = Curl({"--path-as-is", Url(port, path)});
            EXPECT_EQ(r.status, status) << path;
            EXPECT_FALSE(Contains(r.raw, secret) || Contains(r.raw, "root:")) << path;
        }
    }
    // Request targets without a leading "/" are read below the root as well.
    for (const auto& [target, status] : std::vector<std::pair<std::string, int>>{
             {"../../secret.txt", 403}, {"..\\..\\secret.txt", 403}, {"http://127.0.0.1/../../secret.txt", 403},
             {"%2e%2e/%2e%2e/secret.txt", 403}, {"secret.txt", 404}, {"*", 404}, {"C:\\secret.txt", 404}}) {
        const HttpReply r = Curl({"--request-target", target, Url(port, "/")});
        EXPECT_EQ(r.status, status) << target;
        EXPECT_FALSE(Contains(r.raw, secret)) << target;
    }
    EXPECT_EQ(Curl({Url(port, "/")}).status, 200) << "the refusals left the server serving";
}

TEST_F(HttpServer, ClientAccessAndBasicAuthorization) {
    WriteIni(std::string(kTestIni) + "[auth]\ntype=1\nrealm=Test \"realm\"\n*=dXNlcjpzZWNyZXQ=\n\\open\\=*\n");
    WriteFile("open/free.txt", "free");
    const uint16_t port = StartServer();
    HttpReply r = Curl({Url(port, "/a.txt")});
    EXPECT_EQ(r.statusLine, "HTTP/1.1 401 Unauthorized");
    EXPECT_EQ(r.Header("WWW-Authenticate"), "Basic realm=\"Test realm\"");
    EXPECT_EQ(r.body, "401 Unauthorized");
    EXPECT_EQ(Curl({"-u", "user:wrong", Url(port, "/a.txt")}).status, 401);
    EXPECT_EQ(Curl({"-u", "user:secret", Url(port, "/a.txt")}).status, 200);
    EXPECT_EQ(Curl({Url(port, "/open/free.txt")}).body, "free");
    EXPECT_EQ(Curl({"-H", "Authorization: basic dXNlcjpzZWNyZXQ=", Url(port, "/a.txt")}).status, 200);

    // The client rule comes first: a refused client never gets as far as
    // the request, however malformed. http.ini is read again per request.
    WriteIni("[ip-access]\n*=A\n127.0.0.1=D\n");
    RawClient client(port);
    ASSERT_TRUE(client.Send("nonsense\r\n\r\n"));
    EXPECT_EQ(ParseReply(client.ReceiveAll()).statusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(Curl({"-u", "user:secret", Url(port, "/a.txt")}).status, 403);
}

TEST_F(HttpServer, AnEditedHttpIniTakesEffectAtTheNextRequest) {
    const uint16_t port = StartServer();
    // Same length, so only the content (and the time) tells the change.
    for (const char* type : {"text/plain", "text/xlain"}) {
        WriteIni(std::string("[ip-access]\n*=A\n[content-access]\n*=A\n[mime]\ntxt=") + type + "\n");
        EXPECT_EQ(Curl({Url(port, "/a.txt")}).Header("Content-Type"), type);
    }
    WriteIni("[ip-access]\n*=A\n[content-access]\n*=A\n\\a.txt=D\n");
    EXPECT_EQ(Curl({Url(port, "/a.txt")}).status, 403);
    fs::remove(WebRoot() / "http.ini");
    // No file: the defaults read at the start decide, access to the content included.
    const HttpReply r = Curl({Url(port, "/a.txt")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "application/octet-stream");
}

TEST_F(HttpServer, ASmallFileServedAgainIsFreshAfterEveryKindOfEdit) {
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

TEST_F(HttpServer, LogResourceListsTheNewestEventsByTypeAndPosition) {
    http::HttpServerItem item;
    item.msgBufferSize = 4;
    item.param = 0;
    const uint16_t port = StartServer({}, item);
    ASSERT_TRUE(log_->WaitForSystem(Started(port)));
    std::vector<core::EventPtr> drained;
    ASSERT_EQ(core_.events->Drain(drained, Blocking::Yes), core::kOk);

    static const std::string stats =
        R"(\d+\t\d+\t\d+\t\d+\t\d+\t\r\n\d+\t\d+\t\d+\t\d+\t\r\n\d+\t\r\n(\d+)\t\d+\t\d+\t\r\n3\t2\t0\t\r\n\r\n\r\n)";
    HttpReply r = Curl({Url(port, "/log")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "application/octet-stream");
    EXPECT_TRUE(std::regex_match(r.body, std::regex(stats))) << r.body;

    const sockaddr_in from = Loopback(514, "10.1.2.3");
    for (const auto& [type, text] : {std::pair{core::kEventExternal, "<11>ext "}, {core::kEventInternal, "<14>int "}}) {
        for (int i = 0; i < 3; ++i) core_.events->Submit(type, 100, text + std::to_string(i), from);
        core_.events->Settle(5000);
    }
    core_.Report(core::Severity::Info, core::str::kModuleLoaded, "system event");  // not in the item's EventParam
    core_.events->Settle(5000);
    ASSERT_EQ(core_.events->QueueCount(), 7u);

    // The newest MsgBufferSize records; the system one is counted but not listed.
    static const std::regex line(R"((\d+)\t10\.1\.2\.3\t\t\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\t(\w+ \d)\t\n)");
    const auto listedBy = [&](const std::string& query, const std::string& bi, std::string* events = nullptr) {
        const std::string body = Curl({Url(port, "/log" + query)}).body;
        std::smatch found;
        EXPECT_TRUE(std::regex_search(body, found, std::regex("^" + stats + bi))) << query << "\n" << body;
        EXPECT_EQ(found[1], "7") << query;
        std::string rest = found.suffix();
        std::vector<std::string> names;
        for (std::sregex_iterator it(rest.begin(), rest.end(), line), end; it != end; ++it) names.push_back((*it)[2]);
        if (events) *events = rest;
        return names;
    };
    std::string events;
    EXPECT_EQ(listedBy("", R"(BI\t7\t1\t4\t\r\n)", &events), (std::vector<std::string>{"int 0", "int 1", "int 2"}));
    EXPECT_TRUE(std::regex_match(events, std::regex(R"((3\t[^\n]*\n)?(6\t[^\n]*\n){3})"))) << events;
    EXPECT_EQ(listedBy("?2&0", R"(BI\t4\t1\t4\t\r\n)"), (std::vector<std::string>{"ext 0", "ext 1", "ext 2"}));
    EXPECT_EQ(listedBy("?1", R"(BI\t7\t1\t4\t\r\n)"), (std::vector<std::string>{"int 0", "int 1", "int 2"}));
    EXPECT_EQ(listedBy("?&5", R"(BI\t7\t1\t2\t\r\n)"), (std::vector<std::string>{"int 2"}));
    EXPECT_EQ(listedBy("?3", R"(BI\t7\t1\t4\t\r\n$)"), std::vector<std::string>{});
    EXPECT_EQ(listedBy("?&99", R"(BI\t7\t1\t4\t\r\n)").size(), 3u);  // beyond the end: the newest

    // The same page after a drain and as many new records: the new ones,
    // not the lines made for the same positions before.
    ASSERT_EQ(core_.events->Drain(drained, Blocking::Yes), core::kOk);
    for (const auto& [type, text] : {std::pair{core::kEventExternal, "<11>ext "}, {core::kEventInternal, "<14>new "}}) {
        for (int i = 0; i < 3; ++i) core_.events->Submit(type, 100, text + std::to_string(i), from);
        core_.events->Settle(5000);
    }
    core_.Report(core::Severity::Info, core::str::kModuleLoaded, "system event");
    core_.events->Settle(5000);
    EXPECT_EQ(listedBy("", R"(BI\t7\t2\t4\t\r\n)"), (std::vector<std::string>{"new 0", "new 1", "new 2"}));
}

TEST_F(HttpServer, RequestLogKeepsWholeLinesWhileFilesChangeUnderConcurrentClients) {
    WriteIni(std::string(kTestIni) + "limit=100\n");
    const uint16_t port = StartServer(http::HttpCommon{.maxConn = 20});
    {
        RawClient odd(port);
        ASSERT_TRUE(odd.Send("GET /a\x01\x7f" "b HTTP/1.0\r\n\r\n"));
        EXPECT_EQ(ParseReply(odd.ReceiveAll()).status, 403);
    }
    // Past the per-file limit while other clients' lines are being written.
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int t = 0; t < 6; ++t) {
        clients.emplace_back([&] {
            for (int i = 0; i < 40; ++i) {
                RawClient c(port);
                if (c.Send("GET /a.txt HTTP/1.0\r\n\r\n") && ParseReply(c.ReceiveAll()).status == 200) ++answered;
            }
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(answered.load(), 240);
    ASSERT_TRUE(module_->Stop(Blocking::Yes));

    // Files are named by the second, so a quick run may append to one name again.
    std::vector<std::string> lines;
    for (const auto& entry : fs::directory_iterator(core_.paths.webLogFolder)) {
        EXPECT_TRUE(std::regex_match(entry.path().filename().string(), std::regex(R"(http_\d{8}_\d{6}\.log)")));
        const std::string text = ReadWholeFile(entry.path());
        EXPECT_TRUE(text.empty() || text.ends_with("\r\n"));
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
    }
    ASSERT_EQ(lines.size(), 241u);
    static const std::regex shape(
        R"(\[127\.0\.0\.1\]\tREQ="GET /a\.txt HTTP/1\.0"\tRESP="200 OK"\tSuccess: Send=\d+, Receive=23\t< \d+ msec\. >\r)");
    EXPECT_EQ(std::ranges::count_if(lines, [](const std::string& l) { return std::regex_match(l, shape); }), 240);
    // Control characters from the client never reach the file as such.
    EXPECT_EQ(Logged("REQ=\"GET /a??b HTTP/1.0\"\tRESP=\"403 Forbidden\""), 1u);
}

// Idle, slow, stuck, oversize and departing clients; the idle one ends at the
// time-out, unanswered and logged.
TEST_F(HttpServer, SlowIdleOversizeAndAbortedClientsLeaveTheServerServing) {
    const uint16_t port = StartServer(http::HttpCommon{.timeout = 1500});
    const auto servesNext = [&](const char* after) {
        const HttpReply r = Curl({Url(port, "/a.txt")});
        EXPECT_EQ(r.status, 200) << after;
        EXPECT_EQ(r.body.size(), 1024u) << after;
    };
    RawClient idle(port);  // says nothing at all
    ASSERT_TRUE(idle.Ok());
    servesNext("idle client");
    {
        // A request in pieces is answered whole, once its head is complete.
        RawClient slow(port);
        for (char c : std::string("GET /sub/page.html HTTP/1.1\r\nHost: x\r\n\r\n")) {
            ASSERT_TRUE(slow.Send(std::string(1, c)));
            std::this_thread::sleep_for(15ms);
        }
        EXPECT_EQ(ParseReply(slow.ReceiveAll()).body, "page");
    }
    {
        // A head that never ends is dropped after the timeout, unanswered.
        RawClient stuck(port);
        ASSERT_TRUE(stuck.Send("GET / HTTP/1.1\r\nHost: x\r\n"));
        EXPECT_EQ(stuck.ReceiveAll(), "");
    }
    {
        RawClient big(port);
        ASSERT_TRUE(big.Send("GET /a.txt HTTP/1.1\r\nX-Pad: " + std::string(20000, 'p') + "\r\n\r\n"));
        big.ReceiveAll();
    }
    servesNext("oversize request");
    {
        RawClient gone(port);
        ASSERT_TRUE(gone.Send("GET /big.bin HTT"));
        gone.Close();
    }
    {
        // Leaves in the middle of a large answer.
        RawClient leaving(port);
        ASSERT_TRUE(leaving.Send("GET /big.bin HTTP/1.0\r\n\r\n"));
        char first[100];
        EXPECT_GT(::recv(leaving.Fd(), first, sizeof first, 0), 0);
    }
    servesNext("clients that left");
    EXPECT_EQ(idle.ReceiveAll(), "");
    EXPECT_TRUE(WaitUntil([&] { return Logged("[127.0.0.1]\tFail: WSError=110; Internal=5\t< ") > 0; }));
    EXPECT_EQ(log_->CountSystem(kNetworkProblem), 0u);
}

TEST_F(HttpServer, AFileLargerThanTheSendBufferGoesWholeToAClientThatReadsSlowlyAndItsLineCountsIt) {
    const std::string huge = WriteHugeFile();
    const uint16_t port = StartServer(http::HttpCommon{.timeout = 30000});
    // A small receive buffer and pauses: the answer goes out in many rounds.
    // Not smaller: with less room than a loopback segment takes, the kernel
    // drops what arrives and sends it again 200 ms later (a megabyte took
    // 25 s).
    RawClient slow(port);
    ASSERT_EQ(::setsockopt(slow.Fd(), SOL_SOCKET, SO_RCVBUF, &kSmallReceiveBuffer, sizeof kSmallReceiveBuffer), 0);
    ASSERT_TRUE(slow.Send("GET /huge.bin HTTP/1.1\r\nHost: x\r\n\r\n"));
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
    const HttpReply r = ParseReply(got);
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.body == huge) << "the slow client got " << r.body.size() << " of " << huge.size() << " bytes";
    slow.Close();
    // The connection's line counts the whole answer, head and file.
    ASSERT_TRUE(module_->Stop(Blocking::Yes));
    EXPECT_EQ(Logged("Success: Send=" + std::to_string(r.raw.size()) + ", "), 1u);
}

// With one slot, fifty silent clients must not take it: every request in
// turn gets it, long before their time-out; a stop then ends and logs each.
TEST_F(HttpServer, FiftyIdleConnectionsDelayNoRequestEvenWithOneSlot) {
    const uint16_t port = StartServer(http::HttpCommon{.maxConn = 1, .timeout = 120000});
    const auto idle = Connected(port, 50);
    ASSERT_TRUE(WaitUntil([&] { return module_->Serving(0) == 50; }, 30s));
    auto requests = std::async(std::launch::async, [&] {
        int ok = 0;
        for (int i = 0; i < 20; ++i) {
            RawClient c(port);
            if (c.Send("GET /a.txt HTTP/1.0\r\n\r\n") && ParseReply(c.ReceiveAll()).body.size() == 1024) ++ok;
        }
        return ok;
    });
    ASSERT_EQ(requests.wait_for(60s), std::future_status::ready);  // far below the idle ones' 120 s
    EXPECT_EQ(requests.get(), 20);
    for (const auto& c : idle) {
        pollfd p{c->Fd(), POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 0), 0) << "an idle client was dropped";
    }
    EXPECT_TRUE(module_->Stop(Blocking::Yes));
    EXPECT_EQ(Logged("[127.0.0.1]\tSuccess: Send=0, Receive=0\t"), 50u);
}

TEST_F(HttpServer, MaxConnBoundsTheConnectionsServedAtOnce) {
    const uint16_t port = StartServer(http::HttpCommon{.maxConn = 2, .timeout = 120000});
    // Two requests under way, their heads not yet complete.
    auto first = std::make_unique<RawClient>(port);
    RawClient second(port);
    ASSERT_TRUE(first->Send("GET /a.txt HTTP/1.1\r\n") && second.Send("GET /a.txt HTTP/1.1\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return module_->Serving(0) == 2; }, 30s));
    auto third = std::async(std::launch::async, [&] { return Curl({Url(port, "/a.txt")}).status; });
    // Held back while two connections are served, and served once one of them ends.
    EXPECT_EQ(third.wait_for(1s), std::future_status::timeout);
    first.reset();
    ASSERT_EQ(third.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(third.get(), 200);
}

TEST_F(HttpServer, StopClosesIdleHalfSentStalledHeldAndFloodingClientsAndLeavesNoThread) {
    const uint32_t threadsBefore = core_.counters.threads.load();
    const size_t hugeBytes = WriteHugeFile().size();
    const uint16_t port = StartServer(http::HttpCommon{.maxConn = 3, .timeout = 120000});
    ASSERT_TRUE(log_->WaitForSystem(Started(port)));
    auto clients = Connected(port, 8);  // five silent, two with half a request
    for (int i = 5; i < 7; ++i) ASSERT_TRUE(clients[i]->Send("GET /a.txt HTTP/1.1\r\nHost:"));
    // The third slot: a client that stops reading an answer the server is
    // still writing.
    RawClient* stalled = clients[7].get();
    ASSERT_EQ(::setsockopt(stalled->Fd(), SOL_SOCKET, SO_RCVBUF, &kSmallReceiveBuffer, sizeof kSmallReceiveBuffer), 0);
    ASSERT_TRUE(stalled->Send("GET /huge.bin HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return module_->Serving(0) == 8; }, 30s));
    // Its answer has begun, so it holds the last slot before the next request
    // comes: read first, that one would take the slot instead.
    ASSERT_TRUE(WaitUntil([&] {
        char byte;
        return ::recv(stalled->Fd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
    }, 30s));
    // A whole request while every slot is taken: held back.
    clients.push_back(std::make_unique<RawClient>(port));
    ASSERT_TRUE(clients.back()->Send("GET /a.txt HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return module_->Serving(0) == 9; }, 30s));
    EXPECT_GT(core_.counters.threads.load(), threadsBefore);
    // And one that sends without end.
    RawClient flood(port);
    std::atomic<bool> flooding{true};
    std::thread sender([&] {
        const std::string junk(4096, 'x');
        while (flooding && flood.Send(junk)) {
        }
    });
    std::this_thread::sleep_for(300ms);

    auto stopped = std::async(std::launch::async, [&] { return module_->Stop(Blocking::Yes); });
    const bool finished = stopped.wait_for(60s) == std::future_status::ready;
    flooding = false;
    flood.Shutdown();
    sender.join();
    flood.Close();
    ASSERT_TRUE(finished) << "Stop waited on a client";
    EXPECT_TRUE(stopped.get());
    EXPECT_TRUE(log_->WaitForSystem("Web сервер [127.0.0.1:" + std::to_string(port) + "] остановлен"));
    EXPECT_EQ(module_->BoundPort(0), 0);
    // Every client sees its connection end; only the stalled one had (part of) an answer.
    for (const auto& c : clients) {
        const HttpReply r = ParseReply(c->ReceiveAll(30s));
        if (c.get() == stalled) {
            EXPECT_EQ(r.status, 200);
            EXPECT_LT(r.body.size(), hugeBytes) << "the stop ended the answer";
        } else {
            EXPECT_EQ(r.raw, "");
        }
        char byte;
        EXPECT_LE(::recv(c->Fd(), &byte, 1, MSG_DONTWAIT), 0) << "still open";
    }
    EXPECT_EQ(core_.counters.threads.load(), threadsBefore);
    EXPECT_EQ(module_->Shared().threadCount.load(), 0u);
    EXPECT_EQ(log_->CountSystem(kNetworkProblem), 0u);
    EXPECT_EQ(Curl({Url(port, "/")}).status, 0) << "nothing listens any more";
}

TEST_F(HttpServer, ApacheBenchOverHttp10) {
    if (!HaveProgram("/usr/bin/ab")) GTEST_SKIP() << "ab (apache2-utils) is not installed";
    const uint16_t port = StartServer();
    TempDir dir("qm-ab");
    ChildProcess ab({"/usr/bin/ab", "-n", "300", "-c", "4", "-s", "60", Url(port, "/a.txt")}, dir.path() / "ab.txt");
    ASSERT_EQ(ab.Exit(120s), 0) << ReadWholeFile(dir.path() / "ab.txt");
    const std::string report = ReadWholeFile(dir.path() / "ab.txt");
    for (const char* line : {"Server Software:        VTX", "Complete requests:      300", "Failed requests:        0",
                             "Document Length:        1024 bytes"})
        EXPECT_TRUE(Contains(report, line)) << report;
    EXPECT_FALSE(Contains(report, "Non-2xx")) << report;
}

TEST_F(HttpServer, StartReportsDisabledServiceAndBusyPort) {
    ASSERT_FALSE(module_->Start(Blocking::Yes));
    const auto disabled = log_->WaitForSystem("Служба Web сервера отключена");
    ASSERT_TRUE(disabled);
    EXPECT_EQ(disabled->severity, 4u);

    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(FreeTcpPort());
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    module_->SetCommon(http::HttpCommon{.enableService = true});
    module_->AddRecord(http::HttpServerItem{.enable = true, .name = "127.0.0.1", .port = ntohs(a.sin_port)});
    EXPECT_FALSE(module_->Start(Blocking::Yes));
    const auto busy = log_->WaitForSystem(std::string(kNetworkProblem) + " (mod_httpserver). Адрес: 127.0.0.1:" +
                                          std::to_string(ntohs(a.sin_port)) + ". Код: " + std::to_string(EADDRINUSE));
    ::close(holder);
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->severity, 3u);
}

TEST_F(HttpServer, SettingsInCurrentAndLegacyFormAndTheirRanges) {
    // The legacy records as one struct each.
    std::vector<uint8_t> common(20, 0), item(76, 0);
    const auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    };
    common[0] = 1, common[1] = 0x5A, put32(common, 4, 2048), put32(common, 8, 3000), put32(common, 12, 7);
    put32(common, 16, 9000);
    item[0] = 1, item[66] = 0x00, item[67] = 0x20, put32(item, 68, 8080), put32(item, 72, 25);
    for (size_t i = 0; i < 8; ++i) item[2 + 2 * i] = uint8_t("10.0.0.1"[i]);
    platform::ProfileFile legacy;
    legacy.WriteStruct("mod_httpserver", "Common", common);
    legacy.WriteString("mod_httpserver", "Count", "1");
    legacy.WriteStruct("mod_httpserver", "Item.0", item);
    module_->Load(core::SettingsSection({}, "mod_httpserver", legacy));
    const auto check = [&](const char* form) {
        const http::HttpCommon c = *module_->Common();
        EXPECT_EQ(std::tie(c.enableService, c.param, c.chunkSize, c.errorTimeout, c.maxConn, c.timeout),
                  std::make_tuple(true, uint8_t(0x5A), 2048u, 3000u, 7u, 9000u)) << form;
        ASSERT_EQ(module_->RecordCount(), 1u) << form;
        const http::HttpServerItem i = *module_->Record(0);
        EXPECT_EQ(std::tie(i.enable, i.name, i.param, i.eventParam, i.port, i.msgBufferSize),
                  std::make_tuple(true, std::string("10.0.0.1"), uint8_t(0), uint8_t(0x20), 8080u, 25u)) << form;
    };
    check("legacy");
    core::SettingsSection saved({}, "mod_httpserver", platform::ProfileFile());
    saved.File().WriteString("mod_httpserver", "Version", "2");
    module_->SaveTo(saved);
    EXPECT_TRUE(saved.File().Get("mod_httpserver", "Item.0-MsgBufferSize") && !saved.File().Get("mod_httpserver", "Common"));
    module_->Load(core::SettingsSection({}, "mod_httpserver", platform::ProfileFile::Load({})));
    EXPECT_FALSE(module_->Common()->enableService);
    module_->Load(saved);
    check("current");

    // Values out of range fall back to their defaults.
    ASSERT_TRUE(module_->SetCommon(http::HttpCommon{.chunkSize = 50, .errorTimeout = 500, .maxConn = 0, .timeout = 200000}));
    const http::HttpCommon c = *module_->Common();
    EXPECT_EQ(std::tie(c.chunkSize, c.errorTimeout, c.maxConn, c.timeout), std::make_tuple(1024u, 2000u, 10u, 5000u));
    ASSERT_TRUE(module_->ReplaceRecord(0, http::HttpServerItem{.name = {}, .port = 70000, .msgBufferSize = 101}));
    EXPECT_EQ(std::tie(module_->Record(0)->port, module_->Record(0)->msgBufferSize), std::make_tuple(81u, 50u));
}

}  // namespace
}  // namespace qm::http
