#include "windows/qt/program_windows.h"

#include <atomic>
#include <vector>

#include "core/core_context.h"
#include "modules.h"
#include "windows/qt/event_list_content.h"
#include "windows/qt/info_box_content.h"
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

std::unique_ptr<FrameContent> ProgramWindows::MakeContent(const FrameRequest& request, FrameWidget& frame) {
    switch (request.type) {
        case kWindowEventList: {
            const uint64_t uid = request.uid;
            EventListHost host;
            host.showInfo = [this](const InfoContent& content) {
                if (WindowModule* module = Module()) module->ShowInfoBox(content);
            };
            const auto indexOf = [this, uid](WindowModule& module) -> std::optional<size_t> {
                for (const WindowSummary& w : module.Windows())
                    if (w.uid == uid) return w.index;
                return std::nullopt;
            };
            host.frameParam = [this, indexOf]() -> uint16_t {
                WindowModule* module = Module();
                if (module == nullptr) return 0;
                const std::optional<size_t> index = indexOf(*module);
                if (!index) return 0;
                const std::optional<WindowEntry> entry = module->Entry(*index);
                return entry ? entry->param : 0;
            };
            host.toggleFrameParam = [this, indexOf](uint16_t bit) {
                WindowModule* module = Module();
                if (module == nullptr) return;
                const std::optional<size_t> index = indexOf(*module);
                if (!index) return;
                std::optional<WindowEntry> entry = module->Entry(*index);
                if (!entry) return;
                entry->param ^= bit;
                module->ReplaceWindow(*index, *entry);
            };
            return std::make_unique<EventListContent>(core_, pool_, uid, std::move(host), core_.options.windowReset);
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
