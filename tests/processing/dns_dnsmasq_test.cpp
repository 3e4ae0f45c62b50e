// The module and the system lookup against a real name server: dnsmasq,
// answering pointer queries for a few loopback addresses and logging every
// query, in a child process with private network and mount namespaces so
// that resolv.conf, hosts and nsswitch.conf are the test's own.
#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <latch>
#include <map>
#include <sstream>
#include <thread>

#include "core/core_context.h"
#include "processing/dns/dns_module.h"
#include "processing/processing_test_support.h"
#include "support/temp_dir.h"

namespace qm::processing {
namespace {

namespace fs = std::filesystem;

// Runs `body` in a child inside new network and mount namespaces with the
// loopback up and dir/<name> bind-mounted over /etc/<name> for each name;
// what it returns comes back ("SKIP ..." when the namespaces can't be had).
std::string RunIsolated(const fs::path& dir, const std::function<std::string()>& body) {
    const fs::path out = dir / "child.out";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(60);  // never outlive a stuck lookup
        auto finish = [&](const std::string& text) {
            std::ofstream(out) << text;
            ::_exit(0);
        };
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) finish(std::string("SKIP unshare: ") + std::strerror(errno));
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) finish("SKIP private mounts");
        ifreq lo{};
        std::strcpy(lo.ifr_name, "lo");
        const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (::ioctl(s, SIOCGIFFLAGS, &lo) != 0 || (lo.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &lo) != 0))
            finish("SKIP loopback stays down");
        ::close(s);
        for (const char* name : {"resolv.conf", "hosts", "nsswitch.conf"}) {
            const std::string etc = std::string("/etc/") + name;
            if (::mount((dir / name).c_str(), etc.c_str(), nullptr, MS_BIND, nullptr) != 0) finish("SKIP cover " + etc);
        }
        finish(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return "child died";
    return test::ReadWholeFile(out);
}

// dnsmasq on 127.0.0.1:53: the given pointer records, "no such name" for the
// rest of in-addr.arpa, every query in `log`.
class Dnsmasq {
public:
    Dnsmasq(const std::string& binary, const fs::path& log, const std::map<std::string, std::string>& ptr) {
        std::vector<std::string> args = {binary, "-k", "--conf-file=/dev/null", "--no-resolv", "--no-hosts",
                                         "--bind-interfaces", "--listen-address=127.0.0.1", "--user=root",
                                         "--pid-file=", "--log-queries", "--log-facility=" + log.string(),
                                         "--local=/in-addr.arpa/"};
        for (const auto& [reversed, name] : ptr) args.push_back("--ptr-record=" + reversed + ".in-addr.arpa," + name);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if ((pid_ = ::fork()) == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Dnsmasq() { Stop(); }
    bool Ready() const {  // its TCP port answers
        sockaddr_in to{AF_INET, htons(53), {htonl(INADDR_LOOPBACK)}, {}};
        for (int i = 0; pid_ > 0 && i < 500; ::usleep(10000), ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM, 0);
            const bool up = ::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
            ::close(s);
            if (up) return true;
        }
        return false;
    }
    void Stop() {  // after which its log is complete
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// "name=count ..." of the pointer queries in the log, one "|"-ended group per
// stretch between queries for `marker`.
std::string CountQueries(const fs::path& log, const std::string& marker) {
    std::ifstream in(log);
    std::ostringstream out;
    std::map<std::string, int> counts;
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find("query[PTR] ");
        if (at == std::string::npos) continue;
        const std::string name = line.substr(at + 11, line.find(' ', at + 11) - at - 11);
        if (name != marker) {
            ++counts[name];
            continue;
        }
        for (const auto& [n, c] : counts) out << n << "=" << c << " ";
        out << "|";
        counts.clear();
    }
    return out.str();
}

std::string Describe(const platform::HostNameLookup& r) {
    return "[" + r.name + " found=" + std::to_string(r.Found()) + " temporary=" + std::to_string(r.Temporary()) + "]";
}

TEST(DnsDnsmasq, EachAddressIsAskedOnceUntilRefreshAndOnlyAddressesAreAsked) {
    std::string dnsmasq;
    for (const char* path : {"/usr/sbin/dnsmasq", "/sbin/dnsmasq"})
        if (::access(path, X_OK) == 0) dnsmasq = path;
    if (dnsmasq.empty()) GTEST_SKIP() << "dnsmasq is not installed (Debian package dnsmasq-base)";
    testing::TempDir dir("qm-dnsq");
    std::ofstream(dir.path() / "resolv.conf") << "nameserver 127.0.0.1\noptions timeout:2 attempts:1\n";
    std::ofstream(dir.path() / "hosts") << "";
    std::ofstream(dir.path() / "nsswitch.conf") << "hosts: files dns\n";
    fs::create_directories(dir.path() / "Resource");
    std::ofstream(dir.path() / "Resource" / "name.conf") << "[CACHE]\n127.0.10.2=from-file\n";
    const fs::path log = dir.path() / "queries.log";

    const std::string result = RunIsolated(dir.path(), [&] {
        Dnsmasq server(dnsmasq, log,
                       {{"1.10.0.127", "alpha.test"}, {"2.10.0.127", "beta.test"}, {"3.10.0.127", "gamma.test"},
                        {"1.99.0.127", "marker.test"}});
        if (!server.Ready()) return std::string("dnsmasq did not start");
        core::CoreContext core;
        core.paths.resourceFolder = dir.path() / "Resource";
        DnsModule module(core);
        module.Load(core::SettingsSection({}, "mod_dns", {}));
        DnsResolver both = DefaultResolver();
        both.param = kDnsLocalStorage | kDnsSystemLookup;
        module.ReplaceRecord(0, both);

        std::ostringstream out;
        for (int phase = 0; phase < 2; ++phase) {
            if (phase == 1) module.ScheduleRefresh();
            std::latch start(8);  // event workers meeting the same new address at once
            std::vector<std::thread> workers;
            for (int i = 0; i < 8; ++i) workers.emplace_back([&] { start.arrive_and_wait(), module.NameFor("127.0.10.3"); });
            for (std::thread& t : workers) t.join();
            for (int round = 0; round < 3; ++round) {
                for (const char* sender : {"127.0.10.1", "127.0.10.2", "127.0.10.3", "127.0.10.9", "alpha.test",
                                           "127.0.10.01", "127.0.10.1 "})
                    out << module.NameFor(sender) << ",";
                out << "\n";
            }
            out << Describe(platform::LookUpHostName(*platform::SocketAddress::Parse("127.0.99.1", 0)));  // also ends the phase in the log
        }
        out << Describe(platform::LookUpHostName(*platform::SocketAddress::Parse("127.0.10.9", 0)));
        server.Stop();
        out << Describe(platform::LookUpHostName(*platform::SocketAddress::Parse("127.0.10.1", 0))) << "\n";
        return out.str() + CountQueries(log, "1.99.0.127.in-addr.arpa");
    });
    if (result.rfind("SKIP ", 0) == 0) GTEST_SKIP() << "no network and mount namespaces: " << result.substr(5);

    const std::string round = "alpha.test,from-file,gamma.test,127.0.10.9,alpha.test,127.0.10.01,127.0.10.1 ,\n";
    const std::string phase = round + round + round + "[marker.test found=1 temporary=0]";
    const std::string queries = "1.10.0.127.in-addr.arpa=1 3.10.0.127.in-addr.arpa=1 9.10.0.127.in-addr.arpa=1 |";
    // No name is an answer, never the numbers; no server answering is a temporary failure.
    EXPECT_EQ(result, phase + phase + "[ found=0 temporary=0][ found=0 temporary=1]\n" + queries + queries);
}

}  // namespace
}  // namespace qm::processing
