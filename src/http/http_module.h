#pragma once
// The HTTP server (module id 9, section mod_httpserver): each server item
// listens on its own address and port and serves the web root's files and
// the `log` resource from one or two event loops.
#include <memory>
#include <vector>

#include "core/item_service_module.h"
#include "http/http_settings.h"
#include "http/server_item.h"

namespace qm::http {

class HttpModule : public core::ItemServiceModule<HttpCommon, HttpServerItem, ServerItem> {
public:
    explicit HttpModule(core::CoreContext& core);
    ~HttpModule() override;


    // The port a running item listens on (0 when it is not running).
    uint16_t BoundPort(size_t index);
    // Connections a running item is serving now.
    uint32_t Serving(size_t index);
    // The request log file a running item writes (empty when none).
    std::filesystem::path RequestLogPath(size_t index);
    HttpShared& Shared() { return shared_; }

protected:
    std::unique_ptr<ServerItem> MakeItem(const HttpServerItem& record) override;

private:
    HttpShared shared_;
};

std::unique_ptr<core::Module> CreateHttpServerModule(core::CoreContext& core);

}  // namespace qm::http
