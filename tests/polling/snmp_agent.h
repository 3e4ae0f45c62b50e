#pragma once
// SNMP agents on a free loopback port, each with its files in a temporary
// folder, ready once it answers a GET of sysName; stopped when the object
// ends: a real snmpd, and snmpsimd (Debian snmpsim) serving a typed data
// file for the values snmpd cannot be made to send (Counter64 above 2^63,
// binary strings, exceptions).
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "polling/snmp/snmp_client.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"

namespace qm::testing {

class AgentProcess {
public:
    bool Ready() const { return ready_; }
    const std::string& Agent() const { return agent_; }
    polling::snmp::SnmpTarget Target(std::string community, int timeoutMs = 1000, int retries = 2) const {
        return {agent_, std::move(community), timeoutMs, retries};
    }

protected:
    AgentProcess(const char* folder, uint16_t port) : dir_(folder), agent_("127.0.0.1:" + std::to_string(port)) {}
    // A Python program's start takes seconds on a busy machine.
    void Run(const std::vector<std::string>& argv, std::vector<std::string> env, const std::string& community) {
        process_.emplace(argv, dir_.path() / "agent.log", ChildEnvironment(std::move(env)));
        auto client = polling::snmp::MakeNetSnmpClient();
        ready_ = WaitUntil([&] { return client->Get(Target(community), {".1.3.6.1.2.1.1.5.0"}).has_value(); },
                           std::chrono::seconds(60));
    }

    TempDir dir_;
    std::string agent_;
    std::optional<ChildProcess> process_;
    bool ready_ = false;
};

class SnmpAgent : public AgentProcess {
public:
    static constexpr const char* kCommunity = "testcomm";
    static constexpr const char* kPrivate = ".1.3.6.1.4.1.8072.9999.";
    static bool Installed() { return std::filesystem::exists("/usr/sbin/snmpd"); }

    // `port` 0: a free one.
    explicit SnmpAgent(uint16_t port = 0) : AgentProcess("qm-snmpd", port ? port : FreePort()) {
        const auto conf = dir_.path() / "snmpd.conf";
        const std::string persist = (dir_.path() / "persist").string();
        std::filesystem::create_directories(persist);
        std::ofstream(conf) << "[snmp] persistentDir " << persist << "\n"
                            << "rocommunity " << kCommunity << " 127.0.0.1\n"
                            << "rocommunity public 127.0.0.1\n"
                            << "sysName quill-agent\n"
                            << "sysDescr Agent|forged %n {1+1}\n"
                            << "override " << kPrivate << "1.0 integer -42\n"
                            << "override " << kPrivate << "2.0 counter 1234\n"
                            << "override " << kPrivate << "3.0 timeticks 8640000\n"
                            << "override " << kPrivate << "4.0 octet_str \" -17abc\"\n";
        Run({"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-c", conf.string(), "udp:" + agent_},
            {"SNMP_PERSISTENT_DIR=" + persist, "MIBS="}, kCommunity);
    }
    polling::snmp::SnmpTarget Target(std::string community = kCommunity, int timeoutMs = 1000, int retries = 2) const {
        return AgentProcess::Target(std::move(community), timeoutMs, retries);
    }
};

// The data file's name is the community. As root it drops to nobody, which
// must then be able to read the data and write its cache.
class SnmpSimulator : public AgentProcess {
public:
    static constexpr const char* kCommunity = "sim";
    static bool Installed() { return std::filesystem::exists("/usr/bin/snmpsimd"); }

    // `records`: lines of "OID|type|value".
    explicit SnmpSimulator(const std::string& records) : AgentProcess("qm-snmpsim", FreePort()) {
        namespace fs = std::filesystem;
        const fs::path data = dir_.path() / "data", cache = dir_.path() / "cache";
        fs::create_directories(data);
        fs::create_directories(cache);
        std::ofstream(data / (std::string(kCommunity) + ".snmprec")) << records;
        for (const fs::path& p : {dir_.path(), data, cache}) fs::permissions(p, fs::perms::all, fs::perm_options::add);
        std::vector<std::string> argv = {"/usr/bin/snmpsimd", "--data-dir=" + data.string(),
                                         "--cache-dir=" + cache.string(), "--agent-udpv4-endpoint=" + agent_,
                                         "--logging-method=null"};
        if (::geteuid() == 0) {
            argv.push_back("--process-user=nobody");
            argv.push_back("--process-group=nogroup");
        }
        Run(argv, {"HOME=" + dir_.path().string()}, kCommunity);
    }
    polling::snmp::SnmpTarget Target() const { return AgentProcess::Target(kCommunity); }
};

}  // namespace qm::testing
