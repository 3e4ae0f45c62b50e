// The built program with the default home, web root included: events sent
// with logger show up in the `log` resource and, coloured by severity, in the
// table the default page renders in headless Chromium.
#include <gtest/gtest.h>

// GCC 12 with the sanitizers sees an uninitialized member inside <regex>
// where there is none.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#include "http_test_support.h"

namespace qm::http {
namespace {

using namespace qm::testing;

constexpr const char* kChromium = "/usr/bin/chromium";

TEST(HttpProgram, DefaultPageShowsLoggedEventsInChromium) {
    if (!HaveProgram("/usr/bin/logger")) GTEST_SKIP() << "logger (bsdutils) is not installed";
    ProgramHome box;
    fs::copy(fs::path(QM_SOURCE_DIR) / "resources" / "default-home" / "Resource", box.Home() / "Resource",
             fs::copy_options::recursive);
    const uint16_t syslogPort = FreePort();
    box.Listen(syslogPort);
    const uint16_t httpPort = FreeTcpPort();
    box.Edit("mod_httpserver", [&](platform::ProfileFile& ini, const char* s) {
        ASSERT_EQ(ini.ReadString(s, "Item.0-StrName", 32), "127.0.0.1") << "the default item";
        ini.WriteStruct(s, "Item.0-Port", LittleEndian(httpPort));
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(httpPort) + "/";

    std::unique_ptr<ChildProcess> run = box.Start();
    ASSERT_TRUE(WaitUntil([&] { return Curl({url}).status == 200 || !run->Alive(); }, 30s)) << box.OutputText();
    ASSERT_TRUE(run->Alive()) << box.OutputText();
    EXPECT_EQ(Curl({url + "http.ini"}).status, 403);

    const std::string marker = "quillmark-web-" + std::to_string(::getpid());
    TempDir dir("qm-web");
    for (const auto& [priority, text] : {std::pair{"user.err", marker + "-error"}, {"user.info", marker + "-info"}}) {
        ChildProcess logger({"logger", "-n", "127.0.0.1", "-P", std::to_string(syslogPort), "-d", "-p", priority, text},
                            dir.path() / "logger.txt");
        ASSERT_EQ(logger.Exit(30s), 0) << ReadWholeFile(dir.path() / "logger.txt");
    }
    std::string log;
    ASSERT_TRUE(WaitUntil([&] { return Contains(log = Curl({url + "log"}).body, marker + "-info"); }, 30s)) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("\n3\t127\\.0\\.0\\.1\t[^\t]*\t[0-9.]+ [0-9:]+\t[^\t\n]*" + marker + "-error\t\n")))
        << log;

    if (!HaveProgram(kChromium)) GTEST_SKIP() << "chromium is not installed";
    // The page fetches the log itself; virtual time lets its timers run
    // while waiting for what it fetched.
    std::string dom;
    const auto rendered = [&](const std::string& page) {
        return WaitUntil(
            [&] {
                TempDir profile("qm-chromium");
                ChildProcess chromium({kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                       "--no-first-run", "--disable-background-networking", "--disable-component-update",
                                       "--disable-sync", "--user-data-dir=" + (profile.path() / "data").string(),
                                       "--virtual-time-budget=5000", "--dump-dom", page},
                                      profile.path() / "dom.html");
                chromium.Exit(120s);
                dom = ReadWholeFile(profile.path() / "dom.html");
                return Contains(dom, marker + "-info");
            },
            180s);
    };
    ASSERT_TRUE(rendered(url)) << dom;
    EXPECT_TRUE(std::regex_search(dom, std::regex("<tr class=\"sev-3\"><td class=\"time\">[0-9.: ]+</td><td class=\"level\">Error</td>"
                                                  "<td class=\"sender\">127\\.0\\.0\\.1</td><td class=\"message\">[^<]*" +
                                                  marker + "-error</td></tr>")))
        << dom;
    EXPECT_TRUE(Contains(dom, "<td class=\"level\">Informational</td>")) << dom;
    EXPECT_TRUE(std::regex_search(dom, std::regex("<span id=\"shown\">[1-9][0-9]* events</span>"))) << dom;

    // A filter given in the address: the text in another case, at least a
    // warning. The error row stays, the informational one is hidden, and
    // the page counts them.
    std::string upper = marker;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(rendered(url + "#text=" + upper + "&sev=4")) << dom;
    const std::regex visibleError("<tr class=\"sev-3\"><td class=\"time\">[^<]*</td><td class=\"level\">Error</td>"
                                  "<td class=\"sender\">127\\.0\\.0\\.1</td><td class=\"message\">[^<]*" + marker + "-error<");
    const std::regex hiddenInfo("<tr class=\"sev-6\" hidden=\"\"><td class=\"time\">[^<]*</td><td class=\"level\">"
                                "Informational</td><td class=\"sender\">127\\.0\\.0\\.1</td><td class=\"message\">[^<]*" +
                                marker + "-info<");
    EXPECT_TRUE(std::regex_search(dom, visibleError)) << dom;
    EXPECT_TRUE(std::regex_search(dom, hiddenInfo)) << dom;
    EXPECT_TRUE(std::regex_search(dom, std::regex("<span id=\"shown\">1 of [1-9][0-9]* shown</span>"))) << dom;
    // An invalid regular expression says so and filters by the rest only.
    ASSERT_TRUE(rendered(url + "#regex=1&text=(&sev=3")) << dom;
    EXPECT_TRUE(Contains(dom, "<span id=\"hint\">not a valid regular expression")) << dom;
    EXPECT_TRUE(std::regex_search(dom, visibleError)) << dom;
    EXPECT_TRUE(std::regex_search(dom, hiddenInfo)) << dom;

    ASSERT_TRUE(run->Signal(SIGTERM));
    EXPECT_EQ(run->Exit(30s), 0) << box.OutputText();
    // The request log of the run.
    bool logged = false;
    for (const auto& entry : fs::directory_iterator(box.Home() / "Logs" / "Web"))
        logged = logged || Contains(ReadWholeFile(entry.path()), "[127.0.0.1]\tRESP=\"200 OK\"\tSuccess: Send=");
    EXPECT_TRUE(logged);
}

// Under a Latin-1 locale the program's own Cyrillic texts and a request's
// UTF-8 path still reach the browser and the request log as UTF-8.
TEST(HttpProgram, LogAndRequestLogAreUtf8UnderALatin1Locale) {
    TempDir locales("qm-locale");
    ChildProcess localedef({"localedef", "-i", "en_US", "-f", "ISO-8859-1", (locales.path() / "en_US.ISO-8859-1").string()},
                           locales.path() / "localedef.txt");
    if (localedef.Exit(60s) != 0) GTEST_SKIP() << "no Latin-1 locale can be made: " << ReadWholeFile(locales.path() / "localedef.txt");
    ProgramHome box;
    box.StopPinging();
    const uint16_t httpPort = FreeTcpPort();
    box.Edit("mod_httpserver", [&](platform::ProfileFile& ini, const char* s) {
        ini.WriteStruct(s, "Item.0-Port", LittleEndian(httpPort));
        ini.WriteStruct(s, "Item.0-EventParam", std::vector<uint8_t>{0x70});  // system events too
    });
    fs::create_directories(box.Home() / "Resource" / "Web");
    std::ofstream(box.Home() / "Resource" / "Web" / "http.ini") << "[ip-access]\n*=A\n[content-access]\n*=A\n[log]\nlevel=3\n";
    std::unique_ptr<ChildProcess> run =
        box.Start({}, {"LOCPATH=" + locales.path().string(), "LC_ALL=en_US.ISO-8859-1"});
    const std::string url = "http://127.0.0.1:" + std::to_string(httpPort) + "/";
    const std::string started = "Web сервер [127.0.0.1:" + std::to_string(httpPort) + "] запущен";
    std::string log;
    EXPECT_TRUE(WaitUntil([&] { return Contains(log = Curl({url + "log"}).body, started) || !run->Alive(); }, 30s))
        << log << box.OutputText();
    {
        RawClient raw(httpPort);  // curl would escape the path
        ASSERT_TRUE(raw.Send("GET /файл.txt HTTP/1.0\r\n\r\n"));
        EXPECT_EQ(ParseReply(raw.ReceiveAll()).status, 404);
    }
    ASSERT_TRUE(run->Signal(SIGTERM));
    EXPECT_EQ(run->Exit(30s), 0) << box.OutputText();
    std::string requests;
    for (const auto& entry : fs::directory_iterator(box.Home() / "Logs" / "Web")) requests += ReadWholeFile(entry.path());
    EXPECT_TRUE(Contains(requests, "REQ=\"GET /файл.txt HTTP/1.0\"")) << requests;
}

}  // namespace
}  // namespace qm::http
