#pragma once
// The program's home in a temp folder with the default settings, for tests
// that run the real program.
#include <functional>
#include <memory>

#include "platform/profile_file.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace qm::testing {

namespace fs = std::filesystem;

// The program's home in a temp folder, seeded with the default settings.
class ProgramHome {
public:
    ProgramHome() {
        fs::create_directories(home_);
        fs::copy(fs::path(QM_SOURCE_DIR) / "resources" / "default-home" / "Settings", home_ / "Settings",
                 fs::copy_options::recursive);
    }
    const fs::path& Home() const { return home_; }
    fs::path Logs() const { return home_ / "Logs"; }
    fs::path Settings(const char* file) const { return home_ / "Settings" / (std::string(file) + ".ini"); }
    std::string OutputText() const { return ReadWholeFile(dir_.path() / "output.txt"); }

    // Changes values of one settings file (made when missing), keeping the rest.
    void Edit(const char* file, const std::function<void(platform::ProfileFile&, const char*)>& edit) const {
        platform::ProfileFile ini = platform::ProfileFile::Load(Settings(file));
        edit(ini, file);
        ASSERT_TRUE(ini.Save(Settings(file)));
    }
    // The default collector listener moved to 127.0.0.1:port.
    void Listen(uint16_t port) const {
        Edit("mod_collector", [&](platform::ProfileFile& ini, const char* s) {
            ini.WriteString(s, "Item.0-StrName", "127.0.0.1");
            ini.WriteStruct(s, "Item.0-Port", LittleEndian(port));
        });
    }
    // Without the new home's pings of 127.0.0.1, whose events would be
    // stored and relayed among a test's own lines.
    void StopPinging() const { fs::remove(Settings("mod_icmp")); }
    // The program on this home with `args` and `env` ("NAME=value", e.g. a
    // locale); its stdout and stderr go to OutputText().
    std::unique_ptr<ChildProcess> Start(std::vector<std::string> args = {}, std::vector<std::string> env = {}) const {
        args.insert(args.begin(), QM_BINARY);
        env.push_back("QUILLMARK_HOME=" + home_.string());
        return std::make_unique<ChildProcess>(std::move(args), dir_.path() / "output.txt", ChildEnvironment(std::move(env)));
    }

private:
    TempDir dir_{"qm-program"};
    fs::path home_ = dir_.path() / "home";
};

}  // namespace qm::testing
