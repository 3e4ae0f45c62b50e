// The built program with its default settings, listening on loopback: a
// stream of numbered datagrams ends up in the log files, and what was left in
// the buffer file at the end comes back at the next start.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

#include "platform/profile_file.h"
#include "platform/utf16.h"
#include "support/temp_dir.h"
#include "transport_test_support.h"

namespace qm::transport {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::UdpPeer;
using testing::WaitUntil;

constexpr const char* kOk = "$$$OK [QMK 3.2.0]";

std::vector<uint8_t> LittleEndian(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// The lines of a log file: UTF-16LE, each ended by the unit 0x000A.
std::vector<std::string> LogLines(const fs::path& file) {
    const std::string bytes = testing::ReadWholeFile(file);
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] != '\n' || bytes[i + 1] != '\0') continue;
        lines.push_back(platform::Utf16LEBytesToUtf8(std::string_view(bytes).substr(begin, i - begin)));
        begin = i + 2;
    }
    EXPECT_EQ(begin, bytes.size()) << file << " ends inside a line";
    return lines;
}

// Log files the event database wrote at its time-stamped writes.
std::vector<fs::path> DatedLogs(const fs::path& logs) {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(logs)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.rfind("log_", 0) == 0 && name != "log_last.log") out.push_back(entry.path());
    }
    return out;
}

class ProgramHome {
public:
    ProgramHome() {
        fs::create_directories(home_);
        fs::copy(fs::path(QM_SOURCE_DIR) / "resources" / "default-home" / "Settings", home_ / "Settings",
                 fs::copy_options::recursive);
    }
    const fs::path& Home() const { return home_; }
    fs::path Logs() const { return home_ / "Logs"; }
    fs::path Output() const { return dir_.path() / "output.txt"; }

    // Changes struct or text values of one settings file, keeping the rest.
    void Edit(const char* file, const std::function<void(platform::ProfileFile&, const char*)>& edit) const {
        const fs::path path = home_ / "Settings" / (std::string(file) + ".ini");
        platform::ProfileFile ini = platform::ProfileFile::Load(path);
        edit(ini, file);
        ASSERT_TRUE(ini.Save(path));
    }

    std::unique_ptr<ChildProcess> Start() const {
        return std::make_unique<ChildProcess>(std::vector<std::string>{QM_BINARY}, Output(),
                                              std::vector<std::string>{"QUILLMARK_HOME=" + home_.string(), "PATH=/usr/bin:/bin"});
    }

private:
    testing::TempDir dir_{"qm-collector-program"};
    fs::path home_ = dir_.path() / "home";
};

// Sends "$$$HI" until the collector answers: it is up and has taken everything sent before.
bool Handshake(const UdpPeer& sender, uint16_t port, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
            if (!sender.SendTo(port, "$$$HI")) return false;
            for (;;) {
                const std::optional<std::string> reply = sender.Receive(200ms);
                if (!reply) return false;
                if (*reply == kOk) return true;
            }
        },
        timeout);
}

// Numbered lines from..to-1, a hundred at a time, each hundred confirmed by a
// handshake so the socket's queue never overflows.
void SendNumbered(const UdpPeer& sender, uint16_t port, int from, int to) {
    for (int n = from; n < to; ++n) {
        ASSERT_TRUE(sender.SendTo(port, "<14>quillmark sequence " + std::to_string(n) + " end"));
        if ((n + 1) % 100 == 0 || n + 1 == to) {
            ASSERT_TRUE(Handshake(sender, port, 5s)) << n;
        }
    }
}

TEST(CollectorProgram, EveryDatagramReachesTheLogsAndTheBufferFileComesBackAtTheNextStart) {
    ProgramHome box;
    const uint16_t port = testing::FreePort();
    ASSERT_NE(port, 0);
    box.Edit("mod_collector", [&](platform::ProfileFile& ini, const char* s) {
        ini.WriteString(s, "Item.0-StrName", "127.0.0.1");
        ini.WriteStruct(s, "Item.0-Port", LittleEndian(port));
    });
    box.Edit("mod_dbase", [](platform::ProfileFile& ini, const char* s) {
        ini.WriteStruct(s, "Common.Timeout", LittleEndian(300));  // the worker wakes every 300 ms
    });

    // From another loopback address, so the sender in the lines is not the
    // address the program gives its own reloaded lines.
    UdpPeer sender("127.0.0.2");
    ASSERT_TRUE(sender.Ok()) << "errno " << sender.BindError();
    constexpr int kTotal = 10000;
    constexpr int kFirstPart = 8500;  // past the 8000 records that start a write
    {
        std::unique_ptr<ChildProcess> run = box.Start();
        ASSERT_TRUE(run->Started());
        ASSERT_TRUE(Handshake(sender, port, 10s)) << testing::ReadWholeFile(box.Output());
        SendNumbered(sender, port, 0, kFirstPart);
        ASSERT_TRUE(WaitUntil([&] { return !DatedLogs(box.Logs()).empty(); }, 5s)) << "no time-stamped write";
        SendNumbered(sender, port, kFirstPart, kTotal);
        ASSERT_TRUE(run->Signal(SIGTERM));
        ASSERT_EQ(run->Exit(5s), 0) << testing::ReadWholeFile(box.Output());
    }

    const std::regex shape(R"(<14>quillmark sequence (\d+) end\|a2;127\.0\.0\.2;(\d+) (\d+) (\d+) (\d+) (\d+) (\d+) (\d+);)");
    std::map<int, int> seen;
    auto tally = [&](const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
            ++seen[std::stoi(m[1])];
            EXPECT_GE(std::stoi(m[4]), 2000) << line;  // year
            EXPECT_LE(std::stoi(m[8]), 999) << line;   // milliseconds
        }
    };
    const std::vector<fs::path> dated = DatedLogs(box.Logs());
    ASSERT_FALSE(dated.empty());
    size_t datedLines = 0;
    for (const fs::path& file : dated) {
        const std::vector<std::string> lines = LogLines(file);
        datedLines += lines.size();
        tally(lines);
    }
    const std::vector<std::string> last = LogLines(box.Logs() / "log_last.log");
    tally(last);
    EXPECT_GE(datedLines, 8000u);
    EXPECT_FALSE(last.empty()) << "the lines after the last write wait in the buffer file";
    EXPECT_EQ(seen.size(), size_t(kTotal));
    for (int n = 0; n < kTotal; ++n) ASSERT_EQ(seen[n], 1) << "sequence " << n;

    // Second run: the buffer file is read back as Archive events and, at the
    // end, written out again with its lines' original sender and time, beside
    // the one line this run received.
    {
        std::unique_ptr<ChildProcess> run = box.Start();
        ASSERT_TRUE(run->Started());
        ASSERT_TRUE(Handshake(sender, port, 10s)) << testing::ReadWholeFile(box.Output());
        std::this_thread::sleep_for(700ms);  // past the worker's first wake-up, which reloads
        SendNumbered(sender, port, kTotal, kTotal + 1);
        ASSERT_TRUE(run->Signal(SIGTERM));
        ASSERT_EQ(run->Exit(5s), 0) << testing::ReadWholeFile(box.Output());
    }
    std::vector<std::string> again = LogLines(box.Logs() / "log_last.log");
    const auto fresh = std::find_if(again.begin(), again.end(), [&](const std::string& line) {
        return line.rfind("<14>quillmark sequence " + std::to_string(kTotal) + " end|a2;127.0.0.2;", 0) == 0;
    });
    ASSERT_NE(fresh, again.end()) << "this run's own line is missing";
    again.erase(fresh);
    std::vector<std::string> before = last;
    std::sort(again.begin(), again.end());
    std::sort(before.begin(), before.end());
    EXPECT_EQ(again.size(), before.size());
    EXPECT_TRUE(again == before) << "the reloaded lines differ from the ones the first run left";
    EXPECT_EQ(DatedLogs(box.Logs()).size(), dated.size()) << "the second run was far below a time-stamped write";
}

}  // namespace
}  // namespace qm::transport
