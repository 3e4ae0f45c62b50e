#pragma once
// The resources the server makes up on request instead of reading a file,
// by name. A new one joins by adding a row to the table in the .cpp; the
// request handler knows none of them by name.
#include <optional>
#include <string_view>

#include "http/handler_setup.h"
#include "http/http_request.h"
#include "http/http_response.h"
#include "platform/profile_file.h"

namespace qm::processing {
class DnsModule;
}

namespace qm::http {

// One admitted request for a dynamic resource, borrowed for the call.
struct DynamicRequest {
    const HandlerSetup& setup;
    const platform::ProfileFile& ini;  // http.ini as it is for this request
    const HttpResource& resource;
    processing::DnsModule* names;  // may be null
};

// The response, or nothing when there is nothing to serve ("404 Not Found").
using DynamicResource = std::optional<HttpResponse> (*)(const DynamicRequest&);

// The resource of this name (any case), or null. A name in the table is
// made up on request even when it has an extension ("log.json"): a file of
// that name in the web root is not served.
DynamicResource FindDynamicResource(std::string_view name);

}  // namespace qm::http
