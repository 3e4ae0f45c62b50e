// Taking a request apart: the request line and headers, the one key every
// spelling of a path comes down to, and http.ini read as the server reads it.
#include "http/http_request.h"

#include <gtest/gtest.h>

#include <fstream>

#include "http/http_ini.h"
#include "support/temp_dir.h"

namespace qm::http {
namespace {

TEST(HttpRequest, RequestLineHeadersAndBody) {
    const auto r = ParseRequest("\r\nget  /a/b.txt?x=1   HTTP/1.0\r\nHost:  h \r\nAuthorization: Basic dTpw\r\nbad line\r\n\r\nbody");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->method, "get");
    EXPECT_EQ(r->uri, "/a/b.txt?x=1");
    EXPECT_EQ(r->version, "HTTP/1.0");
    ASSERT_EQ(r->headers.size(), 2u);
    EXPECT_EQ(r->Header("HOST").value_or(""), "h");
    EXPECT_EQ(r->Header("authorization").value_or(""), "Basic dTpw");
    EXPECT_EQ(r->body, "body");

    const auto partial = ParseRequest("GET\n\n");
    ASSERT_TRUE(partial);
    EXPECT_TRUE(partial->uri.empty() && partial->version.empty());
    EXPECT_FALSE(ParseRequest(""));
    EXPECT_FALSE(ParseRequest("\r\n\r\n"));

    EXPECT_FALSE(RequestHeadComplete("GET / HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_TRUE(RequestHeadComplete("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_TRUE(RequestHeadComplete("GET / HTTP/1.0\n\n"));
}

TEST(HttpRequest, EverySpellingOfAPathGivesOneKey) {
    for (const char* uri : {"/sub/page.html", "//sub//page.html", "/./sub/./page.html", "\\sub\\page.html",
                            "/sub%2fpage.html", "/%73ub/p%61ge.html", "/sub/page.html?q", " /sub/page.html\r\n"}) {
        const auto r = ResolveUri(uri);
        ASSERT_TRUE(r) << uri;
        EXPECT_EQ(r->key, "\\sub\\page.html") << uri;
        EXPECT_EQ(r->directory, "\\sub\\") << uri;
        EXPECT_EQ(r->fileName, "page.html") << uri;
        EXPECT_EQ(r->extension, "html") << uri;
        EXPECT_EQ(r->RelativePath(), "/sub/page.html") << uri;
    }
    // A directory is its index page; a name without a dot is dynamic; the
    // extension starts at the first dot.
    for (const char* uri : {"/", "//", "/.", "/./"}) EXPECT_EQ(ResolveUri(uri)->key, "\\index.html") << uri;
    EXPECT_EQ(ResolveUri("/sub/")->key, "\\sub\\index.html");
    const auto log = ResolveUri("/log?2&0");
    EXPECT_TRUE(log->IsDynamic());
    EXPECT_EQ(log->bareName, "log");
    EXPECT_EQ(log->query, "2&0");
    const auto min = ResolveUri("/app.min.js");
    EXPECT_EQ(min->base, "app");
    EXPECT_EQ(min->extension, "min.js");
    EXPECT_EQ(min->key, "\\app.min.js");
}

TEST(HttpRequest, PathsThatCouldLeaveTheRootAreRefused) {
    for (const char* uri : {"/..", "/../x", "/a/../b", "/%2e%2e/x", "/%2E%2e/x", "/.%2e/x", "/a%2f..%2fb", "/a\\..\\b",
                            "/a%5c..%5cb", "/%252e%252e/x", "/%25", "/%", "/%2", "/%zz", "/a%00b", "/a\x01" "b",
                            "..", "../x", "..\\x", "http://h/../x", "%2e%2e/x"})
        EXPECT_FALSE(ResolveUri(uri)) << uri;
    // Names that only look like dot segments are ordinary names.
    EXPECT_EQ(ResolveUri("/.../x")->key, "\\...\\x");
    EXPECT_EQ(ResolveUri("/..;/x")->key, "\\..;\\x");
}

TEST(HttpRequest, AUriWithoutLeadingSlashNamesTheSameResource) {
    for (const char* uri : {"index.html", "sub/a.txt", "log?2&0", "", "x"}) {
        const auto bare = ResolveUri(uri);
        const auto rooted = ResolveUri(std::string("/") + uri);
        ASSERT_TRUE(bare) << uri;
        EXPECT_EQ(bare->key, rooted->key) << uri;
        EXPECT_EQ(bare->query, rooted->query) << uri;
    }
    EXPECT_EQ(ResolveUri("index.html")->key, "\\index.html");
    // Other request-target forms stay names inside the web root.
    EXPECT_EQ(ResolveUri("C:\\x")->key, "\\C:\\x");
    EXPECT_EQ(ResolveUri("http://h/x")->key, "\\http:\\h\\x");
}

TEST(HttpRequest, QueryNumbersByPosition) {
    const std::tuple<const char*, int, int> cases[] = {{"2&0", 0, 2},  {"2&0", 1, 0}, {"2", 1, -1},    {"&5", 0, -1},
                                                       {"&5", 1, 5},   {"", 0, -1},   {"-3&x", 0, -3}, {"-3&x", 1, 0},
                                                       {"12abc", 0, 12}};
    for (const auto& [query, position, number] : cases) EXPECT_EQ(QueryNumber(query, position), number) << query << position;
}

// Found by fuzzing: a value of control characters alone was cleaned to an
// empty text and then taken as the entry, so headers went out empty instead
// of falling back to the extension's entry or the default.
TEST(HttpIni, AValueOfControlCharactersAloneCountsAsNoEntry) {
    qm::testing::TempDir dir("qm-httpini");
    const std::filesystem::path path = dir.path() / "http.ini";
    std::ofstream(path, std::ios::binary) << "[mime]\n*=\x01\x02\n\\a.txt=\x01\x7f\ntxt=text/plain\n"
                                             "[cache]\n*=\x03\n\\a.txt=max-age=\x01" "60\n";
    HttpIni ini(path);
    const HttpIniDefaults d = ini.ReadDefaults();
    EXPECT_EQ(d.mimeType, "application/octet-stream");
    EXPECT_EQ(d.cacheControl, "no-cache");
    const auto file = ini.Current();
    EXPECT_FALSE(IniEntry(*file, "mime", "\\a.txt"));
    EXPECT_EQ(IniEntry(*file, "mime", "txt"), "text/plain");
    // Control characters inside a value are dropped, the rest stays.
    EXPECT_EQ(IniEntry(*file, "cache", "\\a.txt"), "max-age=60");
}

}  // namespace
}  // namespace qm::http
