#include "http/dynamic_resources.h"

#include <array>

namespace qm::http {

namespace {

// The program's counters and the newest events. Its headers come from the
// resource's own entries only: a dynamic name has no extension to fall back on.
std::optional<HttpResponse> ServeLog(const DynamicRequest& request) {
    LogExportOptions options = request.setup.logExport;
    options.names = request.names;
    std::string body = LogExport(*request.setup.core, request.resource.query, options);
    if (body.empty()) return std::nullopt;
    const HttpIniDefaults& defaults = request.setup.defaults;
    const std::string& key = request.resource.key;
    HttpResponse response;
    response.headers =
        ContentHeaders(IniEntry(request.ini, "mime", key, kIniValueCapacity).value_or(defaults.mimeType),
                       IniEntry(request.ini, "cache", key, kIniValueCapacity).value_or(defaults.cacheControl));
    response.body = std::move(body);
    return response;
}

struct Row {
    std::string_view name;
    DynamicResource serve;
};

constexpr std::array kResources{
    Row{"log", &ServeLog},
};

}  // namespace

DynamicResource FindDynamicResource(std::string_view name) {
    for (const Row& row : kResources)
        if (EqualsNoCase(row.name, name)) return row.serve;
    return nullptr;
}

}  // namespace qm::http
