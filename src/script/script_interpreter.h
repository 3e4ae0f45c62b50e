#pragma once
// Runs script text: statements one after the other in frames that see their
// parents' variables, with the system nodes (sys, dbg, syslog) built in and
// the modules reached through their script nodes. A run keeps no state
// beyond what it changes in the modules; its report comes back as text.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/sync.h"
#include "script/script_node.h"
#include "script/script_output.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::script {

// How deep calls, loops and set blocks may nest. A function calling itself
// has no other end; beyond this the call is refused with a FAIL line.
constexpr int32_t kMaxScriptDepth = 100;

// One marking rule of the protocol window: every text from `start` up to
// `end`, in `color` (0x00BBGGRR).
struct ProtocolHighlight {
    std::string start;
    std::string end;
    uint32_t color = 0;
    bool bold = false;
};

struct ProtocolWindow {
    std::string title;  // "Quillmark: Script protocol"
    std::string text;   // the report so far, or "WND: Empty buffer (no log data)"
    int32_t icon = 11;
    bool highlight = true;  // the script's colour switch
};

// The three rules the protocol window marks with when highlighting is on.
const std::array<ProtocolHighlight, 3>& ProtocolHighlights();

// The protocol window of a report as it stands; `colour` is the script's switch.
ProtocolWindow ProtocolWindowOf(std::string_view report, bool colour);

struct ScriptEnvironment {
    core::CoreContext* core = nullptr;  // counters, exit event, System events
    // The script node of a loaded module by its section name, or null.
    std::function<ScriptNode*(std::string_view name)> findNode;
    // Shows the protocol window; null when there are no windows.
    std::function<void(const ProtocolWindow&)> showProtocol;
    // When set, the run stops before its next statement and a sleep ends.
    platform::Event* cancel = nullptr;
};

struct ScriptRun {
    std::string text;       // the report lines, CR LF between them
    uint32_t failures = 0;  // FAIL lines, including those not logged
    bool cancelled = false;
    bool colour = true;     // the highlighting switch as the run left it
};

ScriptRun RunScript(std::string_view text, const ScriptEnvironment& env);

// A decimal integer as the language reads one: blanks, a sign, digits up to
// the first other character; 0 when there are none; saturated at the ends.
int64_t ReadDecimal(std::string_view text);

}  // namespace qm::script
