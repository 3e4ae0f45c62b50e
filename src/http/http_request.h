#pragma once
// What a request says, taken apart: the request line and headers, and the
// resource the URI names inside the web root. Nothing here touches a file;
// a URI that could name anything outside the web root is refused here, so
// no later step ever sees it.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::http {

struct HttpHeader {
    std::string name;
    std::string value;
};

struct HttpRequest {
    std::string method;
    std::string uri;
    std::string version;
    std::vector<HttpHeader> headers;
    std::string body;

    // The value of the first header of this name (any case), or nothing.
    std::optional<std::string_view> Header(std::string_view name) const;
};

// The three words of the first line, the header lines up to the first empty
// line, and what follows it. Nothing when there is no request line at all.
std::optional<HttpRequest> ParseRequest(std::string_view bytes);

// True once the bytes hold a whole request head (up to its empty line).
bool RequestHeadComplete(std::string_view bytes);

// The resource a URI names. Paths use the backslash form the keys of
// http.ini are written in: directory "\" or "\sub\", name "index.html".
struct HttpResource {
    std::string directory;  // from the leading backslash up to and including the last one
    std::string name;       // last part, "index.html" for a directory
    std::string fileName;   // the name when it has a dot
    std::string bareName;   // the name when it has none (a dynamic resource)
    std::string base;       // name up to its first dot
    std::string extension;  // after the first dot
    std::string key;        // directory + name: the one spelling of this resource
    std::string query;      // after the first "?", as received

    bool IsDynamic() const { return fileName.empty(); }
    // directory + name relative to the web root, with "/" separators.
    std::string RelativePath() const;
};

// Percent-escapes are decoded once; "/" and "\" both separate; empty and "."
// segments drop out, so every spelling of one path gives one key; a URI
// without a leading "/" is read as if it had one. Refused (nothing): a ".."
// segment, a bad or second-level escape, NUL or any other control character.
std::optional<HttpResource> ResolveUri(std::string_view uri);

// The `log` query: parts split at "&", each read as a decimal number; a
// missing or empty part is -1.
long long QueryNumber(std::string_view query, size_t position);

// Case-insensitive ASCII comparison.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace qm::http
