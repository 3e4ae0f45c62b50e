// The syslog collector on real loopback sockets: what real senders' lines
// become, the control exchange, odd datagrams, starting and stopping, the
// server check, and lines forwarded by rsyslog.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <future>
#include <memory>
#include <set>
#include <thread>

#include "core/core_context.h"
#include "core/string_table.h"
#include "platform/profile_file.h"
#include "support/temp_dir.h"
#include "transport/collector/collector_module.h"
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
bool StartsWith(const std::string& text, std::string_view part) { return text.rfind(part, 0) == 0; }

// Everything the event core has queued so far, read the way a window reads it.
class EventLog {
public:
    explicit EventLog(core::EventCore& events) : events_(events) {}

    const std::vector<EventRecord>& Pull() {
        events_.Settle(2000);
        core::QueueSlice slice;
        while (events_.ReadNext(reader_, Blocking::Yes, slice) == core::kOk) {
            for (const core::EventPtr& r : slice.Records()) seen_.push_back(*r);
            slice.Release();
        }
        return seen_;
    }
    std::vector<EventRecord> Matching(const std::function<bool(const EventRecord&)>& match) {
        std::vector<EventRecord> out;
        for (const EventRecord& e : Pull())
            if (match(e)) out.push_back(e);
        return out;
    }
    std::optional<EventRecord> WaitFor(const std::function<bool(const EventRecord&)>& match,
                                       std::chrono::milliseconds timeout = 3s) {
        std::optional<EventRecord> found;
        WaitUntil(
            [&] {
                for (const EventRecord& e : Pull())
                    if (match(e)) {
                        found = e;
                        return true;
                    }
                return false;
            },
            timeout);
        return found;
    }
    std::optional<EventRecord> WaitForSystem(std::string_view text, std::chrono::milliseconds timeout = 3s) {
        return WaitFor([&](const EventRecord& e) { return e.type == core::kEventSystem && Contains(e.message, text); },
                       timeout);
    }
    std::optional<EventRecord> WaitForMessage(std::string_view text, std::chrono::milliseconds timeout = 3s) {
        return WaitFor([&](const EventRecord& e) { return e.type == core::kEventExternal && Contains(e.message, text); },
                       timeout);
    }
    size_t CountSystem(std::string_view text) {
        return Matching([&](const EventRecord& e) { return e.type == core::kEventSystem && Contains(e.message, text); })
            .size();
    }
    size_t CountExternal() {
        return Matching([](const EventRecord& e) { return e.type == core::kEventExternal; }).size();
    }

private:
    core::EventCore& events_;
    core::ReaderState reader_;
    std::vector<EventRecord> seen_;
};

ListenerRecord LocalListener(uint16_t port = 0, uint8_t param = 0) {
    ListenerRecord r;
    r.enable = true;
    r.name = "127.0.0.1";
    r.port = port;
    r.param = param;
    r.recvTimeout = 100;
    r.sendTimeout = 100;
    return r;
}

// A core with texts and an event core, and a collector module built on it
// directly (no settings files).
class Collector : public ::testing::Test {
protected:
    void SetUp() override {
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        log_ = std::make_unique<EventLog>(*core_.events);
        module_ = std::make_unique<CollectorModule>(core_);
    }
    void TearDown() override {
        module_.reset();
        log_.reset();
        core_.events->Shutdown();
    }

    // Starts one listener and waits for its thread to say so; its bound port.
    uint16_t StartOne(const ListenerRecord& record, CollectorCommon common = {}) {
        EXPECT_TRUE(module_->SetCommon(common));
        const std::optional<size_t> index = module_->AddRecord(record);
        EXPECT_TRUE(index.has_value());
        const size_t startedBefore = log_->CountSystem("запущен");
        EXPECT_TRUE(module_->Start(Blocking::Yes));
        const uint16_t port = module_->BoundPort(index.value_or(0));
        EXPECT_NE(port, 0);
        EXPECT_TRUE(WaitUntil([&] { return log_->CountSystem("запущен") > startedBefore; }, 3s));
        return port;
    }

    core::CoreContext core_;
    std::unique_ptr<EventLog> log_;
    std::unique_ptr<CollectorModule> module_;
};

TEST_F(Collector, LoggerLinesBecomeExternalEventsWithTheirPriority) {
    const uint16_t port = StartOne(LocalListener());
    struct Case {
        const char* priority;
        uint32_t severity;
        uint32_t facility;
    };
    // util-linux logger does not send the kernel facility: kern goes out as user.
    const Case cases[] = {{"user.notice", 5, 1}, {"local7.debug", 7, 23}, {"kern.emerg", 0, 1}, {"auth.err", 3, 4}};
    const std::string portText = std::to_string(port);
    testing::TempDir dir("qm-logger");
    for (const char* mode : {"--rfc3164", "--rfc5424"}) {
        for (const Case& c : cases) {
            const std::string text = std::string("quillmark check ") + (mode + 2) + " " + c.priority;
            ChildProcess logger({"logger", "-n", "127.0.0.1", "-P", portText, "-d", mode, "-p", c.priority, text},
                                dir.path() / "logger.txt");
            ASSERT_TRUE(logger.Started());
            ASSERT_EQ(logger.Exit(5s), 0) << testing::ReadWholeFile(dir.path() / "logger.txt");
            const std::optional<EventRecord> e = log_->WaitForMessage(text);
            ASSERT_TRUE(e) << mode << " " << c.priority;
            EXPECT_EQ(e->type, core::kEventExternal);
            EXPECT_EQ(e->severity, c.severity) << mode << " " << c.priority;
            EXPECT_EQ(e->facility, c.facility) << mode << " " << c.priority;
            EXPECT_EQ(e->sender, "127.0.0.1");
            EXPECT_FALSE(e->relayed);
            EXPECT_TRUE(StartsWith(e->raw, "<" + std::to_string(c.facility * 8 + c.severity) + ">")) << e->raw;
            EXPECT_TRUE(Contains(e->raw, text));
        }
    }
    EXPECT_EQ(log_->CountExternal(), 8u);
    EXPECT_EQ(core_.counters.datagramsReceived.load(), 8u);
}

TEST_F(Collector, HelloIsAnsweredWhateverTheServerCheck) {
    const std::string ok = Listener::OkReply();
    EXPECT_EQ(ok, "$$$OK [QMK 3.2.0]");
    for (const uint8_t param : {uint8_t(0), uint8_t(kServerCheck), uint8_t(kServerCheck | kPacketFilter)}) {
        SCOPED_TRACE(int(param));
        ListenerRecord record = LocalListener(0, param);
        record.server = "127.0.0.2";  // nobody there; the check period is far longer than this test
        module_ = std::make_unique<CollectorModule>(core_);
        const uint64_t sentBefore = core_.counters.datagramsSent.load();
        const uint64_t sentBytesBefore = core_.counters.bytesSent.load();
        const uint16_t port = StartOne(record);

        UdpPeer client;
        for (const char* hello : {"$$$HI", "$$$HIxyz"}) {
            ASSERT_TRUE(client.SendTo(port, hello));
            sockaddr_in from{};
            const std::optional<std::string> reply = client.Receive(2s, &from);
            ASSERT_TRUE(reply) << hello;
            EXPECT_EQ(*reply, ok) << hello;
            EXPECT_EQ(ntohs(from.sin_port), port);
        }
        EXPECT_FALSE(client.Receive(100ms)) << "one answer per hello";
        EXPECT_EQ(core_.counters.datagramsSent.load() - sentBefore, 2u);
        EXPECT_EQ(core_.counters.bytesSent.load() - sentBytesBefore, 2 * ok.size());
    }
    EXPECT_EQ(log_->CountExternal(), 0u);
}

TEST_F(Collector, ControlDatagramsNeverBecomeEvents) {
    const uint16_t port = StartOne(LocalListener());
    UdpPeer client;
    const uint64_t intakeBefore = core_.events->MessageCounter();
    const uint64_t receivedBefore = core_.counters.datagramsReceived.load();
    const uint64_t bytesBefore = core_.counters.bytesReceived.load();
    const std::vector<std::string> control = {"$$$OK", "$$$OK [QMK 3.2.0]", "$$$XY", "$$$ok", "$$$HE", "$$$<13>x"};
    size_t controlBytes = 0;
    for (const std::string& c : control) {
        ASSERT_TRUE(client.SendTo(port, c));
        controlBytes += c.size();
    }
    const std::string closing = "<13>after the control datagrams";
    ASSERT_TRUE(client.SendTo(port, closing));
    ASSERT_TRUE(log_->WaitForMessage("after the control datagrams"));
    log_->Pull();
    EXPECT_EQ(log_->CountExternal(), 1u);
    // Not even handed to the intake: only the closing line was.
    EXPECT_EQ(core_.events->MessageCounter() - intakeBefore, 1u);
    EXPECT_EQ(core_.counters.datagramsReceived.load() - receivedBefore, control.size() + 1);
    EXPECT_EQ(core_.counters.bytesReceived.load() - bytesBefore, controlBytes + closing.size());
    EXPECT_EQ(core_.counters.datagramsSent.load(), 0u);
    EXPECT_FALSE(client.Receive(50ms)) << "only a hello is answered";
}

TEST_F(Collector, PacketFilterPassesOnlyDatagramsThatBeginWithAPriority) {
    for (const bool filter : {true, false}) {
        SCOPED_TRACE(filter ? "filter on" : "filter off");
        module_ = std::make_unique<CollectorModule>(core_);
        const uint16_t port = StartOne(LocalListener(0, filter ? kPacketFilter : 0));
        log_->Pull();
        const size_t externalBefore = log_->CountExternal();
        const uint64_t intakeBefore = core_.events->MessageCounter();
        const uint64_t receivedBefore = core_.counters.datagramsReceived.load();
        const uint64_t bytesBefore = core_.counters.bytesReceived.load();

        UdpPeer client;
        const std::string tag = filter ? "on" : "off";
        const std::vector<std::string> sent = {"$$$H", "<13>", " <13>leading blank " + tag, "<13>xy",
                                               "plain " + tag, "<13>closing " + tag};
        size_t bytes = 0;
        for (const std::string& s : sent) {
            ASSERT_TRUE(client.SendTo(port, s));
            bytes += s.size();
        }
        ASSERT_TRUE(log_->WaitForMessage("closing " + tag));
        log_->Pull();
        EXPECT_EQ(core_.counters.datagramsReceived.load() - receivedBefore, sent.size());
        EXPECT_EQ(core_.counters.bytesReceived.load() - bytesBefore, bytes);
        EXPECT_EQ(log_->Matching([](const EventRecord& e) { return e.message == "xy"; }).size(), filter ? 1u : 2u);
        if (filter) {
            // Only "<13>xy" and the closing line reach the intake: the
            // filter also wants more than a bare priority.
            EXPECT_EQ(core_.events->MessageCounter() - intakeBefore, 2u);
            EXPECT_EQ(log_->CountExternal() - externalBefore, 2u);
        } else {
            // All of them reach the intake ("$$$H" is too short to be a
            // control datagram); the parser keeps those with a priority, the
            // bare "<13>" as a record without a message.
            EXPECT_EQ(core_.events->MessageCounter() - intakeBefore, sent.size());
            EXPECT_TRUE(log_->WaitForMessage("leading blank off", 0ms));
            EXPECT_EQ(log_->CountExternal() - externalBefore, 4u);
        }
    }
    EXPECT_EQ(module_->Shared().submitRefused.load(), 0u);
}

TEST_F(Collector, OversizeDatagramsAreDroppedCountedAndReceivingGoesOn) {
    CollectorCommon common;
    common.bufferSize = 64;
    const uint16_t port = StartOne(LocalListener(), common);
    UdpPeer client;

    const std::string big = "<13>" + std::string(196, 'A');
    const std::string fits = "<13>" + std::string(60 - 4, 'F') + "64ok";  // exactly the buffer
    ASSERT_EQ(fits.size(), 64u);
    const std::string oneOver = "<13>" + std::string(65 - 4 - 6, 'G') + "65over";
    ASSERT_EQ(oneOver.size(), 65u);

    const auto sentAt = testing::Clock::now();
    ASSERT_TRUE(client.SendTo(port, big));
    ASSERT_TRUE(client.SendTo(port, "<13>right after the big one"));
    ASSERT_TRUE(log_->WaitForMessage("right after the big one", 2s));
    EXPECT_LT(testing::Clock::now() - sentAt, 2s) << "no error pause after an oversize datagram";

    const std::optional<EventRecord> report = log_->WaitForSystem("Проблемы при работе с сетью");
    ASSERT_TRUE(report);
    EXPECT_TRUE(StartsWith(report->message, "Проблемы при работе с сетью (mod_collector)")) << report->message;
    EXPECT_TRUE(Contains(report->message, "127.0.0.1")) << report->message;
    EXPECT_TRUE(Contains(report->message, "Код: " + std::to_string(EMSGSIZE))) << report->message;
    EXPECT_EQ(report->severity, 3u);
    EXPECT_EQ(module_->Shared().oversize.load(), 1u);

    ASSERT_TRUE(client.SendTo(port, fits));
    ASSERT_TRUE(client.SendTo(port, oneOver));
    ASSERT_TRUE(client.SendTo(port, big));
    ASSERT_TRUE(client.SendTo(port, "<13>after the boundary cases"));
    ASSERT_TRUE(log_->WaitForMessage("after the boundary cases"));
    log_->Pull();
    EXPECT_TRUE(log_->WaitForMessage("64ok", 0ms)) << "a datagram of exactly the buffer size is whole";
    EXPECT_FALSE(log_->WaitForMessage("65over", 0ms)) << "nor is one byte more cut to size";
    EXPECT_FALSE(log_->WaitForMessage("AAAA", 0ms));
    EXPECT_EQ(module_->Shared().oversize.load(), 3u);
    // Reports are held to one a second; the counts are not.
    EXPECT_EQ(log_->CountSystem("Проблемы при работе с сетью"), 1u);
    EXPECT_EQ(core_.counters.datagramsReceived.load(), 6u);
    EXPECT_EQ(core_.counters.bytesReceived.load(), 2 * big.size() + fits.size() + oneOver.size() +
                                                       std::string_view("<13>right after the big one").size() +
                                                       std::string_view("<13>after the boundary cases").size());
}

TEST_F(Collector, BinaryAndEmptyDatagramsDoNotUpsetTheListener) {
    const uint16_t port = StartOne(LocalListener());
    UdpPeer client;
    const std::string binary("<13>bin\0ary\xff\xfe\x01 end", 18);
    ASSERT_TRUE(client.SendTo(port, binary));
    ASSERT_TRUE(client.SendTo(port, std::string("\0\0\0\0\0\0", 6)));
    ASSERT_TRUE(client.SendTo(port, std::string(1, '\xff')));
    ASSERT_TRUE(client.SendTo(port, ""));
    ASSERT_TRUE(client.SendTo(port, "<13>still listening"));
    ASSERT_TRUE(log_->WaitForMessage("still listening"));

    const std::optional<EventRecord> e =
        log_->WaitFor([](const EventRecord& r) { return r.type == core::kEventExternal && StartsWith(r.message, "bin"); }, 0ms);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->rawLength, binary.size());
    EXPECT_EQ(e->sender, "127.0.0.1");
    EXPECT_EQ(core_.counters.datagramsReceived.load(), 5u);
    // An empty datagram is a sender's oddity, not an intake in trouble.
    EXPECT_EQ(module_->Shared().submitRefused.load(), 0u);
    EXPECT_EQ(module_->Shared().networkErrors.load(), 0u);

    // And the control exchange still works afterwards.
    ASSERT_TRUE(client.SendTo(port, "$$$HI"));
    EXPECT_EQ(client.Receive(2s), Listener::OkReply());
}

TEST_F(Collector, DisabledServiceStartsNothing) {
    const uint16_t port = FreePort();
    CollectorCommon common;
    common.enableService = false;
    ASSERT_TRUE(module_->SetCommon(common));
    ASSERT_TRUE(module_->AddRecord(LocalListener(port)));
    EXPECT_FALSE(module_->Start(Blocking::Yes));
    EXPECT_TRUE(log_->WaitForSystem("Служба коллектора отключена"));
    EXPECT_EQ(module_->BoundPort(0), 0);
    EXPECT_EQ(module_->Shared().threadCount.load(), 0u);
    UdpPeer taker("127.0.0.1", port);
    EXPECT_TRUE(taker.Ok()) << "the listener's port is still free";
    EXPECT_EQ(log_->CountSystem("запущен"), 0u);
}

TEST_F(Collector, SecondListenerOnTheSameAddressReportsAddressInUse) {
    const uint16_t port = FreePort();
    ASSERT_TRUE(module_->AddRecord(LocalListener(port)));
    ASSERT_TRUE(module_->AddRecord(LocalListener(port)));
    ListenerRecord disabled = LocalListener(FreePort());
    disabled.enable = false;
    ASSERT_TRUE(module_->AddRecord(disabled));

    EXPECT_TRUE(module_->Start(Blocking::Yes)) << "the first one runs";
    EXPECT_EQ(module_->BoundPort(0), port);
    EXPECT_EQ(module_->BoundPort(1), 0);
    EXPECT_EQ(module_->BoundPort(2), 0);
    const std::optional<EventRecord> report = log_->WaitForSystem("Код: " + std::to_string(EADDRINUSE));
    ASSERT_TRUE(report);
    EXPECT_TRUE(StartsWith(report->message, "Проблемы при работе с сетью (mod_collector)")) << report->message;
    EXPECT_TRUE(Contains(report->message, "127.0.0.1:" + std::to_string(port))) << report->message;
    ASSERT_TRUE(log_->WaitForSystem("Коллектор [127.0.0.1:" + std::to_string(port) + "] запущен"));
    EXPECT_EQ(log_->CountSystem("запущен"), 1u);
    UdpPeer taker("127.0.0.1", disabled.Port());
    EXPECT_TRUE(taker.Ok()) << "a disabled record binds nothing";
}

TEST_F(Collector, StopIsPromptEvenWhileBlockedInReceiveAndFreesThePort) {
    const uint16_t port = FreePort();
    ListenerRecord record = LocalListener(port);
    record.recvTimeout = 0;  // receive without a time limit
    const std::string started = "Коллектор [127.0.0.1:" + std::to_string(port) + "] запущен";
    const std::string stopped = "Коллектор [127.0.0.1:" + std::to_string(port) + "] остановлен";
    StartOne(record);
    EXPECT_EQ(module_->Shared().threadCount.load(), 1u);
    EXPECT_GE(core_.counters.moduleThreads.load(), 1u);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        UdpPeer client;
        ASSERT_TRUE(client.SendTo(port, "<13>before stop " + std::to_string(round)));
        ASSERT_TRUE(log_->WaitForMessage("before stop " + std::to_string(round)));
        std::this_thread::sleep_for(50ms);  // the thread is back in its receive by now

        std::future<bool> stopping = std::async(std::launch::async, [&] { return module_->Stop(Blocking::Yes); });
        const bool prompt = stopping.wait_for(1s) == std::future_status::ready;
        if (!prompt) client.SendTo(port, "<13>a datagram to end the receive the stop did not end");
        EXPECT_TRUE(prompt) << "Stop waited for the blocked receive";
        EXPECT_TRUE(stopping.get());
        EXPECT_EQ(module_->BoundPort(0), 0);
        EXPECT_EQ(module_->Shared().threadCount.load(), 0u);
        EXPECT_EQ(core_.counters.moduleThreads.load(), 0u);
        EXPECT_EQ(core_.counters.busyHandlers.load(), 0u);
        EXPECT_TRUE(log_->WaitForSystem(stopped));
        EXPECT_EQ(log_->CountSystem(stopped), size_t(round + 1));
        {
            UdpPeer taker("127.0.0.1", port);
            EXPECT_TRUE(taker.Ok()) << "errno " << taker.BindError();
        }
        EXPECT_FALSE(module_->Stop(Blocking::Yes)) << "nothing left to stop";

        // Started again on the same port, it receives again.
        ASSERT_TRUE(module_->Start(Blocking::Yes));
        EXPECT_EQ(module_->BoundPort(0), port);
        ASSERT_TRUE(WaitUntil([&] { return log_->CountSystem(started) == size_t(round + 2); }, 3s));
    }
}

TEST_F(Collector, ZeroBufferSizeListenerEndsAsSoonAsItStarts) {
    const uint16_t port = FreePort();
    CollectorCommon common;
    common.bufferSize = 0;
    ASSERT_TRUE(module_->SetCommon(common));
    ASSERT_TRUE(module_->AddRecord(LocalListener(port)));
    EXPECT_TRUE(module_->Start(Blocking::Yes));
    const std::string where = "Коллектор [127.0.0.1:" + std::to_string(port) + "] ";
    const std::optional<EventRecord> started = log_->WaitForSystem(where + "запущен");
    const std::optional<EventRecord> stopped = log_->WaitForSystem(where + "остановлен");
    ASSERT_TRUE(started);
    ASSERT_TRUE(stopped);
    EXPECT_LT(started->sequence, stopped->sequence);
    EXPECT_TRUE(WaitUntil([&] { return module_->Shared().threadCount.load() == 0; }, 1s));
    EXPECT_EQ(core_.counters.busyHandlers.load(), 0u);
    module_->Stop(Blocking::Yes);
    EXPECT_EQ(core_.counters.moduleThreads.load(), 0u);
}

TEST_F(Collector, ServerCheckWarnsOnlyWhenThePeerStopsAnswering) {
    // The probe goes to the server at the listener's own port: the peer sits
    // on another loopback address with the same port number.
    std::unique_ptr<UdpPeer> peer;
    uint16_t port = 0;
    for (int attempt = 0; attempt < 20 && port == 0; ++attempt) {
        peer = std::make_unique<UdpPeer>("127.0.0.2");
        ASSERT_TRUE(peer->Ok()) << "errno " << peer->BindError();
        if (UdpPeer("127.0.0.1", peer->Port()).Ok()) port = peer->Port();
    }
    ASSERT_NE(port, 0);

    module_->Shared().serverCheckMs = 200;
    ListenerRecord record = LocalListener(port, kServerCheck);
    record.recvTimeout = 50;
    record.server = "127.0.0.2";
    StartOne(record);

    // Answering peer: every probe gets "$$$OK" back, so no warning comes.
    std::atomic<bool> answer{true};
    std::atomic<int> probes{0};
    std::atomic<int> oddDatagrams{0};
    std::jthread peerThread([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            sockaddr_in from{};
            const std::optional<std::string> got = peer->Receive(20ms, &from);
            if (!got) continue;
            if (*got != "$$$HI" || ntohs(from.sin_port) != port) {
                ++oddDatagrams;
                continue;
            }
            ++probes;
            if (answer) peer->SendTo(port, "$$$OK");
        }
    });
    const std::string warning =
        "Коллектор [127.0.0.1:" + std::to_string(port) + "] нет ответа от сервера 127.0.0.2:" + std::to_string(port);
    EXPECT_TRUE(WaitUntil([&] { return probes >= 4; }, 3s)) << probes;
    EXPECT_EQ(log_->CountSystem("нет ответа от сервера"), 0u);

    // Silent peer: the probe after the silence is followed by the warning.
    answer = false;
    const int probesBefore = probes;
    const std::optional<EventRecord> report = log_->WaitForSystem("нет ответа от сервера", 3s);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->message, warning);
    EXPECT_EQ(report->severity, 4u);
    // Probing goes on after a warning.
    EXPECT_TRUE(WaitUntil([&] { return probes >= probesBefore + 2; }, 3s));
    peerThread.request_stop();
    peerThread.join();
    EXPECT_EQ(oddDatagrams.load(), 0);
    EXPECT_GE(core_.counters.datagramsSent.load(), uint64_t(probes.load()));
    EXPECT_EQ(log_->CountExternal(), 0u) << "the peer's answers are not events";
}

TEST_F(Collector, RsyslogForwardsLinesIntact) {
    const char* rsyslogd = "/usr/sbin/rsyslogd";
    if (::access(rsyslogd, X_OK) != 0)
        GTEST_SKIP() << rsyslogd << " is not installed (Debian package rsyslog): forwarding through rsyslog not checked";

    const uint16_t port = StartOne(LocalListener());
    testing::TempDir dir("qm-rsyslog");
    fs::create_directory(dir.path() / "work");
    const uint16_t rsyslogPort = FreePort();
    {
        std::ofstream conf(dir.path() / "rsyslog.conf");
        conf << "global(workDirectory=\"" << (dir.path() / "work").string() << "\" net.enableDNS=\"off\")\n"
             << "module(load=\"imudp\")\n"
             << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << rsyslogPort << "\" ruleset=\"forward\")\n"
             << "ruleset(name=\"forward\") {\n"
             << "  action(type=\"omfwd\" target=\"127.0.0.1\" port=\"" << port << "\" protocol=\"udp\")\n"
             << "}\n";
    }
    const fs::path output = dir.path() / "rsyslogd.txt";
    ChildProcess rsyslog({rsyslogd, "-n", "-f", (dir.path() / "rsyslog.conf").string(), "-i",
                          (dir.path() / "rsyslogd.pid").string()},
                         output);
    ASSERT_TRUE(rsyslog.Started());

    // rsyslogd is up once a line sent to it comes through.
    UdpPeer client;
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (!rsyslog.Alive()) return true;
            client.SendTo(rsyslogPort, "<13>Jan 15 10:20:30 qmhost warmup: ready?");
            return log_->WaitForMessage("ready?", 100ms).has_value();
        },
        10s));
    ASSERT_TRUE(rsyslog.Alive()) << testing::ReadWholeFile(output);

    std::vector<std::string> lines;
    for (int i = 0; i < 20; ++i) {
        const uint32_t priority = uint32_t(i % 24) * 8 + uint32_t(i % 8);
        lines.push_back("<" + std::to_string(priority) + ">Jan 15 10:20:" + (i < 10 ? "0" : "") + std::to_string(i) +
                        " qmhost qmtest[" + std::to_string(100 + i) + "]: forwarded line " + std::to_string(i) +
                        " with  two spaces; a = b & c");
        ASSERT_TRUE(client.SendTo(rsyslogPort, lines.back()));
    }
    ASSERT_TRUE(log_->WaitForMessage("forwarded line 19 ", 5s)) << testing::ReadWholeFile(output);
    ASSERT_TRUE(WaitUntil(
        [&] { return log_->Matching([](const EventRecord& e) { return Contains(e.message, "forwarded line"); }).size() >= 20; },
        3s));
    const std::vector<EventRecord> got =
        log_->Matching([](const EventRecord& e) { return Contains(e.message, "forwarded line"); });
    ASSERT_EQ(got.size(), 20u);
    std::multiset<std::string> sent(lines.begin(), lines.end());
    for (const EventRecord& e : got) {
        EXPECT_EQ(e.sender, "127.0.0.1");
        EXPECT_EQ(sent.count(e.raw), 1u) << e.raw;
        const size_t close = e.raw.find('>');
        EXPECT_EQ(e.message, e.raw.substr(close + 1));
        const uint32_t priority = uint32_t(std::stoul(e.raw.substr(1, close - 1)));
        EXPECT_EQ(e.severity, priority & 7);
        EXPECT_EQ(e.facility, priority >> 3);
        sent.erase(e.raw);
    }
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(rsyslog.Signal(SIGTERM));
    EXPECT_EQ(rsyslog.Exit(5s), 0) << testing::ReadWholeFile(output);
}

// The same listener configured through its settings file and the core's
// start and shutdown.
TEST(CollectorWithCore, ListenersFromTheSettingsFileRunAndAreSavedBack) {
    testing::TempDir home("qm-collector-home");
    fs::create_directories(home.path() / "Settings");
    const uint16_t port = FreePort();
    const uint16_t disabledPort = FreePort();
    {
        auto u32 = [](uint32_t v) {
            return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        };
        platform::ProfileFile ini;
        const char* s = "mod_collector";
        ini.WriteString(s, "Version", "2");
        ini.WriteStruct(s, "Common.EnableService", std::vector<uint8_t>{1});
        ini.WriteStruct(s, "Common.BufferSize", u32(2048));
        ini.WriteStruct(s, "Common.ErrorTimeout", u32(500));
        ini.WriteStruct(s, "Common.Param", std::vector<uint8_t>{0});
        ini.WriteStruct(s, "ItemCount", u32(2));
        for (int i = 0; i < 2; ++i) {
            const std::string p = "Item." + std::to_string(i) + "-";
            ini.WriteStruct(s, p + "Enable", std::vector<uint8_t>{uint8_t(i == 0)});
            ini.WriteStruct(s, p + "RecvTimeout", u32(100));
            ini.WriteStruct(s, p + "SendTimeout", u32(100));
            ini.WriteStruct(s, p + "Param", std::vector<uint8_t>{uint8_t(kPacketFilter)});
            ini.WriteStruct(s, p + "Port", u32(i == 0 ? port : disabledPort));
            ini.WriteString(s, p + "StrName", "127.0.0.1");
            ini.WriteString(s, p + "StrServer", "127.0.0.3");
        }
        ASSERT_TRUE(ini.Save(home.path() / "Settings" / "mod_collector.ini"));
    }

    const core::ModuleDescriptor catalog[] = {
        {core::kModuleCollector, "Module: Collector", "mod_collector", true, CreateCollectorModule}};
    {
        core::CoreContext core;
        core.paths = core::Paths::Build(home.path() / "quillmark", home.path());
        core.catalog = catalog;
        core::CoreStart(core);
        auto* collector = core.registry->FindAs<CollectorModule>(core::kModuleCollector);
        ASSERT_NE(collector, nullptr);
        EXPECT_EQ(collector->RecordCount(), 2u);
        EXPECT_EQ(collector->BoundPort(0), port);
        EXPECT_EQ(collector->BoundPort(1), 0);
        const std::optional<ListenerRecord> record = collector->Record(0);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->server, "127.0.0.3");
        EXPECT_EQ(record->param, kPacketFilter);

        UdpPeer client;
        ASSERT_TRUE(client.SendTo(port, "$$$HI"));
        EXPECT_EQ(client.Receive(2s), Listener::OkReply());
        ASSERT_TRUE(client.SendTo(port, "no priority, filtered"));
        ASSERT_TRUE(client.SendTo(port, "<14>through the settings file"));
        EventLog log(*core.events);
        const std::optional<EventRecord> e = log.WaitForMessage("through the settings file");
        ASSERT_TRUE(e);
        EXPECT_EQ(e->severity, 6u);
        EXPECT_EQ(e->facility, 1u);
        EXPECT_FALSE(log.WaitForMessage("filtered", 0ms));
        core::CoreShutdown(core);
    }
    UdpPeer taker("127.0.0.1", port);
    EXPECT_TRUE(taker.Ok()) << "shutdown closed the listener";

    // Saved back: both records, the disabled one still disabled.
    CollectorSettings saved;
    core::Config config(home.path() / "Settings");
    LoadCollectorSettings(config.Open("mod_collector", "mod_collector"), saved);
    EXPECT_EQ(saved.common.bufferSize, 2048u);
    EXPECT_EQ(saved.common.errorTimeout, 500u);
    ASSERT_EQ(saved.records.size(), 2u);
    EXPECT_TRUE(saved.records[0].record.enable);
    EXPECT_FALSE(saved.records[1].record.enable);
    EXPECT_EQ(saved.records[0].record.Port(), port);
    EXPECT_EQ(saved.records[1].record.Port(), disabledPort);
    EXPECT_EQ(saved.records[0].record.recvTimeout, 100u);
    EXPECT_EQ(saved.records[0].record.server, "127.0.0.3");
}

}  // namespace
}  // namespace qm::transport
