#include "windows/qt/program_windows.h"

#include <atomic>
#include <vector>

#include "core/core_context.h"
#include "modules.h"
#include "windows/event_list/qt/event_list_content.h"
#include "windows/graph/qt/graph_content.h"
#include "windows/info_box/qt/info_box_content.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt {

namespace {

std::atomic<ProgramWindows*> current{nullptr};

std::unique_ptr<core::Module> CreateModuleOnQt(core::CoreContext& core) {
    ProgramWindows* windows = ProgramWindows::Current();
    return CreateWindowModule(core, windows ? &windows->System() : nullptr);
}

}  // namespace

ProgramWindows::ProgramWindows(core::CoreContext& core)
    : core_(core),
      pool_(core),
      system_([this](const FrameRequest& request, FrameWidget& frame) { return MakeContent(request, frame); }) {
    current = this;
}

ProgramWindows::~ProgramWindows() {
    ProgramWindows* self = this;
    current.compare_exchange_strong(self, nullptr);
}

ProgramWindows* ProgramWindows::Current() { return current.load(); }

WindowModule* ProgramWindows::Module() {
    return core_.registry ? core_.registry->FindAs<WindowModule>(core::kModuleWindow) : nullptr;
}

std::optional<size_t> ProgramWindows::IndexOf(WindowModule& module, uint64_t uid) {
    for (const WindowSummary& w : module.Windows())
        if (w.uid == uid) return w.index;
    return std::nullopt;
}

std::function<uint16_t()> ProgramWindows::FrameParamOf(uint64_t uid) {
    return [this, uid]() -> uint16_t {
        WindowModule* module = Module();
        if (module == nullptr) return 0;
        const std::optional<size_t> index = IndexOf(*module, uid);
        if (!index) return 0;
        const std::optional<WindowEntry> entry = module->Entry(*index);
        return entry ? entry->param : 0;
    };
}

std::function<void(uint16_t)> ProgramWindows::FrameParamToggle(uint64_t uid) {
    return [this, uid](uint16_t bit) {
        WindowModule* module = Module();
        if (module == nullptr) return;
        const std::optional<size_t> index = IndexOf(*module, uid);
        if (!index) return;
        std::optional<WindowEntry> entry = module->Entry(*index);
        if (!entry) return;
        entry->param ^= bit;
        module->ReplaceWindow(*index, *entry);
    };
}

std::vector<GraphChoice> ProgramWindows::GraphsOf(const std::string& vendor) {
    std::vector<GraphChoice> choices;
    WindowModule* module = Module();
    if (module == nullptr) return choices;
    std::erase_if(graphs_, [](const auto& graph) { return graph.second.isNull(); });
    for (const WindowSummary& w : module->Windows()) {
        if (w.type != kWindowGraph || !w.active) continue;
        const auto graph = graphs_.find(w.uid);
        if (graph == graphs_.end() || graph->second->Settings().vendor != vendor) continue;
        choices.push_back(GraphChoice{w.index, w.name, w.visible});
    }
    return choices;
}

std::unique_ptr<FrameContent> ProgramWindows::MakeContent(const FrameRequest& request, FrameWidget& frame) {
    switch (request.type) {
        case kWindowEventList: {
            EventListHost host;
            host.showInfo = [this](const InfoContent& content) {
                if (WindowModule* module = Module()) module->ShowInfoBox(content);
            };
            host.frameParam = FrameParamOf(request.uid);
            host.toggleFrameParam = FrameParamToggle(request.uid);
            host.graphsOf = [this](const std::string& sender) { return GraphsOf(sender); };
            host.toggleWindow = [this](size_t index) {
                if (WindowModule* module = Module()) module->ToggleWindow(index);
            };
            return std::make_unique<EventListContent>(core_, pool_, request.uid, std::move(host),
                                                      core_.options.windowReset);
        }
        case kWindowGraph: {
            auto graph = std::make_unique<GraphContent>(core_, request.uid,
                                                        GraphHost{FrameParamOf(request.uid), FrameParamToggle(request.uid)});
            graphs_[request.uid] = graph.get();
            return graph;
        }
        case kWindowInfoBox: {
            auto content = std::make_unique<InfoBoxContent>(core_, request.uid, &frame);
            if (request.content) content->ShowContent(*request.content);
            return content;
        }
        default: return nullptr;
    }
}

std::span<const core::ModuleDescriptor> ProgramCatalogWithWindows() {
    static const std::vector<core::ModuleDescriptor> catalog = [] {
        std::vector<core::ModuleDescriptor> modules(ProgramModules().begin(), ProgramModules().end());
        for (core::ModuleDescriptor& d : modules)
            if (d.id == core::kModuleWindow) d.create = CreateModuleOnQt;
        return modules;
    }();
    return catalog;
}

}  // namespace qm::windows::qt
