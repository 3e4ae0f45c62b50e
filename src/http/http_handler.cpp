#include "http/http_handler.h"

#include <limits>
#include <system_error>

#include "http/dynamic_resources.h"
#include "platform/file_stamp.h"
#include "platform/send_file.h"

namespace qm::http {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kInlineFileBytes = FileCache::kMostBytesPerFile;

// Request text bound for the request log: a line break in it would forge a
// log line of its own.
std::string Printable(std::string_view text) {
    std::string out(text.empty() ? std::string_view("?") : text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

// "\a\b\" -> "\a\", "\" -> "" (no parent above the root).
std::string ParentDirectory(std::string_view directory) {
    if (directory.size() <= 1) return {};
    const size_t slash = directory.rfind('\\', directory.size() - 2);
    return slash == std::string_view::npos ? std::string() : std::string(directory.substr(0, slash + 1));
}

// The entry for the resource, else for its directory, else for the nearest
// directory above it that has one: a rule given to a folder covers what lies
// below it, however deep.
std::optional<std::string> NearestEntry(const platform::ProfileFile& ini, std::string_view section,
                                        const HttpResource& r, size_t capacity) {
    if (auto v = IniEntry(ini, section, r.key, capacity)) return v;
    for (std::string dir = r.directory; !dir.empty(); dir = ParentDirectory(dir))
        if (auto v = IniEntry(ini, section, dir, capacity)) return v;
    return std::nullopt;
}

// True when `path` lies inside `base` (both canonical).
bool Inside(const fs::path& path, const fs::path& base) {
    if (base.empty()) return false;
    const std::string& p = path.native();
    std::string b = base.native();
    if (b.back() != '/') b += '/';
    return p.size() > b.size() && p.compare(0, b.size(), b) == 0;
}

enum class Found { kFile, kMissing, kOutside };

// The regular file at `relative` below `base` (canonical). Each part is
// looked at once; only a path through a link (or a ".." an alias may hold)
// is resolved in full, and must still end inside `base`.
Found FindFile(const fs::path& base, std::string_view relative, fs::path& out, platform::FileStamp& stamp) {
    if (base.empty()) return Found::kMissing;
    fs::path p = base;
    bool resolve = false;
    platform::FileStamp last;
    while (!relative.empty()) {
        const size_t slash = relative.find('/');
        const std::string_view part = relative.substr(0, slash);
        relative = slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") resolve = true;
        p /= part;
        if (platform::LinkStamp(p, last) != 0 || !last.exists) return Found::kMissing;
        if (last.symlink) resolve = true;
    }
    if (resolve) {
        std::error_code ec;
        p = fs::canonical(p, ec);
        if (ec) return Found::kMissing;
        if (!Inside(p, base)) return Found::kOutside;
        if (platform::FileStampOf(p, last) != 0 || !last.exists) return Found::kMissing;
    }
    if (!last.regular) return Found::kMissing;
    out = std::move(p);
    stamp = last;
    return Found::kFile;
}

// Constant time over the length, so a guess cannot be refined by timing.
bool SameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

RequestHandler::RequestHandler(const HandlerSetup& setup, std::string clientAddress, processing::DnsModule* names,
                               std::string& logLine)
    : setup_(setup), client_(std::move(clientAddress)), names_(names), logLine_(logLine), ini_(setup.ini->Current()) {}

void RequestHandler::Log(std::string_view part) {
    if (!logLine_.empty()) logLine_ += '\t';
    logLine_ += part;
}

HttpResponse RequestHandler::Refusal(HttpStatus status) const {
    HttpResponse response;
    response.status = status;
    const std::string type =
        IniEntry(*ini_, "mime", "txt", kIniValueCapacity).value_or("text/plain; charset=windows-1251");
    response.headers = "Content-Type: " + type + "\r\nCache-Control: no-cache\r\n";
    if (status == HttpStatus::kUnauthorized)
        response.headers += "WWW-Authenticate: Basic realm=\"" + setup_.defaults.realm + "\"\r\n";
    response.body = StatusText(status);
    return response;
}

HttpAnswer RequestHandler::Handle(std::string_view bytes) {
    HttpResource resource;
    std::optional<HttpResponse> refusal = Authorize(bytes, resource);
    HttpResponse response = refusal ? std::move(*refusal) : Serve(resource);
    if (LogLevel() > 1) Log("RESP=\"" + std::string(StatusText(response.status)) + "\"");
    return ToAnswer(std::move(response));
}

std::optional<HttpResponse> RequestHandler::Authorize(std::string_view bytes, HttpResource& resource) {
    const platform::ProfileFile& ini = *ini_;
    const HttpIniDefaults& defaults = setup_.defaults;

    const std::optional<std::string> clientRule = IniEntry(ini, "ip-access", client_, kIniValueCapacity);
    if (!(clientRule ? AccessAllowed(*clientRule) : defaults.clientAccess)) return Refusal(HttpStatus::kForbidden);

    const std::optional<HttpRequest> request = ParseRequest(bytes);
    if (!request) return Refusal(HttpStatus::kInternalError);
    if (LogLevel() > 2)
        Log("REQ=\"" + Printable(request->method) + " " + Printable(request->uri) + " " + Printable(request->version) +
            "\"");
    if (!EqualsNoCase(request->version, "HTTP/1.0") && !EqualsNoCase(request->version, "HTTP/1.1"))
        return Refusal(HttpStatus::kVersionNotSupported);
    if (!EqualsNoCase(request->method, "GET")) return Refusal(HttpStatus::kNotImplemented);

    // A URI that would leave the web root is refused before any lookup or
    // file access.
    std::optional<HttpResource> named = ResolveUri(request->uri);
    if (!named) return Refusal(HttpStatus::kForbidden);

    if (auto refused = CheckCredential(*request, *named)) return refused;

    const std::optional<std::string> contentRule = NearestEntry(ini, "content-access", *named, kIniValueCapacity);
    if (!(contentRule ? AccessAllowed(*contentRule) : defaults.contentAccess)) return Refusal(HttpStatus::kForbidden);
    resource = std::move(*named);
    return std::nullopt;
}

std::optional<HttpResponse> RequestHandler::CheckCredential(const HttpRequest& request, const HttpResource& resource) {
    const HttpIniDefaults& defaults = setup_.defaults;
    if (defaults.authType == 0) return std::nullopt;
    if (defaults.authType != 1 || request.headers.empty()) {
        if (LogLevel() > 2) Log("Auth=\"FAIL\"");
        return Refusal(HttpStatus::kUnauthorized);
    }
    const std::string credential = NearestEntry(*ini_, "auth", resource, 63).value_or(defaults.credential);
    const size_t first = credential.find_first_not_of(" \t");
    if (first == std::string::npos || credential[first] == '*') {
        if (LogLevel() > 2) Log("Auth=\"NOT REQUIRED\"");
        return std::nullopt;
    }
    bool ok = false;
    if (const auto header = request.Header("Authorization")) {
        const size_t space = header->find(' ');
        const std::string_view scheme = header->substr(0, space);
        const std::string_view token = space == std::string_view::npos ? std::string_view() : header->substr(space + 1);
        ok = EqualsNoCase(scheme, "Basic") && SameSecret(token, credential);
    }
    if (LogLevel() > 2) Log(ok ? "Auth=\"OK\"" : "Auth=\"FAIL\"");
    if (!ok) return Refusal(HttpStatus::kUnauthorized);
    return std::nullopt;
}

HttpResponse RequestHandler::Serve(const HttpResource& resource) {
    const DynamicResource serve = FindDynamicResource(resource.name);
    if (!serve) return resource.IsDynamic() ? Refusal(HttpStatus::kNotFound) : ServeFile(resource);
    std::optional<HttpResponse> response = serve(DynamicRequest{setup_, *ini_, resource, names_});
    return response ? std::move(*response) : Refusal(HttpStatus::kNotFound);
}

HttpResponse RequestHandler::ServeFile(const HttpResource& r) {
    const platform::ProfileFile& ini = *ini_;
    const HttpIniDefaults& defaults = setup_.defaults;
    std::string relative;
    const fs::path* base = &setup_.webRoot;
    if (const auto alias = IniEntry(ini, "alias", r.key)) {
        relative = *alias;
        for (char& c : relative)
            if (c == '\\') c = '/';
        base = &setup_.programFolder;
    } else {
        relative = r.RelativePath();
    }
    fs::path real;
    platform::FileStamp stamp;
    switch (FindFile(*base, relative, real, stamp)) {
        case Found::kFile: break;
        case Found::kMissing: return Refusal(HttpStatus::kNotFound);
        // A link inside the web root must not lead out of it.
        case Found::kOutside: return Refusal(HttpStatus::kForbidden);
    }
    std::optional<std::string> mime = IniEntry(ini, "mime", r.key, kIniValueCapacity);
    if (!mime && !r.extension.empty()) mime = IniEntry(ini, "mime", r.extension, kIniValueCapacity);
    HttpResponse response;
    response.headers =
        ContentHeaders(mime.value_or(defaults.mimeType),
                       IniEntry(ini, "cache", r.key, kIniValueCapacity).value_or(defaults.cacheControl));
    if (const auto kept = setup_.files ? setup_.files->Find(real, stamp) : nullptr) {
        response.body = *kept;
        return response;
    }
    // The length is the file's as it is opened; the body goes out from that
    // same open file.
    platform::FileStamp opened;
    if (platform::OpenForSending(real, response.file, opened) != 0 || opened.size == 0 ||
        opened.size > static_cast<uint64_t>(std::numeric_limits<int>::max()))
        return Refusal(HttpStatus::kInternalError);
    response.fileSize = opened.size;
    // A small file goes out in one send with its head: a second call and
    // segment would cost more than copying it.
    if (response.fileSize <= kInlineFileBytes) {
        if (platform::AppendFileBytes(response.file.Get(), response.fileSize, response.body) != 0)
            return Refusal(HttpStatus::kInternalError);
        if (setup_.files) setup_.files->Keep(real, opened, response.body);
        response.file.Reset();
        response.fileSize = 0;
    }
    return response;
}

}  // namespace qm::http
