#pragma once
// pymodbus's server (Debian python3-pymodbus) on loopback as a real Modbus
// TCP device with a fixed data store, and the response frames a scripted
// peer sends for what pymodbus never does.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/files.h"
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

}  // namespace qm::testing
