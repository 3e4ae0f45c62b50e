// http.ini read as the server reads it: defaults at start, entries per request.
#include <gtest/gtest.h>

#include <fstream>

#include "http/http_ini.h"
#include "support/temp_dir.h"

namespace qm::http {
namespace {

// Found by fuzzing: a value of control characters alone was cleaned to an
// empty text and then taken as the entry, so headers went out empty instead
// of falling back to the extension's entry or the default.
TEST(HttpIni, AValueOfControlCharactersAloneCountsAsNoEntry) {
    qm::testing::TempDir dir("qm-httpini");
    const std::filesystem::path path = dir.path() / "http.ini";
    std::ofstream(path, std::ios::binary) << "[mime]\n*=\x01\x02\n\\a.txt=\x01\x7f\ntxt=text/plain\n"
                                             "[cache]\n*=\x03\n\\a.txt=max-age=\x01" "60\n";
    HttpIni ini(path);
    const HttpIniDefaults d = ini.ReadDefaults();
    EXPECT_EQ(d.mimeType, "application/octet-stream");
    EXPECT_EQ(d.cacheControl, "no-cache");
    const auto file = ini.Current();
    EXPECT_FALSE(IniEntry(*file, "mime", "\\a.txt"));
    EXPECT_EQ(IniEntry(*file, "mime", "txt"), "text/plain");
    // Control characters inside a value are dropped, the rest stays.
    EXPECT_EQ(IniEntry(*file, "cache", "\\a.txt"), "max-age=60");
}

}  // namespace
}  // namespace qm::http
