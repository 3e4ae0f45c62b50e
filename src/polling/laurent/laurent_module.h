#pragma once
// The Laurent poller (section mod_laurent): each enabled board is asked, once
// a cycle over one TCP connection, the commands of the list it names; the
// value fields of the replies fill the list's output format, one event per
// board and cycle, and the numbers go to the value collector for the boards
// that ask for it. Records, service and rounds are the list poller's.
#include <atomic>
#include <memory>
#include <string>

#include "core/core_context.h"
#include "core/string_ids.h"
#include "polling/laurent/laurent_settings.h"
#include "polling/list_poller.h"

namespace qm::polling::laurent {

class BoardSession;

struct LaurentShape {
    using Common = LaurentCommon;
    using Item = LaurentBoard;
    using Entry = LaurentCommand;
    static constexpr auto kListRef = &LaurentBoard::cmdListId;
    static constexpr uint16_t kId = core::kModuleLaurent;
    static constexpr const char* kSection = "mod_laurent";
    static constexpr uint32_t kStarted = core::str::kLaurentStarted;
    static constexpr uint32_t kStopped = core::str::kLaurentStopped;
    static constexpr uint32_t kDisabled = core::str::kLaurentDisabled;
};

class LaurentModule : public ListPoller<LaurentShape> {
public:
    explicit LaurentModule(core::CoreContext& core) : ListPoller(core) {}
    ~LaurentModule() override;

    // Network failures (sockets, connections, lines sent or read as nothing).
    uint32_t ErrorCount() const { return errors_.load(); }

protected:
    void Poll(const LaurentBoard& board, const CommandList& list) override;
    // The service needs TCP sockets: without them it does not start.
    bool ReadyToStart() override;

private:
    // One command's value text (nothing: no reply), its breach and readings.
    struct Answer {
        std::optional<std::string> text;
        bool warning = false;
    };
    Answer Ask(BoardSession& session, const LaurentBoard& board, const LaurentCommand& command,
               const std::string& marker);

    std::atomic<uint32_t> errors_{0};
};

std::unique_ptr<core::Module> CreateLaurentModule(core::CoreContext& core);

}  // namespace qm::polling::laurent
