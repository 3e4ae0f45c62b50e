#pragma once
// What the server answers, before it becomes bytes: a status the handler
// can produce, the extra header lines, and the body in memory or as an open
// file. ToAnswer is the one place a response turns into the bytes sent.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace qm::http {

enum class HttpStatus {
    kOk,
    kUnauthorized,
    kForbidden,
    kNotFound,
    kInternalError,
    kNotImplemented,
    kVersionNotSupported,
};

// The status as the status line and the error pages spell it: "404 Not Found".
std::string_view StatusText(HttpStatus status);

struct HttpResponse {
    HttpStatus status = HttpStatus::kOk;
    std::string headers;  // extra header lines, each ending in CR LF
    std::string body;
    // Instead of `body`: the open file whose first `fileSize` bytes follow.
    platform::UniqueFd file;
    uint64_t fileSize = 0;
};

// The header lines of a served resource.
std::string ContentHeaders(std::string_view type, std::string_view cacheControl);

// One answer as the connection sends it: the head, then `body`, then the
// file straight from the page cache.
struct HttpAnswer {
    std::string bytes;  // status line and headers
    std::string body;   // sent right after `bytes`, not copied behind them
    platform::UniqueFd file;
    uint64_t fileSize = 0;  // announced in the head; all of it follows
};

HttpAnswer ToAnswer(HttpResponse response);

}  // namespace qm::http
