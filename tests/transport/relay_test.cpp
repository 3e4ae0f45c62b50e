// The relay on real loopback sockets: the bytes of a relay line, which events
// go to which destination (with rsyslog as the receiver), starting and
// stopping the service, catching up before another reader drains the queue,
// destinations that cannot be used, the settings file, and a line that goes
// through a second instance of the program and keeps its origin.
#include "transport/relay/relay_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <mutex>
#include <numeric>

#include "platform/codepage.h"
#include "transport/collector/collector_module.h"
#include "transport_test_support.h"

namespace qm::transport {
namespace {

using namespace qm::testing;
using core::EventRecord;
using core::kEventExternal;
using core::kEventInternal;
using platform::Blocking;

constexpr const char* kStarted = "Служба пересылки запущена";

// The line a relay must send for `e`, written out independently of RelayLine.
std::string ExpectedLine(const EventRecord& e) {
    char time[80];
    std::snprintf(time, sizeof time, "%u %u %u %u %u %u %u", unsigned(e.time.day), unsigned(e.time.month),
                  unsigned(e.time.year), unsigned(e.time.hour), unsigned(e.time.minute), unsigned(e.time.second),
                  unsigned(e.time.milliseconds));
    return std::string(e.Raw()) + "|a2;" + e.sender + ";" + time + ";";
}

// A receiver that keeps every datagram, read by its own thread into one
// buffer (an allocation per datagram falls behind the relay's bursts), with
// a large receive buffer.
class Sink {
public:
    Sink() {
        // SO_RCVBUF is capped by net.core.rmem_max (a few hundred KiB), which
        // a loaded machine overruns while this thread waits for a core; root
        // may lift the cap for this socket.
        const int size = 64 << 20;
        if (::setsockopt(peer_.Fd(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
            ::setsockopt(peer_.Fd(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        thread_ = std::jthread([this](std::stop_token stop) {
            std::string buffer(65536, '\0');
            while (!stop.stop_requested()) {
                pollfd p{peer_.Fd(), POLLIN, 0};
                if (::poll(&p, 1, 20) != 1) continue;
                const ssize_t got = ::recv(peer_.Fd(), buffer.data(), buffer.size(), 0);
                std::lock_guard lock(mutex_);
                if (got >= 0) received_.emplace_back(buffer.data(), size_t(got));
            }
        });
    }
    uint16_t Port() const { return peer_.Port(); }
    std::vector<std::string> Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    size_t Count() const {
        std::lock_guard lock(mutex_);
        return received_.size();
    }
    bool WaitForCount(size_t n, std::chrono::milliseconds timeout) const {
        return WaitUntil([&] { return Count() >= n; }, timeout);
    }
    // True when nothing more than `n` arrived during `quiet`.
    bool StaysAt(size_t n, std::chrono::milliseconds quiet) const {
        std::this_thread::sleep_for(quiet);
        return Count() == n;
    }

private:
    UdpPeer peer_;
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::jthread thread_;  // last: stopped before the rest goes
};

RelayDestination To(uint16_t port, uint8_t mask = 0x30, const char* name = "127.0.0.1") {
    RelayDestination d;
    d.name = name;
    d.eventParam = mask;
    d.port = port;
    return d;
}

class RelayFixture : public ModuleTest<RelayModule> {
protected:
    // Sets the common block and adds the destinations.
    void Configure(uint32_t repeatMs, const std::vector<RelayDestination>& destinations, bool enable = true) {
        RelayCommon common;
        common.enableService = enable;
        common.sendTimeout = 1000;
        common.repeatTimeout = repeatMs;
        ASSERT_TRUE(module_->SetCommon(common));
        for (const RelayDestination& d : destinations) ASSERT_TRUE(module_->AddRecord(d));
    }
    void StartRelay(uint32_t repeatMs, const std::vector<RelayDestination>& destinations) {
        Configure(repeatMs, destinations);
        Run();
    }
    // Starts the relay; waits for its worker to say it runs and to finish its first round.
    void Run() {
        const size_t before = log_->CountSystem(kStarted);
        ASSERT_TRUE(module_->Start(Blocking::Yes));
        ASSERT_TRUE(WaitUntil([&] { return log_->CountSystem(kStarted) > before; }, 20s));
        std::this_thread::sleep_for(50ms);  // the first round follows the report at once
    }
    void Submit(uint32_t type, const std::string& line, const char* sender = "10.0.0.9") {
        ASSERT_EQ(core_.events->Submit(type, core::kNoSeverity, line, Loopback(514, sender)), core::kOk);
    }
    void Settle() { ASSERT_TRUE(core_.events->Settle(5000)); }
    // The lines expected for the queued events of `types` whose raw text contains `part`, in queue order.
    std::vector<std::string> LinesFor(std::string_view part, uint32_t types = kEventExternal) {
        std::vector<std::string> out;
        for (const EventRecord& e : log_->Matching([&](const EventRecord& e) { return (e.type & types) && Contains(e.Raw(), part); }))
            out.push_back(ExpectedLine(e));
        return out;
    }
    // `count` numbered External lines "<13><tag> <n>", settled; their expected lines.
    std::vector<std::string> SubmitNumbered(const std::string& tag, int count) {
        for (int n = 0; n < count; ++n) Submit(kEventExternal, "<13>" + tag + " " + std::to_string(n));
        Settle();
        std::vector<std::string> lines = LinesFor(tag);
        EXPECT_EQ(lines.size(), size_t(count));
        return lines;
    }
};

EventRecord Received(const std::string& raw, const std::string& sender = "10.0.0.9") {
    EventRecord e;
    e.type = kEventExternal;
    e.SetTexts(raw, "");
    e.sender = sender;
    e.time = {2026, 12, 6, 5, 6, 15, 30, 45};
    return e;
}

TEST(RelayLine, CarriesTheRawTextOriginalSenderAndTimeWithoutTerminator) {
    EXPECT_EQ(RelayLine(Received("<13>hello")), "<13>hello|a2;10.0.0.9;5 12 2026 6 15 30 45;");
    EventRecord late = Received("<190>x", "255.255.255.255");
    late.time = {2099, 1, 0, 31, 23, 59, 59, 999};
    EXPECT_EQ(RelayLine(late), "<190>x|a2;255.255.255.255;31 1 2099 23 59 59 999;");

    if (platform::AnsiCharset() != "UTF-8") GTEST_SKIP() << "the locale's charset is " << platform::AnsiCharset();
    // A raw text decoded through the fallback charset goes out as the bytes it came in.
    const platform::ReceivedText latin = platform::DecodeReceived("<13>latin\xe9 \x98");
    EventRecord fallback = Received(latin.text);
    fallback.charset = latin.charset;
    EXPECT_EQ(RelayLine(fallback), "<13>latin\xe9 \x98|a2;10.0.0.9;5 12 2026 6 15 30 45;");
    EXPECT_EQ(RelayLine(Received("<13>Привет, мир: ошибка диска")),
              "<13>Привет, мир: ошибка диска|a2;10.0.0.9;5 12 2026 6 15 30 45;");
    const std::string longRaw = "<13>" + std::string(6000, 'L') + "Ж";
    EXPECT_EQ(RelayLine(Received(longRaw)), longRaw + "|a2;10.0.0.9;5 12 2026 6 15 30 45;") << "not cut to any buffer";
}

TEST(RelayLine, OnlyExternalAndInternalLinesThatDidNotComeThroughARelayAreForwardable) {
    const auto forwardable = [](uint32_t type, const std::string& raw, bool relayed = false) {
        EventRecord e = Received(raw);
        e.type = type;
        e.relayed = relayed;
        return IsForwardable(e);
    };
    EXPECT_TRUE(forwardable(kEventExternal, "<13>x") && forwardable(kEventInternal, "<13>x"));
    EXPECT_FALSE(forwardable(core::kEventSystem, "<13>x") || forwardable(core::kEventArchive, "<13>x") || forwardable(0, "<13>x"));
    EXPECT_FALSE(forwardable(kEventExternal, "<13>x", true)) << "came through a relay";
    EXPECT_FALSE(forwardable(kEventExternal, "")) << "nothing to send";
}

class RelayToRsyslog : public RelayFixture {
protected:
    void SetUp() override {
        if (!Rsyslog::Installed())
            GTEST_SKIP() << Rsyslog::kBinary << " is not installed (Debian package rsyslog): relaying to it not checked";
        RelayFixture::SetUp();
    }
};

// Internal only, External only, and two destinations taking both: each gets
// what its mask takes once, in queue order, byte for byte. Lines that came
// through a relay, System and Archive events never go out, not even to a
// mask with every type bit.
TEST_F(RelayToRsyslog, EachDestinationGetsExactlyTheLinesItsMaskTakes) {
    Rsyslog rsyslog(4);
    ASSERT_TRUE(rsyslog.WaitReady(10s)) << rsyslog.Log();
    const uint8_t masks[] = {0x10, 0x20, 0x30, 0xFF};
    std::vector<RelayDestination> destinations;
    for (size_t i = 0; i < 4; ++i) destinations.push_back(To(rsyslog.Port(i), masks[i]));
    StartRelay(50, destinations);

    Submit(kEventExternal, "<13>hello", "10.0.0.9");
    Submit(kEventExternal, "<14>Привет из цеха: насос 3 остановлен", "192.168.7.21");
    Submit(kEventExternal, "<134>Jan 15 10:20:30 host app[7]: a = b & c;  two spaces", "172.16.0.1");
    for (int n = 0; n < 10; ++n) {
        Submit(kEventInternal, "<14>poller reading " + std::to_string(n), "10.1.1.1");
        Submit(kEventExternal, "<13>datagram " + std::to_string(n), "10.2.2.2");
    }
    Submit(kEventExternal, "<13>came through a relay|a2;10.9.9.9;1 2 2026 3 4 5 6;");
    Submit(kEventInternal, "<13>internal through a relay|a2;10.9.9.9;1 2 2026 3 4 5 6;");
    ASSERT_EQ(core_.events->Report(6, "system event text"), core::kOk);
    ASSERT_EQ(core_.Report(core::Severity::Warning, core::str::kNetworkError, "mod_test", 5), core::kOk);
    Submit(core::kEventArchive, "<13>reloaded from the log files");
    Submit(core::kEventArchive, "<13>archived relay line|a2;10.9.9.9;1 2 2026 3 4 5 6;");
    Submit(kEventExternal, "<13>closing line");
    Settle();

    // Lines that came through a relay name 10.9.9.9; the rest goes out.
    const auto expected = [&](uint32_t types) {
        std::vector<std::string> lines = LinesFor("", types);
        std::erase_if(lines, [](const std::string& line) { return Contains(line, "10.9.9.9"); });
        return lines;
    };
    const std::vector<std::string> lines[] = {expected(kEventInternal), expected(kEventExternal),
                                              expected(kEventInternal | kEventExternal), expected(kEventInternal | kEventExternal)};
    ASSERT_EQ(lines[0].size(), 10u);
    ASSERT_EQ(lines[1].size(), 14u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE("mask " + std::to_string(masks[i]));
        ASSERT_TRUE(rsyslog.WaitForLines(i, lines[i].size(), 30s)) << rsyslog.Lines(i).size();
        ASSERT_TRUE(rsyslog.Flush(i, 30s));
        EXPECT_EQ(rsyslog.Lines(i), lines[i]);
    }
    EXPECT_EQ(module_->Forwarded(), 10u + 14u + 2 * 24u);
    EXPECT_EQ(module_->ErrorCount(), 0u);
}

using RelayService = RelayFixture;

// Only what arrives while the relay runs goes out, and once: nothing while
// the service is off, nothing from before the start, not twice after a
// second start, nothing while it is stopped.
TEST_F(RelayService, OnlyEventsWhileRunningAreSentEachOnce) {
    Sink sink;
    Configure(20, {To(sink.Port())}, false);
    EXPECT_FALSE(module_->Start(Blocking::Yes));
    EXPECT_TRUE(log_->WaitForSystem("Служба пересылки отключена"));
    EXPECT_FALSE(module_->Stop(Blocking::Yes)) << "nothing was running";
    SubmitNumbered("before the start", 30);
    EXPECT_TRUE(sink.StaysAt(0, 150ms));

    Configure(20, {});
    Run();
    EXPECT_FALSE(module_->Start(Blocking::Yes)) << "already running";
    std::vector<std::string> expected = SubmitNumbered("first run", 50);
    ASSERT_TRUE(sink.WaitForCount(50, 20s));

    EXPECT_TRUE(module_->Stop(Blocking::Yes));
    EXPECT_TRUE(log_->WaitForSystem("Служба пересылки остановлена"));
    EXPECT_FALSE(module_->Stop(Blocking::Yes));
    SubmitNumbered("while stopped", 10);
    EXPECT_TRUE(sink.StaysAt(50, 150ms));

    // The second start collides with someone holding the module's lock (a
    // settings dialog that applies and restarts, say). That used to put the
    // worker into its 2 s idle wait; the bound leaves room for a loaded
    // machine and still tells that from the repeat timeout of 20 ms.
    module_->Lock().Enter();
    const bool restarted = module_->Start(Blocking::Yes);
    std::this_thread::sleep_for(50ms);
    module_->Lock().Leave();
    ASSERT_TRUE(restarted);
    ASSERT_TRUE(WaitUntil([&] { return log_->CountSystem(kStarted) == 2; }, 20s));
    const std::vector<std::string> second = SubmitNumbered("second run", 10);
    const auto submitted = Clock::now();
    expected.insert(expected.end(), second.begin(), second.end());
    ASSERT_TRUE(sink.WaitForCount(60, 20s));
    EXPECT_LT(Clock::now() - submitted, 1500ms);
    EXPECT_TRUE(sink.StaysAt(60, 150ms));
    EXPECT_EQ(sink.Received(), expected);
    EXPECT_EQ(log_->CountSystem(kStarted), 2u);
}

using RelayCatchUp = RelayFixture;

// What the relay had not read when another reader drains the queue still goes
// out, each once and ahead of what comes after the drain, however the drain
// meets the relay's worker: asleep; in the middle of a round, holding its own
// lock and waiting for the queue the drain has won; or kept from its lock by
// someone else (a settings dialog, say).
TEST_F(RelayCatchUp, ADrainLosesNothingTheRelayHadNotRead) {
    for (const char* worker : {"asleep", "mid-round", "lock held elsewhere"}) {
        SCOPED_TRACE(worker);
        const std::string how = worker;
        Sink sink;
        module_ = std::make_unique<RelayModule>(core_);
        // No round of its own during the test; every type bit in the mask,
        // so only the relay itself keeps the Archive line back.
        StartRelay(60000, {To(sink.Port(), 0xFF)});
        std::vector<std::string> expected = SubmitNumbered(how + ", before the drain", 200);
        Submit(core::kEventArchive, "<13>reloaded, not for the relay");
        Settle();
        EXPECT_TRUE(sink.StaysAt(0, 100ms)) << "the worker is asleep until woken";

        std::vector<core::EventPtr> drained;
        int drainResult = core::kRefused;
        if (how == "asleep") {
            drainResult = core_.events->Drain(drained, Blocking::Yes);
        } else if (how == "mid-round") {
            // Hold the queue as a window reading it would and wake the
            // worker: it takes its lock and waits for the queue, which this
            // thread, draining, then gets first.
            core::QueueSlice window;
            ASSERT_EQ(core_.events->ReadSlice(0, Blocking::Yes, window), core::kOk);
            module_->Wake();
            ASSERT_TRUE(WaitUntil(
                [&] {
                    if (!module_->Lock().TryEnter()) return true;
                    module_->Lock().Leave();
                    return false;
                },
                3s))
                << "the worker did not start its round";
            drainResult = core_.events->Drain(drained, Blocking::Yes);
        } else {
            std::promise<void> held, release;
            std::jthread holder([&] {
                module_->Lock().Enter();
                held.set_value();
                release.get_future().wait();
                module_->Lock().Leave();
            });
            held.get_future().wait();
            drainResult = core_.events->Drain(drained, Blocking::Yes);
            release.set_value();
        }
        ASSERT_EQ(drainResult, core::kOk);
        EXPECT_GE(drained.size(), 200u);

        const std::vector<std::string> after = SubmitNumbered(how + ", after the drain", 100);
        expected.insert(expected.end(), after.begin(), after.end());
        module_->Wake();
        ASSERT_TRUE(sink.WaitForCount(300, 20s)) << "only " << sink.Count() << " of 300 arrived";
        EXPECT_TRUE(sink.StaysAt(300, 50ms));
        EXPECT_EQ(sink.Received(), expected);
    }
}

TEST_F(RelayCatchUp, ABacklogOfManySlicesGoesOutInOneRound) {
    Sink sink;
    StartRelay(60000, {To(sink.Port())});
    const std::vector<std::string> expected = SubmitNumbered("backlog", 2500);
    EXPECT_TRUE(sink.StaysAt(0, 100ms));
    module_->Wake();  // one round
    ASSERT_TRUE(sink.WaitForCount(2500, 30s)) << "a round reads full slices back to back; got " << sink.Count();
    EXPECT_EQ(sink.Received(), expected);
}

// The race as it happens in the program: a reader draining often while the
// relay forwards long rounds and a window keeps reading the queue, so the
// relay often waits for the queue lock with its own lock held.
TEST_F(RelayCatchUp, FrequentDrainsDuringLongRoundsLoseNothing) {
    Sink sink;
    StartRelay(1, {To(sink.Port())});
    std::atomic<size_t> drains{0};
    std::jthread drainer([&](std::stop_token stop) {
        std::vector<core::EventPtr> out;
        while (!stop.stop_requested()) {
            if (core_.events->Drain(out, Blocking::Yes) == core::kOk) ++drains;
            std::this_thread::sleep_for(10us);
        }
    });
    std::jthread window([&](std::stop_token stop) {
        core::QueueSlice slice;
        while (!stop.stop_requested()) {
            if (core_.events->ReadSlice(0, Blocking::Yes, slice) == core::kOk) {
                std::this_thread::sleep_for(2ms);
                slice.Release();
            }
            std::this_thread::sleep_for(10us);
        }
    });
    constexpr int kTotal = 12000;
    for (int n = 0; n < kTotal; n += 600) {
        for (int k = n; k < n + 600; ++k) Submit(kEventExternal, "<13>drained often " + std::to_string(k));
        core_.events->Settle(5000);
    }
    const bool arrived = sink.WaitForCount(kTotal, 30s);
    drainer = {};
    window = {};
    EXPECT_TRUE(arrived) << "only " << sink.Count() << " of " << kTotal << " arrived with " << drains << " drains";
    std::vector<int> got, all(kTotal);
    for (const std::string& line : sink.Received()) got.push_back(std::stoi(line.substr(18)));
    std::sort(got.begin(), got.end());
    std::iota(all.begin(), all.end(), 0);
    EXPECT_TRUE(got == all) << "each once";
}

using RelayDestinations = RelayFixture;

// A name that is not a dotted IPv4 address fails once per event, counted,
// and the others still get everything; disabled and deleted destinations get
// nothing; only the port's low 16 bits count.
TEST_F(RelayDestinations, UnusableDestinationsAreSkippedAndBadAddressesCounted) {
    Sink first, wide, off, deleted, last;
    RelayDestination disabled = To(off.Port());
    disabled.enable = 0;
    RelayDestination widePort = To(wide.Port());
    widePort.port = 0x50000u | wide.Port();
    StartRelay(20, {To(first.Port()), To(514, 0x30, "example.org"), To(514, 0x30, "256.1.1.1"), disabled,
                    To(deleted.Port()), widePort, To(last.Port())});
    ASSERT_TRUE(WaitUntil([&] { return module_->DeleteRecord(4); }, 20s));
    const std::vector<std::string> expected = SubmitNumbered("past bad destinations", 10);
    for (Sink* sink : {&first, &wide, &last}) {
        ASSERT_TRUE(sink->WaitForCount(10, 20s));
        EXPECT_EQ(sink->Received(), expected);
    }
    EXPECT_TRUE(last.StaysAt(10, 100ms));
    EXPECT_EQ(off.Count(), 0u);
    EXPECT_EQ(deleted.Count(), 0u);
    EXPECT_EQ(module_->ErrorCount(), 20u);
    EXPECT_EQ(module_->Forwarded(), 30u);
    EXPECT_EQ(core_.counters.datagramsSent.load(), 30u);
}

// The collector and the relay as the core starts them from their settings
// files: the default listener moved to loopback with its packet filter on,
// and a disabled second one; the relay to an Internal-only and an
// External-and-Internal destination. What the collector takes is relayed, and
// both sections are written back at the shutdown as they were read.
TEST(RelayWithCore, CollectorAndRelayFromTheSettingsFilesRunAndAreSavedBack) {
    ProgramHome box;
    const uint16_t port = FreePort();
    Sink internalOnly, both;
    box.Listen(port);
    box.Edit("mod_collector", [&](platform::ProfileFile& ini, const char* s) {
        ini.WriteStruct(s, "Common.BufferSize", LittleEndian(2048));
        ini.WriteStruct(s, "Common.ErrorTimeout", LittleEndian(500));
        ini.WriteStruct(s, "Item.0-Param", std::vector<uint8_t>{kPacketFilter});
        ini.WriteStruct(s, "ItemCount", LittleEndian(2));
        ini.WriteStruct(s, "Item.1-Enable", std::vector<uint8_t>{0});
        ini.WriteString(s, "Item.1-StrName", "127.0.0.1");
        ini.WriteStruct(s, "Item.1-Port", LittleEndian(FreePort()));
    });
    box.Edit("mod_relay", [&](platform::ProfileFile& ini, const char*) {
        WriteRelaySettings(ini, 700, 30, {{internalOnly.Port(), 0x10}, {both.Port(), 0x30}});
    });
    const char* sections[] = {"mod_collector", "mod_relay"};
    std::vector<platform::ProfileFile> written;
    for (const char* s : sections) written.push_back(platform::ProfileFile::Load(box.Settings(s)));

    const core::ModuleDescriptor catalog[] = {
        {core::kModuleCollector, "Module: Collector", "mod_collector", true, CreateCollectorModule},
        {core::kModuleRelay, "Module: Relay", "mod_relay", true, CreateRelayModule}};
    {
        core::CoreContext core;
        core.paths = core::Paths::Build(box.Home() / "quillmark", box.Home());
        core.catalog = catalog;
        core::CoreStart(core);
        auto* collector = core.registry->FindAs<CollectorModule>(core::kModuleCollector);
        auto* relay = core.registry->FindAs<RelayModule>(core::kModuleRelay);
        ASSERT_TRUE(collector && relay);
        // What was read shows in what is saved back below.
        EXPECT_EQ(collector->BoundPort(1), 0) << "the disabled listener";
        EXPECT_FALSE(relay->Start(Blocking::Yes)) << "started by the core already";
        UdpPeer client;
        ASSERT_TRUE(client.SendTo(port, " <13>a leading blank, filtered"));
        ASSERT_TRUE(client.SendTo(port, "<13>through the settings file"));
        ASSERT_EQ(core.events->Submit(kEventInternal, core::kNoSeverity, "<14>internal one", Loopback(514, "10.3.3.3")),
                  core::kOk);
        ASSERT_TRUE(internalOnly.WaitForCount(1, 20s));
        ASSERT_TRUE(both.WaitForCount(2, 20s));
        EXPECT_TRUE(both.StaysAt(2, 100ms));
        EXPECT_EQ(internalOnly.Count(), 1u);
        EXPECT_TRUE(StartsWith(internalOnly.Received()[0], "<14>internal one|a2;10.3.3.3;"));
        EXPECT_EQ(std::ranges::count_if(both.Received(), [](const std::string& line) {
                      return StartsWith(line, "<13>through the settings file|a2;127.0.0.1;");
                  }), 1);
        for (const char* s : sections) fs::remove(box.Settings(s));
        core::CoreShutdown(core);
    }
    EXPECT_TRUE(UdpPeer("127.0.0.1", port).Ok()) << "shutdown closed the listener";
    for (size_t i = 0; i < 2; ++i) {
        const platform::ProfileFile saved = platform::ProfileFile::Load(box.Settings(sections[i]));
        for (const std::string& key : written[i].Keys(sections[i]))
            EXPECT_EQ(saved.Get(sections[i], key), written[i].Get(sections[i], key)) << key;
    }
}

using RelayRoundTrip = RelayFixture;

// The events come "from" addresses that are not the relay's and are
// forwarded more than a second after they arrived here: the instance
// receiving them stores their first sender and time.
TEST_F(RelayRoundTrip, ASecondInstanceStoresTheFirstSenderAndTimeNotTheRelays) {
    ProgramHome box;
    const uint16_t port = FreePort();
    box.Listen(port);
    StartRelay(60000, {To(port)});
    Submit(kEventExternal, "<13>round trip one", "10.20.30.40");
    Submit(kEventExternal, "<30>round trip Кириллица", "192.0.2.77");
    Settle();
    std::vector<std::string> expected = LinesFor("round trip");
    ASSERT_EQ(expected.size(), 2u);
    const auto arrived = Clock::now();

    std::unique_ptr<ChildProcess> program = box.Start();
    UdpPeer peer;
    ASSERT_TRUE(Handshake(peer, port, 10s)) << box.OutputText();
    std::this_thread::sleep_until(arrived + 1100ms);
    module_->Wake();
    ASSERT_TRUE(WaitUntil([&] { return module_->Forwarded() == 2; }, 20s));
    ASSERT_TRUE(Handshake(peer, port, 20s));
    ASSERT_TRUE(program->Signal(SIGTERM));
    ASSERT_EQ(program->Exit(20s), 0) << box.OutputText();

    std::vector<std::string> stored = LogLines(box.Logs() / "log_last.log");
    std::erase_if(stored, [](const std::string& line) { return !Contains(line, "round trip"); });
    std::sort(stored.begin(), stored.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stored, expected);
}

TEST(RelaySettings, AbsentDestinationsStayAbsentAndTheRepeatTimeoutKeepsItsFloor) {
    TempDir dir("qm-relayset");
    core::Config config(dir.path());
    {
        core::SettingsSection s = config.BeginSave("mod_relay", "mod_relay");
        platform::ProfileFile& ini = s.File();
        ini.WriteStruct("mod_relay", "Common.EnableService", std::vector<uint8_t>{1});
        ini.WriteStruct("mod_relay", "Common.RepeatTimeout", LittleEndian(0));
        ini.WriteStruct("mod_relay", "ItemCount", LittleEndian(3));
        ini.WriteStruct("mod_relay", "Item.0-Enable", std::vector<uint8_t>{1});
        ini.WriteString("mod_relay", "Item.0-StrName", "127.0.0.1");
        ini.WriteString("mod_relay", "Item.1-StrName", "127.0.0.2");  // no Enable; Item.2 not there at all
        ASSERT_TRUE(s.Commit());
    }
    RelayCommon common;
    core::RecordTable<RelayDestination> destinations;
    core::LoadCommonAndRecords(config.Open("mod_relay", "mod_relay"), kRelayLayout, common, destinations);
    EXPECT_EQ(common.repeatTimeout, kMinRepeatTimeoutMs) << "0 would make an idle relay spin";
    ASSERT_EQ(destinations.size(), 2u);
    EXPECT_EQ(destinations[0].record.enable, 1u);
    EXPECT_EQ(destinations[1].record.enable, 0u) << "a destination the file does not switch on stays off";
    EXPECT_EQ(destinations[1].record.name, "127.0.0.2");

    // The older layout, the module's setter and the script's text form keep the same floor.
    {
        core::SettingsSection s = config.BeginSave("mod_relay", "mod_relay");
        s.File().WriteString("mod_relay", "Version", "1");
        std::vector<uint8_t> legacy(kLegacyRelayCommonSize, 0);
        legacy[0] = 1;
        ASSERT_TRUE(s.File().WriteStruct("mod_relay", "Common", legacy));
        ASSERT_TRUE(s.Commit());
    }
    core::LoadCommonAndRecords(config.Open("mod_relay", "mod_relay"), kRelayLayout, common, destinations);
    EXPECT_EQ(common.repeatTimeout, kMinRepeatTimeoutMs);
    core::CoreContext core;
    RelayModule module(core);
    RelayCommon zero;
    zero.repeatTimeout = 0;
    ASSERT_TRUE(module.SetCommon(zero));
    EXPECT_EQ(module.Common()->repeatTimeout, kMinRepeatTimeoutMs);
    const core::FieldDef* field = RelayCommon::Fields().Find("RepeatTimeout");
    ASSERT_NE(field, nullptr);
    EXPECT_FALSE(core::FieldFromText(*field, "0", &zero));
    EXPECT_TRUE(core::FieldFromText(*field, "10", &zero));
    EXPECT_EQ(zero.repeatTimeout, 10u);
}

}  // namespace
}  // namespace qm::transport
