#pragma once
// Turns one request into one answer in two steps. Authorize runs the checks
// in their fixed order (client access, parse, version, method, resource,
// authorization, content access) and gives the refusal of the first that
// fails; Serve then answers with a dynamic resource or a file. Every failure
// is a status with its own text as the body; nothing the client sent is
// ever put into a header. One handler serves one request, on the thread of
// its connection.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/handler_setup.h"
#include "http/http_request.h"
#include "http/http_response.h"
#include "platform/profile_file.h"

namespace qm::processing {
class DnsModule;
}

namespace qm::http {

class RequestHandler {
public:
    // `logLine` collects the request log parts of the connection; `names`
    // (may be null) names the senders in the `log` export. http.ini is taken
    // as it is now, so both steps of one request see the same file.
    RequestHandler(const HandlerSetup& setup, std::string clientAddress, processing::DnsModule* names,
                   std::string& logLine);

    // Both steps, the response log part, and the answer bytes.
    HttpAnswer Handle(std::string_view bytes);

    // The refusal, when any check fails; otherwise nothing, and `resource`
    // is what the request names.
    std::optional<HttpResponse> Authorize(std::string_view bytes, HttpResource& resource);
    // The answer for an admitted resource.
    HttpResponse Serve(const HttpResource& resource);

private:
    HttpResponse Refusal(HttpStatus status) const;
    std::optional<HttpResponse> CheckCredential(const HttpRequest& request, const HttpResource& resource);
    HttpResponse ServeFile(const HttpResource& resource);
    void Log(std::string_view part);
    int LogLevel() const { return setup_.defaults.logLevel; }

    const HandlerSetup& setup_;
    const std::string client_;
    processing::DnsModule* const names_;
    std::string& logLine_;
    const std::shared_ptr<const platform::ProfileFile> ini_;
};

}  // namespace qm::http
