#pragma once
// Turns one request into one answer, in the fixed order: client access,
// parse, version, method, resource, authorization, content access, then the
// `log` export or the file. Every failure is a status with its own text as
// the body; nothing the client sent is ever put into a header.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "http/file_cache.h"
#include "http/http_ini.h"
#include "http/log_export.h"
#include "platform/unique_fd.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::http {

// What every request of one server item shares; read-only while it runs,
// except the http.ini cache, which guards itself.
struct HandlerSetup {
    core::CoreContext* core = nullptr;
    std::filesystem::path webRoot;        // canonical, when it exists
    std::filesystem::path programFolder;  // canonical, when it exists
    HttpIniDefaults defaults;
    HttpIni* ini = nullptr;
    FileCache* files = nullptr;  // may be null: every file is read
    LogExportOptions logExport;
};

// One answer: its bytes, and for a file the open file behind them, which
// the connection sends straight from the page cache after the head.
struct HttpAnswer {
    HttpAnswer() = default;
    HttpAnswer(std::string whole) : bytes(std::move(whole)) {}  // NOLINT: every answer but a file's is bytes alone

    std::string bytes;  // status line, headers, and the body unless it is `body` or `file`
    std::string body;   // sent right after `bytes`
    platform::UniqueFd file;
    uint64_t fileSize = 0;  // announced in the head; all of it follows
};

// The answer bytes: status line, headers, body.
std::string BuildAnswer(std::string_view status, std::string_view extraHeaders, std::string_view body);

class RequestHandler {
public:
    // `logLine` collects the request log parts of the connection; `names`
    // (may be null) names the senders in the `log` export.
    RequestHandler(const HandlerSetup& setup, std::string clientAddress, processing::DnsModule* names,
                   std::string& logLine)
        : setup_(setup), client_(std::move(clientAddress)), names_(names), logLine_(logLine) {}

    HttpAnswer Handle(std::string_view bytes);

private:
    std::string Error(std::string_view status, const platform::ProfileFile& ini);
    void Log(std::string_view part);
    int LogLevel() const { return setup_.defaults.logLevel; }

    const HandlerSetup& setup_;
    const std::string client_;
    processing::DnsModule* const names_;
    std::string& logLine_;
};

}  // namespace qm::http
