#pragma once
// A real snmpd on a free loopback port, with its configuration and its
// persistent folder in a temporary folder; stopped when the object ends.
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

class SnmpAgent {
public:
    static constexpr const char* kCommunity = "testcomm";
    static constexpr const char* kPrivate = ".1.3.6.1.4.1.8072.9999.";

    // `port` 0: a free one.
    explicit SnmpAgent(uint16_t port = 0) : dir_("qm-snmpd"), port_(port ? port : FreePort()) {
        const auto conf = dir_.path() / "snmpd.conf";
        std::filesystem::create_directories(dir_.path() / "persist");
        std::ofstream(conf) << "[snmp] persistentDir " << (dir_.path() / "persist").string() << "\n"
                            << "rocommunity " << kCommunity << " 127.0.0.1\n"
                            << "rocommunity public 127.0.0.1\n"
                            << "sysName quill-agent\n"
                            << "sysDescr Agent|forged %n {1+1}\n"
                            << "override " << kPrivate << "1.0 integer -42\n"
                            << "override " << kPrivate << "2.0 counter 1234\n"
                            << "override " << kPrivate << "3.0 timeticks 8640000\n"
                            << "override " << kPrivate << "4.0 octet_str \" -17abc\"\n";
        agent_ = "127.0.0.1:" + std::to_string(port_);
        process_.emplace(std::vector<std::string>{"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-c", conf.string(),
                                                  "udp:" + agent_},
                         dir_.path() / "snmpd.log",
                         ChildEnvironment({"SNMP_PERSISTENT_DIR=" + (dir_.path() / "persist").string(), "MIBS="}));
        auto client = polling::snmp::MakeNetSnmpClient();
        ready_ = WaitUntil([&] { return client->Get(Target(), {".1.3.6.1.2.1.1.5.0"}).has_value(); },
                           std::chrono::seconds(30));
    }

    static bool Installed() { return std::filesystem::exists("/usr/sbin/snmpd"); }
    bool Ready() const { return ready_; }
    const std::string& Agent() const { return agent_; }
    polling::snmp::SnmpTarget Target(std::string community = kCommunity, int timeoutMs = 1000, int retries = 2) const {
        return {agent_, std::move(community), timeoutMs, retries};
    }

private:
    TempDir dir_;
    uint16_t port_;
    std::string agent_;
    std::optional<ChildProcess> process_;
    bool ready_ = false;
};

// snmpsimd (Debian snmpsim) serving a typed data file: for the values snmpd
// cannot be made to send (Counter64 above 2^63, binary strings, exceptions).
// The data file's name is the community. As root it drops to nobody, which
// must then be able to read the data and write its cache.
class SnmpSimulator {
public:
    static constexpr const char* kCommunity = "sim";

    // `records`: lines of "OID|type|value".
    explicit SnmpSimulator(const std::string& records) : dir_("qm-snmpsim"), port_(FreePort()) {
        namespace fs = std::filesystem;
        fs::create_directories(dir_.path() / "data");
        fs::create_directories(dir_.path() / "cache");
        std::ofstream(dir_.path() / "data" / (std::string(kCommunity) + ".snmprec")) << records;
        for (const fs::path& p : {dir_.path(), dir_.path() / "data", dir_.path() / "cache"})
            fs::permissions(p, fs::perms::all, fs::perm_options::add);
        agent_ = "127.0.0.1:" + std::to_string(port_);
        std::vector<std::string> argv = {"/usr/bin/snmpsimd", "--data-dir=" + (dir_.path() / "data").string(),
                                         "--cache-dir=" + (dir_.path() / "cache").string(),
                                         "--agent-udpv4-endpoint=" + agent_, "--logging-method=null"};
        if (::geteuid() == 0) {
            argv.push_back("--process-user=nobody");
            argv.push_back("--process-group=nogroup");
        }
        process_.emplace(argv, dir_.path() / "snmpsimd.log", ChildEnvironment({"HOME=" + dir_.path().string()}));
        auto client = polling::snmp::MakeNetSnmpClient();
        // A Python program: its start takes seconds on a busy machine.
        ready_ = WaitUntil([&] { return client->Get(Target(), {".1.3.6.1.2.1.1.5.0"}).has_value(); },
                           std::chrono::seconds(60));
    }

    static bool Installed() { return std::filesystem::exists("/usr/bin/snmpsimd"); }
    bool Ready() const { return ready_; }
    const std::string& Agent() const { return agent_; }
    polling::snmp::SnmpTarget Target() const { return {agent_, kCommunity, 1000, 2}; }

private:
    TempDir dir_;
    uint16_t port_;
    std::string agent_;
    std::optional<ChildProcess> process_;
    bool ready_ = false;
};

}  // namespace qm::testing
