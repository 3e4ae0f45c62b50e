#include "http/http_handler.h"

#include <limits>
#include <system_error>

#include "core/core_context.h"
#include "core/text_format.h"
#include "http/http_request.h"
#include "platform/file_stamp.h"
#include "platform/send_file.h"

namespace qm::http {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kOk = "200 OK";
constexpr std::string_view kUnauthorized = "401 Unauthorized";
constexpr std::string_view kForbidden = "403 Forbidden";
constexpr std::string_view kNotFound = "404 Not Found";
constexpr std::string_view kServerError = "500 Internal Server Error";
constexpr std::string_view kNotImplemented = "501 Not Implemented";
constexpr std::string_view kVersionNotSupported = "505 HTTP Version Not Supported";

constexpr size_t kIniValueCapacity = 64;
constexpr uint64_t kInlineFileBytes = FileCache::kMostBytesPerFile;  // 63 characters, as the defaults

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

namespace {
void AppendHead(std::string& answer, std::string_view status, std::string_view extraHeaders, size_t length) {
    answer.append("HTTP/1.1 ").append(status.empty() ? kOk : status);
    answer.append("\r\nServer: VTX v1.0 for Quillmark\r\nTitle: Quillmark\r\nContent-Length: ");
    answer.append(std::to_string(static_cast<int>(length)));
    answer.append("\r\nConnection: close\r\n").append(extraHeaders).append("\r\n");
}

}  // namespace

std::string BuildAnswer(std::string_view status, std::string_view extraHeaders, std::string_view body) {
    std::string answer;
    answer.reserve(160 + extraHeaders.size() + body.size());
    AppendHead(answer, status, extraHeaders, body.size());
    answer.append(body);
    return answer;
}

void RequestHandler::Log(std::string_view part) {
    if (!logLine_.empty()) logLine_ += '\t';
    logLine_ += part;
}

std::string RequestHandler::Error(std::string_view status, const platform::ProfileFile& ini) {
    if (LogLevel() > 1) Log("RESP=\"" + std::string(status) + "\"");
    const std::string type =
        IniEntry(ini, "mime", "txt", kIniValueCapacity).value_or("text/plain; charset=windows-1251");
    std::string extra = "Content-Type: " + type + "\r\nCache-Control: no-cache\r\n";
    if (status == kUnauthorized) extra += "WWW-Authenticate: Basic realm=\"" + setup_.defaults.realm + "\"\r\n";
    return BuildAnswer(status, extra, status);
}

HttpAnswer RequestHandler::Handle(std::string_view bytes) {
    const std::shared_ptr<const platform::ProfileFile> iniFile = setup_.ini->Current();
    const platform::ProfileFile& ini = *iniFile;
    const HttpIniDefaults& defaults = setup_.defaults;

    const std::optional<std::string> clientRule = IniEntry(ini, "ip-access", client_, kIniValueCapacity);
    if (!(clientRule ? AccessAllowed(*clientRule) : defaults.clientAccess)) return Error(kForbidden, ini);

    const std::optional<HttpRequest> request = ParseRequest(bytes);
    if (!request) return Error(kServerError, ini);
    if (LogLevel() > 2)
        Log("REQ=\"" + Printable(request->method) + " " + Printable(request->uri) + " " + Printable(request->version) +
            "\"");
    if (!EqualsNoCase(request->version, "HTTP/1.0") && !EqualsNoCase(request->version, "HTTP/1.1"))
        return Error(kVersionNotSupported, ini);
    if (!EqualsNoCase(request->method, "GET")) return Error(kNotImplemented, ini);

    // A URI that would leave the web root is refused before any lookup or
    // file access.
    const std::optional<HttpResource> resource = ResolveUri(request->uri);
    if (!resource) return Error(kForbidden, ini);
    const HttpResource& r = *resource;

    if (defaults.authType != 0) {
        if (defaults.authType != 1 || request->headers.empty()) {
            if (LogLevel() > 2) Log("Auth=\"FAIL\"");
            return Error(kUnauthorized, ini);
        }
        const std::string credential = NearestEntry(ini, "auth", r, 63).value_or(defaults.credential);
        const size_t first = credential.find_first_not_of(" \t");
        if (first == std::string::npos || credential[first] == '*') {
            if (LogLevel() > 2) Log("Auth=\"NOT REQUIRED\"");
        } else {
            bool ok = false;
            if (const auto header = request->Header("Authorization")) {
                const size_t space = header->find(' ');
                const std::string_view scheme = header->substr(0, space);
                const std::string_view token =
                    space == std::string_view::npos ? std::string_view() : header->substr(space + 1);
                ok = EqualsNoCase(scheme, "Basic") && SameSecret(token, credential);
            }
            if (LogLevel() > 2) Log(ok ? "Auth=\"OK\"" : "Auth=\"FAIL\"");
            if (!ok) return Error(kUnauthorized, ini);
        }
    }

    const std::optional<std::string> contentRule = NearestEntry(ini, "content-access", r, kIniValueCapacity);
    if (!(contentRule ? AccessAllowed(*contentRule) : defaults.contentAccess)) return Error(kForbidden, ini);

    std::string body;
    std::string type;
    if (r.IsDynamic()) {
        if (!EqualsNoCase(r.bareName, "log")) return Error(kNotFound, ini);
        LogExportOptions options = setup_.logExport;
        options.names = names_;
        body = LogExport(*setup_.core, r.query, options);
        if (body.empty()) return Error(kNotFound, ini);
        type = IniEntry(ini, "mime", r.key, kIniValueCapacity).value_or(defaults.mimeType);
    } else {
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
            case Found::kMissing: return Error(kNotFound, ini);
            // A link inside the web root must not lead out of it.
            case Found::kOutside: return Error(kForbidden, ini);
        }
        std::optional<std::string> mime = IniEntry(ini, "mime", r.key, kIniValueCapacity);
        if (!mime && !r.extension.empty()) mime = IniEntry(ini, "mime", r.extension, kIniValueCapacity);
        type = mime.value_or(defaults.mimeType);
        const std::string cache = IniEntry(ini, "cache", r.key, kIniValueCapacity).value_or(defaults.cacheControl);
        const std::string extra = "Content-Type: " + type + "\r\nCache-Control: " + cache + "\r\n";
        HttpAnswer answer;
        if (const auto kept = setup_.files ? setup_.files->Find(real, stamp) : nullptr) {
            AppendHead(answer.bytes, kOk, extra, kept->size());
            answer.bytes += *kept;
        } else {
            // The length is the file's as it is opened; the body goes out
            // from that same open file.
            platform::FileStamp opened;
            if (platform::OpenForSending(real, answer.file, opened) != 0 || opened.size == 0 ||
                opened.size > static_cast<uint64_t>(std::numeric_limits<int>::max()))
                return Error(kServerError, ini);
            answer.fileSize = opened.size;
            AppendHead(answer.bytes, kOk, extra, static_cast<size_t>(answer.fileSize));
            // A small file goes out in one send with its head: a second
            // call and segment would cost more than copying it.
            if (answer.fileSize <= kInlineFileBytes) {
                std::string body;
                if (platform::AppendFileBytes(answer.file.Get(), answer.fileSize, body) != 0)
                    return Error(kServerError, ini);
                answer.bytes += body;
                if (setup_.files) setup_.files->Keep(real, opened, std::move(body));
                answer.file.Reset();
                answer.fileSize = 0;
            }
        }
        if (LogLevel() > 1) Log("RESP=\"200 OK\"");
        return answer;
    }
    if (LogLevel() > 1) Log("RESP=\"200 OK\"");
    const std::string cache = IniEntry(ini, "cache", r.key, kIniValueCapacity).value_or(defaults.cacheControl);
    // The export goes out behind its head as it is, not copied behind it.
    HttpAnswer answer;
    AppendHead(answer.bytes, kOk, "Content-Type: " + type + "\r\nCache-Control: " + cache + "\r\n", body.size());
    answer.body = std::move(body);
    return answer;
}

}  // namespace qm::http
