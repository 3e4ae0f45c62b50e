#include "polling/laurent/laurent_module.h"

#include "platform/codepage.h"
#include "platform/tcp_socket.h"
#include "polling/laurent/board_reply.h"
#include "polling/laurent/board_session.h"
#include "polling/poll_output.h"
#include "script/expression_evaluator.h"

namespace qm::polling::laurent {

namespace {
constexpr int kCommandAttempts = 3;
// What a board needs to have its reply ready after a command.
constexpr uint32_t kReplyPauseMs = 100;
constexpr uint32_t kAttemptPauseMs = 10;
}  // namespace

LaurentModule::~LaurentModule() { Stop(platform::Blocking::Yes); }

bool LaurentModule::ReadyToStart() {
    platform::TcpSocket probe;
    if (const int error = probe.Open(); error != 0) {
        errors_.fetch_add(1);
        core_.Report(core::Severity::Error, core::str::kNetworkError, LaurentShape::kSection, error);
        return false;
    }
    return true;
}

LaurentModule::Answer LaurentModule::Ask(BoardSession& session, const LaurentBoard& board,
                                         const LaurentCommand& command, const std::string& marker) {
    const std::string line = platform::Utf8ToAnsi(command.value) + "\r\n";
    bool boardError = false;
    for (int attempt = 0; attempt < kCommandAttempts && Polling(); ++attempt) {
        if (attempt > 0 && !Pause(kAttemptPauseMs)) break;
        std::optional<std::string_view> field;
        // A send or wait that Stop cut short is no failure of the board:
        // neither an error nor a gap.
        if (!session.SendLine(line)) {
            if (!Polling()) break;
            errors_.fetch_add(1);
        } else if (!Pause(kReplyPauseMs)) {
            break;
        } else if (const std::optional<std::string_view> reply = session.Receive()) {
            field = ReplyValue(*reply);
        } else {
            if (!Polling()) break;
            errors_.fetch_add(1);
        }
        boardError = field && *field == kBoardError;
        if (field && !boardError) {
            // The field is the board's text: it never becomes a format, and
            // a '|' in it must not start a relay suffix in the event.
            const int32_t value = ReadDeviceDecimal(*field);
            Push(board, command.tag, core::Reading::I32(value));
            Answer out{DefuseDeviceText(platform::AnsiToUtf8(*field)), false};
            if ((command.enableMax || command.enableMin) && BreachesLimits(value, command)) {
                *out.text += marker;
                out.warning = true;
            }
            return out;
        }
        PushGap(board);
    }
    // The board's own error is a breach; silence leaves the value untold.
    if (boardError) return {std::string(kBoardError) + marker, true};
    return {std::nullopt, true};
}

void LaurentModule::Poll(const LaurentBoard& board, const CommandList& list) {
    const std::string marker = core_.Text(core::str::kLimitBreachMarker);
    const sockaddr_in sender = PollSender(board.name, static_cast<uint16_t>(board.port));
    const LaurentCommon& common = settings_.common;
    BoardSession session({common.connectTimeout, common.sendTimeout, common.recvTimeout},
                         [this] { return !Polling(); }, core_.counters);
    if (sender.sin_addr.s_addr == INADDR_NONE || session.Connect(sender) != 0) {
        // Stopped while connecting: no verdict on this board.
        if (!Polling()) return;
        errors_.fetch_add(1);
        Emit(core::str::kLaurentSessionErrorEvent, marker, sender);
        PushGap(board);
        return;
    }
    // The board answers the password line; what it says is of no use.
    if (session.SendLine("$KE,PSW,SET," + platform::Utf8ToAnsi(board.password) + "\r\n")) session.Receive();

    std::string text = list.outFormat;
    bool warning = false;
    for (const LaurentCommand& command : list.entries) {
        if (!Polling()) break;
        const Answer answer = Ask(session, board, command, marker);
        warning = warning || answer.warning;
        ReplaceAll(text, Placeholder(command.tag), answer.text ? std::string_view(*answer.text) : marker);
    }
    // Stopped in the middle: the commands not asked would read as failures
    // the board never had, so the board gets no event this cycle.
    if (!Polling()) return;
    text = script::Expand(text);
    Emit(warning ? core::str::kLaurentWarningEvent : core::str::kLaurentInfoEvent, text, sender);
}

std::unique_ptr<core::Module> CreateLaurentModule(core::CoreContext& core) {
    return std::make_unique<LaurentModule>(core);
}

}  // namespace qm::polling::laurent
