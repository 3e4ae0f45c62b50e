// The program's modules run in this process on a home of their own (the
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
#include "modules.h"
#include "polling/values/value_collector.h"
#include "support/child_process.h"
#include "support/program_home.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"

namespace qm::polling {
namespace {

using namespace qm::testing;
using namespace std::chrono_literals;

// The program's core on `box`, started as the program starts it.
class InProcessProgram {
public:
    InProcessProgram(const ProgramHome& box, const std::string& commandLine) {
        core_.paths = core::Paths::Build(box.Home() / "quillmark", box.Home());
        core_.options = core::ParseCommandLine(commandLine);
        core_.catalog = ProgramModules();
        core::CoreStart(core_);
    }
    ~InProcessProgram() { core::CoreShutdown(core_); }
    core::CoreContext& Core() { return core_; }

private:
    core::CoreContext core_;
};

// A home whose collector listens on loopback and whose database drains
// every few events within a second, without the web server.
void Prepare(ProgramHome& box, uint16_t port) {
    box.Listen(port);
    box.Edit("mod_dbase", [](platform::ProfileFile& ini, const char* s) {
        ini.WriteStruct(s, "Common.Timeout", LittleEndian(uint32_t{300}));
        ini.WriteStruct(s, "Common.MsgLimit", LittleEndian(uint32_t{3}));
    });
    // Its default port is shared by every home; nothing here needs it.
    box.Edit("mod_httpserver", [](platform::ProfileFile& ini, const char* s) {
        ini.WriteStruct(s, "Common.EnableService", std::vector<uint8_t>{0});
    });
}

bool Log(uint16_t port, const std::string& text, const fs::path& output) {
    ChildProcess logger({"logger", "-n", "127.0.0.1", "-P", std::to_string(port), "-d", "--rfc3164", text}, output);
    return logger.Exit(30s) == 0;
}

TEST(OperatingStatisticsProgram, TheEightTagsAndTheMemoryPointsReachTheCollector) {
    if (::access("/usr/bin/logger", X_OK) != 0) GTEST_SKIP() << "logger (bsdutils) is not installed";
    ProgramHome box;
    const uint16_t port = FreePort();
    Prepare(box, port);
    TempDir out("qm-stats");
    InProcessProgram program(box, "");
    core::CoreContext& core = program.Core();
    ValueCollector& values = *core.values;
    const auto count = [&](const char* tag) { return values.Read("127.0.0.1", tag).samples.size(); };

    // A line a second until the push after the first traffic tells the
    // change of traffic: the second push, about 20 s after start.
    int sent = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            EXPECT_TRUE(Log(port, "statistics line " + std::to_string(++sent), out.path() / "logger.txt"))
                << ReadWholeFile(out.path() / "logger.txt");
            std::this_thread::sleep_for(1s);
            return count("_act_network (Core)") > 0;
        },
        90s))
        << "pushes of _memory: " << count("_memory (Core)");
    core.statistics->Stop();

    std::map<std::string, size_t> samples;
    for (const std::string& tag : values.Tags("127.0.0.1")) {
        // A new home also pings 127.0.0.1: its readings share the vendor.
        if (tag.ends_with("(mod_icmp)")) continue;
        const ValueRead read = values.Read("127.0.0.1", tag);
        samples[tag] = read.samples.size();
        for (const ValueSample& s : read.samples) {
            ASSERT_FALSE(s.gap) << tag;
            const bool unsigned32 = tag == "_threads (Core)" || tag == "_windows (Core)" || tag == "_collision (Core)";
            EXPECT_EQ(s.value.Kind(), unsigned32 ? ValueKind::U32 : ValueKind::I64) << tag;
        }
    }
    const size_t pushes = samples["_memory (Core)"];
    ASSERT_GE(pushes, 2u);
    for (const char* tag : {"_net_recv (Core)", "_net_send (Core)", "_threads (Core)", "_windows (Core)", "_collision (Core)"})
        EXPECT_EQ(samples[tag], pushes) << tag;
    EXPECT_EQ(samples["_act_memory (Core)"], pushes - 1) << "none at the first push";
    EXPECT_GE(samples["_act_network (Core)"], 1u);
    EXPECT_LE(samples["_act_network (Core)"], pushes - 1) << "none before there was traffic";
    EXPECT_GE(samples["_memory_point (Core)"], 1u) << "the database drained every few lines";
    EXPECT_EQ(samples.size(), 9u);
    EXPECT_GE(values.Read("127.0.0.1", "_net_recv (Core)").samples.back().value.AsSigned(), 1);
    EXPECT_GE(values.Read("127.0.0.1", "_threads (Core)").samples.back().value.AsUnsigned(), 3u);
}

TEST(OperatingStatisticsProgram, AValueBufferOfZeroFromTheCommandLineSwitchesTheCollectorOff) {
    if (::access("/usr/bin/logger", X_OK) != 0) GTEST_SKIP() << "logger (bsdutils) is not installed";
    ProgramHome box;
    const uint16_t port = FreePort();
    Prepare(box, port);
    TempDir out("qm-stats");
    InProcessProgram program(box, "-vc_buffer 0");
    core::CoreContext& core = program.Core();
    EXPECT_EQ(core.settings.valueCollectorStackLimit, 0u);
    // The database drains, and its memory point finds the collector off.
    const core::MemorySnapshot before = core.counters.memorySnapshots.Get().back();
    ASSERT_TRUE(WaitUntil(
        [&] {
            EXPECT_TRUE(Log(port, "off line", out.path() / "logger.txt")) << ReadWholeFile(out.path() / "logger.txt");
            return core.counters.memorySnapshots.Get().back().allocated != before.allocated;
        },
        60s));
    EXPECT_TRUE(core.values->Vendors().empty());
}

}  // namespace
}  // namespace qm::polling
