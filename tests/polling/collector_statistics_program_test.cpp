// The program's modules in this process on a home of their own (the
// collector of a separate process cannot be read from outside): the core's
// statistics thread fills the value collector with its eight tags while
// logger sends to the collector, and the event database adds a memory point
// at each drain.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

#include "core/command_line.h"
#include "core/core_context.h"
#include "core/value_collector.h"
#include "modules.h"
#include "support/child_process.h"
#include "support/program_home.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"

namespace qm::core {
namespace {

using namespace qm::testing;
using namespace std::chrono_literals;

// The program's core started in this process as the program starts it, on
// a home whose collector listens on loopback and whose database drains
// every few events within a second, without the web server (whose default
// port every home shares).
class InProcessProgram {
public:
    explicit InProcessProgram(const std::string& commandLine) {
        home_.Listen(port_);
        home_.StopPinging();
        home_.Edit("mod_dbase", [](platform::ProfileFile& ini, const char* s) {
            ini.WriteStruct(s, "Common.Timeout", LittleEndian(uint32_t{300}));
            ini.WriteStruct(s, "Common.MsgLimit", LittleEndian(uint32_t{3}));
        });
        home_.Edit("mod_httpserver", [](platform::ProfileFile& ini, const char* s) {
            ini.WriteStruct(s, "Common.EnableService", std::vector<uint8_t>{0});
        });
        core_.paths = core::Paths::Build(home_.Home() / "quillmark", home_.Home());
        core_.options = core::ParseCommandLine(commandLine);
        core_.catalog = ProgramModules();
        core::CoreStart(core_);
    }
    ~InProcessProgram() { core::CoreShutdown(core_); }
    core::CoreContext& Core() { return core_; }
    // One line from logger to the collector.
    void Log(const std::string& text) {
        ChildProcess logger({"logger", "-n", "127.0.0.1", "-P", std::to_string(port_), "-d", "--rfc3164", text},
                            out_.path() / "logger.txt");
        EXPECT_EQ(logger.Exit(30s), 0) << ReadWholeFile(out_.path() / "logger.txt");
    }

private:
    ProgramHome home_;
    uint16_t port_ = FreePort();
    TempDir out_{"qm-stats"};
    core::CoreContext core_;
};

TEST(OperatingStatisticsProgram, TheEightTagsAndTheMemoryPointsReachTheCollector) {
    if (::access("/usr/bin/logger", X_OK) != 0) GTEST_SKIP() << "logger (bsdutils) is not installed";
    InProcessProgram program("");
    core::CoreContext& core = program.Core();
    core::ValueCollector& values = *core.values;
    const auto count = [&](const char* tag) { return values.Read("127.0.0.1", tag).samples.size(); };
    // The program pushes every ten seconds, and the case needs the push after
    // the first traffic (the second or later): its timer gives way to one
    // that pushes the same statistics every second, before its first push.
    ASSERT_NE(core.statistics, nullptr) << "the start-up starts the statistics";
    core.statistics = std::make_unique<core::StatisticsTimer>(core.counters, values, 1s);

    // A line a second until the push after the first traffic tells the
    // change of traffic.
    int sent = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            program.Log("statistics line " + std::to_string(++sent));
            std::this_thread::sleep_for(1s);
            return count("_act_network (Core)") > 0;
        },
        90s))
        << "pushes of _memory: " << count("_memory (Core)");
    core.statistics->Stop();

    std::map<std::string, size_t> samples;
    for (const std::string& tag : values.Tags("127.0.0.1")) {
        const core::ValueRead read = values.Read("127.0.0.1", tag);
        samples[tag] = read.samples.size();
        for (const core::ValueSample& s : read.samples) {
            ASSERT_FALSE(s.gap) << tag;
            const bool unsigned32 = tag == "_threads (Core)" || tag == "_windows (Core)" || tag == "_collision (Core)" ||
                                    tag == "_icmp_errors (Core)";
            EXPECT_EQ(s.value.Kind(), unsigned32 ? core::ValueKind::U32 : core::ValueKind::I64) << tag;
        }
    }
    const size_t pushes = samples["_memory (Core)"];
    ASSERT_GE(pushes, 2u);
    for (const char* tag : {"_net_recv (Core)", "_net_send (Core)", "_threads (Core)", "_windows (Core)", "_collision (Core)",
                            "_icmp_errors (Core)"})
        EXPECT_EQ(samples[tag], pushes) << tag;
    EXPECT_EQ(samples["_act_memory (Core)"], pushes - 1) << "none at the first push";
    EXPECT_GE(samples["_act_network (Core)"], 1u);
    EXPECT_LE(samples["_act_network (Core)"], pushes - 1) << "none before there was traffic";
    EXPECT_GE(samples["_memory_point (Core)"], 1u) << "the database drained every few lines";
    EXPECT_EQ(samples.size(), 10u);
    EXPECT_GE(values.Read("127.0.0.1", "_net_recv (Core)").samples.back().value.AsSigned(), 1);
    EXPECT_GE(values.Read("127.0.0.1", "_threads (Core)").samples.back().value.AsUnsigned(), 3u);
}

TEST(OperatingStatisticsProgram, AValueBufferOfZeroFromTheCommandLineSwitchesTheCollectorOff) {
    if (::access("/usr/bin/logger", X_OK) != 0) GTEST_SKIP() << "logger (bsdutils) is not installed";
    InProcessProgram program("-vc_buffer 0");
    core::CoreContext& core = program.Core();
    EXPECT_EQ(core.settings.valueCollectorStackLimit, 0u);
    // The database drains, and its memory point finds the collector off.
    const core::MemorySnapshot before = core.counters.memorySnapshots.Get().back();
    ASSERT_TRUE(WaitUntil(
        [&] {
            program.Log("off line");
            return core.counters.memorySnapshots.Get().back().allocated != before.allocated;
        },
        60s));
    EXPECT_TRUE(core.values->Vendors().empty());
}

}  // namespace
}  // namespace qm::core
