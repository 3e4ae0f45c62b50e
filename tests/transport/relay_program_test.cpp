// The built program with its collector and its relay switched on in the
// settings files: every numbered datagram a real sender gives it reaches
// rsyslog exactly once, as a relay line naming the sender, while the event
// database drains the queue under the relay's feet.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>

#include "platform/profile_file.h"
#include "support/temp_dir.h"
#include "transport_test_support.h"

namespace qm::transport {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::UdpPeer;
using testing::WaitUntil;

constexpr const char* kRsyslogd = "/usr/sbin/rsyslogd";
constexpr const char* kProbe = "<13>rsyslog probe ";

std::vector<uint8_t> LittleEndian(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<std::string> FileLines(const fs::path& file) {
    std::vector<std::string> out;
    std::istringstream text(testing::ReadWholeFile(file));
    for (std::string line; std::getline(text, line);)
        if (line.rfind(kProbe, 0) != 0) out.push_back(line);
    return out;
}

// Sends "$$$HI" until the collector answers: it is up and has taken everything
// sent before.
bool Handshake(const UdpPeer& sender, uint16_t port, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
            if (!sender.SendTo(port, "$$$HI")) return false;
            for (;;) {
                const std::optional<std::string> reply = sender.Receive(200ms);
                if (!reply) return false;
                if (*reply == "$$$OK [QMK 3.2.0]") return true;
            }
        },
        timeout);
}

TEST(RelayProgram, TenThousandDatagramsReachRsyslogExactlyOnceEach) {
    if (::access(kRsyslogd, X_OK) != 0)
        GTEST_SKIP() << kRsyslogd << " is not installed (Debian package rsyslog): relaying to it not checked";

    testing::TempDir dir("qm-relay-program");
    const fs::path home = dir.path() / "home";
    fs::create_directories(home);
    fs::copy(fs::path(QM_SOURCE_DIR) / "resources" / "default-home" / "Settings", home / "Settings",
             fs::copy_options::recursive);
    const uint16_t port = testing::FreePort();
    const uint16_t rsyslogPort = testing::FreePort();
    ASSERT_NE(port, 0);
    ASSERT_NE(rsyslogPort, 0);
    ASSERT_NE(port, rsyslogPort);

    // rsyslog: one input, the raw text of each datagram as a line of its file.
    const fs::path received = dir.path() / "received.log";
    fs::create_directory(dir.path() / "work");
    {
        std::ofstream conf(dir.path() / "rsyslog.conf");
        conf << "global(workDirectory=\"" << (dir.path() / "work").string() << "\" net.enableDNS=\"off\")\n"
             << "module(load=\"imudp\")\n"
             << "template(name=\"raw\" type=\"string\" string=\"%rawmsg%\\n\")\n"
             << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << rsyslogPort
             << "\" ruleset=\"relayed\" rcvbufSize=\"4m\")\n"
             << "ruleset(name=\"relayed\") {\n"
             << "  action(type=\"omfile\" file=\"" << received.string() << "\" template=\"raw\")\n"
             << "}\n";
    }
    const fs::path rsyslogOutput = dir.path() / "rsyslogd.txt";
    ChildProcess rsyslog({kRsyslogd, "-n", "-f", (dir.path() / "rsyslog.conf").string(), "-i",
                          (dir.path() / "rsyslogd.pid").string()},
                         rsyslogOutput);
    ASSERT_TRUE(rsyslog.Started());
    UdpPeer probe;
    int probes = 0;
    // Everything that reached rsyslog's socket before is in its file once a
    // probe sent now is.
    auto flushRsyslog = [&](std::chrono::milliseconds timeout) {
        const std::string line = kProbe + std::to_string(++probes);
        return WaitUntil(
                   [&] {
                       if (!rsyslog.Alive()) return true;
                       probe.SendTo(rsyslogPort, line);
                       return WaitUntil(
                           [&] { return testing::ReadWholeFile(received).find(line + "\n") != std::string::npos; },
                           100ms);
                   },
                   timeout) &&
               rsyslog.Alive();
    };
    ASSERT_TRUE(flushRsyslog(10s)) << testing::ReadWholeFile(rsyslogOutput);

    // The program: its collector on a loopback port, its relay to rsyslog, and
    // an event database that drains the queue every 300 ms.
    {
        const fs::path path = home / "Settings" / "mod_collector.ini";
        platform::ProfileFile ini = platform::ProfileFile::Load(path);
        ini.WriteString("mod_collector", "Item.0-StrName", "127.0.0.1");
        ini.WriteStruct("mod_collector", "Item.0-Port", LittleEndian(port));
        ASSERT_TRUE(ini.Save(path));
    }
    {
        const fs::path path = home / "Settings" / "mod_dbase.ini";
        platform::ProfileFile ini = platform::ProfileFile::Load(path);
        ini.WriteStruct("mod_dbase", "Common.Timeout", LittleEndian(300));
        ASSERT_TRUE(ini.Save(path));
    }
    {
        platform::ProfileFile ini;
        const char* s = "mod_relay";
        ini.WriteString(s, "Version", "2");
        ini.WriteStruct(s, "Common.EnableService", std::vector<uint8_t>{1});
        ini.WriteStruct(s, "Common.SendTimeout", LittleEndian(1000));
        ini.WriteStruct(s, "Common.RepeatTimeout", LittleEndian(200));
        ini.WriteStruct(s, "ItemCount", LittleEndian(1));
        ini.WriteStruct(s, "Item.0-Enable", std::vector<uint8_t>{1});
        ini.WriteString(s, "Item.0-StrName", "127.0.0.1");
        ini.WriteStruct(s, "Item.0-EventParam", std::vector<uint8_t>{0x30});
        ini.WriteStruct(s, "Item.0-Port", LittleEndian(rsyslogPort));
        ASSERT_TRUE(ini.Save(home / "Settings" / "mod_relay.ini"));
    }
    const fs::path output = dir.path() / "output.txt";
    auto program = std::make_unique<ChildProcess>(std::vector<std::string>{QM_BINARY}, output,
                                                  std::vector<std::string>{"QUILLMARK_HOME=" + home.string(),
                                                                           "PATH=/usr/bin:/bin"});
    ASSERT_TRUE(program->Started());

    // A real sender on another loopback address, so the relay lines name it
    // and not the relay; each hundred confirmed by a handshake so the
    // collector's socket never overflows.
    UdpPeer sender("127.0.0.2");
    ASSERT_TRUE(sender.Ok()) << "errno " << sender.BindError();
    ASSERT_TRUE(Handshake(sender, port, 10s)) << testing::ReadWholeFile(output);
    constexpr int kTotal = 10000;
    for (int n = 0; n < kTotal; ++n) {
        ASSERT_TRUE(sender.SendTo(port, "<14>relay sequence " + std::to_string(n) + " end"));
        if ((n + 1) % 100 == 0) {
            ASSERT_TRUE(Handshake(sender, port, 5s)) << n;
        }
    }

    const std::regex shape(R"(<14>relay sequence (\d+) end\|a2;127\.0\.0\.2;(\d+) (\d+) (\d+) (\d+) (\d+) (\d+) (\d+);)");
    auto relayed = [&] {
        size_t count = 0;
        for (const std::string& line : FileLines(received)) count += line.rfind("<14>relay sequence ", 0) == 0;
        return count;
    };
    const bool all = WaitUntil([&] { return relayed() >= size_t(kTotal); }, 15s);
    ASSERT_TRUE(program->Signal(SIGTERM));
    ASSERT_EQ(program->Exit(10s), 0) << testing::ReadWholeFile(output);
    program.reset();
    ASSERT_TRUE(flushRsyslog(5s)) << testing::ReadWholeFile(rsyslogOutput);
    EXPECT_TRUE(all) << relayed() << " of " << kTotal << " relayed";

    std::map<int, int> seen;
    for (const std::string& line : FileLines(received)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << "only the sender's lines, as relay lines: " << line;
        ++seen[std::stoi(m[1])];
        EXPECT_GE(std::stoi(m[4]), 2000) << line;  // year
        EXPECT_LE(std::stoi(m[8]), 999) << line;   // milliseconds
    }
    int missing = 0, repeated = 0;
    for (int n = 0; n < kTotal; ++n) {
        missing += seen[n] == 0;
        repeated += seen[n] > 1;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(repeated, 0);
    EXPECT_EQ(seen.size(), size_t(kTotal));
}

}  // namespace
}  // namespace qm::transport
