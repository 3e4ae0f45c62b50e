#pragma once
// The ModbusTCP poller (section mod_modbus): each enabled node is read, once
// a cycle over one TCP connection, register by register as its register
// list says; the converted readings fill the list's output format, one event
// per node and cycle, and the readings go to the value collector for the
// nodes that ask for it. Records, service and rounds are the list poller's;
// the module has no script words and no entry in the service menu.
//
// The connection is the service's own TcpSession, used only by the service
// thread inside a round (module lock held).
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "core/core_context.h"
#include "core/string_ids.h"
#include "polling/list_poller.h"
#include "polling/modbus/modbus_settings.h"
#include "transport/tcp/tcp_session.h"

namespace qm::polling::modbus {

struct ModbusShape {
    using Common = ModbusCommon;
    using Item = ModbusNode;
    using Entry = RegisterEntry;
    static constexpr auto kListRef = &ModbusNode::regListId;
    static constexpr uint16_t kId = core::kModuleModbus;
    static constexpr const char* kSection = "mod_modbus";
    static constexpr uint32_t kStarted = core::str::kModbusStarted;
    static constexpr uint32_t kStopped = core::str::kModbusStopped;
    static constexpr uint32_t kDisabled = core::str::kModbusDisabled;
};

// A configured time-out as used: 0 (never set) means 5000 ms, not "wait for ever".
uint32_t UsableTimeoutMs(uint32_t configured);

// Why the last session error came: the step that failed and its errno (0
// where the step has none: a response that was rejected, say).
struct SessionFailure {
    std::string step;
    int error = 0;
};

class ModbusModule : public ListPoller<ModbusShape> {
public:
    explicit ModbusModule(core::CoreContext& core) : ListPoller(core) {}
    ~ModbusModule() override;

    // Session errors so far, and what the last one was.
    uint32_t ErrorCount() const { return errors_.load(); }
    SessionFailure LastFailure() const;

protected:
    void Poll(const ModbusNode& node, const RegisterList& list) override;
    // Prepares the service's connection.
    bool ReadyToStart() override;

private:
    class NodeExchange;

    void SessionError(const ModbusNode& node, const sockaddr_in& sender, std::string step, int error);
    // The session error of a list that asks for function `func`, which is
    // not a read: it names the node and the function, here and on stderr.
    void WriteRefused(const ModbusNode& node, const sockaddr_in& sender, uint8_t func);

    std::unique_ptr<transport::TcpSession> session_;
    std::atomic<uint32_t> errors_{0};
    mutable std::mutex failureLock_;
    SessionFailure lastFailure_;
};

std::unique_ptr<core::Module> CreateModbusModule(core::CoreContext& core);

}  // namespace qm::polling::modbus
