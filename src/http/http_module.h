#pragma once
// The HTTP server (module id 9, section mod_httpserver): each server item
// listens on its own address and port and serves the web root's files and
// the `log` resource, one thread per connection.
#include <memory>
#include <vector>

#include "core/table_module.h"
#include "http/http_settings.h"
#include "http/server_item.h"

namespace qm::http {

class HttpModule : public core::TableModule<HttpCommon, HttpServerItem> {
public:
    explicit HttpModule(core::CoreContext& core);
    ~HttpModule() override;

    // Starts every item that is enabled, not deleted and not running; true
    // when at least one started.
    bool Start(platform::Blocking blocking) override;
    // True when at least one item was running.
    bool Stop(platform::Blocking blocking) override;

    // The port a running item listens on (0 when it is not running).
    uint16_t BoundPort(size_t index);
    // Connections a running item is serving now.
    uint32_t Serving(size_t index);
    // The request log file a running item writes (empty when none).
    std::filesystem::path RequestLogPath(size_t index);
    HttpShared& Shared() { return shared_; }

protected:
    using TableModule::Check;
    void Check(HttpCommon& common) const override { common = Sanitized(common); }
    void Check(HttpServerItem& item) const override { item = Sanitized(item); }

private:
    // Running items by record index; empty where stopped.
    std::vector<std::unique_ptr<ServerItem>> running_;
    HttpShared shared_;
};

std::unique_ptr<core::Module> CreateHttpServerModule(core::CoreContext& core);

}  // namespace qm::http
