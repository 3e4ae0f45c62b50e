// One request through the handler with no socket in between: the checks in
// their order, the answer bytes as they go out, and the request log parts.
#include "http/http_handler.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "core/core_context.h"
#include "core/string_table.h"
#include "http/dynamic_resources.h"
#include "support/temp_dir.h"

namespace qm::http {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kIni =
    "[ip-access]\n*=Allow\n10.0.0.9=D\n"
    "[content-access]\n*=Allow\n\\private\\=D\n"
    "[mime]\nhtml=text/html\n\\log=text/tab-separated-values\n"
    "[auth]\ntype=1\nrealm=Quill\n\\secret\\=dTpw\n"
    "[log]\nlevel=3\n";

class HttpHandler : public ::testing::Test {
protected:
    void SetUp() override {
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        Write("http.ini", kIni);
        Write("index.html", "hello");
        Write("secret/a.html", "inside");
        Write("big.bin", std::string(FileCache::kMostBytesPerFile + 1, 'b'));
        setup_.core = &core_;
        setup_.webRoot = fs::canonical(root_.path());
        setup_.programFolder = setup_.webRoot;
        setup_.defaults = ini_.ReadDefaults();
        setup_.ini = &ini_;
        setup_.files = &files_;
    }
    void TearDown() override { core_.events->Shutdown(); }

    void Write(const fs::path& relative, std::string_view bytes) {
        const fs::path p = root_.path() / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
    }
    // The bytes that go out in memory, and the request log line.
    std::string Handle(std::string_view request, HttpAnswer* whole = nullptr) {
        logLine_.clear();
        HttpAnswer answer = RequestHandler(setup_, "127.0.0.1", nullptr, logLine_).Handle(request);
        std::string wire = answer.bytes + answer.body;
        if (whole) *whole = std::move(answer);
        return wire;
    }
    static std::string Head(std::string_view status, size_t length, std::string_view extra) {
        return "HTTP/1.1 " + std::string(status) + "\r\nServer: VTX v1.0 for Quillmark\r\nTitle: Quillmark\r\n" +
               "Content-Length: " + std::to_string(length) + "\r\nConnection: close\r\n" + std::string(extra) + "\r\n";
    }

    testing::TempDir root_{"qm-handler"};
    core::CoreContext core_;
    HttpIni ini_{root_.path() / "http.ini"};
    FileCache files_;
    HandlerSetup setup_;
    std::string logLine_;
};

TEST_F(HttpHandler, AnswersGoOutByteForByte) {
    const std::string error = "Content-Type: text/plain; charset=windows-1251\r\nCache-Control: no-cache\r\n";
    // Twice: read from the file, then from the file cache.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Handle("GET / HTTP/1.1\r\nHost: x\r\n\r\n"),
                  Head("200 OK", 5, "Content-Type: text/html\r\nCache-Control: no-cache\r\n") + "hello");
        EXPECT_EQ(logLine_, "REQ=\"GET / HTTP/1.1\"\tAuth=\"NOT REQUIRED\"\tRESP=\"200 OK\"");
    }
    EXPECT_EQ(Handle("GET /missing.html HTTP/1.1\r\nHost: x\r\n\r\n"),
              Head("404 Not Found", 13, error) + "404 Not Found");

    EXPECT_EQ(Handle("GET /secret/a.html HTTP/1.1\r\nHost: x\r\n\r\n"),
              Head("401 Unauthorized", 16, error + "WWW-Authenticate: Basic realm=\"Quill\"\r\n") + "401 Unauthorized");
    EXPECT_EQ(logLine_, "REQ=\"GET /secret/a.html HTTP/1.1\"\tAuth=\"FAIL\"\tRESP=\"401 Unauthorized\"");
    EXPECT_EQ(Handle("GET /secret/a.html HTTP/1.1\r\nAuthorization: basic dTpw\r\n\r\n"),
              Head("200 OK", 6, "Content-Type: text/html\r\nCache-Control: no-cache\r\n") + "inside");
    EXPECT_EQ(logLine_, "REQ=\"GET /secret/a.html HTTP/1.1\"\tAuth=\"OK\"\tRESP=\"200 OK\"");

    // A large file follows its head from the open file.
    HttpAnswer big;
    EXPECT_EQ(Handle("GET /big.bin HTTP/1.0\r\nHost: x\r\n\r\n", &big),
              Head("200 OK", FileCache::kMostBytesPerFile + 1,
                   "Content-Type: application/octet-stream\r\nCache-Control: no-cache\r\n"));
    EXPECT_TRUE(big.file.Valid());
    EXPECT_EQ(big.fileSize, FileCache::kMostBytesPerFile + 1);
}

TEST_F(HttpHandler, AuthorizeRefusesAtTheFirstFailingCheck) {
    struct Case {
        const char* client;
        const char* request;
        std::optional<HttpStatus> refusal;
        const char* log;
    };
    const Case cases[] = {
        // The client is refused before anything it sent is read.
        {"10.0.0.9", "", HttpStatus::kForbidden, ""},
        {"10.0.0.9", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", HttpStatus::kForbidden, ""},
        {"127.0.0.1", "", HttpStatus::kInternalError, ""},
        {"127.0.0.1", "POST / HTTP/2.0\r\n\r\n", HttpStatus::kVersionNotSupported, "REQ=\"POST / HTTP/2.0\""},
        {"127.0.0.1", "POST / HTTP/1.1\r\n\r\n", HttpStatus::kNotImplemented, "REQ=\"POST / HTTP/1.1\""},
        {"127.0.0.1", "GET /../x HTTP/1.1\r\n\r\n", HttpStatus::kForbidden, "REQ=\"GET /../x HTTP/1.1\""},
        // Authorization comes before content access.
        {"127.0.0.1", "GET /private/a.html HTTP/1.1\r\n\r\n", HttpStatus::kUnauthorized,
         "REQ=\"GET /private/a.html HTTP/1.1\"\tAuth=\"FAIL\""},
        {"127.0.0.1", "GET /private/a.html HTTP/1.1\r\nHost: x\r\n\r\n", HttpStatus::kForbidden,
         "REQ=\"GET /private/a.html HTTP/1.1\"\tAuth=\"NOT REQUIRED\""},
        {"127.0.0.1", "GET /log?1 HTTP/1.0\r\nHost: x\r\n\r\n", std::nullopt,
         "REQ=\"GET /log?1 HTTP/1.0\"\tAuth=\"NOT REQUIRED\""},
    };
    for (const Case& c : cases) {
        std::string log;
        RequestHandler handler(setup_, c.client, nullptr, log);
        HttpResource resource;
        const std::optional<HttpResponse> refusal = handler.Authorize(c.request, resource);
        ASSERT_EQ(refusal.has_value(), c.refusal.has_value()) << c.request;
        if (refusal) {
            EXPECT_EQ(StatusText(refusal->status), StatusText(*c.refusal)) << c.request;
        }
        EXPECT_EQ(log, c.log) << c.request;
        if (!refusal) {
            EXPECT_EQ(resource.key, "\\log");
        }
    }
}

TEST_F(HttpHandler, DynamicResourcesAreFoundInTheirTable) {
    EXPECT_NE(FindDynamicResource("LOG"), nullptr);
    EXPECT_EQ(FindDynamicResource("sub"), nullptr);

    std::string log;
    RequestHandler handler(setup_, "127.0.0.1", nullptr, log);
    const HttpResponse missing = handler.Serve(*ResolveUri("/sub"));
    EXPECT_EQ(missing.status, HttpStatus::kNotFound);
    EXPECT_EQ(missing.body, "404 Not Found");

    // An empty queue: the statistics block alone, with the resource's own type.
    HttpAnswer answer;
    Handle("GET /Log HTTP/1.1\r\nHost: x\r\n\r\n", &answer);
    EXPECT_EQ(answer.bytes,
              Head("200 OK", answer.body.size(), "Content-Type: text/tab-separated-values\r\nCache-Control: no-cache\r\n"));
    EXPECT_TRUE(answer.body.ends_with("\r\n3\t2\t0\t\r\n\r\n\r\n")) << answer.body;
    EXPECT_EQ(logLine_, "REQ=\"GET /Log HTTP/1.1\"\tAuth=\"NOT REQUIRED\"\tRESP=\"200 OK\"");
}

}  // namespace
}  // namespace qm::http
