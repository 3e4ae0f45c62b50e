// The built program with its default settings, listening on loopback, and its
// relay sending to rsyslog when that is installed: every datagram of a stream
// of numbered ones reaches the log files and rsyslog once, while the event
// database drains the queue under the relay's feet; what was left in the
// buffer file at the end comes back at the next start and is not relayed again.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

#include "platform/codepage.h"
#include "platform/single_byte_charset.h"
#include "transport_test_support.h"

namespace qm::transport {
namespace {

using namespace qm::testing;

// Log files the event database wrote at its time-stamped writes.
std::vector<fs::path> DatedLogs(const fs::path& logs) {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(logs)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && StartsWith(name, "log_") && name != "log_last.log") out.push_back(entry.path());
    }
    return out;
}

// Numbered lines from..to-1, each hundred confirmed by a handshake so the
// socket's queue never overflows.
void SendNumbered(const UdpPeer& sender, uint16_t port, int from, int to) {
    for (int n = from; n < to; ++n) {
        ASSERT_TRUE(sender.SendTo(port, "<14>quillmark sequence " + std::to_string(n) + " end"));
        if ((n + 1) % 100 == 0 || n + 1 == to) {
            ASSERT_TRUE(Handshake(sender, port, 5s)) << n;
        }
    }
}

// Counts the sequence numbers of `lines`, all of which must be the sender's
// lines with the relay suffix naming it.
void Tally(const std::vector<std::string>& lines, std::map<int, int>& seen) {
    static const std::regex shape(R"(<14>quillmark sequence (\d+) end\|a2;127\.0\.0\.2;\d+ \d+ (\d+) \d+ \d+ \d+ (\d+);)");
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        ++seen[std::stoi(m[1])];
        EXPECT_GE(std::stoi(m[2]), 2000) << line;  // year
        EXPECT_LE(std::stoi(m[3]), 999) << line;   // milliseconds
    }
}

// The program's home without pings, listening on `port`, its event database
// waking every `dbaseMs`; the lines come from another loopback address, so
// their sender is neither the relay nor the address the program gives its own
// reloaded lines.
class CollectorProgram : public ::testing::Test {
protected:
    explicit CollectorProgram(uint32_t dbaseMs = 300) {
        box.StopPinging();
        box.Listen(port);
        box.Edit("mod_dbase", [&](platform::ProfileFile& ini, const char* s) {
            ini.WriteStruct(s, "Common.Timeout", LittleEndian(dbaseMs));
        });
    }
    void SetUp() override { ASSERT_TRUE(sender.Ok()) << "errno " << sender.BindError(); }
    // One run of the program: up, `during`, then ended as a service stop ends it.
    void Run(const std::function<void()>& during) {
        std::unique_ptr<ChildProcess> run = box.Start();
        ASSERT_TRUE(Handshake(sender, port, 10s)) << box.OutputText();
        during();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(run->Signal(SIGTERM));
        ASSERT_EQ(run->Exit(30s), 0) << box.OutputText();
    }

    ProgramHome box;
    const uint16_t port = FreePort();
    UdpPeer sender{"127.0.0.2"};
};

TEST_F(CollectorProgram, EveryDatagramReachesTheLogsAndRsyslogOnceAndTheBufferFileComesBack) {
    std::unique_ptr<Rsyslog> rsyslog;
    if (Rsyslog::Installed()) {
        rsyslog = std::make_unique<Rsyslog>(1);
        ASSERT_TRUE(rsyslog->WaitReady(10s)) << rsyslog->Log();
        box.Edit("mod_relay", [&](platform::ProfileFile& ini, const char*) {
            WriteRelaySettings(ini, 1000, 200, {{rsyslog->Port(0), 0x30}});
        });
    }

    constexpr int kTotal = 10000;
    constexpr int kFirstPart = 8500;  // past the 8000 records that start a write
    Run([&] {
        SendNumbered(sender, port, 0, kFirstPart);
        ASSERT_TRUE(WaitUntil([&] { return !DatedLogs(box.Logs()).empty(); }, 5s)) << "no time-stamped write";
        SendNumbered(sender, port, kFirstPart, kTotal);
        if (rsyslog) {
            EXPECT_TRUE(rsyslog->WaitForLines(0, kTotal, 15s)) << rsyslog->Lines(0).size() << " relayed";
        }
    });

    std::map<int, int> seen;
    const std::vector<fs::path> dated = DatedLogs(box.Logs());
    size_t datedLines = 0;
    for (const fs::path& file : dated) {
        const std::vector<std::string> lines = LogLines(file);
        datedLines += lines.size();
        Tally(lines, seen);
    }
    const std::vector<std::string> last = LogLines(box.Logs() / "log_last.log");
    Tally(last, seen);
    EXPECT_GE(datedLines, 8000u);
    EXPECT_FALSE(last.empty()) << "the lines after the last write wait in the buffer file";
    EXPECT_EQ(seen.size(), size_t(kTotal));
    for (int n = 0; n < kTotal; ++n) ASSERT_EQ(seen[n], 1) << "sequence " << n;

    // Second run: the buffer file is read back as Archive events and, at the
    // end, written out again with its lines' original sender and time, beside
    // the one line this run received.
    Run([&] {
        std::this_thread::sleep_for(700ms);  // past the worker's first wake-up, which reloads
        SendNumbered(sender, port, kTotal, kTotal + 1);
        if (rsyslog) {
            EXPECT_TRUE(rsyslog->WaitForLines(0, kTotal + 1, 20s));
        }
    });
    std::vector<std::string> again = LogLines(box.Logs() / "log_last.log");
    const auto fresh = std::find_if(again.begin(), again.end(), [&](const std::string& line) {
        return StartsWith(line, "<14>quillmark sequence " + std::to_string(kTotal) + " end|a2;127.0.0.2;");
    });
    ASSERT_NE(fresh, again.end()) << "this run's own line is missing";
    again.erase(fresh);
    std::vector<std::string> before = last;
    std::sort(again.begin(), again.end());
    std::sort(before.begin(), before.end());
    EXPECT_TRUE(again == before) << "the reloaded lines differ from the ones the first run left";
    EXPECT_EQ(DatedLogs(box.Logs()).size(), dated.size()) << "the second run was far below a time-stamped write";

    // Relayed: every line of both runs once, and nothing reloaded.
    if (!rsyslog) GTEST_SKIP() << Rsyslog::kBinary << " is not installed (Debian package rsyslog): relaying not checked";
    ASSERT_TRUE(rsyslog->Flush(0, 5s)) << rsyslog->Log();
    std::map<int, int> relayed;
    Tally(rsyslog->Lines(0), relayed);
    EXPECT_EQ(relayed.size(), size_t(kTotal + 1));
    for (int n = 0; n <= kTotal; ++n) ASSERT_EQ(relayed[n], 1) << "sequence " << n;
}

// Devices that write Latin-1 or CP1251 beside those that write UTF-8: the
// relay sends each datagram's bytes as they came, the log file holds every
// line as readable text without a replaced byte, and at the next start the
// lines come back as they were (and are not relayed again).
class CollectorProgramCharsets : public CollectorProgram {
protected:
    CollectorProgramCharsets() : CollectorProgram(100) {}
};

TEST_F(CollectorProgramCharsets, BytesThatAreNotUtf8AreRelayedAsTheyCameAndLoggedWithoutLoss) {
    if (platform::AnsiCharset() != "UTF-8") GTEST_SKIP() << "the locale's charset is " << platform::AnsiCharset();
    UdpPeer relayed;
    ASSERT_TRUE(relayed.Ok());
    box.Edit("mod_relay", [&](platform::ProfileFile& ini, const char*) {
        WriteRelaySettings(ini, 1000, 100, {{relayed.Port(), 0x30}});
    });
    std::string everyHighByte = "<15>";
    for (int b = 0x80; b < 0x100; ++b) everyHighByte += static_cast<char>(b);
    const std::vector<std::string> sent = {"<13>latin\xe9", "<14>\xcf\xf0\xe8\xe2\xe5\xf2, \xec\xe8\xf0",
                                           "<14>utf8 Привет", everyHighByte};
    Run([&] {
        for (const std::string& d : sent) ASSERT_TRUE(sender.SendTo(port, d));
        for (const std::string& d : sent) {
            const std::optional<std::string> got = relayed.Receive(10s);
            ASSERT_TRUE(got) << "nothing relayed for " << d;
            EXPECT_TRUE(StartsWith(*got, d + "|a2;127.0.0.2;")) << *got;
        }
    });
    std::vector<std::string> first = LogLines(box.Logs() / "log_last.log");
    const auto logged = [&](const std::string& text) {
        return std::count_if(first.begin(), first.end(),
                             [&](const std::string& line) { return StartsWith(line, text + "|a2;127.0.0.2;"); });
    };
    EXPECT_EQ(logged("<13>latinй"), 1);  // CP1251, the default fallback
    EXPECT_EQ(logged("<14>Привет, мир"), 1);
    EXPECT_EQ(logged("<14>utf8 Привет"), 1);
    const std::string highText = first.empty() ? std::string() : first.back().substr(0, first.back().find('|'));
    ASSERT_TRUE(StartsWith(highText, "<15>")) << highText;
    EXPECT_EQ(platform::SingleByteCharset::Build("CP1251")->Encode(highText), everyHighByte)
        << "every byte is a character of its own";

    // The next run reads the lines back and writes them out again unchanged;
    // archive events are never relayed.
    Run([] {});  // a stop before the worker's first wake-up still reads the file back first
    std::vector<std::string> again = LogLines(box.Logs() / "log_last.log");
    std::sort(again.begin(), again.end());
    std::sort(first.begin(), first.end());
    EXPECT_EQ(again, first);
    EXPECT_FALSE(relayed.Receive(200ms)) << "an archive line was relayed";
}

}  // namespace
}  // namespace qm::transport
