#include "http/dynamic_resources.h"

#include <array>

#include "http/log_feed.h"

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

// The newest events as JSON, under the same access rules as `log`. Its
// type comes from its own entry, then the "json" one, and is JSON whatever
// the default type says.
std::optional<HttpResponse> ServeLogFeed(const DynamicRequest& request) {
    std::string body = LogFeed(*request.setup.core, request.resource.query, request.setup.logExport.eventParam);
    if (body.empty()) return std::nullopt;
    const std::string& key = request.resource.key;
    std::optional<std::string> mime = IniEntry(request.ini, "mime", key, kIniValueCapacity);
    if (!mime) mime = IniEntry(request.ini, "mime", request.resource.extension, kIniValueCapacity);
    HttpResponse response;
    response.headers =
        ContentHeaders(mime.value_or("application/json"),
                       IniEntry(request.ini, "cache", key, kIniValueCapacity).value_or(request.setup.defaults.cacheControl));
    response.body = std::move(body);
    return response;
}

struct Row {
    std::string_view name;
    DynamicResource serve;
};

constexpr std::array kResources{
    Row{"log", &ServeLog},
    Row{"log.json", &ServeLogFeed},
};

}  // namespace

DynamicResource FindDynamicResource(std::string_view name) {
    for (const Row& row : kResources)
        if (EqualsNoCase(row.name, name)) return row.serve;
    return nullptr;
}

}  // namespace qm::http
