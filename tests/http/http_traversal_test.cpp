// Paths that try to leave the web root, sent by curl exactly as written:
// every one is refused, and no answer ever carries a file from outside.
#include <gtest/gtest.h>

#include "http_test_support.h"

namespace qm::http {
namespace {

using namespace qm::testing;

constexpr const char* kSecret = "TOP-SECRET-4711";

TEST_F(HttpModuleTest, NoSpellingOfAPathLeavesTheWebRoot) {
    WriteFile("http.ini", "[ip-access]\n*=A\n[content-access]\n*=A\n");
    WriteFile("index.html", "index");
    // Secrets beside and above the web root (Resource/Web), and one far away
    // that links inside the web root point at.
    WriteFile("secret.txt", kSecret, home_.path());
    WriteFile("Resource/secret.txt", kSecret, home_.path());
    WriteFile("Settings/secret.txt", kSecret, home_.path());
    TempDir elsewhere("qm-elsewhere");
    WriteFile("secret.txt", kSecret, elsewhere.path());
    fs::create_symlink(elsewhere.path() / "secret.txt", WebRoot() / "link.txt");
    fs::create_directory_symlink(elsewhere.path(), WebRoot() / "linkdir");
    const uint16_t port = StartServer();

    // 403: refused as a path; 404: a name inside the web root that does not exist.
    const std::vector<std::pair<std::string, int>> paths{
        {"/../../secret.txt", 403},
        {"/../secret.txt", 403},
        {"/..%2f..%2fsecret.txt", 403},
        {"/%2e%2e/%2e%2e/secret.txt", 403},
        {"/%2E%2E/%2E%2E/secret.txt", 403},
        {"/%2e%2E/%2E%2e/secret.txt", 403},
        {"/.%2e/.%2e/secret.txt", 403},
        {"/%2e./%2e./secret.txt", 403},
        {"/%2e%2e%2f%2e%2e%2fsecret.txt", 403},
        {"/%2e%2e%2F%2e%2e%2FSettings%2Fsecret.txt", 403},
        {"/%252e%252e/%252e%252e/secret.txt", 403},
        {"/..%252f..%252fsecret.txt", 403},
        {"/%25%32%65%25%32%65/secret.txt", 403},
        {"/..\\..\\secret.txt", 403},
        {"/\\..\\..\\secret.txt", 403},
        {"/..%5c..%5csecret.txt", 403},
        {"/..%5C..%5Csecret.txt", 403},
        {"/%2e%2e%5c%2e%2e%5csecret.txt", 403},
        {"/%5c..%5c..%5csecret.txt", 403},
        {"/sub/../../../secret.txt", 403},
        {"/index.html/../../../secret.txt", 403},
        {"/./../.././secret.txt", 403},
        {"//../../secret.txt", 403},
        {"/sub/..%2f..%2f..%2fsecret.txt", 403},
        {"/..%00/secret.txt", 403},
        {"/index.html%00../../secret.txt", 403},
        {"/%00", 403},
        {"/..%", 403},
        {"/%uff0e%uff0e/secret.txt", 403},
        {"/%2e%2e%2f", 403},
        {"/link.txt", 403},
        {"/linkdir/secret.txt", 403},
        {"/.../.../secret.txt", 404},
        {"/..;/..;/secret.txt", 404},
        {"/....//....//secret.txt", 404},
        {"/%c0%ae%c0%ae/%c0%ae%c0%ae/secret.txt", 404},
        {"/..%c0%af..%c0%afsecret.txt", 404},
        {"//etc/passwd", 404},
        {"/%2fetc%2fpasswd", 404},
        {"/etc/passwd", 404},
        {"/Resource/secret.txt", 404},
        {"/secret.txt", 404},
    };
    ASSERT_GE(paths.size(), 30u);
    for (const auto& [path, status] : paths) {
        const HttpReply r = Curl({"--path-as-is", Url(port, path)});
        EXPECT_EQ(r.status, status) << path;
        EXPECT_FALSE(Contains(r.raw, kSecret)) << path;
        EXPECT_FALSE(Contains(r.raw, "root:")) << path;
    }
    // Request targets without a leading "/" are read below the root as well.
    const std::vector<std::pair<std::string, int>> targets{
        {"../../secret.txt", 403},  {"..\\..\\secret.txt", 403}, {"http://127.0.0.1/../../secret.txt", 403},
        {"%2e%2e/%2e%2e/secret.txt", 403}, {"secret.txt", 404}, {"*", 404}, {"C:\\secret.txt", 404}};
    for (const auto& [target, status] : targets) {
        const HttpReply r = Curl({"--request-target", target, Url(port, "/")});
        EXPECT_EQ(r.status, status) << target;
        EXPECT_FALSE(Contains(r.raw, kSecret)) << target;
    }
    // The refusals left the server serving.
    EXPECT_EQ(Curl({Url(port, "/")}).body, "index");
}

}  // namespace
}  // namespace qm::http
