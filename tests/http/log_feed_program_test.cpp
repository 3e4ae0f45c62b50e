// The built program's JSON feed as curl and a script see it: real logger
// lines with their RFC 5424 header, bytes that are not UTF-8, a follower's
// cursor, and the Basic authorization that guards `log` guarding it too.
#include <gtest/gtest.h>

#include "http_test_support.h"

namespace qm::http {
namespace {

using namespace qm::testing;

TEST(HttpProgram, JsonFeedFollowsLoggedEventsBehindBasicAuthorization) {
    if (!HaveProgram("/usr/bin/logger")) GTEST_SKIP() << "logger (bsdutils) is not installed";
    ProgramHome box;
    box.StopPinging();
    const fs::path web = box.Home() / "Resource" / "Web";
    fs::create_directories(web.parent_path());
    fs::copy(fs::path(QM_SOURCE_DIR) / "resources" / "default-home" / "Resource" / "Web", web);
    // Every resource needs "user:pw" now.
    std::string ini = ReadWholeFile(web / "http.ini");
    const std::string open = "type=0\nrealm=Quillmark\n*=*\n";
    ASSERT_TRUE(Contains(ini, open)) << ini;
    ini.replace(ini.find(open), open.size(), "type=1\nrealm=Quillmark\n*=dXNlcjpwdw==\n");
    std::ofstream(web / "http.ini", std::ios::binary | std::ios::trunc) << ini;
    const uint16_t syslogPort = FreePort();
    box.Listen(syslogPort);
    const uint16_t httpPort = FreeTcpPort();
    box.Edit("mod_httpserver", [&](platform::ProfileFile& s, const char* section) {
        s.WriteStruct(section, "Item.0-Port", LittleEndian(httpPort));
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(httpPort) + "/log.json";
    const auto feed = [&](const std::string& query) { return Curl({"-u", "user:pw", url + query}); };

    std::unique_ptr<ChildProcess> run = box.Start();
    ASSERT_TRUE(WaitUntil([&] { return feed("").status == 200 || !run->Alive(); }, 30s)) << box.OutputText();
    ASSERT_TRUE(run->Alive()) << box.OutputText();
    const HttpReply refused = Curl({url});
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.Header("WWW-Authenticate"), "Basic realm=\"Quillmark\"");
    EXPECT_EQ(Curl({"-u", "user:wrong", url}).status, 401);
    EXPECT_EQ(Curl({"http://127.0.0.1:" + std::to_string(httpPort) + "/log"}).status, 401);

    const std::string marker = "feed-" + std::to_string(::getpid());
    TempDir dir("qm-feed");
    const auto send = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"logger", "-n", "127.0.0.1", "-P", std::to_string(syslogPort), "-d", "--rfc5424", "-t", "qmapp"});
        ChildProcess logger(args, dir.path() / "logger.txt");
        ASSERT_EQ(logger.Exit(30s), 0) << ReadWholeFile(dir.path() / "logger.txt");
    };
    send({"--msgid", "ID47", "-p", "user.err", marker + "-first"});
    send({"--msgid", "ID48", "-i", "-p", "local3.info", marker + "-second"});
    // Not UTF-8: read as the single-byte fallback charset, a control
    // character among them.
    send({"--msgid", "ID49", "-p", "user.warning", marker + "-bytes \xff\xfe\x01 end"});

    HttpReply all;
    ASSERT_TRUE(WaitUntil([&] { return Contains((all = feed("?since=0&limit=1000")).body, marker + "-bytes"); }, 30s))
        << all.raw;
    EXPECT_EQ(all.Header("Content-Type"), "application/json");
    EXPECT_EQ(all.Header("Cache-Control"), "no-store");
    const std::string mine = "{e['body']: [e[k] for k in ('app', 'msgid', 'severityName', 'facilityName', 'type', 'sender',"
                             " 'charset')] + [e['procid'] is not None, e['host'] is not None, e['senderTime'] is not None,"
                             " e['structuredData'].startswith('[timeQuality')] for e in d['events'] if '" +
                             marker + "' in e['message']}";
    EXPECT_EQ(JsonEval(all.body, mine),
              "{\"" + marker + "-bytes \\u044f\\u044e\\u0001 end\": "
              "[\"qmapp\", \"ID49\", \"warning\", \"user\", \"external\", \"127.0.0.1\", \"CP1251\", false, true, true, true], "
              "\"" + marker + "-first\": "
              "[\"qmapp\", \"ID47\", \"err\", \"user\", \"external\", \"127.0.0.1\", \"UTF-8\", false, true, true, true], "
              "\"" + marker + "-second\": "
              "[\"qmapp\", \"ID48\", \"info\", \"local3\", \"external\", \"127.0.0.1\", \"UTF-8\", true, true, true, true]}")
        << all.body;

    // A follower one event behind the first line gets exactly it, and is told there is more.
    const std::string first = JsonEval(all.body, "[e['id'] for e in d['events'] if e['body'] == '" + marker + "-first'][0]");
    const std::string before = std::to_string(std::stoull(first) - 1);
    EXPECT_EQ(JsonEval(feed("?since=" + before + "&limit=1").body, "[[e['id'] for e in d['events']], d['next'], d['more']]"),
              "[[" + first + "], " + first + ", true]");
    EXPECT_EQ(JsonEval(all.body, "[d['drained'], d['next'] == d['newest'], len(d['run'])]"), "[0, true, 16]");
    // The tab-separated `log` is behind the same door and still lists the line.
    EXPECT_TRUE(Contains(Curl({"-u", "user:pw", "http://127.0.0.1:" + std::to_string(httpPort) + "/log"}).body,
                         marker + "-first\t\n"));

    ASSERT_TRUE(run->Signal(SIGTERM));
    EXPECT_EQ(run->Exit(30s), 0) << box.OutputText();
}

}  // namespace
}  // namespace qm::http
