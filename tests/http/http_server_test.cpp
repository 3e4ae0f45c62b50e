// The HTTP server module on a core of its own, asked by real clients: curl,
// ab (HTTP/1.0) and raw sockets for what those will not send.
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

constexpr const char* kTestIni =
    "[ip-access]\n*=A\n"
    "[content-access]\n*=A\n\\http.ini=D\n\\private\\=D\n"
    "[mime]\nhtml=text/html\n\\special.html=text/x-special\n"
    "[cache]\n\\a.txt=max-age=60\n"
    "[alias]\n\\changes.txt=Notes\\changes.txt\n"
    "[log]\nlevel=3\n";

class HttpServer : public HttpModuleTest {
protected:
    void SetUp() override {
        HttpModuleTest::SetUp();
        WriteIni(kTestIni);
        WriteFile("index.html", "<html>index</html>");
        WriteFile("special.html", "special");
        WriteFile("a.txt", std::string(1024, 'a'));
        std::string binary;
        for (int i = 0; i < 300000; ++i) binary += char(i * 7 % 256);
        WriteFile("data.bin", binary);
        WriteFile("sub/page.html", "page");
        WriteFile("sub/index.html", "sub index");
        WriteFile("private/deeper/x.html", "private");
        WriteFile("Notes/changes.txt", "aliased", home_.path());
    }
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
    r = Curl({Url(port, "/data.bin")});
    EXPECT_EQ(r.headerLines, ExpectedHeaders("application/octet-stream", "no-cache", 300000));
    EXPECT_EQ(r.body, ReadWholeFile(WebRoot() / "data.bin"));
    EXPECT_EQ(Curl({Url(port, "/special.html")}).Header("Content-Type"), "text/x-special");
    EXPECT_EQ(Curl({Url(port, "/a.txt")}).Header("Cache-Control"), "max-age=60");
    EXPECT_EQ(Curl({Url(port, "/sub/")}).body, "sub index");
    EXPECT_EQ(Curl({Url(port, "/sub/page.html")}).body, "page");
    // A request target without its leading "/" names the same file.
    r = Curl({"--request-target", "index.html", Url(port, "/")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "<html>index</html>");
    EXPECT_EQ(Curl({"--request-target", "sub/page.html", Url(port, "/")}).body, "page");
    EXPECT_EQ(Curl({"--request-target", "http.ini", Url(port, "/")}).status, 403);
    r = Curl({Url(port, "/changes.txt")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "aliased");

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
    r = ParseReply(client.ReceiveAll());
    EXPECT_EQ(r.statusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(Curl({"-u", "user:secret", Url(port, "/a.txt")}).status, 403);
}

TEST_F(HttpServer, LogResourceListsTheNewestEventsByTypeAndPosition) {
    http::HttpServerItem item;
    item.msgBufferSize = 4;
    item.param = 0;
    const uint16_t port = StartServer({}, item);
    ASSERT_TRUE(log_->WaitForSystem("Web сервер [127.0.0.1:" + std::to_string(port) + "] запущен"));
    std::vector<core::EventPtr> drained;
    ASSERT_EQ(core_.events->Drain(drained, platform::Blocking::Yes), core::kOk);

    static const std::string stats =
        R"(\d+\t\d+\t\d+\t\d+\t\d+\t\r\n\d+\t\d+\t\d+\t\d+\t\r\n\d+\t\r\n(\d+)\t\d+\t\d+\t\r\n3\t2\t0\t\r\n\r\n\r\n)";
    HttpReply r = Curl({Url(port, "/log")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "application/octet-stream");
    EXPECT_TRUE(std::regex_match(r.body, std::regex(stats))) << r.body;

    const sockaddr_in from = Loopback(514, "10.1.2.3");
    for (int i = 0; i < 3; ++i) core_.events->Submit(core::kEventExternal, 100, "<11>ext " + std::to_string(i), from);
    core_.events->Settle(5000);
    for (int i = 0; i < 3; ++i) core_.events->Submit(core::kEventInternal, 100, "<14>int " + std::to_string(i), from);
    core_.events->Settle(5000);
    core_.Report(core::Severity::Info, core::str::kModuleLoaded, "system event");  // not in the item's EventParam
    core_.events->Settle(5000);
    ASSERT_EQ(core_.events->QueueCount(), 7u);

    // The newest MsgBufferSize records; the system one is counted but not listed.
    r = Curl({Url(port, "/log")});
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.body, m, std::regex("^" + stats + R"(BI\t7\t1\t4\t\r\n)"))) << r.body;
    EXPECT_EQ(m[1], "7");
    const std::string events = m.suffix();
    static const std::regex line(R"((\d+)\t10\.1\.2\.3\t\t\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\t(\w+ \d)\t\n)");
    std::vector<std::string> listed;
    for (std::sregex_iterator it(events.begin(), events.end(), line), end; it != end; ++it) listed.push_back((*it)[2]);
    EXPECT_EQ(listed, (std::vector<std::string>{"int 0", "int 1", "int 2"})) << events;
    EXPECT_TRUE(std::regex_match(events, std::regex(R"((3\t[^\n]*\n)?(6\t[^\n]*\n){3})"))) << events;

    auto listedBy = [&](const std::string& query, const std::string& bi) {
        const std::string body = Curl({Url(port, "/log?" + query)}).body;
        std::smatch found;
        EXPECT_TRUE(std::regex_search(body, found, std::regex(stats + bi))) << query << "\n" << body;
        std::string rest = found.suffix();
        std::vector<std::string> names;
        for (std::sregex_iterator it(rest.begin(), rest.end(), line), end; it != end; ++it) names.push_back((*it)[2]);
        return names;
    };
    EXPECT_EQ(listedBy("2&0", R"(BI\t4\t1\t4\t\r\n)"), (std::vector<std::string>{"ext 0", "ext 1", "ext 2"}));
    EXPECT_EQ(listedBy("1", R"(BI\t7\t1\t4\t\r\n)"), (std::vector<std::string>{"int 0", "int 1", "int 2"}));
    EXPECT_EQ(listedBy("&5", R"(BI\t7\t1\t2\t\r\n)"), (std::vector<std::string>{"int 2"}));
    EXPECT_EQ(listedBy("3", R"(BI\t7\t1\t4\t\r\n$)"), std::vector<std::string>{});
    EXPECT_EQ(listedBy("&99", R"(BI\t7\t1\t4\t\r\n)").size(), 3u);  // beyond the end: the newest
}

// Every line of every request log file, checked for its shape.
std::vector<std::string> RequestLogLines(const fs::path& folder, size_t& files) {
    std::vector<std::string> lines;
    files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        ++files;
        EXPECT_TRUE(std::regex_match(entry.path().filename().string(), std::regex(R"(http_\d{8}_\d{6}\.log)")));
        const std::string text = ReadWholeFile(entry.path());
        EXPECT_TRUE(text.empty() || text.ends_with("\r\n"));
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
    }
    return lines;
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
    ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));

    // Files are named by the second, so a quick run may append to one name again.
    size_t files = 0;
    const std::vector<std::string> lines = RequestLogLines(core_.paths.webLogFolder, files);
    EXPECT_GE(files, 1u);
    ASSERT_EQ(lines.size(), 241u);
    static const std::regex shape(
        R"(\[127\.0\.0\.1\]\tREQ="GET /a\.txt HTTP/1\.0"\tRESP="200 OK"\tSuccess: Send=\d+, Receive=23\t< \d+ msec\. >\r)");
    size_t good = 0;
    for (const std::string& l : lines) good += std::regex_match(l, shape) ? 1 : 0;
    EXPECT_EQ(good, 240u);
    // Control characters from the client never reach the file as such.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return Contains(l, "REQ=\"GET /a??b HTTP/1.0\"\tRESP=\"403 Forbidden\""); }),
              1);
}

TEST_F(HttpServer, SlowIdleOversizeAndAbortedClientsLeaveTheServerServing) {
    const uint16_t port = StartServer(http::HttpCommon{.timeout = 1500});
    auto servesNext = [&](const char* after) {
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
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        const HttpReply r = ParseReply(slow.ReceiveAll());
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, "page");
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
        ASSERT_TRUE(gone.Send("GET /data.bin HTT"));
        gone.Close();
    }
    {
        // Leaves in the middle of a large answer.
        RawClient leaving(port);
        ASSERT_TRUE(leaving.Send("GET /data.bin HTTP/1.0\r\n\r\n"));
        char first[100];
        EXPECT_GT(::recv(leaving.Fd(), first, sizeof first, 0), 0);
    }
    servesNext("clients that left");
    EXPECT_EQ(log_->CountSystem("Проблемы при работе с сетью"), 0u);
}

TEST_F(HttpServer, StopEndsFloodingAndIdleClientsWithoutNetworkErrors) {
    const uint16_t port = StartServer(http::HttpCommon{.timeout = 120000});
    ASSERT_TRUE(log_->WaitForSystem("Web сервер [127.0.0.1:" + std::to_string(port) + "] запущен"));
    RawClient idle(port), flood(port);
    ASSERT_TRUE(idle.Ok() && flood.Ok());
    std::atomic<bool> flooding{true};
    std::thread sender([&] {
        const std::string junk(4096, 'x');
        while (flooding && flood.Send(junk)) {
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    auto stopped = std::async(std::launch::async, [&] { return module_->Stop(platform::Blocking::Yes); });
    const bool finished = stopped.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    flooding = false;
    flood.Close();
    sender.join();
    ASSERT_TRUE(finished) << "Stop waited on a client";
    EXPECT_TRUE(stopped.get());
    EXPECT_TRUE(log_->WaitForSystem("Web сервер [127.0.0.1:" + std::to_string(port) + "] остановлен"));
    EXPECT_EQ(log_->CountSystem("Проблемы при работе с сетью"), 0u);
    EXPECT_EQ(module_->BoundPort(0), 0);
    EXPECT_EQ(Curl({Url(port, "/")}).status, 0) << "nothing listens any more";
}

TEST_F(HttpServer, MaxConnBoundsTheConnectionsServedAtOnce) {
    const uint16_t port = StartServer(http::HttpCommon{.maxConn = 2, .timeout = 120000});
    // Two requests under way, their heads not yet complete.
    auto first = std::make_unique<RawClient>(port);
    RawClient second(port);
    ASSERT_TRUE(first->Send("GET /a.txt HTTP/1.1\r\n") && second.Send("GET /a.txt HTTP/1.1\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return module_->Serving(0) == 2; }, 30s));
    auto third = std::async(std::launch::async, [&] { return Curl({Url(port, "/a.txt")}).status; });
    // Held back while two connections are served...
    EXPECT_EQ(third.wait_for(std::chrono::seconds(1)), std::future_status::timeout);
    // ...and served once one of them ends.
    first.reset();
    ASSERT_EQ(third.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(third.get(), 200);
}

TEST_F(HttpServer, SilentConnectionsHoldBackNoRequest) {
    // Five times MaxConn (10) clients that connect and say nothing.
    const uint16_t port = StartServer(http::HttpCommon{.timeout = 120000});
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 50; ++i) {
        silent.push_back(std::make_unique<RawClient>(port));
        ASSERT_TRUE(silent.back()->Ok());
    }
    ASSERT_TRUE(WaitUntil([&] { return module_->Serving(0) == 50; }, 30s));
    // curl gives up after 60 s, long before their time-out.
    const HttpReply r = Curl({Url(port, "/a.txt")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.size(), 1024u);

    // A stop ends each of them as an idle connection ends at a stop: logged.
    const fs::path requestLog = module_->RequestLogPath(0);
    EXPECT_TRUE(module_->Stop(platform::Blocking::Yes));
    const std::string lines = ReadWholeFile(requestLog);
    size_t ended = 0;
    for (size_t at = 0; (at = lines.find("[127.0.0.1]\tSuccess: Send=0, Receive=0\t", at)) != std::string::npos; ++at)
        ++ended;
    EXPECT_EQ(ended, 50u);
}

TEST_F(HttpServer, SilentConnectionEndsAtTheTimeoutWithItsLogLine) {
    const uint16_t port = StartServer(http::HttpCommon{.maxConn = 1, .timeout = 1500});
    RawClient silent(port);
    ASSERT_TRUE(silent.Ok());
    EXPECT_EQ(Curl({Url(port, "/a.txt")}).status, 200);
    EXPECT_EQ(silent.ReceiveAll(), "");  // closed unanswered
    const fs::path requestLog = module_->RequestLogPath(0);
    EXPECT_TRUE(WaitUntil([&] {
        return Contains(ReadWholeFile(requestLog), "[127.0.0.1]\tFail: WSError=110; Internal=5\t< ");
    }));
}

TEST_F(HttpServer, ApacheBenchOverHttp10) {
    if (!HaveProgram("/usr/bin/ab")) GTEST_SKIP() << "ab (apache2-utils) is not installed";
    const uint16_t port = StartServer();
    TempDir dir("qm-ab");
    ChildProcess ab({"/usr/bin/ab", "-n", "300", "-c", "4", "-s", "60", Url(port, "/a.txt")}, dir.path() / "ab.txt");
    ASSERT_EQ(ab.Exit(120s), 0) << ReadWholeFile(dir.path() / "ab.txt");
    const std::string report = ReadWholeFile(dir.path() / "ab.txt");
    EXPECT_TRUE(Contains(report, "Server Software:        VTX")) << report;
    EXPECT_TRUE(Contains(report, "Complete requests:      300")) << report;
    EXPECT_TRUE(Contains(report, "Failed requests:        0")) << report;
    EXPECT_FALSE(Contains(report, "Non-2xx")) << report;
    EXPECT_TRUE(Contains(report, "Document Length:        1024 bytes")) << report;
}

TEST_F(HttpServer, StartReportsDisabledServiceAndBusyPort) {
    ASSERT_FALSE(module_->Start(platform::Blocking::Yes));
    const auto disabled = log_->WaitForSystem("Служба Web сервера отключена");
    ASSERT_TRUE(disabled);
    EXPECT_EQ(disabled->severity, 4u);

    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(FreeTcpPort());
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    module_->SetCommon(http::HttpCommon{.enableService = true});
    module_->AddRecord(http::HttpServerItem{.enable = true, .name = "127.0.0.1", .port = ntohs(a.sin_port)});
    EXPECT_FALSE(module_->Start(platform::Blocking::Yes));
    const auto busy = log_->WaitForSystem("Проблемы при работе с сетью (mod_httpserver). Адрес: 127.0.0.1:" +
                                          std::to_string(ntohs(a.sin_port)) + ". Код: " + std::to_string(EADDRINUSE));
    ::close(holder);
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->severity, 3u);
}

TEST_F(HttpServer, SettingsInCurrentAndLegacyForm) {
    // The legacy records as one struct each.
    std::vector<uint8_t> common(20, 0), item(76, 0);
    common[0] = 1;
    common[1] = 0x5A;
    auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    };
    put32(common, 4, 2048);
    put32(common, 8, 3000);
    put32(common, 12, 7);
    put32(common, 16, 9000);
    item[0] = 1;
    const std::string name = "10.0.0.1";
    for (size_t i = 0; i < name.size(); ++i) item[2 + 2 * i] = uint8_t(name[i]);
    item[66] = 0x00;
    item[67] = 0x20;
    put32(item, 68, 8080);
    put32(item, 72, 25);
    platform::ProfileFile legacy;
    legacy.WriteStruct("mod_httpserver", "Common", common);
    legacy.WriteString("mod_httpserver", "Count", "1");
    legacy.WriteStruct("mod_httpserver", "Item.0", item);
    module_->Load(core::SettingsSection({}, "mod_httpserver", legacy));

    auto check = [&](const char* form) {
        const http::HttpCommon c = *module_->Common();
        EXPECT_TRUE(c.enableService) << form;
        EXPECT_EQ(c.param, 0x5A) << form;
        EXPECT_EQ(c.chunkSize, 2048u) << form;
        EXPECT_EQ(c.errorTimeout, 3000u) << form;
        EXPECT_EQ(c.maxConn, 7u) << form;
        EXPECT_EQ(c.timeout, 9000u) << form;
        ASSERT_EQ(module_->RecordCount(), 1u) << form;
        const http::HttpServerItem i = *module_->Record(0);
        EXPECT_TRUE(i.enable) << form;
        EXPECT_EQ(i.name, "10.0.0.1") << form;
        EXPECT_EQ(i.param, 0) << form;
        EXPECT_EQ(i.eventParam, 0x20) << form;
        EXPECT_EQ(i.port, 8080u) << form;
        EXPECT_EQ(i.msgBufferSize, 25u) << form;
    };
    check("legacy");
    core::SettingsSection saved({}, "mod_httpserver", platform::ProfileFile());
    saved.File().WriteString("mod_httpserver", "Version", "2");
    module_->SaveTo(saved);
    for (const char* key : {"Common.EnableService", "Common.ChunkSize", "Common.MaxConn", "Common.Timeout", "ItemCount",
                            "Item.0-StrName", "Item.0-EventParam", "Item.0-MsgBufferSize", "Item.0-Port"})
        EXPECT_TRUE(saved.File().Get("mod_httpserver", key)) << key;
    module_->Load(core::SettingsSection({}, "mod_httpserver", platform::ProfileFile::Load({})));
    EXPECT_FALSE(module_->Common()->enableService);
    module_->Load(saved);
    check("current");

    // Values out of range fall back to their defaults.
    ASSERT_TRUE(module_->SetCommon(http::HttpCommon{.chunkSize = 50, .errorTimeout = 500, .maxConn = 0, .timeout = 200000}));
    const http::HttpCommon c = *module_->Common();
    EXPECT_EQ(std::tie(c.chunkSize, c.errorTimeout, c.maxConn, c.timeout), std::make_tuple(1024u, 2000u, 10u, 5000u));
    http::HttpServerItem wide;
    wide.port = 70000;
    wide.msgBufferSize = 101;
    ASSERT_TRUE(module_->ReplaceRecord(0, wide));
    EXPECT_EQ(module_->Record(0)->port, 81u);
    EXPECT_EQ(module_->Record(0)->msgBufferSize, 50u);
}

}  // namespace
}  // namespace qm::http
