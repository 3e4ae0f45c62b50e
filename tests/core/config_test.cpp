// Settings files that exist but cannot be read are never replaced by a save.
#include "core/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "support/temp_dir.h"

namespace qm::core {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Root reads every file, so the unreadable case runs as "nobody"; the child's
// exit code is the number of saves that went through.
template <typename Fn>
int RunUnprivileged(Fn fn) {
    if (::geteuid() != 0) return fn();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Config, AFileThatCannotBeReadIsNeverReplaced) {
    qm::testing::TempDir temp("qm-config");
    const fs::path folder = temp.path() / "Settings";
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0777);  // writable: a save could replace the file
    const fs::path file = folder / "mod_window.ini";
    const std::string original = "[mod_window]\nVersion=2\nItemCount=0100000001\n[other]\nkeep=1\n";
    std::ofstream(file) << original;
    ::chmod(file.c_str(), 0200);  // its owner may write it, nobody may read it

    const int saved = RunUnprivileged([&] {
        const Config config(folder);
        int through = 0;
        // A type's settings change only their own keys of the file as read...
        SettingsSection section = config.Open("mod_window", "mod_window -> std_report");
        section.File().WriteString(section.Name(), "Wnd.1-Param", "0000");
        if (section.ReadError() == 0) through += 10;
        if (section.Commit()) ++through;
        // ...and a module's save empties its section of the file as read.
        if (config.BeginSave("mod_window", "mod_window").Commit()) ++through;
        return through;
    });
    EXPECT_EQ(saved, 0);
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(ReadWhole(file), original);
}

}  // namespace
}  // namespace qm::core
