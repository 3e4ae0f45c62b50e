#pragma once
// Modbus TCP peers for the poller's tests, both on loopback: pymodbus's
// server (Debian python3-pymodbus) as a real device with a fixed data
// store, and a scripted server for what pymodbus never sends (short byte
// counts, answers split on their way, a connection kept open, silence).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/files.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace qm::testing {

// pymodbus serving, addresses from 0 (see modbus_server.py):
// holding registers (function 3) 0xFFFE, 0x0001, 0x0002, 1234, 0x8000, 40000;
// input registers (4) 7, 300; coils (1) on, off, on; discrete inputs (2) off, on.
class PyModbusServer {
public:
    static constexpr const char* kPython = "/usr/bin/python3";
    static bool Installed() {
        return std::filesystem::exists("/usr/lib/python3/dist-packages/pymodbus") && std::filesystem::exists(kPython);
    }

    PyModbusServer() {
        const std::filesystem::path out = dir_.path() / "server.txt";
        process_.emplace(std::vector<std::string>{kPython, std::string(QM_SOURCE_DIR) + "/tests/polling/modbus_server.py"},
                         out, ChildEnvironment({"PYTHONDONTWRITEBYTECODE=1"}));
        // A Python program: its start takes seconds on a busy machine.
        WaitUntil(
            [&] {
                const std::string text = ReadWholeFile(out);
                const size_t at = text.find("PORT ");
                if (at != std::string::npos && text.find('\n', at) != std::string::npos)
                    port_ = static_cast<uint16_t>(std::stoi(text.substr(at + 5)));
                return port_ != 0 || !process_->Alive();
            },
            std::chrono::seconds(60));
    }
    uint16_t Port() const { return port_; }
    std::string Output() const { return ReadWholeFile(dir_.path() / "server.txt"); }

private:
    TempDir dir_{"qm-pymodbus"};
    std::optional<ChildProcess> process_;
    uint16_t port_ = 0;
};

// A response frame: transaction `tid`, protocol 0, the length of what
// follows, unit, function, and `pdu` (byte count and data, or an exception
// code) as given.
inline std::string ModbusFrame(uint16_t tid, uint8_t unit, uint8_t function, const std::string& pdu) {
    const size_t length = 2 + pdu.size();
    std::string f{static_cast<char>(tid >> 8), static_cast<char>(tid & 0xFF), 0, 0,
                  static_cast<char>(length >> 8), static_cast<char>(length & 0xFF), static_cast<char>(unit),
                  static_cast<char>(function)};
    return f + pdu;
}

struct ModbusRequest {
    int connection = 0;  // 1 for the first accepted
    std::array<uint8_t, 12> bytes{};
    uint16_t Transaction() const { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }
    uint16_t Register() const { return static_cast<uint16_t>(bytes[8] << 8 | bytes[9]); }
};

struct ScriptedAnswer {
    std::vector<std::string> pieces;  // sent one after another...
    int pauseMs = 0;                  // ...with this pause between them
    bool close = false;               // then the connection is closed
};

// Reads 12-byte requests and answers each as the test says; nothing from
// the script leaves the request unanswered. A client's end of stream is
// answered by a close unless `keepOpen`.
class ScriptedModbusServer {
public:
    using Script = std::function<std::optional<ScriptedAnswer>(const ModbusRequest&)>;

    explicit ScriptedModbusServer(Script script, bool keepOpen = false)
        : script_(std::move(script)), keepOpen_(keepOpen) {}

    uint16_t Port() const { return server_.Port(); }
    std::vector<ModbusRequest> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int Connections() const { return server_.Connections(); }
    // Connections whose client ended its sending.
    int ClientEnds() const { return clientEnds_.load(); }

private:
    // One connection: requests until the client ends, an answer closes it,
    // or the server stops. Kept open, only the server's end closes it.
    bool Talk(const LoopbackServer& server, int fd, int connection) {
        std::string pending;
        char buf[256];
        for (bool open = true; open && !server.Stopping();) {
            if (!LoopbackServer::Readable(fd)) continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                if (n == 0) ++clientEnds_;
                break;
            }
            pending.append(buf, static_cast<size_t>(n));
            while (open && pending.size() >= 12) {
                ModbusRequest request;
                request.connection = connection;
                std::copy_n(pending.begin(), 12, request.bytes.begin());
                pending.erase(0, 12);
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(request);
                }
                const std::optional<ScriptedAnswer> answer = script_(request);
                if (!answer) continue;
                for (size_t i = 0; open && i < answer->pieces.size(); ++i) {
                    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(answer->pauseMs));
                    open = ::send(fd, answer->pieces[i].data(), answer->pieces[i].size(), MSG_NOSIGNAL) >= 0;
                }
                if (answer->close) open = false;
            }
        }
        return !keepOpen_;
    }

    Script script_;
    bool keepOpen_;
    std::atomic<int> clientEnds_{0};
    mutable std::mutex mutex_;
    std::vector<ModbusRequest> requests_;
    LoopbackServer server_{[this](LoopbackServer& s, int fd, int n) { return Talk(s, fd, n); }};
};

}  // namespace qm::testing
