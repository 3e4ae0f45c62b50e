// The relay on real loopback sockets: the bytes of a relay line, which events
// go to which destination (with rsyslog as the receiver), starting and
// stopping the service, catching up before another reader drains the queue,
// destinations that cannot be reached, the settings file, and a line that
// goes through a second instance of the program and keeps its origin.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "core/core_context.h"
#include "core/string_table.h"
#include "platform/codepage.h"
#include "platform/profile_file.h"
#include "platform/utf16.h"
#include "support/temp_dir.h"
#include "transport/relay/relay_module.h"
#include "transport_test_support.h"

namespace qm::transport {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using core::EventRecord;
using platform::Blocking;
using testing::ChildProcess;
using testing::FreePort;
using testing::UdpPeer;
using testing::WaitUntil;

bool Contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

std::vector<uint8_t> LittleEndian(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// The line a relay must send for `e`, written out independently of RelayLine.
std::string ExpectedLine(const EventRecord& e) {
    char time[80];
    std::snprintf(time, sizeof time, "%u %u %u %u %u %u %u", unsigned(e.time.day), unsigned(e.time.month),
                  unsigned(e.time.year), unsigned(e.time.hour), unsigned(e.time.minute), unsigned(e.time.second),
                  unsigned(e.time.milliseconds));
    return e.raw + "|a2;" + e.sender + ";" + time + ";";
}

// A receiver that keeps every datagram, read by its own thread into a list,
// with a receive buffer large enough for the relay's bursts.
class Sink {
public:
    explicit Sink(const char* ip = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int size = 8 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        const sockaddr_in local = testing::Loopback(0, ip);
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~Sink() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    bool Ok() const { return fd_ >= 0; }
    uint16_t Port() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
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
    void Run() {
        std::string buffer(65536, '\0');
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1) continue;
            const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (got < 0) continue;
            std::lock_guard lock(mutex_);
            received_.emplace_back(buffer.data(), size_t(got));
        }
    }

    int fd_ = -1;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// rsyslogd with its own configuration in a temp folder: one UDP input per
// receiver on a free loopback port, each writing the raw text of what it gets
// to its own file, one line per datagram.
class Rsyslog {
public:
    static constexpr const char* kBinary = "/usr/sbin/rsyslogd";
    static bool Installed() { return ::access(kBinary, X_OK) == 0; }

    explicit Rsyslog(int inputs) {
        fs::create_directory(dir_.path() / "work");
        std::ofstream conf(dir_.path() / "rsyslog.conf");
        conf << "global(workDirectory=\"" << (dir_.path() / "work").string() << "\" net.enableDNS=\"off\")\n"
             << "module(load=\"imudp\")\n"
             << "template(name=\"raw\" type=\"string\" string=\"%rawmsg%\\n\")\n";
        for (int i = 0; i < inputs; ++i) {
            ports_.push_back(FreePort());
            files_.push_back(dir_.path() / ("in" + std::to_string(i) + ".log"));
            conf << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << ports_.back() << "\" ruleset=\"r" << i
                 << "\" rcvbufSize=\"4m\")\n"
                 << "ruleset(name=\"r" << i << "\") {\n"
                 << "  action(type=\"omfile\" file=\"" << files_.back().string() << "\" template=\"raw\")\n"
                 << "}\n";
        }
        conf.close();
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{kBinary, "-n", "-f", (dir_.path() / "rsyslog.conf").string(), "-i",
                                     (dir_.path() / "rsyslogd.pid").string()},
            Output());
    }

    // Up once a probe sent to each input shows in its file.
    bool WaitReady(std::chrono::milliseconds timeout) {
        for (size_t i = 0; i < ports_.size(); ++i) {
            if (!Flush(i, timeout)) return false;
        }
        return true;
    }
    // Everything sent to input `i` before this call is in its file once the
    // probe sent now is (the input reads its socket in order).
    bool Flush(size_t i, std::chrono::milliseconds timeout) {
        const std::string probe = "<13>rsyslog probe " + std::to_string(++probes_);
        return WaitUntil(
            [&] {
                if (!process_->Alive()) return true;
                probe_.SendTo(ports_[i], probe);
                return WaitUntil([&] { return Contains(testing::ReadWholeFile(files_[i]), probe + "\n"); }, 100ms);
            },
            timeout) &&
               process_->Alive();
    }
    // The lines of input `i`'s file, without the probes.
    std::vector<std::string> Lines(size_t i) const {
        std::vector<std::string> out;
        std::istringstream text(testing::ReadWholeFile(files_[i]));
        for (std::string line; std::getline(text, line);)
            if (line.rfind("<13>rsyslog probe ", 0) != 0) out.push_back(line);
        return out;
    }
    bool WaitForLines(size_t i, size_t n, std::chrono::milliseconds timeout) const {
        return WaitUntil([&] { return Lines(i).size() >= n; }, timeout);
    }
    uint16_t Port(size_t i) const { return ports_[i]; }
    fs::path Output() const { return dir_.path() / "rsyslogd.txt"; }
    std::string Log() const { return testing::ReadWholeFile(Output()); }

private:
    testing::TempDir dir_{"qm-relay-rsyslog"};
    std::vector<uint16_t> ports_;
    std::vector<fs::path> files_;
    std::unique_ptr<ChildProcess> process_;
    UdpPeer probe_;
    int probes_ = 0;
};

RelayDestination To(uint16_t port, uint8_t mask = 0x30, const char* name = "127.0.0.1") {
    RelayDestination d;
    d.enable = 1;
    d.name = name;
    d.eventParam = mask;
    d.port = port;
    return d;
}

// A core with texts and an event core and a relay built on it directly.
class RelayFixture : public ::testing::Test {
protected:
    void SetUp() override {
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        relay_ = std::make_unique<RelayModule>(core_);
    }
    void TearDown() override {
        relay_.reset();
        core_.events->Shutdown();
    }

    // Sets the common block and the destinations and starts the relay; waits
    // for its worker to say it runs and to finish its first round.
    void StartRelay(uint32_t repeatMs, const std::vector<RelayDestination>& destinations) {
        RelayCommon common;
        common.enableService = true;
        common.sendTimeout = 1000;
        common.repeatTimeout = repeatMs;
        ASSERT_TRUE(relay_->SetCommon(common));
        for (const RelayDestination& d : destinations) ASSERT_TRUE(relay_->AddRecord(d));
        const size_t before = CountSystem("Служба пересылки запущена");
        ASSERT_TRUE(relay_->Start(Blocking::Yes));
        ASSERT_TRUE(WaitUntil([&] { return CountSystem("Служба пересылки запущена") > before; }, 3s));
        std::this_thread::sleep_for(50ms);  // the first round follows the report at once
    }

    void Submit(uint32_t type, const std::string& line, const char* sender = "10.0.0.9") {
        ASSERT_EQ(core_.events->Submit(type, core::kNoSeverity, line, testing::Loopback(514, sender)), core::kOk);
    }
    // `count` numbered External lines "<13><tag> <n>" from 10.0.0.9.
    void SubmitNumbered(const std::string& tag, int count) {
        for (int n = 0; n < count; ++n) Submit(core::kEventExternal, "<13>" + tag + " " + std::to_string(n));
    }
    void Settle() { ASSERT_TRUE(core_.events->Settle(5000)); }

    // Every record queued since the last call (a reader of its own, like a window).
    std::vector<EventRecord> Pull() {
        core_.events->Settle(5000);
        std::vector<EventRecord> out;
        core::QueueSlice slice;
        while (core_.events->ReadNext(reader_, Blocking::Yes, slice) == core::kOk) {
            for (const core::EventPtr& r : slice.Records()) out.push_back(*r);
            slice.Release();
        }
        for (const EventRecord& e : out) {
            if (e.type == core::kEventSystem) systemMessages_.push_back(e.message);
        }
        seen_.insert(seen_.end(), out.begin(), out.end());
        return out;
    }
    size_t CountSystem(std::string_view text) {
        Pull();
        return size_t(std::count_if(systemMessages_.begin(), systemMessages_.end(),
                                    [&](const std::string& m) { return Contains(m, text); }));
    }
    // The records seen so far whose raw text contains `part`, in queue order.
    std::vector<EventRecord> Seen(std::string_view part) {
        Pull();
        std::vector<EventRecord> out;
        for (const EventRecord& e : seen_)
            if (Contains(e.raw, part)) out.push_back(e);
        return out;
    }
    std::vector<std::string> ExpectedLines(std::string_view part) {
        std::vector<std::string> out;
        for (const EventRecord& e : Seen(part)) out.push_back(ExpectedLine(e));
        return out;
    }

    core::CoreContext core_;
    std::unique_ptr<RelayModule> relay_;
    core::ReaderState reader_;
    std::vector<std::string> systemMessages_;
    std::vector<EventRecord> seen_;
};

// --- The relay line -------------------------------------------------------

EventRecord Received(const std::string& raw, const std::string& sender) {
    EventRecord e;
    e.type = core::kEventExternal;
    e.raw = raw;
    e.sender = sender;
    e.time.year = 2026;
    e.time.month = 12;
    e.time.day = 5;
    e.time.dayOfWeek = 6;
    e.time.hour = 6;
    e.time.minute = 15;
    e.time.second = 30;
    e.time.milliseconds = 45;
    return e;
}

TEST(RelayLine, CarriesTheRawTextOriginalSenderAndTimeWithoutTerminator) {
    const std::string line = RelayLine(Received("<13>hello", "10.0.0.9"));
    EXPECT_EQ(line, "<13>hello|a2;10.0.0.9;5 12 2026 6 15 30 45;");
    EXPECT_EQ(line.size(), std::string_view("<13>hello|a2;10.0.0.9;5 12 2026 6 15 30 45;").size())
        << "no terminating NUL and no line end";

    EventRecord late = Received("<190>x", "255.255.255.255");
    late.time = {2099, 1, 0, 31, 23, 59, 59, 999};
    EXPECT_EQ(RelayLine(late), "<190>x|a2;255.255.255.255;31 1 2099 23 59 59 999;");
}

TEST(RelayLine, CyrillicAndLongRawTextComeThroughWhole) {
    if (platform::AnsiCharset() != "UTF-8") GTEST_SKIP() << "the locale's charset is " << platform::AnsiCharset();
    EXPECT_EQ(RelayLine(Received("<13>Привет, мир: ошибка диска", "10.0.0.9")),
              "<13>Привет, мир: ошибка диска|a2;10.0.0.9;5 12 2026 6 15 30 45;");
    const std::string longRaw = "<13>" + std::string(6000, 'L') + "Ж";
    EXPECT_EQ(RelayLine(Received(longRaw, "10.0.0.9")), longRaw + "|a2;10.0.0.9;5 12 2026 6 15 30 45;")
        << "a long line is not cut to any buffer";
}

TEST(RelayLine, OnlyExternalAndInternalLinesThatDidNotComeThroughARelayAreForwardable) {
    EventRecord e = Received("<13>hello", "10.0.0.9");
    EXPECT_TRUE(IsForwardable(e));
    e.type = core::kEventInternal;
    EXPECT_TRUE(IsForwardable(e));
    for (const uint32_t type : {uint32_t(core::kEventSystem), uint32_t(core::kEventArchive), 0u}) {
        e.type = type;
        EXPECT_FALSE(IsForwardable(e)) << type;
    }
    e.type = core::kEventExternal;
    e.relayed = true;
    EXPECT_FALSE(IsForwardable(e));
    e.relayed = false;
    e.raw.clear();
    EXPECT_FALSE(IsForwardable(e)) << "nothing to send";
}

// --- Destinations and event types, with rsyslog receiving ------------------

class RelayToRsyslog : public RelayFixture {
protected:
    void SetUp() override {
        if (!Rsyslog::Installed())
            GTEST_SKIP() << Rsyslog::kBinary << " is not installed (Debian package rsyslog): relaying to it not checked";
        RelayFixture::SetUp();
    }
};

TEST_F(RelayToRsyslog, EveryEventReachesEveryDestinationOnceAsItsExactLine) {
    Rsyslog rsyslog(2);
    ASSERT_TRUE(rsyslog.WaitReady(10s)) << rsyslog.Log();
    StartRelay(50, {To(rsyslog.Port(0)), To(rsyslog.Port(1))});

    Submit(core::kEventExternal, "<13>hello", "10.0.0.9");
    Submit(core::kEventExternal, "<14>Привет из цеха: насос 3 остановлен", "192.168.7.21");
    Submit(core::kEventExternal, "<134>Jan 15 10:20:30 host app[7]: a = b & c;  two spaces", "172.16.0.1");
    for (int n = 0; n < 20; ++n) Submit(core::kEventExternal, "<13>numbered " + std::to_string(n), "10.0.0.9");
    Settle();

    std::vector<std::string> expected;
    for (const EventRecord& e : Pull())
        if (e.type == core::kEventExternal) expected.push_back(ExpectedLine(e));
    ASSERT_EQ(expected.size(), 23u);
    EXPECT_EQ(expected[0].substr(0, 22), "<13>hello|a2;10.0.0.9;");
    EXPECT_EQ(expected[1].rfind("<14>Привет из цеха: насос 3 остановлен|a2;192.168.7.21;", 0), 0u) << expected[1];

    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE("receiver " + std::to_string(i));
        ASSERT_TRUE(rsyslog.WaitForLines(i, expected.size(), 5s)) << rsyslog.Lines(i).size();
        ASSERT_TRUE(rsyslog.Flush(i, 5s));
        EXPECT_EQ(rsyslog.Lines(i), expected) << "one datagram per event, in order, byte for byte";
    }
    EXPECT_EQ(relay_->Forwarded(), 2 * expected.size());
    EXPECT_EQ(relay_->ErrorCount(), 0u);
}

TEST_F(RelayToRsyslog, TypeMaskSelectsInternalOrExternalEvents) {
    Rsyslog rsyslog(3);
    ASSERT_TRUE(rsyslog.WaitReady(10s)) << rsyslog.Log();
    StartRelay(50, {To(rsyslog.Port(0), 0x10), To(rsyslog.Port(1), 0x20), To(rsyslog.Port(2), 0x30)});

    for (int n = 0; n < 5; ++n) {
        Submit(core::kEventInternal, "<14>poller reading " + std::to_string(n), "10.1.1.1");
        Submit(core::kEventExternal, "<13>datagram " + std::to_string(n), "10.2.2.2");
    }
    Settle();
    const std::vector<std::string> internal = ExpectedLines("poller reading");
    const std::vector<std::string> external = ExpectedLines("datagram");
    ASSERT_EQ(internal.size(), 5u);
    ASSERT_EQ(external.size(), 5u);
    std::vector<std::string> both;
    for (const EventRecord& e : seen_)
        if (e.type == core::kEventInternal || e.type == core::kEventExternal) both.push_back(ExpectedLine(e));

    ASSERT_TRUE(rsyslog.WaitForLines(2, 10, 5s));
    for (size_t i = 0; i < 3; ++i) ASSERT_TRUE(rsyslog.Flush(i, 5s));
    EXPECT_EQ(rsyslog.Lines(0), internal) << "0x10: Internal events only";
    EXPECT_EQ(rsyslog.Lines(1), external) << "0x20: External events only";
    EXPECT_EQ(rsyslog.Lines(2), both);
    EXPECT_EQ(relay_->Forwarded(), 20u);
}

TEST_F(RelayToRsyslog, RelayedSystemAndArchiveEventsAreNeverSent) {
    Rsyslog rsyslog(1);
    ASSERT_TRUE(rsyslog.WaitReady(10s)) << rsyslog.Log();
    StartRelay(50, {To(rsyslog.Port(0), 0xFF)});  // every type bit: the exclusion is not the mask's doing

    Submit(core::kEventExternal, "<13>came through a relay|a2;10.9.9.9;1 2 2026 3 4 5 6;");
    Submit(core::kEventInternal, "<13>internal through a relay|a2;10.9.9.9;1 2 2026 3 4 5 6;");
    ASSERT_EQ(core_.events->Report(6, "system event text"), core::kOk);
    ASSERT_EQ(core_.Report(4, 173, "mod_test", 5), core::kOk);
    Submit(core::kEventArchive, "<13>reloaded from the log files");
    Submit(core::kEventArchive, "<13>archived relay line|a2;10.9.9.9;1 2 2026 3 4 5 6;");
    Submit(core::kEventExternal, "<13>closing line");
    Settle();

    const std::vector<EventRecord> relayed = Seen("through a relay");
    ASSERT_EQ(relayed.size(), 2u);
    for (const EventRecord& e : relayed) {
        EXPECT_TRUE(e.relayed);
        EXPECT_EQ(e.sender, "10.9.9.9");
    }
    ASSERT_EQ(Seen("reloaded from").size(), 1u);
    const std::vector<std::string> closing = ExpectedLines("closing line");
    ASSERT_EQ(closing.size(), 1u);

    ASSERT_TRUE(rsyslog.WaitForLines(0, 1, 5s));
    std::this_thread::sleep_for(150ms);  // three more rounds
    ASSERT_TRUE(rsyslog.Flush(0, 5s));
    EXPECT_EQ(rsyslog.Lines(0), closing);
    EXPECT_EQ(relay_->Forwarded(), 1u);
}

// --- Starting and stopping ---------------------------------------------------

using RelayService = RelayFixture;

TEST_F(RelayService, DisabledServiceReportsAndSendsNothing) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    RelayCommon common;
    common.enableService = false;
    common.repeatTimeout = 20;
    ASSERT_TRUE(relay_->SetCommon(common));
    ASSERT_TRUE(relay_->AddRecord(To(sink.Port())));
    EXPECT_FALSE(relay_->Start(Blocking::Yes));
    EXPECT_TRUE(WaitUntil([&] { return CountSystem("Служба пересылки отключена") == 1; }, 3s));
    EXPECT_EQ(CountSystem("Служба пересылки запущена"), 0u);

    SubmitNumbered("while disabled", 10);
    Settle();
    EXPECT_TRUE(sink.StaysAt(0, 300ms));
    EXPECT_EQ(relay_->Forwarded(), 0u);
    EXPECT_FALSE(relay_->Stop(Blocking::Yes)) << "nothing was running";
}

TEST_F(RelayService, SecondStartIsRefusedAndEventsAreSentOnce) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    StartRelay(20, {To(sink.Port())});
    EXPECT_FALSE(relay_->Start(Blocking::Yes));
    EXPECT_FALSE(relay_->Start(Blocking::Yes));

    SubmitNumbered("once", 50);
    Settle();
    const std::vector<std::string> expected = ExpectedLines("once");
    ASSERT_TRUE(sink.WaitForCount(50, 3s));
    EXPECT_TRUE(sink.StaysAt(50, 200ms)) << "a second worker would send everything twice";
    EXPECT_EQ(sink.Received(), expected);
    EXPECT_EQ(CountSystem("Служба пересылки запущена"), 1u);
}

// The worker's rounds follow the repeat timeout even when its first try for
// the module's lock collides with someone holding it (the starting thread
// itself, or a settings dialog that applies and restarts).
TEST_F(RelayService, ABusyLockAtTheStartDelaysForwardingOnlyBriefly) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    RelayCommon common;
    common.enableService = true;
    common.repeatTimeout = 20;
    ASSERT_TRUE(relay_->SetCommon(common));
    ASSERT_TRUE(relay_->AddRecord(To(sink.Port())));
    relay_->Lock().Enter();
    const bool started = relay_->Start(Blocking::Yes);
    std::this_thread::sleep_for(50ms);
    relay_->Lock().Leave();
    ASSERT_TRUE(started);
    ASSERT_TRUE(WaitUntil([&] { return CountSystem("Служба пересылки запущена") == 1; }, 3s));

    Submit(core::kEventExternal, "<13>right after the start");
    Settle();
    const auto submitted = testing::Clock::now();
    ASSERT_TRUE(sink.WaitForCount(1, 5s));
    EXPECT_LT(testing::Clock::now() - submitted, 500ms) << "with a repeat timeout of 20 ms";
}

TEST_F(RelayService, OnlyEventsArrivingAfterTheStartAreForwarded) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    SubmitNumbered("before the start", 30);
    Settle();
    StartRelay(20, {To(sink.Port())});
    SubmitNumbered("after the start", 30);
    Settle();
    const std::vector<std::string> expected = ExpectedLines("after the start");
    ASSERT_EQ(expected.size(), 30u);
    ASSERT_TRUE(sink.WaitForCount(30, 3s));
    EXPECT_TRUE(sink.StaysAt(30, 150ms));
    EXPECT_EQ(sink.Received(), expected);
}

TEST_F(RelayService, StopEndsForwardingAndARestartTakesOnlyNewEvents) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    StartRelay(20, {To(sink.Port())});
    SubmitNumbered("first run", 10);
    Settle();
    ASSERT_TRUE(sink.WaitForCount(10, 3s));

    EXPECT_TRUE(relay_->Stop(Blocking::Yes));
    EXPECT_TRUE(WaitUntil([&] { return CountSystem("Служба пересылки остановлена") == 1; }, 3s));
    EXPECT_FALSE(relay_->Stop(Blocking::Yes));
    SubmitNumbered("while stopped", 10);
    Settle();
    EXPECT_TRUE(sink.StaysAt(10, 150ms));

    ASSERT_TRUE(relay_->Start(Blocking::Yes));
    ASSERT_TRUE(WaitUntil([&] { return CountSystem("Служба пересылки запущена") == 2; }, 3s));
    std::this_thread::sleep_for(50ms);
    SubmitNumbered("second run", 10);
    Settle();
    ASSERT_TRUE(sink.WaitForCount(20, 3s));
    EXPECT_TRUE(sink.StaysAt(20, 150ms));
    std::vector<std::string> expected = ExpectedLines("first run");
    const std::vector<std::string> second = ExpectedLines("second run");
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(sink.Received(), expected);
}

// --- Catching up before a drain ----------------------------------------------

using RelayCatchUp = RelayFixture;

TEST_F(RelayCatchUp, DrainByAnotherReaderLosesNothingTheRelayHadNotRead) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    StartRelay(60000, {To(sink.Port())});  // no round of its own during the test

    SubmitNumbered("burst one", 500);
    Settle();
    EXPECT_TRUE(sink.StaysAt(0, 200ms)) << "the worker is asleep until woken";
    const std::vector<std::string> first = ExpectedLines("burst one");
    ASSERT_EQ(first.size(), 500u);

    // What the event database does: take the whole queue.
    std::vector<core::EventPtr> drained;
    ASSERT_EQ(core_.events->Drain(drained, Blocking::Yes), core::kOk);
    EXPECT_GE(drained.size(), 500u);

    SubmitNumbered("burst two", 300);
    Settle();
    const std::vector<std::string> second = ExpectedLines("burst two");
    ASSERT_EQ(second.size(), 300u);
    relay_->Wake();
    ASSERT_TRUE(sink.WaitForCount(800, 5s)) << sink.Count();
    EXPECT_TRUE(sink.StaysAt(800, 100ms));

    std::vector<std::string> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(sink.Received(), expected) << "each event once, in order";
}

TEST_F(RelayCatchUp, ABacklogOfManySlicesGoesOutInOneRound) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    StartRelay(60000, {To(sink.Port())});
    SubmitNumbered("backlog", 2500);
    Settle();
    EXPECT_TRUE(sink.StaysAt(0, 100ms));
    relay_->Wake();  // one round
    ASSERT_TRUE(sink.WaitForCount(2500, 5s)) << "a round reads full slices back to back; got " << sink.Count();
    EXPECT_EQ(sink.Received(), ExpectedLines("backlog"));
}

TEST_F(RelayCatchUp, ShortRepeatTimeoutForwardsALargeBurstWhole) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    StartRelay(10, {To(sink.Port())});
    SubmitNumbered("one go", 2500);
    Settle();
    ASSERT_TRUE(sink.WaitForCount(2500, 5s)) << sink.Count();
    EXPECT_TRUE(sink.StaysAt(2500, 100ms));
    EXPECT_EQ(sink.Received(), ExpectedLines("one go"));
}

// A drain can win the queue lock while the relay's worker, in the middle of a
// round, holds its own lock and waits for the queue: what it has not read yet
// must still go out, ahead of what comes after the drain.
TEST_F(RelayCatchUp, DrainThatOvertakesARoundInProgressLosesNothing) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    StartRelay(60000, {To(sink.Port())});
    SubmitNumbered("overtaken round", 200);
    Settle();
    const std::vector<std::string> first = ExpectedLines("overtaken round");
    ASSERT_EQ(first.size(), 200u);

    // Hold the queue as a window reading it would, and let the worker start a
    // round: it takes its lock and waits for the queue.
    core::QueueSlice window;
    ASSERT_EQ(core_.events->ReadSlice(0, Blocking::Yes, window), core::kOk);
    relay_->Wake();
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (!relay_->Lock().TryEnter()) return true;
            relay_->Lock().Leave();
            return false;
        },
        3s))
        << "the worker did not start its round";
    // The drain gets the queue first (this thread already holds it).
    std::vector<core::EventPtr> drained;
    ASSERT_EQ(core_.events->Drain(drained, Blocking::Yes), core::kOk);
    EXPECT_GE(drained.size(), 200u);
    window.Release();

    SubmitNumbered("after the overtaking drain", 100);
    Settle();
    const std::vector<std::string> second = ExpectedLines("after the overtaking drain");
    relay_->Wake();
    ASSERT_TRUE(sink.WaitForCount(300, 3s)) << "only " << sink.Count() << " of 300 arrived";
    EXPECT_TRUE(sink.StaysAt(300, 50ms));
    std::vector<std::string> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(sink.Received(), expected) << "each once, the overtaken ones first";
}

// The same with the relay's lock held by someone else, a settings dialog say.
TEST_F(RelayCatchUp, DrainWhileTheRelaysLockIsTakenLosesNothing) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    StartRelay(60000, {To(sink.Port())});
    SubmitNumbered("during a busy lock", 200);
    Settle();
    const std::vector<std::string> first = ExpectedLines("during a busy lock");
    ASSERT_EQ(first.size(), 200u);

    std::promise<void> held, release;
    std::thread holder([&] {
        relay_->Lock().Enter();
        held.set_value();
        release.get_future().wait();
        relay_->Lock().Leave();
    });
    held.get_future().wait();
    std::vector<core::EventPtr> drained;
    const int drainResult = core_.events->Drain(drained, Blocking::Yes);
    release.set_value();
    holder.join();
    ASSERT_EQ(drainResult, core::kOk);

    SubmitNumbered("after the busy drain", 100);
    Settle();
    const std::vector<std::string> second = ExpectedLines("after the busy drain");
    relay_->Wake();
    ASSERT_TRUE(sink.WaitForCount(300, 3s)) << "only " << sink.Count() << " of 300 arrived";
    std::vector<std::string> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(sink.Received(), expected);
}

// The same race as it happens in the program: a reader draining often while
// the relay forwards long rounds and a window keeps reading the queue, so the
// relay often waits for the queue lock with its own lock held.
TEST_F(RelayCatchUp, FrequentDrainsDuringLongRoundsLoseNothing) {
    Sink sink;
    ASSERT_TRUE(sink.Ok());
    StartRelay(1, {To(sink.Port())});
    std::atomic<bool> stop{false};
    std::atomic<size_t> drains{0};
    std::thread drainer([&] {
        std::vector<core::EventPtr> out;
        while (!stop) {
            if (core_.events->Drain(out, Blocking::Yes) == core::kOk) ++drains;
            std::this_thread::sleep_for(std::chrono::microseconds(10));
        }
    });
    std::thread window([&] {
        core::QueueSlice slice;
        while (!stop) {
            if (core_.events->ReadSlice(0, Blocking::Yes, slice) == core::kOk) {
                std::this_thread::sleep_for(std::chrono::microseconds(2000));
                slice.Release();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(10));
        }
    });
    constexpr int kTotal = 12000;
    for (int n = 0; n < kTotal; n += 600) {
        for (int k = n; k < n + 600; ++k) Submit(core::kEventExternal, "<13>drained often " + std::to_string(k));
        core_.events->Settle(5000);
    }
    const bool all = sink.WaitForCount(kTotal, 5s);
    stop = true;
    drainer.join();
    window.join();
    EXPECT_TRUE(all) << "only " << sink.Count() << " of " << kTotal << " arrived with " << drains << " drains";
    std::map<int, int> seen;
    for (const std::string& line : sink.Received()) {
        const size_t at = line.find("drained often ");
        ASSERT_NE(at, std::string::npos) << line;
        ++seen[std::stoi(line.substr(at + 14))];
    }
    int missing = 0, doubled = 0;
    for (int n = 0; n < kTotal; ++n) {
        missing += seen[n] == 0;
        doubled += seen[n] > 1;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(doubled, 0);
}

// --- Destinations that cannot be used -----------------------------------------

using RelayDestinations = RelayFixture;

TEST_F(RelayDestinations, AddressThatIsNotDottedIpv4FailsIsCountedAndOthersStillReceive) {
    Sink first, last;
    ASSERT_TRUE(first.Ok() && last.Ok());
    StartRelay(20, {To(first.Port()), To(514, 0x30, "example.org"), To(514, 0x30, "256.1.1.1"), To(last.Port())});
    SubmitNumbered("past a bad destination", 10);
    Settle();
    const std::vector<std::string> expected = ExpectedLines("past a bad destination");
    ASSERT_TRUE(first.WaitForCount(10, 3s));
    ASSERT_TRUE(last.WaitForCount(10, 3s));
    EXPECT_EQ(first.Received(), expected);
    EXPECT_EQ(last.Received(), expected);
    EXPECT_EQ(relay_->ErrorCount(), 20u) << "one failed send per event and bad destination";
    EXPECT_EQ(relay_->Forwarded(), 20u);
    EXPECT_EQ(core_.counters.datagramsSent.load(), 20u);
}

TEST_F(RelayDestinations, DisabledAndDeletedDestinationsGetNothing) {
    Sink live, disabled, deleted, wide;
    ASSERT_TRUE(live.Ok() && disabled.Ok() && deleted.Ok() && wide.Ok());
    RelayDestination off = To(disabled.Port());
    off.enable = 0;
    // Only the port's low 16 bits count.
    RelayDestination widePort = To(wide.Port());
    widePort.port = 0x50000u | wide.Port();
    StartRelay(20, {To(live.Port()), off, To(deleted.Port()), widePort});
    ASSERT_TRUE(relay_->DeleteRecord(2));
    SubmitNumbered("live only", 5);
    Settle();
    ASSERT_TRUE(live.WaitForCount(5, 3s));
    ASSERT_TRUE(wide.WaitForCount(5, 3s));
    EXPECT_TRUE(live.StaysAt(5, 100ms));
    EXPECT_EQ(disabled.Count(), 0u);
    EXPECT_EQ(deleted.Count(), 0u);
    EXPECT_EQ(relay_->ErrorCount(), 0u);
}

// --- The settings file ---------------------------------------------------------

TEST(RelayWithCore, TheSettingsFileStartsTheRelayAndIsSavedBack) {
    testing::TempDir home("qm-relay-home");
    fs::create_directories(home.path() / "Settings");
    Sink internalOnly, both;
    ASSERT_TRUE(internalOnly.Ok() && both.Ok());
    const fs::path file = home.path() / "Settings" / "mod_relay.ini";
    {
        platform::ProfileFile ini;
        const char* s = "mod_relay";
        ini.WriteString(s, "Version", "2");
        ini.WriteStruct(s, "Common.EnableService", std::vector<uint8_t>{1});
        ini.WriteStruct(s, "Common.SendTimeout", LittleEndian(700));
        ini.WriteStruct(s, "Common.RepeatTimeout", LittleEndian(30));
        ini.WriteStruct(s, "ItemCount", LittleEndian(2));
        const std::pair<uint16_t, uint8_t> items[] = {{internalOnly.Port(), 0x10}, {both.Port(), 0x30}};
        for (uint32_t i = 0; i < 2; ++i) {
            const std::string p = "Item." + std::to_string(i) + "-";
            ini.WriteStruct(s, p + "Enable", std::vector<uint8_t>{1});
            ini.WriteString(s, p + "StrName", "127.0.0.1");
            ini.WriteStruct(s, p + "EventParam", std::vector<uint8_t>{items[i].second});
            ini.WriteStruct(s, p + "Port", LittleEndian(items[i].first));
        }
        ASSERT_TRUE(ini.Save(file));
    }

    const core::ModuleDescriptor catalog[] = {{core::kModuleRelay, "Module: Relay", "mod_relay", true, CreateRelayModule}};
    {
        core::CoreContext core;
        core.paths = core::Paths::Build(home.path() / "quillmark", home.path());
        core.catalog = catalog;
        core::CoreStart(core);
        auto* relay = core.registry->FindAs<RelayModule>(core::kModuleRelay);
        ASSERT_NE(relay, nullptr);
        const std::optional<RelayCommon> common = relay->Common();
        ASSERT_TRUE(common);
        EXPECT_TRUE(common->enableService);
        EXPECT_EQ(common->sendTimeout, 700u);
        EXPECT_EQ(common->repeatTimeout, 30u);
        const std::optional<RelayDestination> second = relay->Record(1);
        ASSERT_TRUE(second);
        EXPECT_EQ(second->name, "127.0.0.1");
        EXPECT_EQ(second->eventParam, 0x30);
        EXPECT_EQ(second->Port(), both.Port());
        EXPECT_FALSE(relay->Start(Blocking::Yes)) << "started by the core already";

        ASSERT_EQ(core.events->Submit(core::kEventInternal, core::kNoSeverity, "<14>from the settings file",
                                      testing::Loopback(514, "10.3.3.3")),
                  core::kOk);
        ASSERT_EQ(core.events->Submit(core::kEventExternal, core::kNoSeverity, "<13>external one",
                                      testing::Loopback(514, "10.3.3.3")),
                  core::kOk);
        core.events->Settle(5000);
        ASSERT_TRUE(both.WaitForCount(2, 3s));
        ASSERT_TRUE(internalOnly.WaitForCount(1, 3s));
        EXPECT_TRUE(internalOnly.StaysAt(1, 100ms));
        EXPECT_EQ(internalOnly.Received()[0].rfind("<14>from the settings file|a2;10.3.3.3;", 0), 0u);
        core::CoreShutdown(core);
    }
    EXPECT_EQ(both.Count(), 2u);

    const platform::ProfileFile saved = platform::ProfileFile::Load(file);
    EXPECT_EQ(saved.ReadStruct("mod_relay", "Common.EnableService", 1), std::vector<uint8_t>{1});
    EXPECT_EQ(saved.ReadStruct("mod_relay", "Common.RepeatTimeout", 4), LittleEndian(30));
    EXPECT_EQ(saved.ReadStruct("mod_relay", "Common.SendTimeout", 4), LittleEndian(700));
    EXPECT_EQ(saved.ReadStruct("mod_relay", "ItemCount", 4), LittleEndian(2));
    EXPECT_EQ(saved.ReadString("mod_relay", "Item.1-StrName", 32), "127.0.0.1");
    EXPECT_EQ(saved.ReadStruct("mod_relay", "Item.0-EventParam", 1), std::vector<uint8_t>{0x10});
    EXPECT_EQ(saved.ReadStruct("mod_relay", "Item.1-Port", 4), LittleEndian(both.Port()));
}

// --- Through a second instance of the program ---------------------------------

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
    return lines;
}

// Sends "$$$HI" until the collector answers: it is up and has taken everything
// that reached its socket before.
bool Handshake(const UdpPeer& peer, uint16_t port, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
            if (!peer.SendTo(port, "$$$HI")) return false;
            for (;;) {
                const std::optional<std::string> reply = peer.Receive(200ms);
                if (!reply) return false;
                if (*reply == "$$$OK [QMK 3.2.0]") return true;
            }
        },
        timeout);
}

using RelayRoundTrip = RelayFixture;

TEST_F(RelayRoundTrip, ASecondInstanceStoresTheFirstSenderAndTimeNotTheRelays) {
    testing::TempDir dir("qm-relay-roundtrip");
    const fs::path home = dir.path() / "home";
    fs::create_directories(home);
    fs::copy(fs::path(QM_SOURCE_DIR) / "resources" / "default-home" / "Settings", home / "Settings",
             fs::copy_options::recursive);
    const uint16_t port = FreePort();
    ASSERT_NE(port, 0);
    {
        const fs::path path = home / "Settings" / "mod_collector.ini";
        platform::ProfileFile ini = platform::ProfileFile::Load(path);
        ini.WriteString("mod_collector", "Item.0-StrName", "127.0.0.1");
        ini.WriteStruct("mod_collector", "Item.0-Port", LittleEndian(port));
        ASSERT_TRUE(ini.Save(path));
    }

    // The events come "from" addresses that are not the relay's, and are
    // forwarded more than a second after they arrived here.
    StartRelay(60000, {To(port)});
    Submit(core::kEventExternal, "<13>round trip one", "10.20.30.40");
    Submit(core::kEventExternal, "<30>round trip Кириллица", "192.0.2.77");
    Settle();
    std::vector<std::string> expected = ExpectedLines("round trip");
    ASSERT_EQ(expected.size(), 2u);
    const auto arrived = testing::Clock::now();

    const fs::path output = dir.path() / "output.txt";
    ChildProcess program({QM_BINARY}, output, {"QUILLMARK_HOME=" + home.string(), "PATH=/usr/bin:/bin"});
    ASSERT_TRUE(program.Started());
    UdpPeer peer;
    ASSERT_TRUE(Handshake(peer, port, 10s)) << testing::ReadWholeFile(output);
    std::this_thread::sleep_until(arrived + 1100ms);
    relay_->Wake();
    ASSERT_TRUE(WaitUntil([&] { return relay_->Forwarded() == 2; }, 3s));
    ASSERT_TRUE(Handshake(peer, port, 5s));
    ASSERT_TRUE(program.Signal(SIGTERM));
    ASSERT_EQ(program.Exit(5s), 0) << testing::ReadWholeFile(output);

    std::vector<std::string> stored = LogLines(home / "Logs" / "log_last.log");
    std::erase_if(stored, [](const std::string& line) { return !Contains(line, "round trip"); });
    std::sort(stored.begin(), stored.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stored, expected) << "stored with the first sender and the time it first arrived";
    for (const std::string& line : stored) EXPECT_FALSE(Contains(line, "|a2;127.0.0.1;")) << line;
}

}  // namespace
}  // namespace qm::transport
