#pragma once
// What every request of one server item shares; read-only while the item
// runs, except the http.ini cache and the file cache, which guard themselves.
// Owned by the server item; the handlers only borrow it.
#include <filesystem>

#include "http/file_cache.h"
#include "http/http_ini.h"
#include "http/log_export.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::http {

struct HandlerSetup {
    core::CoreContext* core = nullptr;
    std::filesystem::path webRoot;        // canonical, when it exists
    std::filesystem::path programFolder;  // canonical, when it exists
    HttpIniDefaults defaults;
    HttpIni* ini = nullptr;
    FileCache* files = nullptr;  // may be null: every file is read
    LogExportOptions logExport;
};

}  // namespace qm::http
