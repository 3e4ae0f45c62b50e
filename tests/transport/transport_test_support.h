#pragma once
// What the transport tests share beyond tests/support: the program in a home
// of its own, rsyslogd as a peer, the relay's settings, and a core with its
// event list.
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "core/core_context.h"
#include "core/string_table.h"
#include "platform/profile_file.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/program_home.h"
#include "support/temp_dir.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"

namespace qm::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sends "$$$HI" until the collector answers: it is up and has taken everything
// that reached its socket before.
inline bool Handshake(const UdpPeer& peer, uint16_t port, std::chrono::milliseconds timeout) {
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

// The relay's settings in their current form: the service on, one enabled
// destination on 127.0.0.1 per {port, event type mask}.
inline void WriteRelaySettings(platform::ProfileFile& ini, uint32_t sendMs, uint32_t repeatMs,
                               const std::vector<std::pair<uint16_t, uint8_t>>& destinations) {
    const char* s = "mod_relay";
    ini.WriteString(s, "Version", "2");
    ini.WriteStruct(s, "Common.EnableService", std::vector<uint8_t>{1});
    ini.WriteStruct(s, "Common.SendTimeout", LittleEndian(sendMs));
    ini.WriteStruct(s, "Common.RepeatTimeout", LittleEndian(repeatMs));
    ini.WriteStruct(s, "ItemCount", LittleEndian(uint32_t(destinations.size())));
    for (size_t i = 0; i < destinations.size(); ++i) {
        const std::string p = "Item." + std::to_string(i) + "-";
        ini.WriteStruct(s, p + "Enable", std::vector<uint8_t>{1});
        ini.WriteString(s, p + "StrName", "127.0.0.1");
        ini.WriteStruct(s, p + "EventParam", std::vector<uint8_t>{destinations[i].second});
        ini.WriteStruct(s, p + "Port", LittleEndian(destinations[i].first));
    }
}

// rsyslogd with its own configuration in a temp folder: UDP inputs on free
// loopback ports, each writing the raw text of what it gets to its own file,
// one line per datagram, and forwarding it to 127.0.0.1:forwardTo when set.
class Rsyslog {
public:
    static constexpr const char* kBinary = "/usr/sbin/rsyslogd";
    static bool Installed() { return ::access(kBinary, X_OK) == 0; }

    explicit Rsyslog(size_t inputs, uint16_t forwardTo = 0) {
        fs::create_directory(dir_.path() / "work");
        std::ofstream conf(dir_.path() / "rsyslog.conf");
        conf << "global(workDirectory=\"" << (dir_.path() / "work").string() << "\" net.enableDNS=\"off\")\n"
             << "module(load=\"imudp\")\n"
             << "template(name=\"raw\" type=\"string\" string=\"%rawmsg%\\n\")\n";
        for (size_t i = 0; i < inputs; ++i) {
            ports_.push_back(FreePort());
            files_.push_back(dir_.path() / ("in" + std::to_string(i) + ".log"));
            conf << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << ports_.back() << "\" ruleset=\"r" << i
                 << "\" rcvbufSize=\"4m\")\nruleset(name=\"r" << i << "\") {\n";
            if (forwardTo) conf << "  action(type=\"omfwd\" target=\"127.0.0.1\" port=\"" << forwardTo << "\" protocol=\"udp\")\n";
            conf << "  action(type=\"omfile\" file=\"" << files_.back().string() << "\" template=\"raw\")\n}\n";
        }
        conf.close();
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{kBinary, "-n", "-f", (dir_.path() / "rsyslog.conf").string(), "-i",
                                     (dir_.path() / "rsyslogd.pid").string()},
            dir_.path() / "rsyslogd.txt");
    }

    // Up once a probe sent to each input shows in its file.
    bool WaitReady(std::chrono::milliseconds timeout) {
        for (size_t i = 0; i < ports_.size(); ++i)
            if (!Flush(i, timeout)) return false;
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
                       return WaitUntil([&] { return Contains(ReadWholeFile(files_[i]), probe + "\n"); }, 100ms);
                   },
                   timeout) &&
               process_->Alive();
    }
    // The lines of input `i`'s file, without the probes.
    std::vector<std::string> Lines(size_t i) const {
        std::vector<std::string> out;
        std::istringstream text(ReadWholeFile(files_[i]));
        for (std::string line; std::getline(text, line);)
            if (!StartsWith(line, "<13>rsyslog probe ")) out.push_back(line);
        return out;
    }
    bool WaitForLines(size_t i, size_t n, std::chrono::milliseconds timeout) const {
        return WaitUntil([&] { return Lines(i).size() >= n; }, timeout);
    }
    uint16_t Port(size_t i) const { return ports_[i]; }
    std::string Log() const { return ReadWholeFile(dir_.path() / "rsyslogd.txt"); }

private:
    TempDir dir_{"qm-rsyslog"};
    std::vector<uint16_t> ports_;
    std::vector<fs::path> files_;
    std::unique_ptr<ChildProcess> process_;
    UdpPeer probe_;
    int probes_ = 0;
};

// Everything the event core has queued so far, read the way a window reads it.
class EventLog {
public:
    using Match = std::function<bool(const core::EventRecord&)>;
    explicit EventLog(core::EventCore& events) : events_(events) {}

    const std::vector<core::EventRecord>& Pull() {
        events_.Settle(5000);
        core::QueueSlice slice;
        while (events_.ReadNext(reader_, platform::Blocking::Yes, slice) == core::kOk) {
            for (const core::EventPtr& r : slice.Records()) seen_.push_back(*r);
            slice.Release();
        }
        return seen_;
    }
    // In queue order.
    std::vector<core::EventRecord> Matching(const Match& match) {
        std::vector<core::EventRecord> out;
        for (const core::EventRecord& e : Pull())
            if (match(e)) out.push_back(e);
        return out;
    }
    std::optional<core::EventRecord> WaitFor(const Match& match, std::chrono::milliseconds timeout = 20s) {
        std::vector<core::EventRecord> got;
        WaitUntil([&] { return !(got = Matching(match)).empty(); }, timeout);
        return got.empty() ? std::nullopt : std::optional(got.front());
    }
    static Match Of(uint32_t type, std::string_view text) {
        return [type, text = std::string(text)](const core::EventRecord& e) {
            return e.type == type && Contains(e.Message(), text);
        };
    }
    std::optional<core::EventRecord> WaitForSystem(std::string_view text, std::chrono::milliseconds timeout = 20s) {
        return WaitFor(Of(core::kEventSystem, text), timeout);
    }
    std::optional<core::EventRecord> WaitForMessage(std::string_view text, std::chrono::milliseconds timeout = 20s) {
        return WaitFor(Of(core::kEventExternal, text), timeout);
    }
    size_t CountSystem(std::string_view text) { return Matching(Of(core::kEventSystem, text)).size(); }
    size_t CountExternal() { return Matching(Of(core::kEventExternal, "")).size(); }

private:
    core::EventCore& events_;
    core::ReaderState reader_;
    std::vector<core::EventRecord> seen_;
};

// A core with texts and an event core, its event list, and one module built
// on it directly (no settings files).
template <class Module>
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        log_ = std::make_unique<EventLog>(*core_.events);
        module_ = std::make_unique<Module>(core_);
    }
    void TearDown() override {
        module_.reset();
        log_.reset();
        if (core_.events) core_.events->Shutdown();
    }

    core::CoreContext core_;
    std::unique_ptr<EventLog> log_;
    std::unique_ptr<Module> module_;
};

}  // namespace qm::testing
