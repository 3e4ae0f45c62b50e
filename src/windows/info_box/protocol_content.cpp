#include "windows/info_box/protocol_content.h"

#include <cstdio>

#include "core/core_context.h"
#include "windows/window_module/window_module.h"

namespace qm::windows {

InfoContent ProtocolContent(const script::ProtocolWindow& window) {
    InfoContent content;
    content.title = window.title;
    content.text = window.text;
    content.icon = window.icon;
    const auto& rules = script::ProtocolHighlights();
    for (size_t i = 0; i < rules.size() && i < content.highlights.size(); ++i) {
        HighlightRule& rule = content.highlights[i];
        rule.enabled = window.highlight;
        rule.format.bold = rules[i].bold;
        rule.format.hasColor = true;
        rule.format.color = rules[i].color;
        rule.startMarker = rules[i].start;
        rule.endMarker = rules[i].end;
        rule.firstOccurrence = 0;
        rule.limit = -1;
    }
    return content;
}

void ShowProtocolWindow(core::CoreContext& core, const script::ProtocolWindow& window) {
    auto* module = core.registry ? core.registry->FindAs<WindowModule>(core::kModuleWindow) : nullptr;
    if (module != nullptr && !module->ShowInfoBox(ProtocolContent(window)))
        std::fputs("The script protocol window was not shown: the window module stayed busy\n", stderr);
}

}  // namespace qm::windows
