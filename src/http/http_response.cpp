#include "http/http_response.h"

namespace qm::http {

std::string_view StatusText(HttpStatus status) {
    switch (status) {
        case HttpStatus::kOk: return "200 OK";
        case HttpStatus::kUnauthorized: return "401 Unauthorized";
        case HttpStatus::kForbidden: return "403 Forbidden";
        case HttpStatus::kNotFound: return "404 Not Found";
        case HttpStatus::kInternalError: return "500 Internal Server Error";
        case HttpStatus::kNotImplemented: return "501 Not Implemented";
        case HttpStatus::kVersionNotSupported: return "505 HTTP Version Not Supported";
    }
    return "500 Internal Server Error";
}

std::string ContentHeaders(std::string_view type, std::string_view cacheControl) {
    std::string headers;
    headers.append("Content-Type: ").append(type).append("\r\nCache-Control: ").append(cacheControl).append("\r\n");
    return headers;
}

HttpAnswer ToAnswer(HttpResponse response) {
    HttpAnswer answer;
    const uint64_t length = response.file.Valid() ? response.fileSize : response.body.size();
    std::string& head = answer.bytes;
    head.reserve(160 + response.headers.size());
    head.append("HTTP/1.1 ").append(StatusText(response.status));
    head.append("\r\nServer: VTX v1.0 for Quillmark\r\nTitle: Quillmark\r\nContent-Length: ");
    head.append(std::to_string(static_cast<int>(length)));
    head.append("\r\nConnection: close\r\n").append(response.headers).append("\r\n");
    answer.body = std::move(response.body);
    if (response.file.Valid()) {
        answer.file = std::move(response.file);
        answer.fileSize = response.fileSize;
    }
    return answer;
}

}  // namespace qm::http
