#include "polling/modbus/modbus_module.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "polling/modbus/modbus_frame.h"
#include "polling/modbus/modbus_value.h"
#include "polling/poll_output.h"

namespace qm::polling::modbus {

namespace {
constexpr uint32_t kDefaultTimeoutMs = 5000;
constexpr uint32_t kChunkSize = 1024;
// What a server gets to see our end of the stream before the socket closes.
constexpr uint32_t kClosePauseMs = 100;
// Waits are cut into slices this long, so a Stop is seen in time.
constexpr uint32_t kSliceMs = 100;

using transport::TcpEvents;
using transport::TcpSession;
}  // namespace

uint32_t UsableTimeoutMs(uint32_t configured) { return configured ? configured : kDefaultTimeoutMs; }

// One node's poll over one connection: the requests of its list in turn,
// each sent when the answer to the one before is in.
class ModbusModule::NodeExchange {
public:
    NodeExchange(ModbusModule& module, const ModbusNode& node, const RegisterList& list)
        : m_(module), node_(node), list_(list), session_(*module.session_),
          marker_(module.core_.Text(core::str::kLimitBreachMarker)),
          timeoutMs_(UsableTimeoutMs(module.settings_.common.timeout)),
          sender_(PollSender(node.name, static_cast<uint16_t>(node.port))),
          text_(list.outFormat) {}

    void Run() {
        // A hand-edited or damaged list must never turn a poll into a write:
        // none of it goes out while one entry asks for anything but a read.
        for (const RegisterEntry& entry : list_.entries)
            if (!IsReadFunction(entry.func)) {
                m_.WriteRefused(node_, sender_, entry.func);
                return;
            }
        int error = 0;
        const int rc = session_.StartConnect(node_.name, static_cast<uint16_t>(node_.port), error);
        if (rc != TcpSession::kOk) {
            Fail(rc == TcpSession::kHostNotFound ? "resolve" : "connect", error);
            return;
        }
        // The events name the server by the address it was reached at.
        sender_ = session_.Address();
        while (Step()) {
        }
        session_.Close();
    }

private:
    enum class Next { kEvents, kTimedOut, kFailed, kStopped };

    // The next network events within the time-out; Stop is looked at
    // between slices, so it never waits out a silent server.
    Next Await(TcpEvents& events, int& error) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
        for (;;) {
            if (!m_.Polling()) return Next::kStopped;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return Next::kTimedOut;
            const uint32_t slice = static_cast<uint32_t>(std::min<long long>(left, kSliceMs));
            switch (session_.WaitEvents(events, error, slice)) {
                case TcpSession::kOk: return events.stopped ? Next::kStopped : Next::kEvents;
                case TcpSession::kTimedOut: continue;
                default: return Next::kFailed;
            }
        }
    }

    // One wait and what it brought; false when the node's work is over.
    bool Step() {
        TcpEvents events;
        int error = 0;
        switch (Await(events, error)) {
            case Next::kStopped: return false;
            case Next::kTimedOut: return Fail("wait", TcpSession::kTimedOutError);
            case Next::kFailed: return Fail("wait", error);
            case Next::kEvents: break;
        }
        if (events.connect) {
            // A refused connect ends the same way as a made one; there is
            // nobody to send to.
            if (events.connectError) return Fail("connect", events.connectError);
            if (list_.entries.empty()) return Finish();
            return SendRequest();
        }
        if (events.read) {
            if (events.readError) return EndWithError("read", events.readError);
            std::string got;
            const int rc = session_.Read(got, error);
            if (rc == TcpSession::kSocketError || rc == TcpSession::kNotUsable) return EndWithError("read", error);
            if (!got.empty()) m_.core_.counters.CountReceived(got.size());
            pending_ += got;
            switch (ResponseFrame(pending_)) {
                // The rest of a response split on its way comes with a later read.
                case FrameState::kIncomplete: break;
                case FrameState::kOverlong: return EndWithError("response longer than its length field", 0);
                case FrameState::kWhole: return TakeResponse();
            }
        }
        // The server closed before it answered everything asked.
        if (events.close) return Fail(pending_.empty() ? "closed by the server" : "closed within a response", 0);
        return true;
    }

    bool SendRequest() {
        const std::array<uint8_t, kRequestSize> request = ReadRequest(transaction_, list_.entries[index_]);
        uint32_t sent = 0;
        int error = 0;
        const int rc =
            session_.Write(std::string_view(reinterpret_cast<const char*>(request.data()), request.size()), sent, error);
        if (sent) m_.core_.counters.CountSent(sent);
        if (rc != TcpSession::kOk) return EndWithError("send", error);
        return true;
    }

    bool TakeResponse() {
        const RegisterEntry& entry = list_.entries[index_];
        const Response response = ReadResponse(pending_, entry);
        pending_.clear();
        if (!response.accepted) return EndWithError(response.rejected, 0);
        const EntryValue value = ConvertValue(entry, response.value, marker_);
        if (value.reading) m_.Push(node_, entry.tag, *value.reading);
        ReplaceAll(text_, Placeholder(entry.tag), value.text ? std::string_view(*value.text) : marker_);
        warning_ = warning_ || value.warning;
        ++index_;
        ++transaction_;
        if (index_ == list_.entries.size()) return Finish();
        return SendRequest();
    }

    // Everything asked is answered. The connection is ours to end: a server
    // that keeps it open has done nothing wrong, and waiting for it would
    // only cost the nodes after it a time-out.
    bool Finish() {
        EndSending();
        m_.Emit(warning_ ? core::str::kModbusWarningEvent : core::str::kModbusInfoEvent, text_, sender_);
        return false;
    }

    void EndSending() {
        session_.ShutdownSend();
        m_.Pause(kClosePauseMs);
    }
    bool EndWithError(std::string step, int error) {
        EndSending();
        return Fail(std::move(step), error);
    }
    bool Fail(std::string step, int error) {
        m_.SessionError(node_, sender_, std::move(step), error);
        return false;
    }

    ModbusModule& m_;
    const ModbusNode& node_;
    const RegisterList& list_;
    TcpSession& session_;
    const std::string marker_;
    const uint32_t timeoutMs_;
    sockaddr_in sender_;
    std::string text_;
    std::string pending_;  // the response gathered so far
    size_t index_ = 0;
    uint16_t transaction_ = 1;  // per connection: 1 for its first request
    bool warning_ = false;
};

ModbusModule::~ModbusModule() { Stop(platform::Blocking::Yes); }

bool ModbusModule::ReadyToStart() {
    session_ = std::make_unique<TcpSession>(kChunkSize, UsableTimeoutMs(settings_.common.timeout), 0);
    return true;
}

SessionFailure ModbusModule::LastFailure() const {
    std::lock_guard hold(failureLock_);
    return lastFailure_;
}

void ModbusModule::SessionError(const ModbusNode& node, const sockaddr_in& sender, std::string step, int error) {
    errors_.fetch_add(1);
    {
        std::lock_guard hold(failureLock_);
        lastFailure_ = {std::move(step), error};
    }
    Emit(core::str::kModbusSessionErrorEvent, core_.Text(core::str::kLimitBreachMarker), sender);
    PushGap(node);
}

void ModbusModule::WriteRefused(const ModbusNode& node, const sockaddr_in& sender, uint8_t func) {
    std::fprintf(stderr, "mod_modbus: node %s: a register list entry has function %u, which is not a read (1-4); "
                         "nothing is sent to the node\n", node.name.c_str(), func);
    errors_.fetch_add(1);
    {
        std::lock_guard hold(failureLock_);
        lastFailure_ = {"function " + std::to_string(func), 0};
    }
    const std::string marker = core_.Text(core::str::kLimitBreachMarker);
    Emit(core::str::kModbusSessionErrorEvent, core_.Text(core::str::kModbusWriteRefused, marker, node.name, func), sender);
    PushGap(node);
}

void ModbusModule::Poll(const ModbusNode& node, const RegisterList& list) {
    if (!session_) return;
    NodeExchange(*this, node, list).Run();
}

std::unique_ptr<core::Module> CreateModbusModule(core::CoreContext& core) {
    return std::make_unique<ModbusModule>(core);
}

}  // namespace qm::polling::modbus
