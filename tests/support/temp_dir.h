#pragma once
// A fresh folder under the system temp folder, removed with everything in it
// when the test ends. Mode 0711 lets an unprivileged child reach inside.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace qm::testing {

class TempDir {
public:
    explicit TempDir(const std::string& tag = "qm") {
        std::string tmpl = (std::filesystem::temp_directory_path() / (tag + "-XXXXXX")).string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        ::chmod(tmpl.c_str(), 0711);
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace qm::testing
