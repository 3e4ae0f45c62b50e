#include "windows/event_list/event_worker.h"

#include "core/core_context.h"
#include "processing/dns/dns_module.h"
#include "processing/rules/rules_module.h"
#include "windows/event_list/event_list_settings.h"

namespace qm::windows {

std::string DateText(core::CoreContext& core, const core::EventRecord& event) {
    const platform::SystemTime& t = event.time;
    return core.Text(core::str::kEventTime, unsigned(t.day), unsigned(t.month), unsigned(t.hour), unsigned(t.minute),
                     unsigned(t.second));
}

int32_t SeverityIcon(uint32_t severity) { return severity <= 7 ? static_cast<int32_t>(20 + severity) : 28; }

RowFill ComputeRow(core::CoreContext& core, const WorkerOptions& options,
                   std::shared_ptr<const core::EventRecord> shared) {
    RowFill fill;
    if (!shared) return fill;
    const core::EventRecord& event = *shared;
    processing::RuleOutcome outcome;
    processing::RulesModule* rules =
        core.registry ? core.registry->FindAs<processing::RulesModule>(core::kModuleRules) : nullptr;
    if (rules && !options.rules.empty()) outcome = rules->Apply(event, options.rules);

    const bool scheme = (options.param & kListColorScheme) != 0;
    // The scheme is read (under the rules lock) only when it decides.
    const processing::ColorScheme colors =
        rules && scheme && !outcome.colors ? rules->Scheme() : processing::ColorScheme::Defaults();
    fill.colors = processing::ChooseColors(outcome.colors, event, scheme, colors, options.listColors);

    // The event's own message is read from the event where it is shown.
    if (outcome.message) {
        fill.texts[kColumnMessage] = std::move(*outcome.message);
        fill.messageReplaced = true;
    }
    fill.texts[kColumnDate] = DateText(core, event);
    fill.texts[kColumnLevel] = core.Text(core::SeverityNameId(event.severity));
    fill.icon = SeverityIcon(event.severity);
    if (outcome.sender) {
        fill.texts[kColumnSender] = std::move(*outcome.sender);
    } else if (processing::DnsModule* dns = (options.param & kListResolveNames) && core.registry
                                                ? core.registry->FindAs<processing::DnsModule>(core::kModuleDns)
                                                : nullptr) {
        fill.texts[kColumnSender] = dns->NameFor(event.sender);
    } else {
        fill.texts[kColumnSender] = event.sender;
    }
    fill.event = std::move(shared);
    return fill;
}

}  // namespace qm::windows
