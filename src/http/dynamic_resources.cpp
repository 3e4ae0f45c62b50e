#include "http/dynamic_resources.h"

#include <array>

#include "http/log_feed.h"

namespace qm::http {

namespace {

// A made-up answer with the headers of the resource's own http.ini entries;
// `mime` where it has no type of its own.
std::optional<HttpResponse> Answer(const DynamicRequest& request, std::string body, const std::string& mime) {
    if (body.empty()) return std::nullopt;
    const std::string& key = request.resource.key;
    HttpResponse response;
    response.headers =
        ContentHeaders(IniEntry(request.ini, "mime", key, kIniValueCapacity).value_or(mime),
                       IniEntry(request.ini, "cache", key, kIniValueCapacity).value_or(request.setup.defaults.cacheControl));
    response.body = std::move(body);
    return response;
}

// The program's counters and the newest events. A dynamic name has no
// extension to fall back on: the default type serves.
std::optional<HttpResponse> ServeLog(const DynamicRequest& request) {
    LogExportOptions options = request.setup.logExport;
    options.names = request.names;
    return Answer(request, LogExport(*request.setup.core, request.resource.query, options),
                  request.setup.defaults.mimeType);
}

// The newest events as JSON, under the same access rules as `log`. Its
// type comes from its own entry, then the "json" one, and is JSON whatever
// the default type says.
std::optional<HttpResponse> ServeLogFeed(const DynamicRequest& request) {
    return Answer(request, LogFeed(*request.setup.core, request.resource.query, request.setup.logExport.eventParam),
                  IniEntry(request.ini, "mime", request.resource.extension, kIniValueCapacity).value_or("application/json"));
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
