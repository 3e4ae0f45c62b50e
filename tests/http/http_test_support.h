#pragma once
// What the HTTP tests share: a home folder with a web root, the module on a
// core of its own, free TCP ports, curl as the client, and a raw socket
// client for what curl will not send.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/paths.h"
#include "http/http_module.h"
#include "transport/transport_test_support.h"

namespace qm::testing {

// A port nothing listens on at 127.0.0.1 right now.
inline uint16_t FreeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

inline bool HaveProgram(const char* path) { return ::access(path, X_OK) == 0; }

struct HttpReply {
    int status = 0;
    std::vector<std::string> headerLines;  // after the status line, in order
    std::string statusLine;
    std::string body;
    std::string raw;
    std::string Header(std::string_view name) const {
        for (const std::string& line : headerLines) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos || colon != name.size()) continue;
            bool same = true;
            for (size_t i = 0; i < colon; ++i) same = same && std::tolower(line[i]) == std::tolower(name[i]);
            if (same) return line.substr(colon + 2);
        }
        return {};
    }
};

inline HttpReply ParseReply(std::string raw) {
    HttpReply r;
    r.raw = std::move(raw);
    const size_t end = r.raw.find("\r\n\r\n");
    if (end == std::string::npos) return r;
    r.body = r.raw.substr(end + 4);
    std::istringstream head(r.raw.substr(0, end));
    for (std::string line; std::getline(head, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (r.statusLine.empty()) {
            r.statusLine = line;
            if (line.size() > 12) r.status = std::atoi(line.c_str() + 9);
        } else {
            r.headerLines.push_back(line);
        }
    }
    return r;
}

// curl with its output kept byte for byte: `-s -i`, never following
// redirects, and a generous limit so a slow machine only slows it down.
inline HttpReply Curl(const std::vector<std::string>& args) {
    TempDir dir("qm-curl");
    std::vector<std::string> argv{"curl", "-s", "-i", "--max-time", "60", "-o", (dir.path() / "out").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess curl(argv, dir.path() / "stderr.txt");
    const std::optional<int> rc = curl.Exit(std::chrono::seconds(90));
    EXPECT_TRUE(rc.has_value()) << "curl did not finish";
    return ParseReply(ReadWholeFile(dir.path() / "out"));
}

// Python's strict JSON reader as the judge of an answer: `expression` is
// evaluated with the parsed answer as `d` and printed as JSON (sorted keys,
// non-ASCII escaped); "INVALID: ..." when the bytes are not UTF-8 or not JSON.
inline std::string JsonEval(std::string_view json, std::string_view expression) {
    TempDir dir("qm-json");
    std::ofstream(dir.path() / "answer.json", std::ios::binary) << json;
    const std::string program =
        "import json, sys\n"
        "try:\n"
        "    d = json.loads(open(sys.argv[1], 'rb').read().decode('utf-8'))\n"
        "except Exception as e:\n"
        "    print('INVALID: %s' % e); sys.exit(0)\n"
        "print(json.dumps(eval(sys.argv[2]), sort_keys=True))\n";
    ChildProcess python({"/usr/bin/python3", "-c", program, (dir.path() / "answer.json").string(), std::string(expression)},
                        dir.path() / "out.txt");
    EXPECT_EQ(python.Exit(std::chrono::seconds(60)), 0) << ReadWholeFile(dir.path() / "out.txt");
    std::string out = ReadWholeFile(dir.path() / "out.txt");
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// A client that sends exactly the bytes it is given.
class RawClient {
public:
    explicit RawClient(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = Loopback(port);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Ok() const { return fd_ >= 0; }
    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0) return false;
            bytes.remove_prefix(size_t(n));
        }
        return true;
    }
    // Everything until the server closes its side, or what came within the wait.
    std::string ReceiveAll(std::chrono::milliseconds wait = std::chrono::seconds(30)) {
        std::string got;
        const auto deadline = Clock::now() + wait;
        char buffer[65536];
        while (Clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            got.append(buffer, size_t(n));
        }
        return got;
    }
    // Ends the connection but keeps the descriptor: a thread still sending
    // on it fails instead of writing into whatever reuses the number. Join
    // such a thread before Close.
    void Shutdown() {
        if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// A home folder with its web root and a core whose paths lead there, and
// the HTTP module on that core.
class HttpModuleTest : public ModuleTest<http::HttpModule> {
protected:
    void SetUp() override {
        core_.paths = core::Paths::Build(QM_BINARY, home_.path());
        core_.paths.CreateFolders();
        ModuleTest::SetUp();
    }

    fs::path WebRoot() const { return core_.paths.webRoot; }
    void WriteFile(const fs::path& relative, std::string_view bytes, const fs::path& base = {}) const {
        const fs::path p = (base.empty() ? WebRoot() : base) / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
    }
    void WriteIni(std::string_view text) const { WriteFile("http.ini", text); }

    // One enabled item on a free port with these common settings; started.
    uint16_t StartServer(http::HttpCommon common = {}, http::HttpServerItem item = {}) {
        common.enableService = true;
        EXPECT_TRUE(module_->SetCommon(common));
        item.enable = true;
        if (item.name.empty()) item.name = "127.0.0.1";
        for (int attempt = 0; attempt < 5; ++attempt) {
            item.port = FreeTcpPort();
            if (module_->RecordCount() == 0)
                module_->AddRecord(item);
            else
                module_->ReplaceRecord(0, item);
            if (module_->Start(platform::Blocking::Yes)) break;
        }
        const uint16_t port = module_->BoundPort(0);
        EXPECT_NE(port, 0);
        return port;
    }
    std::string Url(uint16_t port, std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(port) + std::string(path);
    }

    TempDir home_{"qm-http-home"};
};

}  // namespace qm::testing
