#include "http/http_module.h"

#include "core/core_context.h"

namespace qm::http {

using platform::Blocking;

std::unique_ptr<core::Module> CreateHttpServerModule(core::CoreContext& core) {
    return std::make_unique<HttpModule>(core);
}

HttpModule::HttpModule(core::CoreContext& core)
    : ItemServiceModule(core, core::kModuleHttpServer, "mod_httpserver", kHttpLayout, shared_.running,
                        core::str::kWebServerDisabled) {}

HttpModule::~HttpModule() { Stop(Blocking::Yes); }

std::unique_ptr<ServerItem> HttpModule::MakeItem(const HttpServerItem& record) {
    return std::make_unique<ServerItem>(core_, shared_, record, settings_.common);
}

uint16_t HttpModule::BoundPort(size_t index) {
    return FromItem<uint16_t>(index, 0, [](ServerItem& item) { return item.BoundPort(); });
}

uint32_t HttpModule::Serving(size_t index) {
    return FromItem<uint32_t>(index, 0, [](ServerItem& item) { return item.Serving(); });
}

std::filesystem::path HttpModule::RequestLogPath(size_t index) {
    return FromItem<std::filesystem::path>(index, {}, [](ServerItem& item) { return item.RequestLogPath(); });
}

}  // namespace qm::http
