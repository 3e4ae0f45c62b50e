// http.ini on any file: the defaults read at start and the per-request
// entries. Nothing read from it may break a header line or the quoted realm.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/http_ini.h"
#include "http/http_request.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The last line, when the input has several, is also asked for as a request path.
    const size_t lastLine = bytes.rfind('\n');
    const std::string_view uri = lastLine == std::string_view::npos ? std::string_view("/") : bytes.substr(lastLine + 1);

    const std::filesystem::path path = fuzz::ScratchFolder() / "http.ini";
    fuzz::WriteFile(path, bytes);
    http::HttpIni ini(path);
    const http::HttpIniDefaults d = ini.ReadDefaults();
    QM_FUZZ_CHECK(!fuzz::HasControl(d.cacheControl) && !fuzz::HasControl(d.mimeType));
    QM_FUZZ_CHECK(!fuzz::HasControl(d.realm) && d.realm.find('"') == std::string::npos);
    QM_FUZZ_CHECK(d.logLimit >= 100);

    const std::shared_ptr<const platform::ProfileFile> file = ini.Current();
    QM_FUZZ_CHECK(file != nullptr);
    const std::optional<http::HttpResource> r = http::ResolveUri(uri);
    for (const char* section : {"ip-access", "content-access", "auth", "alias", "mime", "cache"}) {
        for (std::string_view key : {std::string_view("*"), std::string_view("127.0.0.1"), std::string_view("txt")}) {
            if (const auto v = http::IniEntry(*file, section, key, 64)) QM_FUZZ_CHECK(!fuzz::HasControl(*v));
        }
        if (!r) continue;
        for (const std::string* key : {&r->key, &r->directory, &r->extension}) {
            if (const auto v = http::IniEntry(*file, section, *key, 64)) {
                QM_FUZZ_CHECK(!v->empty() && !fuzz::HasControl(*v));
                (void)http::AccessAllowed(*v);
            }
        }
    }
    return 0;
}
