// The HTTP request parser and the path normalisation on any bytes a client
// may send: no resource that comes out may point outside the web root, and
// each resource has one spelling.
#include <cctype>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/http_request.h"

using namespace qm::http;

namespace {
bool HasDotDotSegment(std::string_view path) {
    size_t start = 0;
    for (;;) {
        const size_t end = path.find_first_of("/\\", start);
        if (path.substr(start, end - start) == "..") return true;
        if (end == std::string_view::npos) return false;
        start = end + 1;
    }
}

void CheckResource(std::string_view uri) {
    const std::optional<HttpResource> r = ResolveUri(uri);
    if (!r) return;
    QM_FUZZ_CHECK(!r->directory.empty() && r->directory.front() == '\\' && r->directory.back() == '\\');
    QM_FUZZ_CHECK(!r->name.empty() && r->name.find_first_of("/\\") == std::string::npos);
    QM_FUZZ_CHECK(r->key == r->directory + r->name);
    QM_FUZZ_CHECK(!HasDotDotSegment(r->key) && !qm::fuzz::HasControl(r->key));
    QM_FUZZ_CHECK(r->directory.find("\\\\") == std::string::npos);
    QM_FUZZ_CHECK(r->IsDynamic() == (r->name.find('.') == std::string::npos));
    const std::string relative = r->RelativePath();
    QM_FUZZ_CHECK(!relative.empty() && relative.front() == '/' && !HasDotDotSegment(relative));
    // The path sent again, escaped, names the same resource.
    std::string escaped;
    for (char c : relative) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '-' || c == '_') {
            escaped += c;
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            escaped += '%';
            escaped += kHex[static_cast<unsigned char>(c) >> 4];
            escaped += kHex[static_cast<unsigned char>(c) & 15];
        }
    }
    const std::optional<HttpResource> again = ResolveUri(escaped);
    QM_FUZZ_CHECK(again && again->key == r->key);
    for (size_t i = 0; i < 3; ++i) (void)QueryNumber(r->query, i);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)RequestHeadComplete(bytes);
    if (const std::optional<HttpRequest> request = ParseRequest(bytes)) {
        QM_FUZZ_CHECK(!request->method.empty());
        for (const std::string* word : {&request->method, &request->uri, &request->version})
            QM_FUZZ_CHECK(word->find(' ') == std::string::npos && word->find('\n') == std::string::npos);
        for (const HttpHeader& h : request->headers) {
            QM_FUZZ_CHECK(h.name.find('\n') == std::string::npos && h.value.find('\n') == std::string::npos);
            QM_FUZZ_CHECK(request->Header(h.name).has_value());
        }
        CheckResource(request->uri);
    }
    // The whole input as a URI too, so the fuzzer need not build a request line first.
    CheckResource(bytes);
    return 0;
}
